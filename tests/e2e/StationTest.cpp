// brintel-cli station against benches of simulated displays on link paths and
// the simulated program server: what every display received and what the
// records hold, for several channels at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "StationRig.h"
#include "TerminalScreen.h"
#include "records/Timestamps.h"
#include "sim/bench/DisplayBench.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Chromium.h"
#include "tests/support/Faults.h"
#include "tests/support/GbkNames.h"
#include "tests/support/Subprocess.h"

namespace brintel::testing {
namespace {

using namespace std::chrono_literals;
using Row = std::map<std::string, std::string>;

// The records as the file holds them, oldest first.
std::vector<Row> ReadUnits(const std::string& db, const std::string& query = "") {
  sqlite3* handle = nullptr;
  std::vector<Row> rows;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    return rows;
  }
  sqlite3_stmt* statement = nullptr;
  const std::string sql = query.empty() ? "SELECT * FROM units ORDER BY id" : query;
  sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr);
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    Row row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const auto* text = sqlite3_column_text(statement, i);
      row[sqlite3_column_name(statement, i)] = text ? reinterpret_cast<const char*>(text) : "";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(statement);
  sqlite3_close(handle);
  return rows;
}

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
  EXPECT_EQ(byDevice.at("3027262514131211").at("port"), (dir / "c").string());
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
  const std::size_t line = err.find(R"({"id":)");
  ASSERT_NE(line, std::string::npos) << err;
  const nlohmann::json unit = nlohmann::json::parse(err.substr(line, err.find('\n', line) - line));
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

}  // namespace
}  // namespace brintel::testing
