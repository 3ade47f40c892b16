#pragma once

// brintel-cli station and single runs against benches of simulated displays
// and the simulated program server, with the records read back: the rig of
// the station's tests, on Linux and under Wine.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bench/DisplayBench.h"
#include "sim/server/ProgramServer.h"
#include "tests/support/Faults.h"

namespace brintel::testing {

using namespace std::chrono_literals;
using Row = std::map<std::string, std::string>;

// The records as the file holds them, oldest first.
inline std::vector<Row> ReadUnits(const std::string& db, const std::string& query = "") {
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

// The first unit a station printed on stderr as one JSON line because the
// records could not take it; nothing when it printed none.
inline std::optional<nlohmann::json> FirstUnwrittenUnit(const std::string& err) {
  const std::size_t line = err.find(R"({"id":)");
  if (line == std::string::npos) {
    return std::nullopt;
  }
  return nlohmann::json::parse(err.substr(line, err.find('\n', line) - line));
}

// brintel-cli on the bench. On Linux: this build's binary, each socket a link
// path. In the Windows test run, which names brintel-cli.exe in
// BRINTEL_CLI_EXE: the exe under Wine, each socket a COM port of the prefix
// (COM60 on), the records' file on its drive Z:. The same tests, the same
// checks.
class Station : public ::testing::Test {
 protected:
  static const char* WindowsCli() { return std::getenv("BRINTEL_CLI_EXE"); }
  static constexpr int kFirstCom = 60;

  // What --port names for `socket`, and where its display's link goes.
  std::string PortName(const std::string& socket) {
    return WindowsCli() ? "COM" + std::to_string(ComNumber(socket)) : (dir / socket).string();
  }
  std::string LinkPath(const std::string& socket) {
    if (!WindowsCli()) {
      return (dir / socket).string();
    }
    const char* prefix = std::getenv("WINEPREFIX");
    return std::string(prefix ? prefix : "") + "/dosdevices/com" +
           std::to_string(ComNumber(socket));
  }
  // The records' file as brintel-cli is told it.
  std::string DbArgument() const { return WindowsCli() ? "Z:" + db : db; }
  // The command up to its arguments.
  static std::vector<std::string> Cli() {
    if (const char* exe = WindowsCli()) {
      const char* wine = std::getenv("BRINTEL_WINE");
      return {wine ? wine : "/usr/bin/wine", exe};
    }
    return {BRINTEL_CLI};
  }
  int ComNumber(const std::string& socket) {
    const auto [at, added] =
        comNumbers.emplace(socket, kFirstCom + static_cast<int>(comNumbers.size()));
    return at->second;
  }

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
    for (const auto& [socket, number] : comNumbers) {
      std::filesystem::remove(LinkPath(socket));
    }
    std::filesystem::remove_all(dir);
  }
  // A bench on socket `name` with these units, one after another.
  sim::DisplayBench& Bench(const std::string& name, std::vector<sim::BenchUnit> units,
                           std::chrono::milliseconds stay = 2500ms, unsigned baud = 0,
                           std::chrono::milliseconds gap = 300ms) {
    sim::BenchOptions options;
    options.linkPath = LinkPath(name);
    options.units = std::move(units);
    options.stayAfterCompletion = stay;
    options.gap = gap;
    // Wine moves bytes about ten times slower than Linux when the line is not paced.
    options.leaveAfter = baud != 0 || WindowsCli() ? 60000ms : 8000ms;
    options.baud = baud;
    benches.push_back(std::make_unique<sim::DisplayBench>(options));
    benches.back()->Start();
    return *benches.back();
  }
  std::vector<std::string> Command(const std::vector<std::string>& sockets, int units,
                                   const std::string& program = "标准版") {
    return Upgrade(sockets, program,
                   {"station", "--db", DbArgument(), "--units", std::to_string(units)});
  }
  // brintel-cli with these arguments, the server and --port for each socket.
  std::vector<std::string> Upgrade(const std::vector<std::string>& sockets,
                                   const std::string& program, std::vector<std::string> argv) {
    const std::vector<std::string> cli = Cli();
    argv.insert(argv.begin(), cli.begin(), cli.end());
    argv.insert(argv.end(), {"--program", program, "--server",
                             server->Host() + ":" + std::to_string(server->Port())});
    for (const std::string& socket : sockets) {
      argv.insert(argv.end(), {"--port", PortName(socket)});
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
  std::map<std::string, int> comNumbers;
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
