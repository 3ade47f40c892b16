// brintel-cli station against benches of simulated displays on link paths and
// the simulated program server: what every display received and what the
// records hold, for several channels at once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "StationRig.h"
#include "TerminalScreen.h"
#include "records/Timestamps.h"
#include "sim/bench/DisplayBench.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Chromium.h"
#include "tests/support/Csv.h"
#include "tests/support/Faults.h"
#include "tests/support/GbkNames.h"
#include "tests/support/Subprocess.h"
#include "tests/support/WebDriver.h"

namespace brintel::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(Station, ThreeChannelsOfTwoUnitsEachAreAllWrittenAndRecorded) {
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")});
  Bench("b", {Unit("2027262514131211"), Unit("2027262514131212")});
  Bench("c", {Unit("3027262514131211"), Unit("3027262514131212")});
  Subprocess station(Command({"a", "b", "c"}, 6));
  ASSERT_EQ(station.Wait(90s), 0) << station.out() << station.err();
  for (const auto& bench : benches) {
    for (const sim::BenchUnitResult& unit : bench->Results()) {
      ExpectWrittenOnce(unit, Expected(kStandardGbk));
    }
  }
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 6u);
  std::map<std::string, Row> byDevice;
  for (const Row& row : rows) {
    byDevice[row.at("device_id")] = row;
    EXPECT_EQ(row.at("outcome"), "completed");
    EXPECT_EQ(row.at("blocks"), "70");
    EXPECT_EQ(row.at("program"), "标准版");
    EXPECT_EQ(row.at("title"), "标准显示");
    EXPECT_EQ(row.at("transfer_device_id"), row.at("device_id"));
    EXPECT_FALSE(row.at("ended_at").empty());
  }
  EXPECT_EQ(byDevice.at("2027262514131212").at("channel"), "2");
  EXPECT_EQ(byDevice.at("3027262514131211").at("port"), PortName("c"));
}

// A bad unit on one channel touches no other channel's unit.
TEST_F(Station, FaultsOnOneChannelAreRecordedAndLeaveTheOthersAlone) {
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")});
  Bench("b", {Unit("2027262514131211", {"wrong-echo:3:100", "wrong-echo:40:514"}),
              Unit("2027262514131212", {"unplug-after:20"})});
  Subprocess station(Command({"a", "b"}, 4));
  ASSERT_EQ(station.Wait(90s), 1) << station.out() << station.err();
  for (const sim::BenchUnitResult& unit : benches[0]->Results()) {
    ExpectWrittenOnce(unit, Expected(kStandardGbk));
  }
  ExpectWrittenOnce(benches[1]->Results()[0], Expected(kStandardGbk));
  EXPECT_FALSE(benches[1]->Results()[1].completed);

  const std::vector<Row> echoes = ReadUnits(
      db, "SELECT outcome, wrong_echoes, resends FROM units WHERE device_id='2027262514131211'");
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].at("outcome"), "completed");
  EXPECT_EQ(echoes[0].at("wrong_echoes"), "2");
  EXPECT_EQ(echoes[0].at("resends"), "2");
  const std::vector<Row> lost = ReadUnits(
      db, "SELECT outcome, blocks, ports_lost FROM units WHERE device_id='2027262514131212'");
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].at("outcome"), "port-lost");
  EXPECT_EQ(lost[0].at("blocks"), "20");
  EXPECT_EQ(lost[0].at("ports_lost"), "1");
}

// What a shop takes to Excel or a script: the units of the records as history
// --csv and --json give them, read back by parsers, with the program the
// station was told and the outcome each unit had.
TEST_F(Station, TheHistoryReadsBackAsCsvAndJson) {
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212", {"unplug-after:5"})});
  Subprocess station(Command({"a"}, 2));
  ASSERT_EQ(station.Wait(90s), 1) << station.out() << station.err();

  std::vector<std::string> csvCommand = Cli();
  csvCommand.insert(csvCommand.end(), {"history", "--db", DbArgument(), "--csv"});
  Subprocess csv(csvCommand);
  ASSERT_EQ(csv.Wait(30s), 0) << csv.err();
  const Rows rows = ParseCsv(csv.out());
  ASSERT_EQ(rows.size(), 3u) << csv.out();
  const std::vector<std::string>& columns = rows[0];
  const auto column = [&columns](const std::string& name) {
    return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), name) -
                                    columns.begin());
  };
  std::map<std::string, std::string> outcomes;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), columns.size());
    outcomes[rows[i].at(column("device_id"))] = rows[i].at(column("outcome"));
    EXPECT_EQ(rows[i].at(column("port")), PortName("a"));
  }
  EXPECT_EQ(outcomes, (std::map<std::string, std::string>{{"1027262514131211", "completed"},
                                                          {"1027262514131212", "port-lost"}}));

  std::vector<std::string> jsonCommand = Cli();
  jsonCommand.insert(jsonCommand.end(), {"history", "--db", DbArgument(), "--json"});
  Subprocess json(jsonCommand);
  ASSERT_EQ(json.Wait(30s), 0) << json.err();
  std::istringstream lines(json.out());
  std::map<std::string, nlohmann::json> units;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json unit = nlohmann::json::parse(line);
    units[unit.at("device_id")] = unit;
  }
  ASSERT_EQ(units.size(), 2u) << json.out();
  EXPECT_EQ(units.at("1027262514131211").at("program"), "标准版");
  EXPECT_EQ(units.at("1027262514131211").at("blocks"), 70);
  EXPECT_EQ(units.at("1027262514131212").at("outcome"), "port-lost");
  EXPECT_EQ(units.at("1027262514131212").at("blocks"), 5);
}

TEST_F(Station, AUnitWhoseListLacksTheProgramIsRecordedWithWhatWasOffered) {
  Bench("a", {Unit("1027262514131211")});
  Subprocess station(Command({"a"}, 1, "Sport"));
  ASSERT_EQ(station.Wait(60s), 1) << station.out() << station.err();
  EXPECT_EQ(benches[0]->Results()[0].counters.blocksReceived, 0u);
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("outcome"), "program-not-offered");
  EXPECT_NE(rows[0].at("offered").find("直達"), std::string::npos) << rows[0].at("offered");
}

// The display is plugged into the other channel's socket for its second unit:
// that channel upgrades it, and the first never touches that port.
TEST_F(Station, ADisplayMovedToAnotherSocketBelongsToThatSocketsChannel) {
  Bench("a", {Unit("1027262514131211")});
  sim::BenchUnit moved = Unit("1027262514131211");
  Bench("b", {Unit("2027262514131211"), moved});
  Subprocess station(Command({"a", "b"}, 3));
  ASSERT_EQ(station.Wait(90s), 0) << station.out() << station.err();
  const std::vector<Row> rows =
      ReadUnits(db, "SELECT channel, port FROM units WHERE device_id='1027262514131211'");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("channel"), "1");
  EXPECT_EQ(rows[1].at("channel"), "2");
  EXPECT_EQ(rows[1].at("port"), (dir / "b").string());
  EXPECT_EQ(ReadUnits(db, "SELECT id FROM units WHERE channel=1").size(), 1u);
}

// Swapped mid-transfer behind an adapter that stayed: the unit ends at once,
// naming both displays, and the one that answered is the next unit, written
// with its own program.
TEST_F(Station, ADisplaySwappedMidTransferEndsItsUnitAndTheOtherIsTheNext) {
  Bench("a", {Unit("1027262514131211", {"swap-after:20:10272625141312AA"})});
  Subprocess station(Command({"a"}, 2));
  ASSERT_EQ(station.Wait(60s), 1) << station.out() << station.err();
  const sim::BenchUnitResult unit = benches[0]->Results()[0];
  EXPECT_EQ(unit.program, Expected(kStandardGbk)) << "the display that stayed has its own";
  EXPECT_EQ(unit.counters.programsCompleted, 1u);
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("outcome"), "other-display");
  EXPECT_EQ(rows[0].at("device_id"), "1027262514131211");
  EXPECT_EQ(rows[0].at("transfer_device_id"), "10272625141312AA");
  EXPECT_EQ(rows[0].at("blocks"), "20");
  EXPECT_EQ(rows[1].at("outcome"), "completed");
  EXPECT_EQ(rows[1].at("device_id"), "10272625141312AA");
  EXPECT_EQ(rows[1].at("transfer_device_id"), "10272625141312AA");
}

// A display swapped in right after a completion is not taken for the one
// that stayed plugged in.
TEST_F(Station, ADisplaySwappedInRightAfterACompletionIsUpgraded) {
  Bench("a", {Unit("1027262514131211", {"swap-after:70:10272625141312AA:500"})}, 8000ms);
  Subprocess station(Command({"a"}, 2));
  ASSERT_EQ(station.Wait(60s), 0) << station.out() << station.err();
  EXPECT_EQ(benches[0]->Results()[0].counters.programsCompleted, 2u);
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("device_id"), "1027262514131211");
  EXPECT_EQ(rows[1].at("device_id"), "10272625141312AA");
  EXPECT_EQ(rows[1].at("outcome"), "completed");
}

TEST_F(Station, OnePortUnderTwoNamesIsRefusedBeforeAnyProbe) {
  Bench("a", {Unit("1027262514131211")});
  const std::string target = std::filesystem::read_symlink(dir / "a").string();
  Subprocess station(Upgrade({"a"}, "标准版", {"station", "--db", db, "--port", target}));
  EXPECT_EQ(station.Wait(20s), 2);
  EXPECT_NE(station.err().find("same device"), std::string::npos) << station.err();
  EXPECT_NE(station.err().find((dir / "a").string()), std::string::npos);
  EXPECT_NE(station.err().find(target), std::string::npos);
  EXPECT_EQ(benches[0]->Results()[0].counters.probesSeen, 0u);
}

// Killed mid-transfer, the station leaves a sound file; the unit it was
// writing reads interrupted once the records are opened again.
TEST_F(Station, KilledMidTransferLeavesASoundFileAndAnInterruptedUnit) {
  Bench("a", {Unit("1027262514131211")});
  {
    Subprocess station(Command({"a"}, 1));
    ASSERT_TRUE(station.ReadUntil(
        [](const std::string& out) { return out.find("progress 10/70") != std::string::npos; },
        30s))
        << station.out();
    station.Signal(SIGKILL);
    EXPECT_EQ(station.Wait(10s), 128 + SIGKILL);
  }
  EXPECT_EQ(ReadUnits(db, "PRAGMA integrity_check").at(0).begin()->second, "ok");
  {
    Subprocess again(Command({"a"}, 1));
    ASSERT_TRUE(again.ReadUntil([](const std::string& out) { return !out.empty(); }, 20s));
    again.Signal(SIGINT);
    EXPECT_EQ(again.Wait(20s), 130) << again.err();
  }
  Subprocess history({BRINTEL_CLI, "history", "--db", db, "--csv"});
  ASSERT_EQ(history.Wait(20s), 0) << history.err();
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_GE(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("outcome"), "interrupted");
  EXPECT_NE(history.out().find("interrupted"), std::string::npos) << history.out();
}

// A port that will never open as it is marks its channel at once; the other
// channels work on.
TEST_F(Station, AnUnusablePortIsMarkedAndTheOthersWorkOn) {
  Bench("a", {Unit("1027262514131211")});
  std::vector<std::string> argv =
      Upgrade({"a"}, "标准版", {"station", "--db", db, "--units", "1", "--json"});
  argv.insert(argv.end(), {"--port", "/etc/hostname"});
  Subprocess station(argv);
  ASSERT_EQ(station.Wait(60s), 0) << station.out() << station.err();
  const std::vector<nlohmann::json> notes = Events(JsonLines(station.out()), "note");
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes[0].at("channel"), 2);
  EXPECT_EQ(notes[0].at("text"), "unusable: /etc/hostname: not a serial device");
  ExpectWrittenOnce(benches[0]->Results()[0], Expected(kStandardGbk));

  Subprocess alone(Upgrade({}, "标准版", {"station", "--db", db, "--port", "/etc/hostname"}));
  EXPECT_EQ(alone.Wait(20s), 1) << "nothing a station could do";
  EXPECT_NE(alone.err().find("not a serial device"), std::string::npos) << alone.err();
}

// Ctrl-C mid-transfer stops every channel: each unit is recorded as stopped,
// and --json kept stdout for its objects alone.
TEST_F(Station, InterruptStopsEveryChannelAndJsonIsAllThatReachesStdout) {
  Bench("a", {Unit("1027262514131211")}, 2500ms, 9600);
  Bench("b", {Unit("2027262514131211")}, 2500ms, 9600);
  std::vector<std::string> argv = Command({"a", "b"}, 2);
  argv.push_back("--json");
  Subprocess station(argv);
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) {
        return out.find(R"("blocks":2,"channel":1)") != std::string::npos &&
               out.find(R"("blocks":2,"channel":2)") != std::string::npos;
      },
      30s))
      << station.out() << station.err();
  station.Signal(SIGINT);
  ASSERT_EQ(station.Wait(20s), 130) << station.err();

  const std::vector<nlohmann::json> lines = JsonLines(station.out());
  const std::vector<nlohmann::json> ended = Events(lines, "unit-ended");
  ASSERT_EQ(ended.size(), 2u) << station.out();
  for (const nlohmann::json& unit : ended) {
    EXPECT_EQ(unit.at("outcome"), "stopped");
    EXPECT_GE(unit.at("blocks").get<int>(), 2);
  }
  EXPECT_EQ(Events(lines, "unit-started").size(), 2u);
  EXPECT_FALSE(Events(lines, "status").empty());
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 2u);
  for (const Row& row : rows) {
    EXPECT_EQ(row.at("outcome"), "stopped");
    EXPECT_FALSE(row.at("ended_at").empty());
  }
  for (const auto& bench : benches) {
    EXPECT_EQ(bench->Results().at(0).counters.programsCompleted, 0u);
  }
}

// --all-ports on Windows: a channel for every USB serial adapter the system
// lists, in the order of their numbers, never its built-in UARTs (Wine lists
// its COM1 as \Device\Serial0).
TEST_F(Station, AllPortsOnWindowsGivesEveryUsbAdapterAChannel) {
  if (!WindowsCli()) {
    GTEST_SKIP() << "the system's list of adapters is Windows'";
  }
  Bench("b", {Unit("2027262514131211")});
  Bench("a", {Unit("1027262514131211")});
  const auto registry = [](std::vector<std::string> args) {
    args.insert(args.begin(), {Cli().front(), "reg"});
    Subprocess reg(args);
    return reg.Wait(30s);
  };
  const std::string key = R"(HKLM\HARDWARE\DEVICEMAP\SERIALCOMM)";
  // Listed in the other order than their numbers.
  ASSERT_EQ(registry({"add", key, "/v", R"(\Device\VCP0)", "/d", PortName("a"), "/f"}), 0);
  ASSERT_EQ(registry({"add", key, "/v", R"(\Device\VCP1)", "/d", PortName("b"), "/f"}), 0);
  std::vector<std::string> argv = Cli();
  argv.insert(argv.end(),
              {"station", "--all-ports", "--program", "标准版", "--units", "2", "--db",
               DbArgument(), "--server", server->Host() + ":" + std::to_string(server->Port())});
  Subprocess station(argv);
  const int status = station.Wait(90s);
  registry({"delete", key, "/v", R"(\Device\VCP0)", "/f"});
  registry({"delete", key, "/v", R"(\Device\VCP1)", "/f"});
  ASSERT_EQ(status, 0) << station.out() << station.err();
  for (const auto& bench : benches) {
    ExpectWrittenOnce(bench->Results().at(0), Expected(kStandardGbk));
  }
  // Channel 1 is the lower COM number, whatever order the system lists them in.
  const std::vector<Row> rows = ReadUnits(db, "SELECT channel, port FROM units ORDER BY channel");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("port"), PortName("b"));
  EXPECT_EQ(rows[1].at("port"), PortName("a"));
}

// A single run with --json reports its unit as a station channel does.
TEST_F(Station, ASingleRunWithJsonEndsWithItsUnit) {
  Bench("a", {Unit("1027262514131211")});
  Subprocess run(Upgrade({"a"}, "标准版", {"--json"}));
  ASSERT_EQ(run.Wait(60s), 0) << run.out() << run.err();
  const std::vector<nlohmann::json> lines = JsonLines(run.out());
  ASSERT_FALSE(lines.empty());
  const nlohmann::json& last = lines.back();
  EXPECT_EQ(last.at("event"), "unit-ended");
  EXPECT_EQ(last.at("outcome"), "completed");
  EXPECT_EQ(last.at("blocks"), 70);
  EXPECT_EQ(last.at("program"), "标准版");
  EXPECT_EQ(Events(lines, "progress").size(), 70u);
  EXPECT_EQ(Events(lines, "message").at(0).at("caption"), "No error");
  ExpectWrittenOnce(benches[0]->Results().at(0), Expected(kStandardGbk));
}

// Colours off: what the terminal shows as text.
std::string Plain(std::string line) {
  for (std::size_t at; (at = line.find("\033[")) != std::string::npos;) {
    line.erase(at, line.find('m', at) - at + 1);
  }
  return line;
}

// On an 80-column terminal each channel keeps one line, redrawn in place and
// never wrapped (the Chinese prompts take two columns a character).
TEST_F(Station, OnATerminalEachChannelHasOneRedrawnLineThatFitsTheWidth) {
  Bench("a", {Unit("1027262514131211")});
  Bench("b", {Unit("2027262514131211")});
  Subprocess station(Command({"a", "b"}, 2), Subprocess::Terminal{.columns = 80});
  ASSERT_EQ(station.Wait(60s), 0) << station.out();
  const std::string& screen = station.out();
  EXPECT_NE(screen.find("\033[3A"), std::string::npos) << "two channels and the totals redrawn";
  std::vector<std::string> drawn;
  for (const RedrawnLine& line : RedrawnLines(screen)) {
    drawn.push_back(Plain(line.text));
    EXPECT_LT(ColumnsOnTerminal(drawn.back()), 80) << line.text;
  }
  ASSERT_GE(drawn.size(), 3u);
  const std::vector<std::string> last(drawn.end() - 3, drawn.end());
  EXPECT_EQ(last[0].rfind("1  a  1027262514131211  done 0:0", 0), 0u) << last[0];
  EXPECT_EQ(last[1].rfind("2  b  2027262514131211  done 0:0", 0), 0u) << last[1];
  EXPECT_EQ(last[2].rfind("units: 2 completed, 0 failed, ", 0), 0u) << last[2];
}

// A frame of the terminal as a page, its colours kept, for a picture of it.
std::string TerminalPage(const std::vector<std::string>& lines) {
  std::string page =
      "<!DOCTYPE html><meta charset=\"utf-8\"><body style=\"margin:0;background:#1e1e1e\">"
      "<pre style=\"margin:0;padding:12px;color:#ddd;font:15px monospace\">";
  for (const std::string& line : lines) {
    std::string html;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line.compare(i, 2, "\033[") == 0) {
        const std::size_t end = line.find('m', i);
        const std::string code = line.substr(i + 2, end - i - 2);
        html += code == "0"    ? "</span>"
                : code == "31" ? "<span style=\"color:#f55\">"
                : code == "32" ? "<span style=\"color:#5d5\">"
                               : "<span style=\"color:#ee5\">";
        i = end;
      } else if (line[i] == '<') {
        html += "&lt;";
      } else if (line[i] == '&') {
        html += "&amp;";
      } else {
        html += line[i];
      }
    }
    page += html + "\n";
  }
  return page + "</pre>";
}

// Four sockets named as /dev/serial/by-path names them, at 100 columns: the
// state of every channel shows on every frame, a failure stays on screen
// until that socket's next unit, and a narrower terminal gets narrower lines.
TEST_F(Station, EveryChannelsStateShowsAndAFailureStaysUntilTheNextUnit) {
  std::vector<std::string> sockets;
  for (int i = 1; i <= 4; ++i) {
    sockets.push_back("pci-0000:00:14.0-usb-0:1." + std::to_string(i) + ":1.0-port0");
  }
  Bench(sockets[0], {Unit("1027262514131211", {"unplug-after:5"}), Unit("1027262514131212")},
        2500ms, 0, 6000ms);
  for (int i = 1; i < 4; ++i) {
    Bench(sockets[static_cast<std::size_t>(i)], {Unit(std::to_string(i + 1) + "027262514131211")});
  }
  Subprocess station(Command(sockets, 5), Subprocess::Terminal{.columns = 100});
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) { return out.find("FAILED") != std::string::npos; }, 30s));
  const std::size_t failedAt = station.out().find("FAILED");
  station.ReadUntil([](const std::string&) { return false; }, 5s);  // 5 s, read as drawn
  const std::size_t beforeResize = station.out().size();
  std::vector<std::string> frame;  // the last frame at 100 columns, for the README
  for (const RedrawnLine& line : RedrawnLines(station.out())) {
    frame.push_back(line.text);
  }
  if (frame.size() > 5) {
    frame.erase(frame.begin(), frame.end() - 5);
  }
  station.Resize(60);
  ASSERT_EQ(station.Wait(60s), 1) << station.out();  // one of the five failed

  const std::string& screen = station.out();
  // The view clears the old frame (it may have wrapped) and draws anew.
  const std::size_t resizedAt = screen.find("\033[J", beforeResize);
  ASSERT_NE(resizedAt, std::string::npos) << "redrawn after the resize";
  EXPECT_NE(screen.find("\033[31mFAILED"), std::string::npos) << "red on a terminal";
  bool secondUnitSeen = false;
  for (const RedrawnLine& drawn : RedrawnLines(screen)) {
    const std::string line = Plain(drawn.text);
    const int limit = drawn.at >= resizedAt ? 60 : 100;
    EXPECT_LT(ColumnsOnTerminal(line), limit) << line;
    if (line.starts_with("units:")) {
      continue;
    }
    // number, socket, display, then the state: never cut away.
    std::istringstream fields(line);
    std::string number, socket, display, state;
    fields >> number >> socket >> display >> state;
    EXPECT_FALSE(state.empty()) << line;
    EXPECT_EQ(socket.find("/"), std::string::npos) << "a short label: " << line;
    if (number == "1" && drawn.at > failedAt) {
      secondUnitSeen = secondUnitSeen || display == "1027262514131212";
      if (!secondUnitSeen) {
        EXPECT_EQ(state, "FAILED:") << "until the next unit: " << line;
      }
    }
  }
  EXPECT_TRUE(secondUnitSeen);

  if (const std::string chromium = ChromiumPath(); !chromium.empty()) {
    const std::filesystem::path page = dir / "terminal.html";
    std::ofstream(page) << TerminalPage(frame);
    std::vector<std::string> shot = ChromiumCommand(chromium, dir / "profile");
    shot.insert(shot.end(), {std::string("--screenshot=") + STATION_TERMINAL_PNG,
                             "--window-size=1000,150", "file://" + page.string()});
    EXPECT_EQ(Subprocess(shot).Wait(30s), 0);
  }
}

// Another program's hold on the records: a connection with the write lock.
class RecordsLock {
 public:
  explicit RecordsLock(const std::string& db) {
    sqlite3_open_v2(db.c_str(), &handle_, SQLITE_OPEN_READWRITE, nullptr);
    locked_ = sqlite3_exec(handle_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~RecordsLock() { Release(); }
  bool locked() const { return locked_; }
  void Release() {
    if (handle_ != nullptr) {
      sqlite3_exec(handle_, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(handle_);
      handle_ = nullptr;
    }
  }

 private:
  sqlite3* handle_ = nullptr;
  bool locked_ = false;
};

bool SeesBlock(const std::string& out, int blocks) {
  return out.find(R"("blocks":)" + std::to_string(blocks) + R"(,"channel":1,"event":"progress")") !=
         std::string::npos;
}

// The records locked for longer than the station waits on them: the unit in
// transfer completes, no new unit begins while they cannot be written, and
// they are written once the lock goes.
TEST_F(Station, ALockedFileHoldsNewUnitsAndIsWrittenOnceFree) {
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")});
  std::vector<std::string> argv = Command({"a"}, 2);
  argv.push_back("--json");
  Subprocess station(argv);
  ASSERT_TRUE(station.ReadUntil([](const std::string& out) { return SeesBlock(out, 10); }, 30s));
  std::string releasedAt;
  {
    RecordsLock lock(db);
    ASSERT_TRUE(lock.locked());
    ASSERT_TRUE(station.ReadUntil(
        [](const std::string& out) {
          return out.find("records cannot be written") != std::string::npos;
        },
        30s))
        << station.out();
    std::this_thread::sleep_for(4s);  // past the first unit's stay: the second is plugged in
    releasedAt = records::UtcNow();   // as the events write time: it compares as text
  }
  ASSERT_EQ(station.Wait(60s), 0) << station.out() << station.err();
  const std::vector<nlohmann::json> started = Events(JsonLines(station.out()), "unit-started");
  ASSERT_EQ(started.size(), 2u);
  EXPECT_GE(started[1].at("time").get<std::string>(), releasedAt) << "no unit while held";
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 2u);
  for (const Row& row : rows) {
    EXPECT_EQ(row.at("outcome"), "completed");
  }
  for (const sim::BenchUnitResult& unit : benches[0]->Results()) {
    ExpectWrittenOnce(unit, Expected(kStandardGbk));
  }
}

// Stopped while the records cannot take its unit, the station hands it over
// on stderr in the history's JSON shape.
TEST_F(Station, UnitsTheRecordsCouldNotTakeArePrintedAtTheEnd) {
  Bench("a", {Unit("1027262514131211")});
  Subprocess station(Command({"a"}, 1));
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) { return out.find("progress 10/70") != std::string::npos; }, 30s));
  RecordsLock lock(db);
  ASSERT_TRUE(lock.locked());
  ASSERT_EQ(station.Wait(60s), 1) << station.out() << station.err();
  const std::string& err = station.err();
  const std::optional<nlohmann::json> found = FirstUnwrittenUnit(err);
  ASSERT_TRUE(found.has_value()) << err;
  const nlohmann::json& unit = *found;
  EXPECT_EQ(unit.at("device_id"), "1027262514131211");
  EXPECT_EQ(unit.at("outcome"), "completed");
  EXPECT_EQ(unit.at("blocks"), 70);
}

// A disk that fills mid-run is a wait, not an end.
TEST_F(Station, AFullDiskHoldsNewUnitsUntilThereIsRoomAgain) {
  const std::filesystem::path small = dir / "small";
  std::filesystem::create_directories(small);
  if (::geteuid() != 0 ||
      Subprocess({"/usr/bin/mount", "-t", "tmpfs", "-o", "size=512k", "tmpfs", small.string()})
              .Wait(10s) != 0) {
    GTEST_SKIP() << "a small file system needs root to mount one";
  }
  struct Unmount {
    std::filesystem::path path;
    ~Unmount() { Subprocess({"/usr/bin/umount", "-l", path.string()}).Wait(10s); }
  } unmount{small};
  db = (small / "history.sqlite3").string();
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")});
  Subprocess station(Command({"a"}, 2));
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) { return out.find("progress 10/70") != std::string::npos; }, 30s));
  const std::filesystem::path filler = small / "filler";
  {
    std::ofstream fill(filler, std::ios::binary);
    const std::string chunk(4096, 'x');
    while (fill.write(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
    }
  }
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) {
        return out.find("records cannot be written") != std::string::npos;
      },
      30s))
      << station.out();
  EXPECT_NE(station.out().find("full"), std::string::npos) << station.out();
  std::filesystem::remove(filler);
  ASSERT_EQ(station.Wait(60s), 0) << station.out() << station.err();
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].at("outcome"), "completed");
  EXPECT_EQ(rows[1].at("outcome"), "completed");
}

// Nobody reads the events any more: the unit in transfer still completes and
// is recorded, no new one begins, and the station says so with its status.
TEST_F(Station, AClosedOutputWindsTheStationDown) {
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")});
  std::vector<std::string> argv = {
      "/bin/bash", "-c", R"("$@" | head -c 1500 >/dev/null; exit "${PIPESTATUS[0]}")", "bash"};
  const std::vector<std::string> command = Command({"a"}, 2);
  argv.insert(argv.end(), command.begin(), command.end());
  argv.push_back("--json");
  Subprocess station(argv);
  ASSERT_EQ(station.Wait(60s), 1) << station.err();
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("outcome"), "completed");
  ExpectWrittenOnce(benches[0]->Results()[0], Expected(kStandardGbk));
}

// Two stations on one file: neither takes the other's running unit for one a
// killed station left open.
TEST_F(Station, AnotherStationsRunningUnitIsNotInterrupted) {
  Bench("a", {Unit("1027262514131211")}, 2500ms, 9600);
  Bench("b", {Unit("2027262514131211")});
  Subprocess first(Command({"a"}, 1));
  ASSERT_TRUE(first.ReadUntil(
      [](const std::string& out) { return out.find("progress 1/70") != std::string::npos; }, 60s));
  Subprocess second(Command({"b"}, 1));
  ASSERT_EQ(second.Wait(60s), 0) << second.err();
  EXPECT_EQ(ReadUnits(db, "SELECT outcome FROM units WHERE device_id = '1027262514131211'")
                .at(0)
                .at("outcome"),
            "")
      << "still running";
  first.Signal(SIGINT);
  EXPECT_EQ(first.Wait(20s), 130);
}

// The size a BMP file of the instruction pictures says it has.
std::pair<int, int> BitmapSize(const std::string& id) {
  std::ifstream in(std::string(BRINTEL_PICTURES) + "/" + id + ".bmp", std::ios::binary);
  char header[26] = {};
  in.read(header, sizeof header);
  const auto word = [&](int at) {
    return static_cast<int>(static_cast<unsigned char>(header[at]) |
                            static_cast<unsigned char>(header[at + 1]) << 8 |
                            static_cast<unsigned char>(header[at + 2]) << 16);
  };
  return {word(18), word(22)};
}

// The page's address, once the station has said it.
std::string PageUrl(Subprocess& station) {
  std::smatch url;
  const std::regex said("the page is at (http://\\S+)");
  station.ReadUntil([&](const std::string&) { return std::regex_search(station.err(), url, said); },
                    20s);
  return url.empty() ? "" : url[1].str();
}

// What the live page shows of each tile, and its banner.
constexpr char kReadTiles[] = R"(
  return {banner: document.getElementById('banner').textContent,
          tiles: [...document.querySelectorAll('.tile')].map((t) => ({
            id: t.id, tone: t.className, blocks: t.querySelector('progress').value,
            display: t.querySelector('.display').textContent,
            reason: t.querySelector('.reason').textContent,
            title: t.querySelector('.title').textContent,
            markup: t.querySelectorAll('.title *').length,
            pictures: [...t.querySelectorAll('.pictures img:not([hidden])')].map((i) => ({
              src: i.getAttribute('src'), complete: i.complete,
              width: i.naturalWidth, height: i.naturalHeight}))}))};)";

// Three channels in a real browser: the tiles follow the transfers without a
// reload, each shows its run's two pictures at their own size, a unit
// unplugged mid-transfer turns its tile to FAILED with why, the history view
// lists what the records hold, and the page says when the station ended.
TEST_F(Station, TheWebPageFollowsTheStationLiveInABrowser) {
  if (const std::string missing = WebDriver::Missing(); !missing.empty()) {
    GTEST_SKIP() << missing;
  }
  // A title that would be markup, were it not set as text.
  const std::string hostile = "<img src=x onerror=\"document.title='owned'\">";
  std::vector<sim::Program> programs = sim::Catalogue::Default().Programs();
  programs[3].title = hostile;  // 标准版
  server =
      std::make_unique<sim::ProgramServer>(sim::Catalogue(programs), sim::ProgramServer::Options{});
  server->Start();
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")}, 1500ms, 57600);
  Bench("b", {Unit("2027262514131211")}, 2500ms, 57600);
  Bench("c", {Unit("3027262514131211", {"unplug-after:40"})}, 2500ms, 57600);
  std::vector<std::string> argv = Command({"a", "b", "c"}, 4);
  argv.insert(argv.end(), {"--web", "127.0.0.1:0"});
  Subprocess station(argv);
  const std::string url = PageUrl(station);
  ASSERT_FALSE(url.empty()) << station.err();
  WebDriver browser(dir / "profile", 1600, 1500);
  browser.Open(url);

  std::map<std::string, std::vector<int>> rising;  // each tile's blocks while transferring
  nlohmann::json pictures, failed;
  bool shot = false;
  const auto deadline = std::chrono::steady_clock::now() + 40s;
  nlohmann::json page;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(250ms);
    page = browser.Run(kReadTiles);
    if (page.at("tiles").size() != 3) {
      continue;  // not yet connected
    }
    int transferring = 0;
    for (const nlohmann::json& tile : page.at("tiles")) {
      const int blocks = tile.at("blocks").get<int>();
      std::vector<int>& seen = rising[tile.at("display").get<std::string>()];
      if (blocks > 0 && blocks < 70 && (seen.empty() || seen.back() != blocks)) {
        seen.push_back(blocks);
        ++transferring;
      }
      if (tile.at("id") == "tile-1" && blocks > 0 && tile.at("pictures").size() == 2 &&
          tile.at("pictures")[1].at("complete").get<bool>()) {
        pictures = tile.at("pictures");
      }
      if (tile.at("id") == "tile-3" && tile.at("tone") == "tile failed") {
        failed = tile;
      }
    }
    // For the README: one tile failed while the others still transfer.
    if (!failed.is_null() && !shot && transferring > 0) {
      const std::string png = browser.Screenshot();
      std::ofstream(STATION_WEB_PNG, std::ios::binary) << png;
      shot = png.starts_with("\x89PNG");
    }
    if (page.at("tiles")[0].at("display") == "1027262514131212") {
      break;  // the second unit of socket a: the others have ended
    }
  }
  ASSERT_EQ(page.at("tiles").size(), 3u) << page.dump();
  EXPECT_TRUE(shot);
  for (const char* display : {"1027262514131211", "2027262514131211", "3027262514131211"}) {
    const std::vector<int>& seen = rising[display];
    EXPECT_GE(seen.size(), 3u) << display;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << display;
  }
  ASSERT_EQ(pictures.size(), 2u) << page.dump();
  for (const nlohmann::json& picture : pictures) {
    const std::string src = picture.at("src");
    const std::pair<int, int> size = BitmapSize(src.substr(9, 3));  // pictures/NNN.bmp
    EXPECT_EQ(picture.at("width").get<int>(), size.first) << src;
    EXPECT_EQ(picture.at("height").get<int>(), size.second) << src;
  }
  // As the package of 标准版 names them.
  EXPECT_EQ(pictures[0].at("src"), "pictures/134.bmp");
  EXPECT_EQ(pictures[1].at("src"), "pictures/135.bmp");
  EXPECT_EQ(page.at("tiles")[1].at("title"), hostile);
  EXPECT_EQ(page.at("tiles")[1].at("markup"), 0);
  EXPECT_NE(browser.Run("return document.title;"), "owned");
  ASSERT_FALSE(failed.is_null()) << page.dump();
  EXPECT_THAT(failed.at("reason").get<std::string>(),
              ::testing::HasSubstr("unplugged mid-transfer"));

  // The history view: every unit the file holds now, the running one too.
  browser.Open(url + "history");
  const nlohmann::json listed = browser.Run(
      "return [...document.querySelectorAll('#units tbody tr')].map((r) => "
      "r.cells[3].textContent);");
  const std::vector<Row> rows = ReadUnits(db);
  ASSERT_EQ(listed.size(), rows.size()) << listed.dump();
  EXPECT_EQ(rows.size(), 4u);
  for (const Row& row : rows) {
    EXPECT_NE(listed.dump().find(row.at("device_id")), std::string::npos) << row.at("device_id");
  }
  EXPECT_EQ(browser.Run("return document.querySelectorAll('svg.chart').length;").get<int>(), 3);

  browser.Open(url);
  EXPECT_EQ(station.Wait(40s), 1) << station.err();  // one of the four failed
  EXPECT_THAT(browser.Run(kReadTiles).at("banner").get<std::string>(),
              ::testing::HasSubstr("The station ended"));
}

// Off this PC the page is the shop's alone: no token, no station; with one,
// the page wants it once and then knows the browser by its cookie. Nothing
// but GET is taken.
TEST_F(Station, AWebPageBeyondThisPcWantsItsToken) {
  std::vector<std::string> argv = Upgrade({"nothing"}, "Standard", {"station", "--db", db});
  std::vector<std::string> open = argv;
  open.insert(open.end(), {"--web", "0.0.0.0:0"});
  Subprocess refused(open);
  EXPECT_EQ(refused.Wait(10s), 2);
  EXPECT_THAT(refused.err(), ::testing::HasSubstr("--web-token"));

  argv.insert(argv.end(), {"--web", "0.0.0.0:0", "--web-token", "s3cret-bench"});
  Subprocess station(argv);
  const std::string url = PageUrl(station);
  ASSERT_FALSE(url.empty()) << station.err();
  httplib::Client client("127.0.0.1", std::stoi(url.substr(url.rfind(':') + 1)));
  EXPECT_EQ(client.Get("/")->status, 403);
  EXPECT_EQ(client.Get("/state?token=wrong")->status, 403);
  const auto admitted = client.Get("/?token=s3cret-bench");
  EXPECT_EQ(admitted->status, 303);
  const std::string cookie = admitted->get_header_value("Set-Cookie");
  EXPECT_THAT(cookie, ::testing::HasSubstr("HttpOnly"));
  const httplib::Headers withCookie = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
  const auto state = client.Get("/state", withCookie);
  EXPECT_EQ(state->status, 200);
  EXPECT_EQ(nlohmann::json::parse(state->body).at("tiles").size(), 1u);
  EXPECT_EQ(client.Post("/", withCookie, "", "text/plain")->status, 405);
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(20s), 130);
}

}  // namespace
}  // namespace brintel::testing
