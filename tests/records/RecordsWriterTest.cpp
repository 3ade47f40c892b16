// The station's writer of records against real SQLite files: what it cannot
// write now waits in memory and is written once it can, and what it never
// could is handed back.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "records/RecordsWriter.h"
#include "run/UnitOutcome.h"
#include "tests/records/RecordsTestSupport.h"

namespace brintel::records {
namespace {

using namespace std::chrono_literals;
using test::ReadText;
using test::TempDir;
using test::Unit;

// Polls until `done` or a deadline far beyond any expected wait.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) {
      return true;
    }
    std::this_thread::sleep_for(10ms);
  }
  return done();
}

class RecordsWriterTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::filesystem::path file = dir.path() / "history.sqlite3";
  RecordsWriter writer{file, ThisProcess(), 50ms, {.retryEvery = 20ms, .heartbeatEvery = 60s}};

  UnitRecord Ended(UnitRecord unit) {
    unit.outcome = run::OutcomeName(run::UnitOutcome::kCompleted);
    unit.counts.accepted = 70;
    return unit;
  }
  std::string Rows() const {
    return ReadText(file,
                    "SELECT count(*) || ' ' || coalesce(sum(outcome = 'completed'), 0) "
                    "FROM units");
  }
};

// Another program holds the write lock longer than the busy time-out.
TEST_F(RecordsWriterTest, ALockedFileIsWrittenOnceTheLockGoes) {
  {
    Database other(file.string(), SQLITE_OPEN_READWRITE);
    other.Exec("BEGIN EXCLUSIVE");
    writer.Begin(1, Unit(1, "A", ""));
    writer.End(1, Ended(Unit(1, "A", "")));
    writer.Begin(2, Unit(2, "B", ""));
    ASSERT_TRUE(Eventually([&] { return !writer.Trouble().empty(); }));
    EXPECT_NE(writer.Trouble().find("locked"), std::string::npos) << writer.Trouble();
    other.Exec("COMMIT");
  }
  ASSERT_TRUE(Eventually([&] { return writer.Trouble().empty() && Rows() == "2 1"; })) << Rows();
  writer.End(2, Ended(Unit(2, "B", "")));
  EXPECT_TRUE(writer.Close().empty());
  EXPECT_EQ(Rows(), "2 2");
}

TEST_F(RecordsWriterTest, WhatNeverCouldBeWrittenIsHandedBack) {
  Database other(file.string(), SQLITE_OPEN_READWRITE);
  other.Exec("BEGIN EXCLUSIVE");
  writer.Begin(1, Unit(1, "A", ""));
  writer.End(1, Ended(Unit(1, "A", "")));
  const std::vector<UnitRecord> unwritten = writer.Close();
  ASSERT_EQ(unwritten.size(), 1u);
  EXPECT_EQ(unwritten[0].deviceId, "A");
  EXPECT_EQ(unwritten[0].outcome, "completed");
  EXPECT_EQ(unwritten[0].counts.accepted, 70);
}

TEST_F(RecordsWriterTest, AnOpenRowDeletedByHandIsWrittenAnewAtTheEnd) {
  writer.Begin(1, Unit(1, "A", ""));
  ASSERT_TRUE(Eventually([&] { return Rows() == "1 0"; }));
  test::Exec(file, "DELETE FROM units");
  writer.End(1, Ended(Unit(1, "A", "")));
  EXPECT_TRUE(writer.Close().empty());
  EXPECT_EQ(Rows(), "1 1");
  EXPECT_EQ(ReadText(file, "SELECT device_id FROM units"), "A");
}

}  // namespace
}  // namespace brintel::records
