#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "records/Schema.h"
#include "records/UnitRecords.h"
#include "tests/records/RecordsTestSupport.h"

namespace brintel::records {
namespace {

using test::kVersionOneUnits;
using test::ReadText;
using test::TempDir;
using ::testing::AllOf;
using ::testing::HasSubstr;

class SchemaTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = (dir.path() / "history.sqlite3").string();
  Database Create() const { return {file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE}; }
  std::string OpenError() const {
    try {
      UnitRecords::Open(file);
    } catch (const RecordsError& error) {
      return error.what();
    }
    return "(opened)";
  }
};

TEST_F(SchemaTest, AVersionOneFileGetsTheIndexesAndKeepsItsUnits) {
  {
    // The first release's file, written without the store.
    const Database db = Create();
    db.Exec(kVersionOneUnits);
    db.Exec(
        "INSERT INTO units (channel, started_at, device_id, outcome, offered, blocks, "
        "wrong_echoes) VALUES (3, '2026-01-02T03:04:05Z', 'OLD', 'program-not-offered', "
        "'[\"甲\",\"乙\"]', 12, 4);"
        "PRAGMA user_version = 1;");
  }
  const auto units = UnitRecords::Open(file).Query({{}, "OLD"});
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].channel, 3);
  EXPECT_EQ(units[0].offered, (std::vector<std::string>{"甲", "乙"}));
  EXPECT_EQ(units[0].counts.accepted, 12);
  EXPECT_EQ(units[0].counts.wrongEchoes, 4);
  EXPECT_EQ(ReadText(file, "PRAGMA user_version"), std::to_string(SchemaSteps().size()));
  EXPECT_EQ(ReadText(file,
                     "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                     "tbl_name = 'units' AND name LIKE 'units_%'"),
            "6");
}

// Just past the steps this program knows, and below zero (a step's index).
TEST_F(SchemaTest, AFileOfAVersionThisProgramDoesNotKnowIsRefusedAndLeftAlone) {
  const auto known = static_cast<std::int64_t>(SchemaSteps().size());
  for (const std::int64_t version : {known + 1, std::int64_t{-1}}) {
    const std::string text = std::to_string(version);
    SCOPED_TRACE(text);
    Create().Exec(("PRAGMA user_version = " + text).c_str());
    EXPECT_THAT(OpenError(), AllOf(HasSubstr(file), HasSubstr("version " + text)));
    EXPECT_EQ(ReadText(file, "PRAGMA user_version"), text);
    EXPECT_EQ(ReadText(file, "SELECT count(*) FROM sqlite_master"), "0");
  }
}

TEST_F(SchemaTest, StepsRunInOrderAndAFailedStepUndoesOnlyItself) {
  const Database db = Create();
  const char* const failing[] = {"CREATE TABLE t (x)", "INSERT INTO t VALUES (1)",
                                 "INSERT INTO t VALUES (2); INSERT INTO nowhere VALUES (3)"};
  EXPECT_THROW(Migrate(db, failing), RecordsError);
  EXPECT_EQ(db.ReadInt("PRAGMA user_version"), 2);
  EXPECT_EQ(db.ReadInt("SELECT group_concat(x) FROM t"), 1);

  const char* const fixed[] = {failing[0], failing[1], "INSERT INTO t VALUES (2)"};
  Migrate(db, fixed);
  Migrate(db, fixed);  // up to date: nothing runs twice
  EXPECT_EQ(db.ReadInt("PRAGMA user_version"), 3);
  EXPECT_EQ(ReadText(file, "SELECT group_concat(x, ',') FROM t"), "1,2");
}

TEST_F(SchemaTest, AFileThatIsNoDatabaseIsNamedInTheError) {
  { std::ofstream(file) << "not a database, just text that is long enough to have a header"; }
  EXPECT_THAT(OpenError(), AllOf(HasSubstr(file), HasSubstr("not a database")));
}

}  // namespace
}  // namespace brintel::records
