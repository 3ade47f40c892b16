#include <cstdio>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/history/HistoryCommand.h"
#include "records/UnitRecords.h"
#include "tests/records/RecordsTestSupport.h"

namespace brintel::cli {
namespace {

using records::UnitRecord;
using records::test::TempDir;
using records::test::Unit;
using ::testing::HasSubstr;
using Rows = std::vector<std::vector<std::string>>;

// RFC 4180 as a strict reader takes it: every record ends in CRLF, a quote
// only opens a field, and "" inside quotes is one quote.
Rows ParseCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      EXPECT_TRUE(field.empty()) << "a quote inside an unquoted field at " << i;
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::exchange(field, {}));
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(std::exchange(field, {}));
      rows.push_back(std::exchange(row, {}));
      ++i;
    } else {
      EXPECT_TRUE(c != '\r' && c != '\n') << "a bare line end at " << i;
      field += c;
    }
  }
  EXPECT_TRUE(!quoted && row.empty() && field.empty()) << "the last record ends without CRLF";
  return rows;
}

class HistoryCommandTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = (dir.path() / "history.sqlite3").string();
  std::ostringstream out, err;

  // A unit of `seconds` started at 2026-12-09T10:<minute>:00Z.
  UnitRecord Add(int minute, const char* outcome, const char* program, int seconds) {
    auto store = records::UnitRecords::Open(file);
    char started[32], ended[32];
    std::snprintf(started, sizeof started, "2026-12-09T10:%02d:00.000Z", minute);
    std::snprintf(ended, sizeof ended, "2026-12-09T10:%02d:%02d.000Z", minute + seconds / 60,
                  seconds % 60);
    UnitRecord unit = Unit(1 + minute % 2, "DEV" + std::to_string(minute), started);
    unit.id = store.Begin(unit);
    unit.endedAt = ended;
    unit.outcome = outcome;
    unit.program = program;
    unit.counts.accepted = 70;
    unit.counts.wrongEchoes = minute;
    store.End(unit);
    return unit;
  }
  int Run(std::optional<std::string> since = {}, std::optional<std::string> device = {},
          bool csv = false, bool json = false) {
    return RunHistory({file, std::move(since), std::move(device), csv, json}, out, err);
  }
};

TEST_F(HistoryCommandTest, CsvReadsBackFieldForFieldUnderTheColumnNames) {
  Add(1, "completed", "plain", 90);
  UnitRecord tricky = Add(2, "program-not-offered", "直達, \"快\"\r\n線", 30);
  {
    auto store = records::UnitRecords::Open(file);
    tricky.title = "行车显示器\n第二行";
    tricky.offered = {"甲,乙", "丙"};
    store.End(tricky);
  }
  ASSERT_EQ(Run({}, {}, true), 0) << err.str();
  const Rows rows = ParseCsv(out.str());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(out.str().substr(0, out.str().find('\r')),
            "id,channel,port,started_at,ended_at,device_id,transfer_device_id,program,title,"
            "list_url,outcome,offered,blocks,resends,retry_acknowledgements,wrong_echoes,"
            "echo_silences,acknowledgement_silences,identification_failures,ports_lost,"
            "other_displays,version,detail");
  const auto& row = rows[1];  // newest first
  ASSERT_EQ(row.size(), rows[0].size());
  EXPECT_EQ(row[0], std::to_string(tricky.id));
  EXPECT_EQ(row[3], "2026-12-09T10:02:00.000Z");
  EXPECT_EQ(row[7], "直達, \"快\"\r\n線");
  EXPECT_EQ(row[8], "行车显示器\n第二行");
  EXPECT_EQ(nlohmann::json::parse(row[11]), nlohmann::json({"甲,乙", "丙"}));
  EXPECT_EQ(row[12], "70");
  EXPECT_EQ(row[13], "2");
  EXPECT_EQ(row[21], BRINTEL_VERSION);
  EXPECT_EQ(rows[2][7], "plain");
  EXPECT_EQ(rows[2][11], "");
  EXPECT_EQ(err.str(), "");
}

TEST_F(HistoryCommandTest, JsonIsOneObjectALineAndTheFiltersApply) {
  Add(1, "completed", "甲", 90);
  Add(2, "stopped", "乙", 10);
  auto objects = [&](std::optional<std::string> since, std::optional<std::string> device) {
    out.str("");
    EXPECT_EQ(Run(std::move(since), std::move(device), false, true), 0) << err.str();
    std::vector<nlohmann::json> found;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
      found.push_back(nlohmann::json::parse(line));
    }
    return found;
  };
  const auto all = objects({}, {});
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["program"], "乙");
  EXPECT_EQ(all[0]["resends"], 2);
  EXPECT_TRUE(all[0]["offered"].is_array());
  EXPECT_EQ(objects("2026-12-09T10:02Z", {}).size(), 1u);
  EXPECT_EQ(objects({}, "DEV1").at(0)["device_id"], "DEV1");
}

TEST_F(HistoryCommandTest, PlainLinesNewestFirstThenTheSummary) {
  Add(1, "completed", "甲", 90);
  Add(3, "port-lost", "甲", 5);
  Add(5, "completed", "乙", 30);
  ASSERT_EQ(Run(), 0) << err.str();
  const std::string text = out.str();
  EXPECT_THAT(text, HasSubstr("2026-12-09T10:05:00.000Z  ch 2  /dev/ttyUSB1  device DEV5  乙  "
                              "completed  blocks 70  resends 5  30.0 s\n"));
  EXPECT_LT(text.find("T10:05:00"), text.find("T10:03:00"));
  EXPECT_LT(text.find("T10:03:00"), text.find("T10:01:00"));
  EXPECT_THAT(text, HasSubstr("3 units\noutcomes: completed 2, port-lost 1\n"
                              "programs: 甲 2, 乙 1\naverage completed unit: 60.0 s\n"));
}

TEST_F(HistoryCommandTest, AMissingFileHasNoRecordsAndAnUnreadableOneFails) {
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(out.str(), "0 units\n");
  EXPECT_THAT(err.str(), HasSubstr("does not exist"));
  out.str("");
  err.str("");
  ASSERT_EQ(Run({}, {}, true), 0);
  EXPECT_EQ(ParseCsv(out.str()).size(), 1u);  // the header alone
  EXPECT_EQ(err.str(), "");
  EXPECT_FALSE(std::filesystem::exists(file));

  { std::ofstream(file) << "this is no SQLite file, only some text of a fair length"; }
  EXPECT_EQ(Run(), 1);
  EXPECT_THAT(err.str(), HasSubstr(file));
  err.str("");
  EXPECT_EQ(Run("last week"), 1);
  EXPECT_THAT(err.str(), HasSubstr("last week"));
}

}  // namespace
}  // namespace brintel::cli
