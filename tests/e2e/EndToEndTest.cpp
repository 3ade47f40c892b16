// brintel-cli against the simulated display and program server: what the
// display ends up holding and what the user saw, for every outcome of a run.

#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "TerminalScreen.h"
#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "sim/display/DisplaySimulator.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Faults.h"
#include "tests/support/GbkNames.h"
#include "tests/support/Subprocess.h"

namespace brintel::testing {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kUnplug = std::string("[No error] ") + messages::kUnplug;
const std::string kPlugIn = std::string("[升级] ") + messages::kPlugIn;
const std::string kCompleted = std::string("[No error] ") + messages::kCompleted;
const std::string kProgramError = "[Error] Program error!";
const std::string kFail = "[Error] fail";
const std::string kNoList = std::string("[Error] ") + messages::kNoList;
const std::string kNoPackage = std::string("[Error] ") + messages::kNoPackage;
const std::string kLostMidway = std::string("[Error] ") + messages::kStopMidwayHint;
const std::string kAdviceNote = std::string("brintel-cli: ") + messages::kStopMidwayHint;

std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text.substr(text.rfind('\n') + 1);  // npos + 1 is 0: a single line
}

struct Result {
  int status = -1;
  std::string out;
  std::string err;

  // The message boxes: those on stdout, then the errors on stderr (in every
  // run here no other box follows an error).
  Lines Messages() const {
    Lines shown;
    for (const std::string* stream : {&out, &err}) {
      std::istringstream lines(*stream);
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind('[', 0) == 0) {
          shown.push_back(line);
        }
      }
    }
    return shown;
  }
};

class EndToEnd : public ::testing::Test {
 protected:
  void StartDisplay(std::vector<std::string> faults = {}, std::string link = {},
                    std::chrono::milliseconds replyDelay = {}) {
    sim::DisplayOptions options;
    options.replyDelay = replyDelay;
    for (const std::string& text : faults) {
      options.faults.push_back(DisplayFault(text));
    }
    options.linkPath = std::move(link);
    display = std::make_unique<sim::DisplaySimulator>(options);
    display->Start();
  }
  void StartServer(std::vector<std::string> faults = {}, std::string host = "127.0.0.1",
                   int port = 0) {
    sim::ProgramServer::Options options;
    options.host = std::move(host);
    options.port = port;
    for (const std::string& text : faults) {
      options.faults.push_back(ServerFault(text));
    }
    server = std::make_unique<sim::ProgramServer>(sim::Catalogue::Default(), options);
    server->Start();
  }
  std::string ServerAddress() const {
    return server->Host() + ":" + std::to_string(server->Port());
  }
  // brintel-cli on the display's port and the server, with `extra` options.
  Result Run(std::vector<std::string> extra, bool onDisplayPort = true) {
    std::vector<std::string> argv = {BRINTEL_CLI};
    if (display && onDisplayPort) {
      argv.insert(argv.end(), {"--port", display->PortPath()});
    }
    if (server) {
      argv.insert(argv.end(), {"--server", ServerAddress()});
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    Subprocess cli(argv);
    Result result;
    result.status = cli.Wait(60s);
    result.out = cli.out();
    result.err = cli.err();
    return result;
  }
  void ExpectProgramWritten(const std::string& gbkName) {
    ASSERT_TRUE(display->Complete());
    EXPECT_EQ(display->Program(), server->ExpectedProgram(gbkName));
  }

  std::unique_ptr<sim::DisplaySimulator> display;
  std::unique_ptr<sim::ProgramServer> server;
};

TEST_F(EndToEnd, UpgradeSurvivesFaultsOnTheLineAndWritesTheServersProgram) {
  StartDisplay({"ignore-probe:1", "invalid-frame:1", "wrong-echo:3:100", "retry-block:10",
                "stray-before-ack:20:3", "no-ack:30", "short-frame:1", "wrong-reply:1"});
  StartServer();
  const Result r = Run({"--yes", "--program", "标准版"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ExpectProgramWritten(kStandardGbk);
  EXPECT_EQ(r.Messages(), (Lines{kUnplug, kPlugIn, kCompleted}));
  EXPECT_NE(r.out.find("Program: 标准显示\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("transferring... 100%(sn=1027-2625-1413-1211)"), std::string::npos);
  EXPECT_EQ(display->Counters().blocksAccepted, 70u);
  EXPECT_GE(display->Counters().faultsFired, 8u);
  for (const sim::RecordedRequest& request : server->Requests()) {
    EXPECT_EQ(request.userAgent, "brintel-cli");
  }
}

// The reply window is 20 ticks of 5 ms however soon other ticks come: a
// display that answers every probe after 90 ms is found for every block (now
// and then at a second probe: 90 ms is near the window's end), one that
// answers after 110 ms never.
TEST_F(EndToEnd, AReplyInsideTheWindowIsTakenAndOneOutsideItIsNot) {
  StartServer();
  StartDisplay({}, {}, 90ms);
  const Result inside = Run({"--yes", "--program", "标准版"});
  EXPECT_EQ(inside.status, 0) << inside.out << inside.err;
  ExpectProgramWritten(kStandardGbk);

  StartDisplay({}, {}, 110ms);
  const Result outside = Run({"--list", "--search-timeout", "1.5"});
  EXPECT_EQ(outside.status, 1) << outside.out << outside.err;
  EXPECT_EQ(display->Counters().framesSent, 0u);
  EXPECT_GE(display->Counters().probesSeen, 10u) << "a probe about every 105 ms";
}

TEST_F(EndToEnd, NameWithATrailByte0x5FAndTheListInSortedOrder) {
  StartDisplay();
  StartServer();
  const Result list = Run({"--list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out.substr(list.out.find("City")),
            "City & Highway\nEco+\nStandard\n标准版\n直達\n");
  EXPECT_EQ(display->Counters().blocksReceived, 0u);

  const Result r = Run({"--yes", "--program", "直達"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ExpectProgramWritten(kTrailGbk);
  EXPECT_EQ(server->Requests().back().Param("type"), kTrailGbk);
}

TEST_F(EndToEnd, ListFailuresShowTheirMessagesAndWriteNothing) {
  const struct {
    std::vector<std::string> faults;
    Lines messages;
  } cases[] = {
      {{"list:no-separator"}, {kUnplug, kNoList}},
      {{"list:error-page"}, {kUnplug, kNoList}},
      {{"list:drop-connection"}, {kUnplug, kProgramError, kFail, kNoList}},
      {{"list:truncated-body"}, {kUnplug, kProgramError, kFail, kNoList}},
      {{"empty-key"}, {kUnplug, kNoList}},
      {{"long-key"}, {kUnplug, kNoList}},
  };
  StartDisplay();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults.front());
    StartServer(c.faults);
    const Result r = Run({"--yes"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.Messages(), c.messages);
    server.reset();
  }
  EXPECT_EQ(display->Counters().blocksReceived, 0u);
}

TEST_F(EndToEnd, UnreachableServerIsAnInternetError) {
  StartDisplay();
  StartServer();
  const std::string address = ServerAddress();
  server.reset();
  const Result r = Run({"--yes", "--server", address});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.Messages(), (Lines{kUnplug, kProgramError, kFail, kNoList}));
  // After the designed messages, why and what was asked.
  EXPECT_NE(r.err.find("(http://" + address + "/cargetnameplovix.asp?id=1027262514131211)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("onnect"), std::string::npos) << r.err;
}

TEST_F(EndToEnd, PackageFailuresShowTheirMessagesAndWriteNothing) {
  const struct {
    std::string fault;
    Lines messages;
  } cases[] = {
      {"package:short-body", {kUnplug, kNoPackage}},
      {"package:truncated-body", {kUnplug, kProgramError, kFail, kNoPackage}},
      {"package:drop-connection", {kUnplug, kProgramError, kFail, kNoPackage}},
      {"package:error-page", {kUnplug, kNoPackage}},
      {"package:non-hex", {kUnplug, kNoPackage}},
      {"package:no-separator", {kUnplug, kNoPackage}},
      {"package:other-device", {kUnplug}},
  };
  StartDisplay();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    StartServer({c.fault});
    const Result r = Run({"--yes", "--program", "Standard"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.Messages(), c.messages);
    if (c.fault == "package:other-device") {  // silent as designed; the command line explains
      EXPECT_NE(r.err.find("made for display"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("not for this display 1027262514131211"), std::string::npos);
    }
    server.reset();
  }
  EXPECT_EQ(display->Counters().blocksReceived, 0u);
}

// A pseudo-terminal that nobody answers on: a port without a display.
struct SilentPort {
  SilentPort() {
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    path = name;
  }
  ~SilentPort() {
    close(slave);
    close(master);
  }
  int master = -1;
  int slave = -1;
  std::string path;
};

TEST_F(EndToEnd, DisplayOnTheThirdPortAndTheOverrideForm) {
  StartDisplay();
  try {
    StartServer({}, "127.0.0.3", 82);
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "cannot listen on port 82 here: " << e.what();
  }
  SilentPort first;
  SilentPort second;
  const std::string trace = ::testing::TempDir() + "/brintel-trace.txt";
  std::unique_ptr<sim::ProgramServer> held = std::move(server);  // not the default server
  const Result r = Run({"--port", first.path, "--port", second.path, "--port", display->PortPath(),
                        "--yes", "--address", "127.0.0.3", "--program", "Eco+", "--trace", trace},
                       false);
  server = std::move(held);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ExpectProgramWritten("Eco+");
  EXPECT_EQ(server->Requests().front().target, "/getnameplovix.asp?id=1027262514131211");
  EXPECT_EQ(server->Requests().back().Param("type"), "Eco+");

  std::ifstream lines(trace);
  Lines opens;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" open ") != std::string::npos) {
      opens.push_back(line.substr(line.find(" open ") + 6));
    }
  }
  ASSERT_GE(opens.size(), 3u);
  EXPECT_EQ((Lines{opens[0], opens[1], opens[2]}),
            (Lines{first.path, second.path, display->PortPath()}));
}

// Ports of their own for the unplug tests: a pseudo-terminal's number is
// reused at once, also by tests running in parallel.
std::string UniqueLink(const char* name) {
  return ::testing::TempDir() + "/brintel-e2e-" + name + "-" + std::to_string(getpid());
}

// Unplugged, the display loses its power and counts from block 0 again: the
// run must end there, and only a whole new run writes it.
TEST_F(EndToEnd, DisplayUnpluggedMidTransferEndsTheRunAndARunAfterThePowerCycleCompletes) {
  StartDisplay({"unplug-after:20:300"}, UniqueLink("unplugged"));
  StartServer();
  const Result lost = Run({"--yes", "--program", "City & Highway", "--search-timeout", "5"});
  EXPECT_EQ(lost.status, 1) << lost.out << lost.err;
  EXPECT_EQ(lost.Messages(), (Lines{kUnplug, kPlugIn, kLostMidway}));
  EXPECT_EQ(LastLine(lost.err), "not completed: the display was unplugged mid-transfer");
  EXPECT_FALSE(display->Complete());

  for (int i = 0; i < 100 && !display->Plugged(); ++i) {
    std::this_thread::sleep_for(20ms);  // plugged in again after 300 ms
  }
  ASSERT_TRUE(display->Plugged());
  const Result again = Run({"--yes", "--program", "City & Highway", "--search-timeout", "5"});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  ExpectProgramWritten("City & Highway");
  EXPECT_EQ(again.Messages(), (Lines{kUnplug, kPlugIn, kCompleted}));
}

// The adapter stays, the display behind it has no power: nothing answers.
TEST_F(EndToEnd, IdentifiedDisplayThatFallsSilentIsGivenUpAfterTheSilenceTimeout) {
  StartDisplay({"silent-after:5"});
  StartServer();
  Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(), "--yes",
                  "--program", "Standard", "--silence-timeout", "3"});
  ASSERT_TRUE(cli.ReadUntil(
      [this](const std::string&) { return display->Counters().blocksAccepted >= 5; }, 30s));
  const auto silentFrom = std::chrono::steady_clock::now();
  EXPECT_EQ(cli.Wait(10s), 1) << cli.out() << cli.err();
  EXPECT_LT(std::chrono::steady_clock::now() - silentFrom, 4s);
  EXPECT_NE(cli.err().find("the display has not answered for 3 s"), std::string::npos) << cli.err();
  EXPECT_NE(cli.err().find(kAdviceNote + "\nnot completed: the display stopped answering\n"),
            std::string::npos)
      << cli.err();
  EXPECT_EQ(cli.out().find(kCompleted), std::string::npos);
  EXPECT_EQ(display->Counters().blocksAccepted, 5u);
}

// Bytes that fit nothing are no answer: a display that babbles after it
// identified itself is given up at the silence limit like a silent one.
TEST_F(EndToEnd, ADisplayThatBabblesAfterIdentifyingIsGivenUpAtTheSilenceLimit) {
  StartDisplay({"babble-after:3"});
  StartServer();
  Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(), "--yes",
                  "--program", "Standard", "--silence-timeout", "2"});
  ASSERT_TRUE(cli.ReadUntil(
      [this](const std::string&) { return display->Counters().blocksAccepted >= 3; }, 30s));
  const auto babblingFrom = std::chrono::steady_clock::now();
  EXPECT_EQ(cli.Wait(10s), 1) << cli.out() << cli.err();
  EXPECT_LT(std::chrono::steady_clock::now() - babblingFrom, 3s);
  EXPECT_NE(cli.err().find("the display has not answered for 2 s"), std::string::npos) << cli.err();
  EXPECT_NE(cli.err().find(kAdviceNote + "\nnot completed:"), std::string::npos) << cli.err();
  EXPECT_EQ(display->Counters().blocksAccepted, 3u);
}

// The package is made for the display the search found. Another one behind
// the same port gets nothing; the right one, back, gets its program whole.
TEST_F(EndToEnd, ADisplaySwappedBeforeTheTransferIsNeverWritten) {
  const std::string right = "1027262514131211";
  const std::string other = "10272625141312AA";
  const std::string note = "display " + other + " answered, but the program is for display " +
                           right + "; nothing was written into it: plug display " + right +
                           " in again";
  StartDisplay();
  StartServer({"package:slow:1500"});
  const auto swapWhileDownloading = [&](Subprocess& cli) {
    ASSERT_TRUE(cli.ReadUntil(
        [](const std::string& out) { return out.find("Getting Standard") != std::string::npos; },
        30s))
        << cli.out();
    display->SwapIdentity(other);
  };
  {
    SCOPED_TRACE("only the other display comes");
    Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(),
                    "--yes", "--program", "Standard", "--silence-timeout", "2"});
    swapWhileDownloading(cli);
    EXPECT_EQ(cli.Wait(20s), 1) << cli.out() << cli.err();
    EXPECT_NE(cli.err().find(note), std::string::npos) << cli.err();
    EXPECT_NE(cli.err().find("the display has not answered for 2 s"), std::string::npos);
    EXPECT_EQ(display->Counters().blocksReceived, 0u);
  }
  {
    SCOPED_TRACE("the right display comes back");
    display->SwapIdentity(right);
    Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(),
                    "--yes", "--program", "Standard"});
    swapWhileDownloading(cli);
    ASSERT_TRUE(cli.ReadUntil(
        [&](const std::string&) { return cli.err().find(note) != std::string::npos; }, 30s))
        << cli.err();
    EXPECT_EQ(display->Counters().blocksReceived, 0u) << "nothing was written into " << other;
    display->SwapIdentity(right);
    EXPECT_EQ(cli.Wait(30s), 0) << cli.out() << cli.err();
    ExpectProgramWritten("Standard");
    EXPECT_EQ(display->Counters().blocksAccepted, 70u);
    const std::string& err = cli.err();
    EXPECT_EQ(err.find(note), err.rfind(note)) << "said once";
  }
}

TEST_F(EndToEnd, UsageAndRefusals) {
  StartServer();
  {
    SilentPort nobody;
    std::vector<std::string> argv = {BRINTEL_CLI,        "--port", nobody.path,
                                     "--search-timeout", "1",      "--list"};
    Subprocess cli(argv);
    EXPECT_EQ(cli.Wait(20s), 1);
    EXPECT_NE(cli.err().find("no display found within 1 s"), std::string::npos);
  }
  StartDisplay();
  const Result unknown = Run({"--yes", "--program", "Sport"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("holds no \"Sport\""), std::string::npos) << unknown.err;
  EXPECT_NE(unknown.err.find("直達"), std::string::npos);

  // Usage errors are found before the search: no probe, no request.
  const sim::DisplayCounters probedBefore = display->Counters();
  const std::size_t requestsBefore = server->Requests().size();
  const Result noTerminal = Run({});
  EXPECT_EQ(noTerminal.status, 2) << noTerminal.err;
  EXPECT_NE(noTerminal.err.find("give --program NAME, --yes or --list"), std::string::npos)
      << noTerminal.err;
  for (const char* bad :
       {"http://127.0.0.1:8080", "127.0.0.1/programs", "127.0.0.1:0", "127.0.0.1:65536", "a:b:c"}) {
    const Result scheme = Run({"--yes", "--server", bad});
    EXPECT_EQ(scheme.status, 2) << bad;
    EXPECT_EQ(scheme.err.rfind("brintel-cli: --server: must be HOST or HOST:PORT", 0), 0u)
        << scheme.err;
  }
  EXPECT_EQ(display->Counters().probesSeen, probedBefore.probesSeen);
  EXPECT_EQ(server->Requests().size(), requestsBefore);
  const Result typo = Run({"--yes", "--progrm", "Standard"});
  EXPECT_EQ(typo.status, 2);
  EXPECT_EQ(typo.err.rfind("brintel-cli: ", 0), 0u) << typo.err;
  EXPECT_NE(typo.err.find("did you mean --program?"), std::string::npos) << typo.err;
  const Result help = Run({"--help"}, false);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--port NAME"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find("NAME:"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find("SECONDS:"), std::string::npos) << help.out;
  for (const char* seconds : {"-1", "0", "nan", "inf", "1e10", "1000000.5", "5x", "5 "}) {
    const Result bad = Run({"--list", "--search-timeout", seconds});
    EXPECT_EQ(bad.status, 2) << seconds;
    EXPECT_NE(bad.err.find("must be a number of seconds"), std::string::npos) << bad.err;
    EXPECT_LT(bad.err.size(), 200u) << "a short reason, not a 309-digit range: " << bad.err;
  }
  EXPECT_EQ(Run({"--list", "--search-timeout", "1000000"}).status, 0) << "the highest limit";
  EXPECT_EQ(Run({"--list", "--port", ""}, false).status, 2);
  // A port that can never be opened as it is ends the run at once.
  const Result notATty = Run({"--list", "--port", "/etc/hostname"}, false);
  EXPECT_EQ(notATty.status, 1);
  EXPECT_NE(notATty.err.find("/etc/hostname: not a serial device"), std::string::npos)
      << notATty.err;
  const Result bareName =
      Run({"--list", "--port", "brintelNoSuchTty", "--search-timeout", "0.5"}, false);
  EXPECT_EQ(bareName.status, 1);
  EXPECT_NE(bareName.err.find("/dev/brintelNoSuchTty: no such device"), std::string::npos)
      << bareName.err;
  const Result fullTrace = Run({"--list", "--trace", "/dev/full"});
  EXPECT_EQ(fullTrace.status, 2);
  EXPECT_NE(fullTrace.err.find("/dev/full"), std::string::npos) << fullTrace.err;
  EXPECT_EQ(display->Counters().blocksReceived, 0u);

  // --list keeps stdout for the names alone.
  const Result list = Run({"--list"});
  EXPECT_EQ(list.status, 0) << list.err;
  std::istringstream names(list.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(names, line);) {
    lines.push_back(line);
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Standard"), 1) << list.out;
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "标准版"), 1);
  EXPECT_EQ(list.out.find('['), std::string::npos) << "no message box on stdout";
  EXPECT_NE(list.err.find(kUnplug), std::string::npos) << list.err;
}

TEST_F(EndToEnd, InterruptIsStop) {
  StartDisplay();
  StartServer();
  Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(), "--yes",
                  "--program", "Standard"});
  ASSERT_TRUE(cli.ReadUntil(
      [](const std::string& out) { return out.find("transferring... 10%") != std::string::npos; },
      30s));
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(10s), 130);
  EXPECT_EQ(cli.out().find(kCompleted), std::string::npos);
  EXPECT_NE(cli.err().find(kAdviceNote + "\nnot completed: stopped (Ctrl-C)\n"), std::string::npos)
      << cli.err();
  EXPECT_FALSE(display->Complete());

  Subprocess terminated({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(),
                         "--yes", "--program", "Standard"});
  ASSERT_TRUE(terminated.ReadUntil(
      [](const std::string& out) { return out.find("transferring... 10%") != std::string::npos; },
      30s));
  terminated.Signal(SIGTERM);
  EXPECT_EQ(terminated.Wait(10s), 143);
  EXPECT_EQ(LastLine(terminated.err()), "not completed: terminated (SIGTERM)");
}

// Answers the prompt on screen with Enter until `next` shows: a line typed the
// instant a prompt appears is now and then lost on a pseudo-terminal.
bool EnterUntil(Subprocess& cli, const std::string& next) {
  for (int tries = 0; tries < 10; ++tries) {
    cli.Type("\n");
    if (cli.ReadUntil(
            [&next](const std::string& out) { return out.find(next) != std::string::npos; }, 2s)) {
      return true;
    }
  }
  return false;
}

// At a terminal the menu takes a whole number in range and nothing else; q
// leaves it with a note; Ctrl-C at a prompt is Stop.
TEST_F(EndToEnd, TheMenuReadsStrictlyAndAPromptCanBeInterrupted) {
  StartDisplay();
  StartServer();
  const auto sees = [](const char* text) {
    return [text](const std::string& out) { return out.find(text) != std::string::npos; };
  };
  const std::vector<std::string> argv = {BRINTEL_CLI, "--port", display->PortPath(), "--server",
                                         ServerAddress()};
  {
    Subprocess cli(argv, Subprocess::Terminal{.input = true});
    ASSERT_TRUE(cli.ReadUntil(sees("Press Enter"), 20s)) << cli.out();
    ASSERT_TRUE(EnterUntil(cli, "or q to cancel")) << cli.out();
    cli.Type("2x\n1.5\n99\n");
    ASSERT_TRUE(cli.ReadUntil(
        [](const std::string& out) {
          std::size_t refusals = 0;
          for (std::size_t at = out.find("No such number."); at != std::string::npos;
               at = out.find("No such number.", at + 1)) {
            ++refusals;
          }
          return refusals == 3;
        },
        20s))
        << cli.out();
    cli.Type("q\n");
    EXPECT_EQ(cli.Wait(20s), 1) << cli.out();
    EXPECT_NE(cli.out().find("no program chosen"), std::string::npos) << cli.out();
  }
  // Ctrl-C at the first prompt, which the list request follows in the same
  // tick, and at the menu: nothing more is asked of the server.
  const std::string stopped =
      "not completed: stopped (Ctrl-C) at a prompt; nothing more was fetched or written";
  server->ClearRequests();
  {
    Subprocess cli(argv, Subprocess::Terminal{.input = true});
    ASSERT_TRUE(cli.ReadUntil(sees("Press Enter"), 20s)) << cli.out();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 130) << cli.out();
    EXPECT_TRUE(server->Requests().empty()) << "no list fetched";
    EXPECT_EQ(LastLine(cli.out()), stopped) << cli.out();
    EXPECT_EQ(cli.out().find("[Error]"), std::string::npos) << cli.out();
  }
  {
    Subprocess cli(argv, Subprocess::Terminal{.input = true});
    ASSERT_TRUE(cli.ReadUntil(sees("Press Enter"), 20s)) << cli.out();
    ASSERT_TRUE(EnterUntil(cli, "or q to cancel")) << cli.out();
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(20s), 130) << cli.out();
    EXPECT_EQ(server->Requests().size(), 1u) << "the list only";
    EXPECT_EQ(LastLine(cli.out()), stopped) << cli.out();
  }
  EXPECT_EQ(display->Counters().blocksReceived, 0u);
}

// The run ends with one line that says how it ended: on stdout when it
// completed, on stderr with the errors when not. Off a terminal the transfer
// takes a line a tenth; --quiet leaves the messages and that line.
TEST_F(EndToEnd, TheRunEndsWithOneLastLine) {
  StartDisplay();
  StartServer();
  const Result r = Run({"--yes", "--program", "标准版"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ExpectProgramWritten(kStandardGbk);
  EXPECT_TRUE(std::regex_match(
      LastLine(r.out),
      std::regex("upgrade complete: display 1027262514131211, program 标准版, [0-9]+:[0-5][0-9]")))
      << r.out;
  Lines transfer;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("/70") != std::string::npos) {
      transfer.push_back(line);
    }
  }
  ASSERT_EQ(transfer.size(), 10u) << r.out;
  EXPECT_NE(transfer.front().find("transferring... 10%"), std::string::npos) << transfer.front();
  EXPECT_NE(transfer.back().find("transferring... 100%"), std::string::npos) << transfer.back();
  EXPECT_EQ(r.err, "");

  const Result quiet = Run({"-y", "-q", "--program", "Standard"});
  ASSERT_EQ(quiet.status, 0) << quiet.out << quiet.err;
  EXPECT_EQ(quiet.out.substr(0, quiet.out.rfind("upgrade complete: ")),
            kUnplug + "\n" + kPlugIn + "\n" + kCompleted + "\n");

  server.reset();
  StartServer({"list:drop-connection"});
  const Result failed = Run({"--yes"});
  EXPECT_EQ(failed.status, 1) << failed.out << failed.err;
  EXPECT_EQ(failed.out.find("[Error]"), std::string::npos) << failed.out;
  EXPECT_EQ(failed.out.find("not completed"), std::string::npos) << failed.out;
  EXPECT_NE(failed.err.find(kProgramError + "\n" + kFail + "\nbrintel-cli: "), std::string::npos)
      << failed.err;
  EXPECT_EQ(LastLine(failed.err), "not completed: the program list could not be fetched");
}

// At a terminal the completion is the last thing drawn before the last line:
// no progress line comes back after it.
TEST_F(EndToEnd, NothingOfTheTransferIsDrawnAfterTheCompletion) {
  StartDisplay();
  StartServer();
  Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(), "--yes",
                  "--program", "标准版"},
                 Subprocess::Terminal{.columns = 80});
  ASSERT_EQ(cli.Wait(60s), 0) << cli.out();
  const std::size_t completed = cli.out().find(kCompleted);
  ASSERT_NE(completed, std::string::npos) << cli.out();
  const std::string after = cli.out().substr(completed + kCompleted.size());
  EXPECT_EQ(after.find("/70"), std::string::npos) << after;
  EXPECT_EQ(LastLine(after).rfind("upgrade complete: display 1027262514131211", 0), 0u) << after;
}

// An Enter typed while the blocks went out is no answer to the completion.
TEST_F(EndToEnd, InputTypedDuringTheTransferIsDroppedBeforeTheCompletionAsks) {
  StartDisplay();
  StartServer();
  Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(),
                  "--program", "标准版"},
                 Subprocess::Terminal{.input = true});
  ASSERT_TRUE(cli.ReadUntil(
      [](const std::string& out) { return out.find("Press Enter") != std::string::npos; }, 20s))
      << cli.out();
  ASSERT_TRUE(EnterUntil(cli, kPlugIn)) << cli.out();
  ASSERT_TRUE(EnterUntil(cli, "transferring...")) << cli.out();
  ASSERT_TRUE(cli.ReadUntil(
      [](const std::string& out) { return out.find("transferring... 10%") != std::string::npos; },
      30s));
  cli.Type("\n");
  ASSERT_TRUE(cli.ReadUntil(
      [](const std::string& out) { return out.find(kCompleted) != std::string::npos; }, 30s));
  EXPECT_FALSE(cli.ReadUntil([](const std::string&) { return false; }, 500ms));
  EXPECT_EQ(cli.Wait(0ms), -1) << "still waiting for Enter";
}

// On an 80-column terminal the live line is redrawn in place and never wraps
// (it would leave a line behind at every update), with the percent once.
TEST_F(EndToEnd, TheLiveLineFitsTheTerminal) {
  StartDisplay();
  StartServer();
  Subprocess cli({BRINTEL_CLI, "--port", display->PortPath(), "--server", ServerAddress(), "--yes",
                  "--program", "标准版"},
                 Subprocess::Terminal{.columns = 80});
  ASSERT_TRUE(cli.ReadUntil(
      [](const std::string& out) { return out.find("transferring... 30%") != std::string::npos; },
      30s));
  const std::size_t resizedAt = cli.out().size();
  cli.Resize(50);
  ASSERT_EQ(cli.Wait(60s), 0) << cli.out();
  std::vector<std::pair<std::size_t, int>> drawn;  // where, how wide
  for (const auto& [at, line] : RedrawnLines(cli.out())) {
    if (line.find("/70") == std::string::npos || line.rfind('[', 0) == 0) {
      continue;  // the search, and lines printed after the live line was cleared
    }
    drawn.emplace_back(at, ColumnsOnTerminal(line));
    EXPECT_LT(drawn.back().second, 80) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '%'), 1) << line;
  }
  ASSERT_GE(drawn.size(), 70u);
  int narrow = 0;
  for (const auto& [at, columns] : drawn) {
    if (at > resizedAt + 200) {  // once the resize has reached it
      EXPECT_LT(columns, 50);
      ++narrow;
    }
  }
  EXPECT_GT(narrow, 20);
  ExpectProgramWritten(kStandardGbk);
}

// Names and titles from the server may hold anything: shown, they cannot
// drive the terminal; sent back, they are the server's bytes exactly.
TEST_F(EndToEnd, ServerTextIsShownEscapedAndSentBackUnchanged) {
  const std::string red = "\x1b[31mRed\x1b[0m";
  std::vector<sim::Program> programs = {
      {red, "\x1b]0;owned\x07Title", "139140", std::vector<std::uint8_t>(PROGRAM_SIZE, 0x5A), ""},
      {std::string("Nul\0Name", 8), "plain", "139140",
       std::vector<std::uint8_t>(PROGRAM_SIZE, 0x11), ""}};
  server = std::make_unique<sim::ProgramServer>(sim::Catalogue(std::move(programs)),
                                                sim::ProgramServer::Options{});
  server->Start();
  StartDisplay();
  const Result list = Run({"--list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "\\x1B[31mRed\\x1B[0m\nNul\\x00Name\n");  // in sorted order
  const Result run = Run({"--yes", "--program", red});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  ExpectProgramWritten(red);
  EXPECT_NE(run.out.find("Program: \\x1B]0;owned\\x07Title\n"), std::string::npos) << run.out;
  EXPECT_EQ((run.out + run.err + list.err).find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace brintel::testing
