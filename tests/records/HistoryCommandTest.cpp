#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/history/HistoryCommand.h"
#include "cli/history/HistoryHtml.h"
#include "cli/history/HistoryText.h"
#include "cli/terminal/TerminalText.h"
#include "records/UnitRecords.h"
#include "tests/records/RecordsTestSupport.h"
#include "tests/support/Csv.h"

namespace brintel::cli {
namespace {

using records::Database;
using records::UnitRecord;
using records::test::kVersionOneUnits;
using records::test::ReadText;
using records::test::ScopedEnv;
using records::test::TempDir;
using records::test::Unit;
using ::testing::HasSubstr;
namespace fs = std::filesystem;
using brintel::testing::ParseCsv;
using brintel::testing::Rows;

// 16 hexadecimal digits, as a display's id is recorded.
std::string Device(int n) {
  char id[32];
  std::snprintf(id, sizeof id, "10272625141312%02d", n % 100);
  return id;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// RunHistory as nobody, who may only do what others may (root may write
// anything), in a child forked at once that waits for Read(): SQLite shares
// locks and the -shm mapping among one process's connections, so the child
// must inherit none that the test opens meanwhile.
class HistoryAsNobody {
 public:
  static constexpr int kCannotSwitch = 77;
  struct Result {
    int status = -1;
    std::string text;  // err, then out; why not, for kCannotSwitch
  };

  explicit HistoryAsNobody(const HistoryOptions& options) {
    int go[2], back[2];
    if (::pipe(go) != 0 || ::pipe(back) != 0 || (child_ = ::fork()) < 0) {
      throw std::system_error(errno, std::generic_category(), "pipe or fork");
    }
    if (child_ == 0) {
      char byte = 0;
      std::ostringstream out, err;
      int status = kCannotSwitch;
      if (::read(go[0], &byte, 1) != 1) {
        ::_exit(0);
      } else if (::geteuid() == 0 &&
                 (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
        err << std::strerror(errno);
      } else {
        status = RunHistory(options, out, err);
      }
      const std::string report = std::to_string(status) + '\n' + err.str() + out.str();
      ::_exit(::write(back[1], report.data(), report.size()) > 0 ? 0 : 1);  // fits the pipe
    }
    ::close(go[0]);
    ::close(back[1]);
    go_ = go[1];
    back_ = back[0];
  }
  ~HistoryAsNobody() {
    ::close(go_);  // a child never let go ends
    ::close(back_);
    ::waitpid(child_, nullptr, 0);
  }
  HistoryAsNobody(const HistoryAsNobody&) = delete;
  HistoryAsNobody& operator=(const HistoryAsNobody&) = delete;

  Result Read() {
    std::string report;
    std::array<char, 4096> chunk{};
    if (::write(go_, "g", 1) == 1) {
      for (ssize_t n; (n = ::read(back_, chunk.data(), chunk.size())) > 0;) {
        report.append(chunk.data(), static_cast<std::size_t>(n));
      }
    }
    const auto line = report.find('\n');
    if (line == std::string::npos) {
      return {-1, "no report from the child"};
    }
    return {std::stoi(report.substr(0, line)), report.substr(line + 1)};
  }

 private:
  pid_t child_ = -1;
  int go_ = -1, back_ = -1;
};

class HistoryCommandTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string file = (dir.path() / "history.sqlite3").string();
  std::ostringstream out, err;

  // Written as a station writes it: begun, then ended with the rest unless
  // it has no outcome yet.
  UnitRecord Write(UnitRecord unit) {
    auto store = records::UnitRecords::Open(file);
    unit.id = store.Begin(unit);
    if (!unit.outcome.empty()) {
      store.End(unit);
    }
    return unit;
  }
  // A unit of `seconds` started at 2026-12-09T10:<minute>:00Z.
  UnitRecord Add(int minute, const char* outcome, const char* program, int seconds) {
    char started[32], ended[32];
    std::snprintf(started, sizeof started, "2026-12-09T10:%02d:00.000Z", minute);
    std::snprintf(ended, sizeof ended, "2026-12-09T10:%02d:%02d.000Z", minute + seconds / 60,
                  seconds % 60);
    UnitRecord unit = Unit(1 + minute % 2, Device(minute), started);
    unit.endedAt = ended;
    unit.outcome = outcome;
    unit.program = program;
    unit.counts.accepted = 70;
    unit.counts.wrongEchoes = minute;
    return Write(unit);
  }
  // History of the test's file unless another is given, its lines never
  // cut unless told; out and err afresh.
  int Run(HistoryOptions options = {}) {
    if (options.db.empty()) {
      options.db = file;
    }
    options.columns = options.columns.value_or(0);
    out.str("");
    err.str("");
    return RunHistory(options, out, err);
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
  ASSERT_EQ(Run({.csv = true}), 0) << err.str();
  const Rows rows = ParseCsv(out.str());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(out.str().substr(0, out.str().find('\r')),
            "id,channel,port,started_at,ended_at,device_id,transfer_device_id,program,title,"
            "list_url,outcome,offered,blocks,resends,retry_acknowledgements,wrong_echoes,"
            "echo_silences,acknowledgement_silences,identification_failures,ports_lost,"
            "other_displays,version,detail,station");
  const auto& row = rows[1];  // newest first
  ASSERT_EQ(row.size(), rows[0].size());
  EXPECT_EQ(row[0], std::to_string(tricky.id));
  EXPECT_EQ(row[3], "2026-12-09T10:02:00.000Z");
  EXPECT_EQ(row[7], "直達, \"快\"\\x0D\\x0A線");  // no line end inside a cell
  EXPECT_EQ(row[8], "行车显示器\\x0A第二行");
  EXPECT_EQ(nlohmann::json::parse(row[11]), nlohmann::json({"甲,乙", "丙"}));
  EXPECT_EQ(row[12], "70");
  EXPECT_EQ(row[13], "2");
  EXPECT_EQ(row[21], BRINTEL_VERSION);
  EXPECT_EQ(rows[2][7], "plain");
  EXPECT_EQ(rows[2][11], "");
  EXPECT_EQ(err.str(), "");
}

// The cells reach it as shown text, without line ends; the field must hold
// any text all the same, a lone CR too (a spreadsheet ends the row there).
TEST(CsvFieldTest, QuotedExactlyWhenACommaAQuoteOrALineEndIsInside) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"plain text", "plain text"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"a\rb", "\"a\rb\""},
      {"a\nb", "\"a\nb\""},
      {"\r", "\"\r\""},
      {"'=1+1\t", "'=1+1\t"},
  };
  for (const auto& [text, field] : cases) {
    EXPECT_EQ(history_text::CsvField(text), field) << text;
  }
}

// What a spreadsheet would run, or a terminal obey, comes out inert: in the
// CSV (with the mark Excel needs to read UTF-8) and in the table alike.
TEST_F(HistoryCommandTest, FormulasAndControlCharactersComeOutInert) {
  UnitRecord unit = Unit(1, Device(1), "2026-12-09T10:00:00.000Z");
  unit.port = "+/dev/ttyUSB0\r";
  unit.program = "=1+1\x1B[2J";
  unit.title = "\x1B[2J标准版\x7F";
  unit.listUrl = "@SUM(A1)";
  unit.outcome = "-completed\x7F";
  unit.offered = {"\tA", "B\xC2\x9B"};  // a tab, and CSI as a C1 character
  unit.detail = "\r=cmd|' /C calc'!A0";
  unit.version = "\t1.0";
  unit.endedAt = "2026-12-09T10:01:00.000Z";
  Write(unit);

  ASSERT_EQ(Run({.csv = true, .excel = true}), 0) << err.str();
  const std::string csv = out.str();
  ASSERT_TRUE(csv.starts_with("\xEF\xBB\xBF")) << csv.substr(0, 8);
  const Rows rows = ParseCsv(csv.substr(3));
  ASSERT_EQ(rows.size(), 2u);
  const auto& row = rows[1];
  EXPECT_EQ(row[2], "'+/dev/ttyUSB0\\x0D");
  EXPECT_EQ(row[7], "'=1+1\\x1B[2J");
  EXPECT_EQ(row[8], "\\x1B[2J标准版\\x7F");
  EXPECT_EQ(row[9], "'@SUM(A1)");
  EXPECT_EQ(row[10], "'-completed\\x7F");
  EXPECT_EQ(row[11], "[\"\\tA\",\"B\\xC2\\x9B\"]");  // JSON's own \t, then C1 as bytes
  EXPECT_EQ(row[12], "0");                           // a number is never text
  EXPECT_EQ(row[21], "'\\x091.0");
  EXPECT_EQ(row[22], "'\\x0D=cmd|' /C calc'!A0");
  ASSERT_EQ(Run({.csv = true}), 0);
  EXPECT_TRUE(out.str().starts_with("id,")) << "the mark only for Excel";

  ASSERT_EQ(Run(), 0) << err.str();
  const std::string table = out.str();
  EXPECT_EQ(table.find_first_of("\x1B\x7F\t\r"), std::string::npos) << table;
  EXPECT_THAT(table, HasSubstr("  ttyUSB0\\x0D  device 1027262514131201  =1+1\\x1B[2J  "
                               "-completed\\x7F"));
}

TEST_F(HistoryCommandTest, JsonIsOneObjectALineAndTheFiltersApply) {
  Add(1, "completed", "甲", 90);
  Add(2, "stopped", "乙", 10);
  auto objects = [&](std::optional<std::string> since, std::optional<std::string> device) {
    EXPECT_EQ(Run({.since = std::move(since), .device = std::move(device), .json = true}), 0)
        << err.str();
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
  EXPECT_EQ(all[0]["started_at"], "2026-12-09T10:02:00.000Z");
  EXPECT_TRUE(all[0]["offered"].is_array());
  EXPECT_EQ(objects("2026-12-09T10:02Z", {}).size(), 1u);
  EXPECT_EQ(objects({}, Device(1)).at(0)["device_id"], Device(1));
  Write(Unit(1, "10272625141312AB", "2026-12-09T10:03:00.000Z"));
  EXPECT_EQ(objects({}, "10272625141312aB").size(), 1u);  // in either case
}

TEST_F(HistoryCommandTest, PlainLinesNewestFirstThenTheSummary) {
  Add(1, "completed", "甲", 90);
  Add(3, "port-lost", "甲", 5);
  Add(5, "completed", "乙", 30);
  ASSERT_EQ(Run({.utc = true}), 0) << err.str();
  const std::string text = out.str();
  EXPECT_THAT(text, HasSubstr("2026-12-09T10:05:00.000Z  ch 2  ttyUSB1  device "
                              "1027262514131205  乙  completed  blocks 70  resends 5  30.0 s\n"));
  EXPECT_LT(text.find("T10:05:00"), text.find("T10:03:00"));
  EXPECT_LT(text.find("T10:03:00"), text.find("T10:01:00"));
  EXPECT_THAT(text, HasSubstr("3 units\noutcomes: completed 2, port-lost 1\n"
                              "programs: 甲 2, 乙 1\naverage completed unit: 60.0 s\n"));
}

// The table in the shop's time, --since read in it, and the files' UTC kept
// where a program reads them.
TEST_F(HistoryCommandTest, TheTableAndSinceAreInLocalTime) {
  for (const auto& [n, started] : {std::pair{1, "2026-12-08T15:59:59.000Z"},  // 23:59:59 local
                                   std::pair{2, "2026-12-08T16:00:00.000Z"},  // local midnight
                                   std::pair{3, "2026-07-01T12:00:00.000Z"}}) {
    UnitRecord unit = Unit(1, Device(n), started);
    unit.outcome = "completed";
    Write(unit);
  }
  const ScopedEnv zone("TZ", "CST-8");  // Asia/Shanghai without the zone files
  ASSERT_EQ(Run(), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("2026-12-09 00:00:00 +08:00  ch 1  ttyUSB0  device "
                                   "1027262514131202  -  completed"));
  EXPECT_THAT(out.str(), HasSubstr("2026-12-08 23:59:59 +08:00  ch 1"));

  auto since = [&](const char* text) {
    EXPECT_EQ(Run({.since = text, .csv = true}), 0) << err.str();
    std::string started;
    for (const auto& row : ParseCsv(out.str())) {
      started += row[3] + ' ';
    }
    return started;
  };
  EXPECT_EQ(since("2026-12-09"), "started_at 2026-12-08T16:00:00.000Z ");
  EXPECT_EQ(since("2026-12-08 23:59:59"), since("2026-12-08"));
  EXPECT_EQ(since("2026-12-08T15:59:59Z"),
            "started_at 2026-12-08T16:00:00.000Z 2026-12-08T15:59:59.000Z ");

  // Half an hour west of UTC, and summer time: each unit with its own offset.
  const ScopedEnv newfoundland("TZ", "NST3:30NDT,M3.2.0,M11.1.0");
  ASSERT_EQ(Run(), 0);
  EXPECT_THAT(out.str(), HasSubstr("2026-12-08 12:29:59 -03:30  ch 1"));
  EXPECT_THAT(out.str(), HasSubstr("2026-07-01 09:30:00 -02:30  ch 1"));
  EXPECT_EQ(since("2026-07-01T09:30"), since("2026-07-01T12:00Z"));
  EXPECT_EQ(since("2026-07-01T09:31"), since("2026-12-08"));
}

TEST_F(HistoryCommandTest, UsageErrorsAreOneLineAndExitTwo) {
  Add(1, "completed", "甲", 90);
  const std::string missing = (dir.path() / "elsewhere.sqlite3").string();
  const std::vector<std::pair<HistoryOptions, std::string>> wrong = {
      {{.db = missing}, missing + ": no such file"},
      {{.device = "DEV1"}, "--device DEV1: not a display id"},
      {{.device = "102726251413121"}, "16 hexadecimal digits"},
      {{.device = "10272625141312111"}, "16 hexadecimal digits"},
      {{.device = "10272625141312G1"}, "16 hexadecimal digits"},
      {{.since = "last week"}, "--since last week: not a local date"},
      {{.since = "2026-02-30"}, "--since 2026-02-30"},
      {{.since = "\x1B[2J"}, "--since \\x1B[2J"},
      {{.csv = true, .json = true}, "--csv or --json"},
      {{.excel = true}, "--excel goes with --csv"},
  };
  for (const auto& [options, why] : wrong) {
    EXPECT_EQ(Run(options), 2) << why;
    const std::string line = err.str();
    EXPECT_THAT(line, HasSubstr(why));
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_TRUE(line.ends_with('\n')) << line;
    EXPECT_EQ(out.str(), "") << why;
  }
  EXPECT_FALSE(fs::exists(missing));
}

TEST_F(HistoryCommandTest, ADefaultFileNotMadeYetHoldsNoRecordsAndAnUnreadableOneFails) {
  const ScopedEnv data("XDG_DATA_HOME", (dir.path() / "data").string());
  const std::string defaultFile = (dir.path() / "data" / "brintel" / "history.sqlite3").string();
  ASSERT_EQ(RunHistory({}, out, err), 0);
  EXPECT_EQ(out.str(), "0 units\n");
  EXPECT_EQ(err.str(), "brintel-cli history: no records yet: " + defaultFile + " does not exist\n");
  out.str("");
  err.str("");
  ASSERT_EQ(RunHistory({.csv = true}, out, err), 0);
  EXPECT_EQ(ParseCsv(out.str()).size(), 1u);  // the header alone
  EXPECT_EQ(err.str(), "");
  EXPECT_FALSE(fs::exists(dir.path() / "data"));

  { std::ofstream(file) << "this is no SQLite file, only some text of a fair length"; }
  EXPECT_EQ(Run(), 1);
  EXPECT_THAT(err.str(), HasSubstr(file));
}

// Files of earlier versions, and of a later one, made by hand: read, and
// left as they were (no migration, no journal mode, no log beside them).
TEST_F(HistoryCommandTest, EverySchemaVersionIsReadAndLeftAsItWas) {
  const std::string insert =
      "INSERT INTO units (channel, port, started_at, device_id, program, wrong_echoes, version) "
      "VALUES (2, '/dev/ttyUSB1', '2026-01-02T03:04:05Z', '1027262514131211', '甲', 4, '0.9');";
  const std::string v3 = std::string(kVersionOneUnits) +
                         "ALTER TABLE units ADD COLUMN detail TEXT NOT NULL DEFAULT '';"
                         "ALTER TABLE units ADD COLUMN other_displays INTEGER NOT NULL DEFAULT 0;" +
                         insert + "UPDATE units SET detail = 'HTTP 500', other_displays = 3;";
  const std::pair<std::string, std::string> files[] = {
      {"1", kVersionOneUnits + insert},
      {"3", v3},
      {"9",  // sessions came with version 4; the rest is yet to come
       v3 + "CREATE TABLE sessions (id INTEGER PRIMARY KEY, host TEXT, pid INTEGER, started_at "
            "TEXT, last_seen_at TEXT); INSERT INTO sessions (host, pid) VALUES ('bench', 7);"
            "ALTER TABLE units ADD COLUMN session_id INTEGER;"
            "ALTER TABLE units ADD COLUMN weather TEXT DEFAULT 'rain';"}};
  for (const auto& [version, sql] : files) {
    const std::string path = (dir.path() / ("v" + version)).string();
    Database(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
        .Exec((sql + "PRAGMA user_version = " + version).c_str());
    const std::string before = Slurp(path);
    ASSERT_EQ(Run({.db = path, .device = "1027262514131211", .json = true}), 0) << err.str();
    const auto unit = nlohmann::json::parse(out.str());
    EXPECT_EQ(unit["port"], "/dev/ttyUSB1") << version;
    EXPECT_EQ(unit["program"], "甲");
    EXPECT_EQ(unit["resends"], 4);
    EXPECT_EQ(unit["version"], "0.9");
    EXPECT_EQ(unit["detail"], version == "1" ? "" : "HTTP 500");
    EXPECT_EQ(unit["other_displays"], version == "1" ? 0 : 3);
    EXPECT_TRUE(Slurp(path) == before) << "version " << version << " was changed";
    EXPECT_FALSE(fs::exists(path + "-wal"));
    EXPECT_EQ(ReadText(path, "PRAGMA journal_mode"), "delete");
    EXPECT_EQ(ReadText(path, "PRAGMA user_version"), version);
  }
}

// A user who may only read the file and its folder (a records file on a
// share, say): the closed file, a station writing it, and a log that cannot
// be read.
TEST_F(HistoryCommandTest, AUserWhoMayOnlyReadReadsTheRecords) {
  Add(1, "completed", "甲", 90);
  Add(2, "stopped", "乙", 10);
  HistoryAsNobody closed({.db = file, .csv = true}), running({.db = file}), lockedOut({.db = file});
  // The file, its log and its index, and the folder; writable again at the end.
  const auto chmod = [&](int fileMode, int folderMode) {
    for (const char* suffix : {"", "-wal", "-shm"}) {
      if (fs::exists(file + suffix)) {
        fs::permissions(file + suffix, static_cast<fs::perms>(fileMode));
      }
    }
    fs::permissions(dir.path(), static_cast<fs::perms>(folderMode));
  };
  const std::shared_ptr<void> writable(nullptr, [&](void*) { chmod(0644, 0755); });

  const std::string before = Slurp(file);
  chmod(0444, 0555);
  const auto read = closed.Read();
  if (read.status == HistoryAsNobody::kCannotSwitch) {
    GTEST_SKIP() << "cannot become nobody: " << read.text;
  }
  EXPECT_EQ(read.status, 0) << read.text;
  EXPECT_EQ(ParseCsv(read.text).size(), 3u) << read.text;
  EXPECT_TRUE(Slurp(file) == before) << "the file was changed";
  EXPECT_FALSE(fs::exists(file + "-wal"));
  EXPECT_FALSE(fs::exists(file + "-shm"));

  // A station at work: its unit is in the log, which its index lets others read.
  chmod(0644, 0755);
  auto station = records::UnitRecords::Open(file);
  station.Begin(Unit(3, Device(3), "2026-12-09T11:00:00.000Z"));
  chmod(0444, 0555);
  const auto live = running.Read();
  EXPECT_EQ(live.status, 0) << live.text;
  EXPECT_THAT(live.text, HasSubstr("device 1027262514131203  -  running"));
  EXPECT_THAT(live.text, HasSubstr("3 units\n"));

  // An index nobody may read: not the file without its log, but what to do.
  fs::permissions(file + "-shm", fs::perms::none);
  const auto locked = lockedOut.Read();
  EXPECT_EQ(locked.status, 1) << locked.text;
  EXPECT_THAT(locked.text, HasSubstr(file + "-wal"));
  EXPECT_THAT(locked.text, HasSubstr("copy both files into a folder of yours"));
}

// Two sockets of a hub and a plain adapter over two days in Shanghai: D2
// failed and later completed, D3 failed twice, D4 failed last, D6 is open.
class ShopHistoryTest : public HistoryCommandTest {
 protected:
  static constexpr const char* kSocket12 =
      "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0";
  static constexpr const char* kSocket13 =
      "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.3:1.0-port0";
  static constexpr const char* kPlain = "/dev/ttyUSB7";
  ScopedEnv zone{"TZ", "CST-8"};

  void SetUp() override {
    Shop(kSocket12, 1, "2026-12-08T01:00:00.000Z", 90, "completed");
    Shop(kSocket13, 2, "2026-12-08T02:00:00.000Z", 5, "server-error").detail = "HTTP 500";
    Shop(kSocket12, 3, "2026-12-08T15:59:59.000Z", 10, "port-lost");  // 23:59:59 local
    Shop(kSocket13, 2, "2026-12-08T16:00:00.000Z", 60, "completed");  // local midnight
    Shop(kPlain, 4, "2026-12-09T03:00:00.000Z", 20, "display-silent");
    Shop(kSocket12, 5, "2026-12-09T04:00:00.000Z", 120, "completed");
    Shop(kSocket13, 3, "2026-12-09T05:00:00.000Z", 7, "server-error").detail = "HTTP 503";
    Shop(kPlain, 6, "2026-12-09T06:00:00.000Z", 0, "").program = "=SUM(A1)";
    for (UnitRecord& unit : shop_) {
      Write(unit);
    }
  }

  std::vector<nlohmann::json> JsonLines(HistoryOptions options) {
    options.json = true;
    EXPECT_EQ(Run(options), 0) << err.str();
    std::vector<nlohmann::json> lines;
    std::istringstream text(out.str());
    for (std::string line; std::getline(text, line);) {
      lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
  }

 private:
  UnitRecord& Shop(const char* port, int display, const char* started, int seconds,
                   const char* outcome) {
    UnitRecord& unit =
        shop_.emplace_back(records::test::UnitOn(port, Device(display), started, seconds, outcome));
    unit.program = "甲";
    return unit;
  }
  std::vector<UnitRecord> shop_;
};

TEST_F(ShopHistoryTest, BySocketCountsEachPortsUnits) {
  ASSERT_EQ(Run({.by = "socket"}), 0) << err.str();
  EXPECT_EQ(
      out.str(),
      "socket                units  failed  average  displays  outcomes\n"
      "~usb-0:1.2:1.0-port0      3   33.3%  105.0 s         3  completed 2, port-lost 1\n"
      "~usb-0:1.3:1.0-port0      3   66.7%   60.0 s         2  server-error 2, completed 1\n"
      "ttyUSB7                   2  100.0%        -         2  running 1, display-silent 1\n");

  ASSERT_EQ(Run({.csv = true, .by = "socket"}), 0) << err.str();
  const std::string header =
      "port,units,completed,list-refused,package-refused,other-device,other-display,"
      "program-not-offered,server-error,port-lost,display-silent,stopped,interrupted,running,"
      "other,failure_rate,average_completed_seconds,displays";
  //                     units     refused    no   se pl ds st in ru ot
  const Rows expected = {{kSocket12, "3", "2", "0", "0", "0", "0", "0", "0", "1", "0", "0", "0",
                          "0", "0", "33.3", "105.0", "3"},
                         {kSocket13, "3", "1", "0", "0", "0", "0", "0", "2", "0", "0", "0", "0",
                          "0", "0", "66.7", "60.0", "2"},
                         {kPlain, "2", "0", "0", "0", "0", "0", "0", "0", "0", "1", "0", "0", "1",
                          "0", "100.0", "", "2"}};
  EXPECT_TRUE(out.str().starts_with(header + "\r\n")) << out.str();
  Rows rows = ParseCsv(out.str());
  ASSERT_FALSE(rows.empty());
  rows.erase(rows.begin());
  EXPECT_EQ(rows, expected);

  const auto json = JsonLines({.by = "socket"});
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[2], nlohmann::json::parse(
                         R"({"port": "/dev/ttyUSB7", "units": 2, "completed": 0, "list-refused": 0,
                         "package-refused": 0, "other-device": 0, "other-display": 0,
                         "program-not-offered": 0, "server-error": 0, "port-lost": 0,
                         "display-silent": 1, "stopped": 0, "interrupted": 0, "running": 1,
                         "other": 0, "failure_rate": 100.0, "average_completed_seconds": null,
                         "displays": 2})"));
  EXPECT_EQ(json[0]["port"], kSocket12);
  EXPECT_EQ(json[0]["average_completed_seconds"], 105.0);
  EXPECT_EQ(json[1]["failure_rate"], 66.7);
}

// Days begin at local midnight: the unit at 23:59:59 and the one a second
// later fall on two days.
TEST_F(ShopHistoryTest, ByDayCountsEachLocalDayNewestFirst) {
  ASSERT_EQ(Run({.by = "day"}), 0) << err.str();
  EXPECT_EQ(out.str(),
            "day         units  failed  average  displays  outcomes\n"
            "2026-12-09      5   60.0%   90.0 s         5  completed 2, running 1, "
            "display-silent 1, server-error 1\n"
            "2026-12-08      3   66.7%   90.0 s         3  completed 1, port-lost 1, "
            "server-error 1\n");

  ASSERT_EQ(Run({.csv = true, .by = "day"}), 0) << err.str();
  const Rows rows = ParseCsv(out.str());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], "day");
  EXPECT_EQ(rows[1], (std::vector<std::string>{"2026-12-09", "5", "2", "0", "0", "0", "0", "0", "1",
                                               "0", "1", "0", "0", "1", "0", "60.0", "90.0", "5"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"2026-12-08", "3", "1", "0", "0", "0", "0", "0", "1",
                                               "1", "0", "0", "0", "0", "0", "66.7", "90.0", "3"}));

  // The filters choose the units first: D2's failure on one day, its
  // completion on the next.
  const auto json = JsonLines({.device = Device(2), .by = "day"});
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[0]["day"], "2026-12-09");
  EXPECT_EQ(json[0]["completed"], 1);
  EXPECT_EQ(json[0]["failure_rate"], 0.0);
  EXPECT_EQ(json[1]["day"], "2026-12-08");
  EXPECT_EQ(json[1]["server-error"], 1);
  EXPECT_EQ(json[1]["failure_rate"], 100.0);
  EXPECT_EQ(json[1]["average_completed_seconds"], nullptr);
  EXPECT_EQ(JsonLines({.since = "2026-12-09", .by = "day"}).size(), 1u);

  // In UTC the local midnight's unit is still on the 8th.
  ASSERT_EQ(Run({.utc = true, .by = "day"}), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("\n2026-12-09      4   75.0%  120.0 s         4  "));
  EXPECT_THAT(out.str(), HasSubstr("\n2026-12-08      4   50.0%   75.0 s         3  "));
}

TEST_F(ShopHistoryTest, AttentionListsTheDisplaysWhoseLastUnitFailed) {
  ASSERT_EQ(Run({.attention = true}), 0) << err.str();
  EXPECT_EQ(out.str(),
            "started                     display           socket                program   "
            "outcome         detail\n"
            "2026-12-09 14:00:00 +08:00  1027262514131206  ttyUSB7               =SUM(A1)  "
            "running         -\n"
            "2026-12-09 13:00:00 +08:00  1027262514131203  ~usb-0:1.3:1.0-port0  甲        "
            "server-error    HTTP 503\n"
            "2026-12-09 11:00:00 +08:00  1027262514131204  ttyUSB7               甲        "
            "display-silent  -\n");

  ASSERT_EQ(Run({.csv = true, .attention = true}), 0) << err.str();
  EXPECT_EQ(
      ParseCsv(out.str()),
      (Rows{{"device_id", "started_at", "port", "program", "outcome", "detail"},
            {Device(6), "2026-12-09T06:00:00.000Z", kPlain, "'=SUM(A1)", "", ""},
            {Device(3), "2026-12-09T05:00:00.000Z", kSocket13, "甲", "server-error", "HTTP 503"},
            {Device(4), "2026-12-09T03:00:00.000Z", kPlain, "甲", "display-silent", ""}}));

  const auto json = JsonLines({.attention = true});
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[1], nlohmann::json({{"device_id", Device(3)},
                                     {"started_at", "2026-12-09T05:00:00.000Z"},
                                     {"port", kSocket13},
                                     {"program", "甲"},
                                     {"outcome", "server-error"},
                                     {"detail", "HTTP 503"}}));
  // Before D2 completed, its failure was its last unit.
  const auto before = JsonLines({.since = "2026-12-08", .device = Device(2), .attention = true});
  EXPECT_TRUE(before.empty());
  EXPECT_EQ(JsonLines({.device = Device(3), .attention = true}).size(), 1u);
}

// The table, the groups and the displays to look at, each at widths that cut
// inside a wide character and inside a port's name.
TEST_F(ShopHistoryTest, NoLineIsWiderThanTheTerminal) {
  UnitRecord wide =
      records::test::UnitOn(kSocket12, Device(7), "2026-12-09T07:00:00.000Z", 3, "server-error");
  wide.program = "行车显示器标准版";
  wide.detail = "服务器没有回答，请稍后再试";
  Write(wide);
  for (HistoryOptions options :
       {HistoryOptions{}, HistoryOptions{.by = "socket"}, HistoryOptions{.attention = true}}) {
    ASSERT_EQ(Run(options), 0) << err.str();
    const std::string whole = out.str();
    for (int columns : {30, 57, 58, 71}) {
      options.columns = columns;
      ASSERT_EQ(Run(options), 0) << err.str();
      std::istringstream lines(out.str()), wholeLines(whole);
      std::string line, uncut;
      int cut = 0;
      while (std::getline(lines, line) && std::getline(wholeLines, uncut)) {
        EXPECT_LE(TerminalColumns(line), columns) << line;
        if (line == uncut) {
          continue;
        }
        ++cut;
        ASSERT_TRUE(line.ends_with("…")) << line;
        const std::string kept = line.substr(0, line.size() - std::string("…").size());
        EXPECT_TRUE(uncut.starts_with(kept)) << line;
        EXPECT_NE(static_cast<unsigned char>(uncut[kept.size()]) & 0xC0, 0x80)
            << "cut inside a character: " << line;
        EXPECT_GE(TerminalColumns(kept), columns - 2) << "cut short: " << line;
      }
      EXPECT_GT(cut, 0) << "at " << columns << ":\n" << out.str();
      EXPECT_FALSE(std::getline(lines, line)) << "more lines than uncut";
    }
  }
}

// The value under a figure's name in the page's summary.
std::string PageFigure(const std::string& page, const std::string& name) {
  const std::string opening = "<div>" + name + "<b>";
  const auto at = page.find(opening);
  if (at == std::string::npos) {
    return "(no " + name + ")";
  }
  const auto from = at + opening.size();
  return page.substr(from, page.find("</b>", from) - from);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(HtmlEscapedTest, EveryCharacterThatCouldOpenMarkupOrEndAnAttribute) {
  EXPECT_EQ(HtmlEscaped("<a href='x' title=\"y\">&amp;</a>"),
            "&lt;a href=&#39;x&#39; title=&quot;y&quot;&gt;&amp;amp;&lt;/a&gt;");
  EXPECT_EQ(HtmlEscaped("行车 plain"), "行车 plain");
}

// The shop's units and one whose program, title and detail came from a
// hostile server: the page holds the figures, and the hostile text as text.
TEST_F(ShopHistoryTest, HtmlPageHoldsTheDayAndNothingToFetchOrRun) {
  UnitRecord hostile =
      records::test::UnitOn(kSocket12, Device(7), "2026-12-09T07:00:00.000Z", 3, "server-error");
  hostile.title = "<script>alert(1)</script>";
  hostile.program = "A&B \"x\"";
  hostile.detail = "bad\x1b[31m <img src=x>";
  Write(hostile);
  const fs::path page = dir.path() / "page.html";
  ASSERT_EQ(Run({.html = page.string()}), 0) << err.str();
  EXPECT_EQ(out.str(), "");
  const std::string html = Slurp(page);
  ASSERT_TRUE(html.starts_with("<!DOCTYPE html>\n")) << html.substr(0, 200);
  EXPECT_THAT(html, HasSubstr("<meta charset=\"utf-8\">"));
  EXPECT_THAT(html, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_THAT(html, HasSubstr("A&amp;B &quot;x&quot;"));
  EXPECT_THAT(html, HasSubstr("bad\\x1B[31m &lt;img src=x&gt;"));
  for (const char* never : {"<script", "<img", "http:", "https:", "//", "src=\"", "href=\"", "url(",
                            "@import", "\x1b"}) {
    EXPECT_THAT(html, ::testing::Not(HasSubstr(never))) << never;
  }

  EXPECT_EQ(PageFigure(html, "units"), "9");
  EXPECT_EQ(PageFigure(html, "completed"), "3");
  EXPECT_EQ(PageFigure(html, "failed"), "5");
  EXPECT_EQ(PageFigure(html, "running"), "1");
  EXPECT_EQ(PageFigure(html, "failure rate (units not completed)"), "66.7%");
  EXPECT_EQ(PageFigure(html, "average completed unit"), "90.0 s");
  EXPECT_EQ(PageFigure(html, "displays"), "7");
  EXPECT_THAT(html, HasSubstr("<span id=\"period\">2026-12-08 09:00:00 +08:00 \u2013 "
                              "2026-12-09 15:00:03 +08:00</span>"));

  // Local hours, 09:00 on the 8th to 15:00 on the 9th; the units at 23:59:59
  // and at midnight in two of them.
  EXPECT_THAT(html, HasSubstr("<h2>Units per hour</h2>"));
  EXPECT_THAT(html, HasSubstr("<title>12-08 09:00: 1 completed</title>"));
  EXPECT_THAT(html, HasSubstr("<title>12-08 23:00: 1 failed</title>"));
  EXPECT_THAT(html, HasSubstr("<title>12-09 00:00: 1 completed</title>"));
  EXPECT_THAT(html, HasSubstr("<title>12-09 14:00: 1 running</title>"));
  EXPECT_THAT(html, HasSubstr("<title>12-09 15:00: 1 failed</title>"));
  EXPECT_EQ(Occurrences(html, "<rect "), 9u + 7u) << "a bar part per unit's hour and per "
                                                     "socket's outcome";

  EXPECT_THAT(html, HasSubstr(">~usb-0:1.3:1.0-port0</text>"));
  EXPECT_THAT(html, HasSubstr("<title>server-error: 2</title>"));
  EXPECT_THAT(html, HasSubstr(">3 units, 66.7% failed</text>"));
  EXPECT_THAT(html, HasSubstr(">4 units, 50.0% failed</text>"));

  const std::string attention =
      html.substr(html.find("<table id=\"attention\">"),
                  html.find("<table id=\"units\">") - html.find("<table id=\"attention\">"));
  for (int display : {7, 6, 3, 4}) {
    EXPECT_THAT(attention, HasSubstr("<td>" + Device(display) + "</td>")) << display;
  }
  for (int display : {1, 2, 5}) {
    EXPECT_THAT(attention, ::testing::Not(HasSubstr(Device(display)))) << display;
  }
  const std::string units = html.substr(html.find("<table id=\"units\">"));
  EXPECT_EQ(Occurrences(units, "<tr class="), 9u);
  EXPECT_LT(units.find("2026-12-09 15:00:00 +08:00"), units.find("2026-12-08 09:00:00 +08:00"))
      << "newest first";
  EXPECT_THAT(units, HasSubstr("<td>~usb-0:1.2:1.0-port0</td>"));
  EXPECT_THAT(units, HasSubstr("<tr class=\"open\">"));
}

TEST_F(ShopHistoryTest, HtmlPageTakesTheFiltersFirst) {
  const fs::path page = dir.path() / "page.html";
  ASSERT_EQ(Run({.device = Device(3), .html = page.string()}), 0) << err.str();
  std::string html = Slurp(page);
  EXPECT_EQ(PageFigure(html, "units"), "2");
  EXPECT_EQ(PageFigure(html, "failure rate (units not completed)"), "100.0%");
  EXPECT_EQ(PageFigure(html, "average completed unit"), "-");
  EXPECT_THAT(html, HasSubstr("units of display " + Device(3)));

  ASSERT_EQ(Run({.since = "2026-12-09", .html = page.string()}), 0) << err.str();
  html = Slurp(page);
  EXPECT_EQ(PageFigure(html, "units"), "5");
  EXPECT_EQ(PageFigure(html, "completed"), "2");

  // In UTC the hours are UTC's.
  ASSERT_EQ(Run({.utc = true, .html = page.string()}), 0) << err.str();
  html = Slurp(page);
  EXPECT_THAT(html, HasSubstr("<title>12-08 01:00: 1 completed</title>"));
  EXPECT_THAT(html, HasSubstr("2026-12-08T01:00:00.000Z"));
}

TEST_F(HistoryCommandTest, HtmlPageOverWeeksCountsDaysAndAnEmptyOneSaysSo) {
  const fs::path page = dir.path() / "page.html";
  Add(0, "completed", "甲", 30);  // makes the file
  ASSERT_EQ(Run({.device = Device(99), .html = page.string()}), 0) << err.str();
  std::string html = Slurp(page);
  EXPECT_EQ(PageFigure(html, "units"), "0");
  EXPECT_THAT(html, ::testing::Not(HasSubstr("<svg")));
  EXPECT_THAT(html, HasSubstr("Every display's last unit completed."));

  ScopedEnv zone{"TZ", "UTC0"};
  Write(
      records::test::UnitOn("/dev/ttyUSB0", Device(1), "2026-12-30T08:00:00.000Z", 9, "completed"));
  ASSERT_EQ(Run({.html = page.string()}), 0) << err.str();
  html = Slurp(page);
  EXPECT_THAT(html, HasSubstr("<h2>Units per day</h2>"));
  EXPECT_THAT(html, HasSubstr("<title>12-09: 1 completed</title>"));
  EXPECT_THAT(html, HasSubstr("<title>12-30: 1 completed</title>"));
  EXPECT_EQ(Occurrences(html, "<rect "), 2u + 1u);
}

// Hours begin on the local clock's hour, also half an hour off UTC's.
TEST_F(HistoryCommandTest, HtmlPageCountsLocalHours) {
  ScopedEnv zone{"TZ", "IST-5:30"};
  Write(records::test::UnitOn("/dev/ttyUSB0", Device(1), "2026-12-09T00:40:00.000Z", 9,
                              "completed"));  // 06:10 local
  Write(records::test::UnitOn("/dev/ttyUSB0", Device(2), "2026-12-09T01:10:00.000Z", 9,
                              "completed"));  // 06:40 local
  const fs::path page = dir.path() / "page.html";
  ASSERT_EQ(Run({.html = page.string()}), 0) << err.str();
  const std::string html = Slurp(page);
  EXPECT_THAT(html, HasSubstr("<title>12-09 06:00: 2 completed</title>"));
  EXPECT_EQ(Occurrences(html, "<rect "), 1u + 1u);
}

TEST_F(HistoryCommandTest, AnHtmlFileThatCannotBeWrittenIsOneLineAndExitTwo) {
  Add(0, "completed", "甲", 30);
  const fs::path page = dir.path() / "no-such-folder" / "page.html";
  ASSERT_EQ(Run({.html = page.string()}), 2);
  EXPECT_EQ(err.str(), "brintel-cli history: --html " + page.string() +
                           ": cannot be written: No such file or directory\n");
  EXPECT_FALSE(fs::exists(page));

  ASSERT_EQ(Run({.csv = true, .html = (dir.path() / "p.html").string()}), 2);
  EXPECT_EQ(Occurrences(err.str(), "\n"), 1u) << err.str();
  EXPECT_THAT(err.str(), HasSubstr("--html"));
  EXPECT_FALSE(fs::exists(dir.path() / "p.html"));
}

}  // namespace
}  // namespace brintel::cli
