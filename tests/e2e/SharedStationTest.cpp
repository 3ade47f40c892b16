// Stations on several bench PCs writing one PostgreSQL database (a cluster
// this test program starts in a folder of its own): each unit one row under
// its station, and the no-loss rules of the records while the server is
// away for a while or for good.

#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>
#include <thread>

#include "StationRig.h"
#include "records/Timestamps.h"
#include "tests/support/GbkNames.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/Subprocess.h"

namespace brintel::testing {
namespace {

class SharedStation : public OnSuiteCluster<Station> {
 protected:
  void SetUp() override {
    OnSuiteCluster::SetUp();
    db = uri;
  }
  std::vector<std::string> StationNamed(const std::string& name,
                                        const std::vector<std::string>& sockets, int units) {
    std::vector<std::string> argv = Command(sockets, units);
    argv.insert(argv.end(), {"--station", name});
    return argv;
  }
};

// The server is started again however the test ends: the next test needs it.
struct ResumeAtEnd {
  PostgresServer& server;
  ~ResumeAtEnd() { server.Resume(); }
};

TEST_F(SharedStation, TwoStationsOfTwoChannelsEachWriteOneDatabase) {
  Bench("a1", {Unit("1027262514131211"), Unit("1027262514131212")});
  Bench("a2", {Unit("2027262514131211"), Unit("2027262514131212")});
  Bench("b1", {Unit("3027262514131211"), Unit("3027262514131212")});
  Bench("b2", {Unit("4027262514131211"), Unit("4027262514131212")});
  Subprocess a(StationNamed("A", {"a1", "a2"}, 4));
  Subprocess b(StationNamed("B", {"b1", "b2"}, 4));
  ASSERT_EQ(a.Wait(90s), 0) << a.out() << a.err();
  ASSERT_EQ(b.Wait(90s), 0) << b.out() << b.err();
  for (const auto& bench : benches) {
    for (const sim::BenchUnitResult& unit : bench->Results()) {
      ExpectWrittenOnce(unit, Expected(kStandardGbk));
    }
  }
  EXPECT_EQ(Sql("SELECT string_agg(left(device_id, 1) || station || outcome || blocks, ' ' "
                "ORDER BY device_id), count(DISTINCT session_id) FROM units"),
            "1Acompleted70 1Acompleted70 2Acompleted70 2Acompleted70 3Bcompleted70 "
            "3Bcompleted70 4Bcompleted70 4Bcompleted70|2\n");
  EXPECT_NE(a.err().find("4 unit(s) recorded in postgresql://brintel@/" + database),
            std::string::npos)
      << a.err();

  Subprocess history({BRINTEL_CLI, "history", "--db", db, "--by", "station"});
  ASSERT_EQ(history.Wait(20s), 0) << history.err();
  // station, units, failed, as the table aligns them
  std::istringstream table(history.out());
  std::vector<std::string> cells(9);
  for (std::string& cell : cells) {
    table >> cell;
  }
  EXPECT_EQ(cells, (std::vector<std::string>{"station", "units", "failed", "average", "displays",
                                             "outcomes", "A", "4", "0.0%"}))
      << history.out();
  EXPECT_NE(history.out().find("\nB            4    0.0%"), std::string::npos) << history.out();
}

// Stopped for 5 s while both channels transfer: the transfers go on, the
// units that end meanwhile are kept and written once the server is back.
TEST_F(SharedStation, TheServerAwayForFiveSecondsCostsNoUnit) {
  Bench("a", {Unit("1027262514131211"), Unit("1027262514131212")}, 2500ms, 115200);
  Bench("b", {Unit("2027262514131211"), Unit("2027262514131212")}, 2500ms, 115200);
  std::vector<std::string> argv = StationNamed("A", {"a", "b"}, 4);
  argv.push_back("--json");
  Subprocess station(argv);
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) {
        return out.find(R"("blocks":10,"channel":1,"event":"progress")") != std::string::npos;
      },
      30s))
      << station.out() << station.err();
  ResumeAtEnd resume{Server()};
  ASSERT_TRUE(Server().Stop());
  const std::string stoppedAt = records::UtcNow();
  std::this_thread::sleep_for(5s);
  const std::string resumedAt = records::UtcNow();
  ASSERT_TRUE(Server().Resume());
  ASSERT_EQ(station.Wait(90s), 0) << station.out() << station.err();

  for (const auto& bench : benches) {
    for (const sim::BenchUnitResult& unit : bench->Results()) {
      ExpectWrittenOnce(unit, Expected(kStandardGbk));
    }
  }
  std::map<int, int> blocksWhileAway;
  for (const nlohmann::json& progress : Events(JsonLines(station.out()), "progress")) {
    const std::string time = progress.at("time");
    if (time > stoppedAt && time < resumedAt) {
      ++blocksWhileAway[progress.at("channel").get<int>()];
    }
  }
  EXPECT_GT(blocksWhileAway[1], 10) << "no transfer waits for the records";
  EXPECT_GT(blocksWhileAway[2], 10);
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT device_id), sum(blocks) FROM units WHERE "
                "outcome = 'completed'"),
            "4|4|280\n");
  EXPECT_EQ(Sql("SELECT count(*) FROM units"), "4\n") << "no unit twice";
}

// The server never comes back: the unit in transfer completes, and the
// station hands it over on stderr, without the password it was given.
TEST_F(SharedStation, TheServerGoneForGoodLeavesTheUnitOnStderr) {
  Bench("a", {Unit("1027262514131211")}, 2500ms, 115200);
  std::vector<std::string> argv = StationNamed("A", {"a"}, 1);
  db.insert(db.find('@'), ":s3cret");
  for (std::string& arg : argv) {
    if (arg.starts_with("postgresql://")) {
      arg = db;
    }
  }
  Subprocess station(argv);
  ASSERT_TRUE(station.ReadUntil(
      [](const std::string& out) { return out.find("progress 10/70") != std::string::npos; }, 30s))
      << station.out() << station.err();
  ResumeAtEnd resume{Server()};
  ASSERT_TRUE(Server().Stop());
  ASSERT_EQ(station.Wait(60s), 1) << station.out() << station.err();
  const std::string& err = station.err();
  const std::optional<nlohmann::json> found = FirstUnwrittenUnit(err);
  ASSERT_TRUE(found.has_value()) << err;
  const nlohmann::json& unit = *found;
  EXPECT_EQ(unit.at("device_id"), "1027262514131211");
  EXPECT_EQ(unit.at("outcome"), "completed");
  EXPECT_EQ(unit.at("blocks"), 70);
  EXPECT_EQ(unit.at("station"), "A");
  EXPECT_EQ((station.out() + err).find("s3cret"), std::string::npos) << station.out() << err;
  ExpectWrittenOnce(benches[0]->Results().at(0), Expected(kStandardGbk));
}

}  // namespace
}  // namespace brintel::testing
