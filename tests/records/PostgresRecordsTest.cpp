// The records in a real PostgreSQL server that the test program starts in a
// folder of its own: the same units as in a file, written again after the
// server went away, and a file's units copied in once.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "cli/history/HistoryCommand.h"
#include "records/PostgresUnits.h"
#include "records/RecordsWriter.h"
#include "records/Schema.h"
#include "records/SharedRecords.h"
#include "run/UnitOutcome.h"
#include "tests/records/RecordsTestSupport.h"
#include "tests/support/PostgresServer.h"

namespace brintel::records {
namespace {

using namespace std::chrono_literals;
using test::TempDir;
using test::Unit;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::PostgresServer;

using PostgresRecordsTest = testing::OnSuiteCluster<::testing::Test>;

UnitRecord Completed(UnitRecord unit) {
  unit.outcome = run::OutcomeName(run::UnitOutcome::kCompleted);
  unit.endedAt = "2026-12-09T02:33:10.500Z";
  unit.counts = {70, 1, 2, 3, 4, 5, 6};
  return unit;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  for (const auto end = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms)) {
    if (done()) {
      return true;
    }
  }
  return done();
}

TEST_F(PostgresRecordsTest, AUnitReadsBackAsItWasWrittenAndAnInsertSentAgainFindsItsRow) {
  UnitRecord unit = Unit(2, "A1B2", "2026-12-09T02:31:07.125Z");
  {
    PostgresUnits store(uri, {"bench-1", 4242, "A"}, {});
    unit.id = store.Begin(unit);
    EXPECT_EQ(store.Begin(unit), unit.id) << "an answer lost on the way: the same row";
    unit = Completed(unit);
    unit.program = "直達";
    unit.title = "行车显示器 'x'; DROP TABLE units; --";
    unit.offered = {"快線, 2", "慢\n車"};
    unit.detail = "HTTP 500";
    EXPECT_TRUE(store.End(unit));
    UnitRecord missing = unit;
    missing.id = unit.id + 1000;
    EXPECT_FALSE(store.End(missing));
  }
  unit.station = "A";  // the session's name
  EXPECT_EQ(ReadPostgresUnits(uri, std::nullopt, std::nullopt), std::vector{unit});
  {
    // What the URI leaves out, libpq takes from the environment.
    const test::ScopedEnv host("PGHOST", Server().Host()), port("PGPORT", Server().Port()),
        user("PGUSER", "brintel"), name("PGDATABASE", database);
    EXPECT_EQ(ReadPostgresUnits("postgresql://", std::nullopt, std::nullopt), std::vector{unit});
  }
  EXPECT_EQ(ReadPostgresUnits(uri, "2026-12-10", std::nullopt).size(), 0u);
  EXPECT_EQ(ReadPostgresUnits(uri, std::nullopt, "A1B2").size(), 1u);
  EXPECT_EQ(Sql("SELECT version FROM brintel_schema"), std::to_string(SchemaSteps().size()) + "\n");
  EXPECT_EQ(Sql("SELECT count(*), min(s.station), min(s.host) FROM units u JOIN sessions s ON "
                "s.id = u.session_id"),
            "1|A|bench-1\n");
}

// As with a file: the open unit of a dead station on this host is
// interrupted, another host's live one is left alone.
TEST_F(PostgresRecordsTest, OnlyADeadStationsOpenUnitsBecomeInterrupted) {
  PostgresUnits(uri, {ThisProcess().host, 999999999, "dead"}, {})
      .Begin(Unit(1, "D", "2026-12-09T01:00:00.000Z"));
  PostgresUnits(uri, {"elsewhere", 7, "live"}, {}).Begin(Unit(1, "L", "2026-12-09T01:00:00.000Z"));
  PostgresUnits(uri, ThisProcess(), {});
  EXPECT_EQ(Sql("SELECT station, outcome FROM units ORDER BY station"),
            "dead|interrupted\nlive|\n");
}

TEST_F(PostgresRecordsTest, ANewerSchemaIsRefusedAndAPasswordIsNeverShown) {
  PostgresUnits(uri, ThisProcess(), {});
  Sql("UPDATE brintel_schema SET version = 99");
  std::string refused;
  try {
    PostgresUnits(uri, ThisProcess(), {});
  } catch (const RecordsError& error) {
    refused = error.what();
  }
  EXPECT_THAT(refused, HasSubstr("version 99"));

  const std::string secret = "postgresql://brintel:s3cret@/" + database +
                             "?host=/nonexistent&password=s3cret&sslmode=disable";
  EXPECT_EQ(WithoutPassword(secret),
            "postgresql://brintel@/" + database + "?host=/nonexistent&sslmode=disable");
  EXPECT_EQ(WithoutPassword("postgres://u:p@a@h:5/db"), "postgres://u@h:5/db");
  EXPECT_EQ(WithoutPassword("postgresql://"), "postgresql://");
  try {
    PostgresUnits(secret, ThisProcess(), {});
    ADD_FAILURE() << "connected to no server";
  } catch (const RecordsError& error) {
    EXPECT_THAT(error.what(), AllOf(HasSubstr("brintel@"), Not(HasSubstr("s3cret"))));
  }
}

// A server that takes the statement and never answers (its process
// stopped, as a host gone silent): the wait ends at the time-out and the
// connection is dropped, so the writer can try a new one.
TEST_F(PostgresRecordsTest, AServerThatNeverAnswersHoldsAStatementOnlyUntilItsTimeOut) {
  PgConnection db(uri, {.connect = 5s, .statement = 500ms});
  const auto backend = static_cast<pid_t>(db.Exec("SELECT pg_backend_pid()").Int(0, 0));
  ASSERT_EQ(::kill(backend, SIGSTOP), 0);
  std::string why;
  try {
    db.Exec("SELECT 1");
  } catch (const RecordsError& error) {
    why = error.what();
  }
  ::kill(backend, SIGCONT);
  EXPECT_THAT(why, HasSubstr("no answer within 500 ms"));
  EXPECT_TRUE(db.Broken());
}

// The server stops with units queued and comes back: the writer says why
// meanwhile, connects again and writes each unit once.
TEST_F(PostgresRecordsTest, TheWriterWritesWhatItKeptOnceTheServerIsBack) {
  RecordsWriter writer(std::make_unique<PostgresUnits>(
                           uri, ThisProcess(),
                           PostgresUnits::Settings{.timeouts = {.connect = 2s, .statement = 2000ms},
                                                   .firstRetry = 50ms,
                                                   .longestRetry = 400ms}),
                       {.retryEvery = 50ms, .heartbeatEvery = 60s});
  writer.Begin(1, Unit(1, "A", "2026-12-09T01:00:00.000Z"));
  ASSERT_TRUE(Eventually([&] { return Sql("SELECT count(*) FROM units") == "1\n"; }));
  ASSERT_TRUE(Server().Stop());
  writer.End(1, Completed(Unit(1, "A", "")));
  writer.Begin(2, Unit(2, "B", "2026-12-09T01:00:01.000Z"));
  writer.End(2, Completed(Unit(2, "B", "")));
  EXPECT_TRUE(Eventually([&] { return !writer.Trouble().empty(); })) << "said why";
  std::this_thread::sleep_for(1s);  // several reconnections fail meanwhile
  ASSERT_TRUE(Server().Resume());
  EXPECT_TRUE(Eventually([&] { return writer.Trouble().empty(); })) << writer.Trouble();
  EXPECT_TRUE(writer.Close().empty());
  EXPECT_EQ(Sql("SELECT device_id, outcome, blocks FROM units ORDER BY device_id"),
            "A|completed|70\nB|completed|70\n");
}

// The stations' role reads, inserts and updates, and can do nothing else.
TEST_F(PostgresRecordsTest, TheSetUpGivesTheStationsRoleNoMoreThanItNeeds) {
  const std::string shop = "shop" + database;
  std::string stationUri;
  for (int run = 0; run < 2; ++run) {  // a second run keeps what is there
    stationUri = SetUpSharedDatabase(Server().Uri(shop), "bench role", "it's; secret");
  }
  EXPECT_EQ(stationUri, Server().Uri(shop, "bench role"));
  UnitRecord unit = Unit(1, "S", "2026-12-09T01:00:00.000Z");
  {
    PostgresUnits store(stationUri, {"bench-1", 1, "A"}, {});
    unit.id = store.Begin(unit);
    EXPECT_TRUE(store.End(Completed(unit)));
  }
  EXPECT_EQ(ReadPostgresUnits(stationUri, std::nullopt, std::nullopt).at(0).outcome, "completed");
  for (const char* forbidden :
       {"DELETE FROM units", "DROP TABLE sessions", "UPDATE brintel_schema SET version = 1",
        "CREATE TABLE x (y int)"}) {
    EXPECT_THAT(Server().Query(shop, forbidden, "bench role"),
                AnyOf(HasSubstr("permission denied"), HasSubstr("must be owner")))
        << forbidden;
  }
  EXPECT_EQ(Server().Query(shop, "SELECT count(*) FROM units"), "1\n");
}

// history --export-to: a bench's file copied in, the second run copies
// nothing; its units of no station take the host's name or --station.
TEST_F(PostgresRecordsTest, AFileExportedTwiceIsCopiedOnce) {
  TempDir dir;
  const std::filesystem::path file = dir.path() / "history.sqlite3";
  {
    auto bench = UnitRecords::Open(file, {"bench-9", 1, "north"});
    for (int channel = 1; channel <= 3; ++channel) {
      UnitRecord unit = Unit(channel, "D" + std::to_string(channel), "2026-12-09T01:00:00.000Z");
      unit.id = bench.Begin(unit);
      bench.End(Completed(unit));
    }
    test::Exec(file, "UPDATE units SET station = '' WHERE channel = 3");  // an older brintel's
  }
  for (const char* expected : {"copied 3 unit(s)", "copied 0 unit(s)"}) {
    std::ostringstream out, err;
    ASSERT_EQ(cli::RunHistory({.db = file.string(), .station = "south", .exportTo = uri}, out, err),
              0)
        << err.str();
    EXPECT_THAT(out.str(), HasSubstr(expected));
  }
  EXPECT_EQ(Sql("SELECT station, count(*), sum(blocks) FROM units GROUP BY station ORDER BY 1"),
            "north|2|140\nsouth|1|70\n");
  std::ostringstream out, err;
  ASSERT_EQ(cli::RunHistory({.db = uri, .json = true, .by = "station"}, out, err), 0) << err.str();
  EXPECT_THAT(out.str(), AllOf(HasSubstr(R"({"station":"north","units":2,"completed":2)"),
                               HasSubstr(R"({"station":"south","units":1,"completed":1)")));
  out.str("");
  ASSERT_EQ(cli::RunHistory({.db = uri, .station = "south", .json = true}, out, err), 0);
  const std::string south = out.str();
  EXPECT_EQ(std::count(south.begin(), south.end(), '\n'), 1) << south;
  EXPECT_THAT(south, HasSubstr(R"("device_id":"D3")"));
  // The page names each unit's station, and a socket by its station too.
  const std::string page = (dir.path() / "shop.html").string();
  ASSERT_EQ(cli::RunHistory({.db = uri, .html = page}, out, err), 0) << err.str();
  std::stringstream html;
  html << std::ifstream(page).rdbuf();
  EXPECT_THAT(html.str(), AllOf(HasSubstr("<th>station</th>"), HasSubstr(">north ttyUSB0<"),
                                HasSubstr(">south ttyUSB2<")));
}

}  // namespace
}  // namespace brintel::records
