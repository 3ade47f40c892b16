// The brintel-program-server executable as scripts and end-to-end tests use it.

#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SimServerSupport.h"
#include "sim/server/Catalogue.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace brintel::sim {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using namespace std::chrono_literals;
using brintel::testing::Subprocess;
using brintel::testing::TempDir;

// Bounds a failing test only: the server answers at once.
constexpr std::chrono::milliseconds kDeadline = 5s;

std::vector<std::string> ServerWith(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), BRINTEL_PROGRAM_SERVER);
  return arguments;
}

// Up to the first newline; all of it when no newline came.
std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

bool HasLine(const std::string& text) {
  return text.find('\n') != std::string::npos;
}

TEST(ProgramServerMain, AnnouncesItsPortServesWithFaultsAndStopsOnSigterm) {
  const TempDir dir;
  const std::filesystem::path exportDir = dir / "programs";

  Subprocess server(ServerWith(
      {"--listen", "127.0.0.1:0", "--fault", "list:no-separator", "--export", exportDir.string()}));
  server.ReadUntil(HasLine, kDeadline);
  const std::string line = FirstLine(server.out());
  ASSERT_THAT(line, MatchesRegex("LISTENING 127\\.0\\.0\\.1:[0-9]+"));
  const int port = std::stoi(line.substr(line.rfind(':') + 1));

  const test::WireReply list =
      test::RawGet("127.0.0.1", port, "/cargetnameplovix.asp?id=" + test::kDeviceId);
  EXPECT_EQ(list.body, "NOPROGRAMS");
  // The request log is on stderr; both streams are read while waiting.
  server.ReadUntil([&server](const std::string&) { return HasLine(server.err()); }, kDeadline);
  EXPECT_THAT(FirstLine(server.err()), HasSubstr("/cargetnameplovix.asp?id=" + test::kDeviceId));

  // Files are in place once the port is announced.
  const Catalogue catalogue = Catalogue::Default();
  std::ifstream index(exportDir / "index.txt");
  std::vector<std::string> lines;
  for (std::string entry; std::getline(index, entry);) {
    lines.push_back(entry);
  }
  EXPECT_THAT(lines, ::testing::Contains("B1EAD7BCB0E6\t标准版"));
  ASSERT_EQ(lines.size(), catalogue.Programs().size());
  for (const Program& program : catalogue.Programs()) {
    const std::string hex = lines[static_cast<std::size_t>(&program - &catalogue.Programs()[0])];
    std::ifstream bin(exportDir / (hex.substr(0, hex.find('\t')) + ".bin"), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(bin), {}};
    EXPECT_EQ(bytes, program.data) << hex;
  }

  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(kDeadline), 0);
}

TEST(ProgramServerMain, RefusesABadFaultOrAddress) {
  Subprocess fault(ServerWith({"--fault", "package:empty-key"}));
  EXPECT_EQ(fault.Wait(kDeadline), 2);
  EXPECT_THAT(fault.err(), HasSubstr("empty-key applies to the list only"));
  EXPECT_EQ(fault.out(), "");

  Subprocess address(ServerWith({"--listen", "127.0.0.1"}));
  EXPECT_EQ(address.Wait(kDeadline), 2);
  EXPECT_THAT(address.err(), HasSubstr("HOST:PORT"));
}

}  // namespace
}  // namespace brintel::sim
