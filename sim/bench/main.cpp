// brintel-display-bench: simulated displays plugged in one after another on
// one link path, as at a service-shop station, for its demo and tests.

#include <signal.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "sim/StopSignals.h"
#include "sim/bench/DisplayBench.h"

namespace {

using brintel::sim::BenchEvent;
using brintel::sim::BenchEventKind;
using brintel::sim::BenchOptions;
using brintel::sim::DisplayBench;
using brintel::sim::Fault;

// "[UNIT:]FAULT": a fault for every unit, or with a prefix for unit UNIT
// (from 1) only. Fault names never begin with a digit.
struct UnitFault {
  std::size_t unit = 0;  // 0: every unit
  std::optional<Fault> fault;
  std::string error;
};

UnitFault ParseUnitFault(std::string_view text) {
  UnitFault result;
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text.front())) != 0) {
    const char* end = text.data() + text.size();
    const auto [rest, error] = std::from_chars(text.data(), end, result.unit);
    if (error != std::errc{} || rest == end || *rest != ':' || result.unit == 0) {
      result.error = "a unit prefix is a number from 1 followed by ':'";
      return result;
    }
    text.remove_prefix(static_cast<std::size_t>(rest + 1 - text.data()));
  }
  brintel::sim::FaultParseResult<Fault> parsed = brintel::sim::ParseFault(text);
  result.fault = parsed.fault;
  result.error = parsed.error;
  return result;
}

const char* KindName(BenchEventKind kind) {
  switch (kind) {
    case BenchEventKind::kAppeared:
      return "appeared";
    case BenchEventKind::kCompleted:
      return "completed";
    case BenchEventKind::kVanished:
      return "vanished";
    case BenchEventKind::kFailed:
      return "failed";
  }
  return "?";
}

std::string EventLine(const BenchEvent& event) {
  const brintel::sim::BenchUnitResult& unit = event.unit;
  std::string line =
      "UNIT " + std::to_string(unit.index + 1) + " " + unit.identity + " " + KindName(event.kind);
  if (event.kind == BenchEventKind::kVanished) {
    line += unit.completed ? " completed" : " incomplete";
    line += " programs " + std::to_string(unit.counters.programsCompleted);
    line += " blocks " + std::to_string(unit.counters.blocksAccepted);
  } else if (event.kind == BenchEventKind::kFailed) {
    line += " " + unit.error;
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated displays plugged in one after another on one link path, as at a service-shop "
      "station: each stays until it has taken its program, then for --stay, and the next one "
      "comes --gap after it vanished. Prints 'PORT <path>' once, then one line per unit event: "
      "'UNIT <n> <identity> appeared|completed|vanished|failed ...'.",
      "brintel-display-bench"};
  app.set_version_flag("--version", std::string("brintel-display-bench ") + BRINTEL_VERSION);
  BenchOptions options;
  std::size_t units = 0;
  std::string identityBase = "1027262514131211";
  unsigned stayMs = 2000;
  unsigned gapMs = 1000;
  unsigned leaveAfterMs = 30000;
  std::vector<std::string> faultTexts;
  std::string outputDir;
  bool quiet = false;

  app.add_option("--link", options.linkPath, "the path where each unit appears")->required();
  app.add_option("--units", units, "how many units come one after another")
      ->required()
      ->check(CLI::Range(std::size_t{1}, std::size_t{100000}));
  app.add_option("--identity-base", identityBase,
                 "the first unit's identity, 16 hex digits; each next unit counts up by one")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return brintel::sim::CountedIdentity(text, 0).empty() ? "must be 16 hexadecimal digits"
                                                                  : "";
          },
          "HEX16"));
  app.add_option("--stay", stayMs, "ms a unit stays plugged in after completing")
      ->capture_default_str();
  app.add_option("--gap", gapMs, "ms from one unit's vanishing to the next one's appearing")
      ->capture_default_str();
  app.add_option("--leave-after", leaveAfterMs,
                 "ms after appearing that a unit which has not completed is unplugged")
      ->capture_default_str();
  app.add_option("--baud", options.baud, "pace every unit's line at this rate; 0 sends at once")
      ->capture_default_str();
  app.add_option("--fault", faultTexts,
                 "[UNIT:]FAULT, for every unit or for unit UNIT (from 1) only (repeatable):\n" +
                     brintel::sim::FaultForms())
      ->check(CLI::Validator(
          [](std::string& text) -> std::string { return ParseUnitFault(text).error; }, "FAULT"));
  app.add_option("--output-dir", outputDir,
                 "write each finished program to DIR/unit-<n>-<identity>.bin");
  app.add_flag("--quiet", quiet, "no progress lines on stderr");
  try {
    app.parse(argc, argv);
    for (const std::string& text : faultTexts) {
      if (ParseUnitFault(text).unit > units) {
        throw CLI::ValidationError("--fault", "'" + text + "' names a unit past --units");
      }
    }
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  }

  options.stayAfterCompletion = std::chrono::milliseconds(stayMs);
  options.gap = std::chrono::milliseconds(gapMs);
  options.leaveAfter = std::chrono::milliseconds(leaveAfterMs);
  if (!outputDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(outputDir, error);
    if (error) {
      std::fprintf(stderr, "brintel-display-bench: %s: %s\n", outputDir.c_str(),
                   error.message().c_str());
      return 1;
    }
  }
  for (std::size_t n = 1; n <= units; ++n) {
    brintel::sim::BenchUnit& unit = options.units.emplace_back();
    unit.identity = brintel::sim::CountedIdentity(identityBase, n - 1);
    for (const std::string& text : faultTexts) {
      const UnitFault parsed = ParseUnitFault(text);
      if (parsed.unit == 0 || parsed.unit == n) {
        unit.faults.push_back(*parsed.fault);
      }
    }
    if (!outputDir.empty()) {
      unit.outputPath = (std::filesystem::path(outputDir) /
                         ("unit-" + std::to_string(n) + "-" + unit.identity + ".bin"))
                            .string();
    }
  }

  // PORT comes first: the bench's first event waits for this lock.
  std::mutex printing;
  std::unique_lock printLock(printing);
  options.onEvent = [&printing](const BenchEvent& event) {
    std::lock_guard lock(printing);
    std::printf("%s\n", EventLine(event).c_str());
    std::fflush(stdout);
  };
  if (!quiet) {
    options.log = [](std::size_t unit, const std::string& line) {
      std::fprintf(stderr, "unit %zu: %s\n", unit + 1, line.c_str());
    };
  }

  const sigset_t stopSignals = brintel::sim::BlockStopSignals();

  std::optional<DisplayBench> bench;
  try {
    bench.emplace(options);
    bench->Start();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "brintel-display-bench: %s\n", error.what());
    return 1;
  }
  std::printf("PORT %s\n", options.linkPath.c_str());
  std::fflush(stdout);
  printLock.unlock();

  while (!bench->WaitUntilDone(std::chrono::milliseconds(0))) {
    if (brintel::sim::StopSignalled(stopSignals)) {
      break;
    }
  }
  bench->Stop();
  return 0;
}
