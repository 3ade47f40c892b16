// soak: brintel-cli run again and again against the simulated display and
// program server, with seeded random faults at random places. Every run must
// end in one of two ways: completion reported (exit 0 and the completion
// message) with the display holding exactly the server's program, or no
// completion reported (exit != 0). Prints the outcomes, the faults by kind,
// and the soak's own memory and descriptors at the start and the end.
//
//   soak [--runs N] [--seed S] [--cli PATH] [--deadline SECONDS] [--keep DIR] [--verbose]

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/Messages.h"
#include "sim/display/DisplaySimulator.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Subprocess.h"

namespace {

using namespace brintel;
using Random = std::mt19937_64;

struct Choice {
  const char* utf8;  // as given to --program
  std::string gbk;   // as the catalogue names it
};

const std::vector<Choice> kPrograms = {
    {"Standard", "Standard"},
    {"City & Highway", "City & Highway"},
    {"Eco+", "Eco+"},
    {"标准版", "\xB1\xEA\xD7\xBC\xB0\xE6"},
    {"直達", "\xD6\xB1\xDF\x5F"},
};

int Uniform(Random& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

// One random fault: its kind (for the tally) and its text as the simulators read it.
struct PlannedFault {
  std::string kind;
  std::string text;
  bool onDisplay;
};

PlannedFault PlanFault(Random& random) {
  const auto block = [&] { return std::to_string(Uniform(random, 0, 69)); };
  switch (Uniform(random, 0, 17)) {
    case 0:
      return {"wrong-echo", "wrong-echo:" + block() + ":" + std::to_string(Uniform(random, 0, 514)),
              true};
    case 1:
      return {"retry-block", "retry-block:" + block(), true};
    case 2:
      return {"no-ack", "no-ack:" + block(), true};
    case 3:
      return {"ignore-probe", "ignore-probe:" + std::to_string(Uniform(random, 1, 3)), true};
    case 4:
      return {"stray-before-ack",
              "stray-before-ack:" + block() + ":" + std::to_string(Uniform(random, 1, 5)), true};
    case 5:
      return {"short-frame", "short-frame:" + std::to_string(Uniform(random, 1, 2)), true};
    case 6:
      return {"invalid-frame", "invalid-frame:" + std::to_string(Uniform(random, 1, 2)), true};
    case 7:
      return {"wrong-reply", "wrong-reply:" + std::to_string(Uniform(random, 1, 2)), true};
    case 8:
      return {"unplug-replug",
              "unplug-after:" + std::to_string(Uniform(random, 1, 69)) + ":" +
                  std::to_string(Uniform(random, 0, 500)),
              true};
    case 9:
      return {"unplug", "unplug-after:" + std::to_string(Uniform(random, 1, 69)), true};
    case 10:
      return {"slow-server",
              (Uniform(random, 0, 1) != 0 ? "list:slow:" : "package:slow:") +
                  std::to_string(Uniform(random, 10, 300)),
              false};
    case 11:
      return {"drop-connection",
              Uniform(random, 0, 1) != 0 ? "list:drop-connection" : "package:drop-connection",
              false};
    case 12:
      return {"truncated-body",
              Uniform(random, 0, 1) != 0 ? "list:truncated-body" : "package:truncated-body", false};
    case 13:
      return {"short-body", "package:short-body", false};
    case 14:
      return {"silent", "silent-after:" + std::to_string(Uniform(random, 1, 69)), true};
    case 15:
      return {"non-hex", "package:non-hex", false};
    case 16:
      return {"no-separator", "package:no-separator", false};
    default:
      return {"other-device", "package:other-device", false};
  }
}

std::string RandomIdentity(Random& random) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string id;
  for (int i = 0; i < 16; ++i) {
    id += kHex[Uniform(random, 0, 15)];
  }
  return id;
}

long StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) {
      return std::stol(line.substr(std::string(field).size()));
    }
  }
  return -1;
}

long OpenDescriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count - 1;  // the iterator's own
}

struct Tally {
  int runs = 0;
  int completed = 0;
  int refused = 0;  // the server's answer ended the run
  int gaveUp = 0;   // no display found within the search time-out
  int lost = 0;     // the display went mid-transfer: the run ended with the advice
  int corruptedDone = 0;
  int hangs = 0;
  int anomalies = 0;  // exit 0 without completion, or completion with exit != 0
  std::map<std::string, std::pair<int, int>> faults;  // kind: planned, fired
};

// One upgrade through brintel-cli with up to three random faults, tallied.
void RunOnce(int run, const Choice& program, Random& random, const std::string& cli,
             const std::string& link, const std::string& keep, std::chrono::milliseconds deadline,
             bool verbose, Tally& tally) {
  const std::string completedLine = std::string("[No error] ") + messages::kCompleted;
  sim::DisplayOptions display;
  display.identity = RandomIdentity(random);
  display.linkPath = link;  // a path of this process: pty numbers are reused by others
  sim::ProgramServer::Options server;
  std::vector<PlannedFault> faults;
  for (int n = Uniform(random, 0, 3); n > 0; --n) {
    faults.push_back(PlanFault(random));
    const PlannedFault& fault = faults.back();
    if (fault.onDisplay) {
      display.faults.push_back(*sim::ParseFault(fault.text).fault);
    } else {
      server.faults.push_back(*sim::ParseServerFault(fault.text).fault);
    }
  }

  auto notes = std::make_shared<std::vector<std::string>>();
  auto notesMutex = std::make_shared<std::mutex>();
  display.log = [notes, notesMutex](const std::string& line) {
    const std::lock_guard lock(*notesMutex);
    notes->push_back(line);
  };
  sim::DisplaySimulator displaySim(display);
  displaySim.Start();
  sim::ProgramServer serverSim(sim::Catalogue::Default(), server);
  serverSim.Start();
  testing::Subprocess tool({cli, "--port", link, "--server",
                            serverSim.Host() + ":" + std::to_string(serverSim.Port()), "--yes",
                            "--program", program.utf8, "--search-timeout", "2", "--trace",
                            keep + "/trace.txt"});
  const int status = tool.Wait(deadline);
  serverSim.Stop();
  displaySim.Stop();

  const bool reported = tool.out().find(completedLine) != std::string::npos;
  std::string outcome;
  ++tally.runs;
  if (status == -1) {
    ++tally.hangs;
    outcome = "HUNG";
  } else if (status == 0 && reported) {
    const bool exact =
        displaySim.Complete() && displaySim.Program() == serverSim.ExpectedProgram(program.gbk);
    ++(exact ? tally.completed : tally.corruptedDone);
    outcome = exact ? "completed" : "CORRUPTED BUT REPORTED DONE";
  } else if (status != 0 && !reported) {
    const bool gaveUp = tool.err().find("no display found") != std::string::npos;
    const bool lost =
        !gaveUp && (tool.out() + tool.err()).find(messages::kStopMidwayHint) != std::string::npos;
    ++(gaveUp ? tally.gaveUp : lost ? tally.lost : tally.refused);
    outcome = gaveUp ? "gave up" : lost ? "lost midway" : "refused";
  } else {
    ++tally.anomalies;
    outcome = "ANOMALY (exit " + std::to_string(status) + ")";
  }

  // The display keeps its faults in the order given, each with its count.
  const std::vector<sim::Fault> displayFaults = displaySim.Faults();
  std::size_t displayIndex = 0;
  std::string faultList;
  for (const PlannedFault& fault : faults) {
    auto& [planned, fired] = tally.faults[fault.kind];
    ++planned;
    const bool firedNow =
        fault.onDisplay ? displayFaults[displayIndex++].fired > 0
                        : serverSim.FiredCount(sim::ParseServerFault(fault.text).fault->kind) > 0;
    fired += firedNow ? 1 : 0;
    faultList += " " + fault.text;
  }
  const bool bad = outcome != "completed" && outcome != "refused" && outcome != "gave up" &&
                   outcome != "lost midway";
  if (verbose || bad) {
    std::printf("run %d: %s, %s, faults:%s\n", run, program.utf8, outcome.c_str(),
                faultList.empty() ? " none" : faultList.c_str());
    if (bad) {
      // What crossed the line and what the display made of it, for a person to read.
      const std::string prefix = keep + "/run-" + std::to_string(run);
      std::filesystem::rename(keep + "/trace.txt", prefix + "-trace.txt");
      std::ofstream log(prefix + "-display.txt");
      const std::lock_guard lock(*notesMutex);
      for (const std::string& line : *notes) {
        log << line << '\n';
      }
      std::ofstream(prefix + "-cli.txt") << tool.out() << "--- stderr\n" << tool.err();
      const sim::DisplayCounters c = displaySim.Counters();
      std::printf(
          "  display: complete %d, probes %llu, blocks received %llu, accepted %llu, "
          "receive time-outs %llu; trace and logs in %s-*\n",
          displaySim.Complete(), static_cast<unsigned long long>(c.probesSeen),
          static_cast<unsigned long long>(c.blocksReceived),
          static_cast<unsigned long long>(c.blocksAccepted),
          static_cast<unsigned long long>(c.receiveTimeouts), prefix.c_str());
    }
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 200;
  std::uint64_t seed = std::random_device{}();
  std::string cli = BRINTEL_CLI;
  double deadlineSeconds = 60;
  bool verbose = false;
  std::string keep;
  CLI::App app{"Soak: brintel-cli against the simulators with random faults, run after run."};
  app.add_option("--runs", runs, "number of upgrades")->check(CLI::PositiveNumber);
  app.add_option("--seed", seed, "seed of the random faults (default: a new one, printed)");
  app.add_option("--cli", cli, "the brintel-cli to run")->capture_default_str();
  app.add_option("--deadline", deadlineSeconds, "seconds after which a run counts as hung")
      ->capture_default_str();
  app.add_flag("--verbose", verbose, "one line per run");
  app.add_option("--keep", keep,
                 "directory for the trace and logs of failed runs (default: a new one in /tmp)");
  CLI11_PARSE(app, argc, argv);

  std::printf("soak: %d runs, seed %llu, %s\n", runs, static_cast<unsigned long long>(seed),
              cli.c_str());
  std::fflush(stdout);
  Random random(seed);
  Tally tally;
  if (keep.empty()) {
    keep = (std::filesystem::temp_directory_path() / ("brintel-soak-" + std::to_string(getpid())))
               .string();
  }
  std::filesystem::create_directories(keep);
  const std::string link = (std::filesystem::temp_directory_path() /
                            ("brintel-soak-" + std::to_string(getpid()) + "-port"))
                               .string();
  const auto deadline = std::chrono::milliseconds(static_cast<long>(deadlineSeconds * 1000));
  const long rssStart = StatusField("VmRSS:");
  const long fdsStart = OpenDescriptors();
  long rssAfterFirst = 0;
  long fdsAfterFirst = 0;
  const auto started = std::chrono::steady_clock::now();

  for (int run = 1; run <= runs; ++run) {
    const Choice& program = kPrograms[static_cast<std::size_t>(Uniform(random, 0, 4))];
    RunOnce(run, program, random, cli, link, keep, deadline, verbose, tally);
    if (run == 1) {
      rssAfterFirst = StatusField("VmRSS:");
      fdsAfterFirst = OpenDescriptors();
    }
    if (!verbose && run % 20 == 0) {
      std::printf("  %d runs\n", run);
      std::fflush(stdout);
    }
  }

  std::filesystem::remove(keep + "/trace.txt");
  std::error_code ignored;
  std::filesystem::remove(keep, ignored);  // only when no failed run left anything there

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("runs: %d in %.0f s (seed %llu)\n", tally.runs, seconds,
              static_cast<unsigned long long>(seed));
  std::printf("outcomes: completed %d, refused %d, gave up %d, lost midway %d\n", tally.completed,
              tally.refused, tally.gaveUp, tally.lost);
  std::printf("corrupted but reported done: %d\nhangs (over %.0f s): %d\nother anomalies: %d\n",
              tally.corruptedDone, deadlineSeconds, tally.hangs, tally.anomalies);
  std::printf("faults (kind: injected, fired):\n");
  for (const auto& [kind, counts] : tally.faults) {
    std::printf("  %-17s %4d %4d\n", kind.c_str(), counts.first, counts.second);
  }
  std::printf("soak VmRSS kB: start %ld, after run 1 %ld, end %ld\n", rssStart, rssAfterFirst,
              StatusField("VmRSS:"));
  std::printf("soak open fds: start %ld, after run 1 %ld, end %ld\n", fdsStart, fdsAfterFirst,
              OpenDescriptors());
  std::printf("brintel-cli peak RSS kB (largest run): %ld\n", children.ru_maxrss);
  return tally.corruptedDone == 0 && tally.hangs == 0 && tally.anomalies == 0 ? 0 : 1;
}
