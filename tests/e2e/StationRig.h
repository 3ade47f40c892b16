#pragma once

// brintel-cli station run as a shop runs it, on benches of simulated displays
// on link paths, against the simulated program server: the fixture and what
// the station tests read from its output.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bench/DisplayBench.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Faults.h"

namespace brintel::testing {

using namespace std::chrono_literals;

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::path(::testing::TempDir()) /
          ("brintel-station-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    db = (dir / "history.sqlite3").string();
    server = std::make_unique<sim::ProgramServer>(sim::Catalogue::Default(),
                                                  sim::ProgramServer::Options{});
    server->Start();
  }
  void TearDown() override {
    benches.clear();
    std::filesystem::remove_all(dir);
  }
  // A bench on socket `name` with these units, one after another.
  sim::DisplayBench& Bench(const std::string& name, std::vector<sim::BenchUnit> units,
                           std::chrono::milliseconds stay = 2500ms, unsigned baud = 0,
                           std::chrono::milliseconds gap = 300ms) {
    sim::BenchOptions options;
    options.linkPath = (dir / name).string();
    options.units = std::move(units);
    options.stayAfterCompletion = stay;
    options.gap = gap;
    options.leaveAfter = baud != 0 ? 60000ms : 8000ms;
    options.baud = baud;
    benches.push_back(std::make_unique<sim::DisplayBench>(options));
    benches.back()->Start();
    return *benches.back();
  }
  std::vector<std::string> Command(const std::vector<std::string>& sockets, int units,
                                   const std::string& program = "标准版") {
    return Upgrade(sockets, program, {"station", "--db", db, "--units", std::to_string(units)});
  }
  // brintel-cli with these arguments, the server and --port for each socket.
  std::vector<std::string> Upgrade(const std::vector<std::string>& sockets,
                                   const std::string& program, std::vector<std::string> argv) {
    argv.insert(argv.begin(), BRINTEL_CLI);
    argv.insert(argv.end(), {"--program", program, "--server",
                             server->Host() + ":" + std::to_string(server->Port())});
    for (const std::string& socket : sockets) {
      argv.insert(argv.end(), {"--port", (dir / socket).string()});
    }
    return argv;
  }
  static sim::BenchUnit Unit(const std::string& identity, std::vector<std::string> faults = {}) {
    sim::BenchUnit unit;
    unit.identity = identity;
    for (const std::string& text : faults) {
      unit.faults.push_back(DisplayFault(text));
    }
    return unit;
  }
  std::vector<std::uint8_t> Expected(const std::string& gbkName) const {
    return server->ExpectedProgram(gbkName);
  }

  std::filesystem::path dir;
  std::string db;
  std::unique_ptr<sim::ProgramServer> server;
  std::vector<std::unique_ptr<sim::DisplayBench>> benches;
};

// Each display got the program once, although it stayed plugged in after it.
inline void ExpectWrittenOnce(const sim::BenchUnitResult& unit,
                              const std::vector<std::uint8_t>& program) {
  EXPECT_EQ(unit.program, program) << unit.identity;
  EXPECT_EQ(unit.counters.programsCompleted, 1u) << unit.identity;
  EXPECT_EQ(unit.counters.blocksAccepted, 70u) << unit.identity;
}

// Every line on stdout is one JSON object, whatever the server's texts hold.
inline std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(nlohmann::json::parse(line));  // throws, failing the test, on anything else
    EXPECT_TRUE(lines.back().contains("channel") && lines.back().contains("time")) << line;
  }
  return lines;
}

inline std::vector<nlohmann::json> Events(const std::vector<nlohmann::json>& lines,
                                          const std::string& kind) {
  std::vector<nlohmann::json> events;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(events),
               [&](const nlohmann::json& line) { return line.at("event") == kind; });
  return events;
}

}  // namespace brintel::testing
