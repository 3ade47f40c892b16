// The brintel-program-server executable as scripts and end-to-end tests use it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "SimServerSupport.h"
#include "sim/server/Catalogue.h"

extern char** environ;

namespace brintel::sim {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

struct Child {
  pid_t pid = -1;
  int out = -1;  // its stdout
  int err = -1;  // its stderr
};

Child Spawn(const std::vector<std::string>& arguments) {
  int out[2];
  int err[2];
  EXPECT_EQ(pipe(out), 0);
  EXPECT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<std::string> all = {BRINTEL_PROGRAM_SERVER};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : all) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  child.out = out[0];
  child.err = err[0];
  return child;
}

// Up to the first newline, or what came within 5 s.
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  pollfd poll_fd{fd, POLLIN, 0};
  while (poll(&poll_fd, 1, 5000) > 0 && read(fd, &c, 1) == 1 && c != '\n') {
    line += c;
  }
  return line;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

int Wait(Child& child) {
  int status = 0;
  waitpid(child.pid, &status, 0);
  close(child.out);
  close(child.err);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ProgramServerMain, AnnouncesItsPortServesWithFaultsAndStopsOnSigterm) {
  const std::string dir = std::filesystem::temp_directory_path() / "sim-server-XXXXXX";
  std::vector<char> pattern(dir.begin(), dir.end());
  pattern.push_back('\0');
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path exportDir = std::filesystem::path(pattern.data()) / "programs";

  Child child = Spawn(
      {"--listen", "127.0.0.1:0", "--fault", "list:no-separator", "--export", exportDir.string()});
  const std::string line = ReadLine(child.out);
  ASSERT_THAT(line, MatchesRegex("LISTENING 127\\.0\\.0\\.1:[0-9]+"));
  const int port = std::stoi(line.substr(line.rfind(':') + 1));

  const test::WireReply list =
      test::RawGet("127.0.0.1", port, "/cargetnameplovix.asp?id=" + test::kDeviceId);
  EXPECT_EQ(list.body, "NOPROGRAMS");
  EXPECT_THAT(ReadLine(child.err), HasSubstr("/cargetnameplovix.asp?id=" + test::kDeviceId));

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

  kill(child.pid, SIGTERM);
  EXPECT_EQ(Wait(child), 0);
  std::filesystem::remove_all(pattern.data());
}

TEST(ProgramServerMain, RefusesABadFaultOrAddress) {
  Child fault = Spawn({"--fault", "package:empty-key"});
  EXPECT_THAT(ReadAll(fault.err), HasSubstr("empty-key applies to the list only"));
  EXPECT_EQ(ReadAll(fault.out), "");
  EXPECT_EQ(Wait(fault), 2);

  Child address = Spawn({"--listen", "127.0.0.1"});
  EXPECT_THAT(ReadAll(address.err), HasSubstr("HOST:PORT"));
  EXPECT_EQ(Wait(address), 2);
}

}  // namespace
}  // namespace brintel::sim
