#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "records/UnitHistory.h"
#include "records/UnitRecords.h"
#include "run/UnitOutcome.h"
#include "tests/records/RecordsTestSupport.h"

namespace brintel::records {
namespace {

using test::ReadText;
using test::TempDir;
using test::Unit;

class UnitRecordsTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::filesystem::path file = dir.path() / "shop" / "station" / "history.sqlite3";
};

TEST_F(UnitRecordsTest, EveryFieldSurvivesReopeningUnderItsColumn) {
  UnitRecord unit = Unit(2, "A1B2", "2026-12-09T02:31:07.125Z");
  unit.transferDeviceId = "A1B3";
  unit.station = "bench 7";
  {
    auto store = UnitRecords::Open(file);  // makes the folders
    unit.id = store.Begin(unit);
    const auto open = store.Query();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].deviceId + " " + open[0].transferDeviceId, "A1B2 A1B3");
    EXPECT_EQ(open[0], unit) << "the open row, as begun";
    unit.endedAt = "2026-12-09T02:33:10.500Z";
    unit.program = "直達";
    unit.title = "行车显示器 升级";
    unit.listUrl = "http://127.0.0.1:8080/cargetnameplovix.asp?id=A1B2";
    unit.outcome = run::OutcomeName(run::UnitOutcome::kProgramNotOffered);
    unit.offered = {"快線, 2", "say \"hi\"", "慢\n車"};
    unit.counts = {70, 1, 2, 3, 4, 5, 6};
    store.End(unit);
  }
  EXPECT_EQ(UnitRecords::Open(file).Query(), std::vector{unit});
  EXPECT_EQ(UnitHistory(file).Query(), std::vector{unit});
  EXPECT_EQ(ReadText(file, "SELECT blocks || ' ' || resends || ' ' || ports_lost FROM units"),
            "70 10 6");
  EXPECT_EQ(ReadText(file, "PRAGMA journal_mode"), "wal");
  auto store = UnitRecords::Open(file);
  unit.outcome = "";
  EXPECT_THROW(store.End(unit), std::invalid_argument);
  unit.outcome = run::OutcomeName(run::UnitOutcome::kStopped);
  unit.id += 1;
  EXPECT_FALSE(store.End(unit)) << "a row deleted by hand is no reason to abort";
}

TEST_F(UnitRecordsTest, TwoChannelThreadsWriteAtOnce) {
  auto store = UnitRecords::Open(file);
  constexpr int kUnits = 100;
  auto channel = [&](int number) {
    for (int i = 0; i < kUnits; ++i) {
      UnitRecord unit = Unit(number, std::to_string(i) + "D", "");
      unit.id = store.Begin(unit);
      unit.outcome = run::OutcomeName(run::UnitOutcome::kCompleted);
      store.End(unit);
    }
  };
  std::thread one(channel, 1), two(channel, 2);
  one.join();
  two.join();
  EXPECT_EQ(ReadText(file,
                     "SELECT count(DISTINCT id) || ' ' || sum(channel = 1) || ' ' || "
                     "sum(outcome = 'completed') || ' ' || "
                     "sum(started_at LIKE '20__-__-__T__:__:__.___Z' AND ended_at >= started_at) "
                     "FROM units"),
            "200 100 200 200");  // the times default to now
}

// A process of this host that has ended.
std::int64_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) {
    _exit(0);
  }
  waitpid(child, nullptr, 0);
  return child;
}

TEST_F(UnitRecordsTest, OpenRowsBecomeInterruptedWhenAStationOpensNotWhenAReaderDoes) {
  std::int64_t open = 0;
  UnitRecord ended = Unit(2, "E", "2026-12-09T01:00:00.000Z");
  ended.station = ThisProcess().host;  // a session of no name is its host's
  const Session dead{ThisProcess().host, DeadPid(), ""};
  {
    auto store = UnitRecords::Open(file, dead);
    open = store.Begin(Unit(1, "O", "2026-12-09T02:00:00.000Z"));
    ended.id = store.Begin(ended);
    ended.outcome = run::OutcomeName(run::UnitOutcome::kPortLost);
    ended.endedAt = "2026-12-09T01:00:30.000Z";
    store.End(ended);
    EXPECT_EQ(UnitHistory(file).Query().at(0).outcome, "");
  }  // the station dies with unit `open` running
  const auto units = UnitRecords::Open(file).Query();
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].id, open);
  EXPECT_EQ(units[0].outcome, records::kInterruptedOutcome);
  EXPECT_EQ(units[0].endedAt, "");
  EXPECT_EQ(units[1], ended);
}

// Stations share a file: a unit is interrupted only when its station is dead
// (here: its process gone; elsewhere: silent for longer than allowed).
TEST_F(UnitRecordsTest, AnotherStationsLiveUnitIsLeftAlone) {
  std::vector<std::int64_t> ids;
  for (const Session& session :
       {ThisProcess(), Session{"bench-2", 7, ""}, Session{"bench-3", 7, ""},
        Session{ThisProcess().host, DeadPid(), ""}}) {
    ids.push_back(UnitRecords::Open(file, session).Begin(Unit(1, session.host, "")));
  }
  // bench-3 gave its last sign of life long ago.
  test::Exec(file,
             "UPDATE sessions SET last_seen_at = '2026-01-01T00:00:00.000Z' "
             "WHERE host = 'bench-3'");
  UnitRecords::Open(file);
  const std::string outcomes = ReadText(
      file, "SELECT group_concat(outcome, ',') FROM (SELECT outcome FROM units ORDER BY id)");
  EXPECT_EQ(outcomes, ",,interrupted,interrupted")
      << "this process, bench-2, bench-3, the dead one";
}

TEST_F(UnitRecordsTest, AStationKilledWhileWritingLeavesASoundFile) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    try {
      auto store = UnitRecords::Open(file);
      store.Begin(Unit(1, "FIRST", ""));
      for (int i = 0;; ++i) {
        UnitRecord unit = Unit(2, std::to_string(i) + "D", "");
        unit.id = store.Begin(unit);
        unit.outcome = run::OutcomeName(run::UnitOutcome::kCompleted);
        store.End(unit);
        if (write(pipeFds[1], "x", 1) != 1) {
          _exit(2);
        }
      }
    } catch (...) {
      _exit(3);
    }
  }
  close(pipeFds[1]);
  char byte;
  for (int written = 0; written < 20; ++written) {
    ASSERT_EQ(read(pipeFds[0], &byte, 1), 1) << "the writer ended early";
  }
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(pipeFds[0]);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

  EXPECT_EQ(ReadText(file, "PRAGMA integrity_check"), "ok");
  const auto units = UnitRecords::Open(file).Query({.since = {}, .deviceId = "FIRST"});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].outcome, records::kInterruptedOutcome);
  EXPECT_EQ(ReadText(file, "SELECT count(*) FROM units WHERE outcome = ''"), "0");
  EXPECT_GE(std::stoi(ReadText(file, "SELECT count(*) FROM units")), 21);
}

TEST_F(UnitRecordsTest, FiltersBySinceAndDeviceNewestFirst) {
  auto store = UnitRecords::Open(file);
  auto add = [&](const char* device, const char* transfer, const char* started) {
    UnitRecord unit = Unit(1, device, started);
    unit.transferDeviceId = transfer;
    return store.Begin(unit);
  };
  const auto late = add("A", "A", "2026-12-09T02:31:07.000Z");
  const auto edge = add("B", "A", "2026-12-09T00:00:00.000Z");
  add("A", "", "2026-12-08T23:59:59.999Z");
  const auto justBefore = add("C", "", "2026-12-09T02:31:06.999Z");

  auto ids = [&](UnitFilter filter) {
    std::vector<std::int64_t> found;
    for (const auto& unit : store.Query(filter)) {
      found.push_back(unit.id);
    }
    return found;
  };
  EXPECT_EQ(ids({"2026-12-09", {}}), (std::vector{late, justBefore, edge}));
  EXPECT_EQ(ids({"2026-12-09T02:31:07Z", {}}), std::vector{late});
  EXPECT_EQ(ids({"2026-12-09 02:31", {}}), (std::vector{late, justBefore}));
  EXPECT_EQ(ids({{}, "A"}).size(), 3u);  // the transfer's id counts too
  EXPECT_EQ(ids({"2026-12-09", "A"}), (std::vector{late, edge}));
  EXPECT_THROW(store.Query({"2026-02-30", {}}), std::invalid_argument);
  EXPECT_THROW(store.Query({"yesterday", {}}), std::invalid_argument);
}

// Each field on both sides of its bounds, in stored times and --since alike.
TEST(TimestampsTest, EachFieldIsReadWithinItsBounds) {
  using namespace std::chrono;
  EXPECT_EQ(ParseUtc("2026-12-09T23:59:59.999Z"),
            sys_days{2026y / 12 / 9} + 23h + 59min + 59s + 999ms);
  EXPECT_EQ(ParseUtc("2028-02-29T00:00:00Z"), sys_days{2028y / 2 / 29});
  for (const char* bad :
       {"2026-12-09T24:00:00.000Z", "2026-12-09T23:60:00.000Z", "2026-12-09T23:59:60.000Z",
        "2026-13-01T00:00:00Z", "2026-12-32T00:00:00Z", "2026-02-29T00:00:00Z",
        "2026-12-09T23:59:59.99Z", "2026-12-09T23:59:59.999", "2026-12-09T23:59:59.999Zx"}) {
    EXPECT_EQ(ParseUtc(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(SinceBound("2026-12-09 23:59"), "2026-12-09T23:59");
  EXPECT_EQ(SinceBound("2026-12-09T23:59:59Z"), "2026-12-09T23:59:59");
  for (const char* bad : {"2026-12-09T24:00", "2026-12-09T23:60", "2026-12-09T23:59:60",
                          "2026-12-09T23:5", "2026-12-09T23:59:59.0", "2026-12-09Tx"}) {
    EXPECT_EQ(SinceBound(bad), std::nullopt) << bad;
    EXPECT_EQ(SinceTime(bad), std::nullopt) << bad;
  }
}

TEST(DefaultHistoryPathTest, XdgDataHomeThenHome) {
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", "/home/shop", 1);
  setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(DefaultHistoryPath(), "/data/brintel/history.sqlite3");
  setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(DefaultHistoryPath(), "/home/shop/.local/share/brintel/history.sqlite3");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultHistoryPath(), "/home/shop/.local/share/brintel/history.sqlite3");
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace brintel::records
