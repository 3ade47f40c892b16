#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PtyPair.h"
#include "device/posix/PosixSerialPort.h"

namespace brintel::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

std::size_t OpenDescriptorCount() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

TEST(PosixSerialLine, OpenReplacesWhateverSettingsThePortHadWithTheDisplays) {
  PtyPair pty;
  termios wrong{};
  ASSERT_EQ(::tcgetattr(pty.slave(), &wrong), 0);
  ::cfsetispeed(&wrong, B115200);
  ::cfsetospeed(&wrong, B115200);
  wrong.c_cflag |= CSTOPB | CRTSCTS;
  wrong.c_cflag &= ~tcflag_t{CLOCAL};
  wrong.c_iflag |= IXON | IXOFF | ICRNL;
  wrong.c_lflag |= ICANON | ECHO | ISIG;
  wrong.c_oflag |= OPOST;
  wrong.c_cc[VMIN] = 1;
  wrong.c_cc[VTIME] = 5;
  ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &wrong), 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(pty.slave(), &before), 0);
  ASSERT_EQ(::cfgetospeed(&before), B115200);
  ASSERT_EQ(before.c_cflag & (CSTOPB | CRTSCTS), tcflag_t{CSTOPB | CRTSCTS});

  PosixSerialPort port;
  ASSERT_TRUE(port.OpenPort(pty.path()));

  termios after{};
  ASSERT_EQ(::tcgetattr(pty.slave(), &after), 0);
  EXPECT_EQ(::cfgetispeed(&after), B9600);
  EXPECT_EQ(::cfgetospeed(&after), B9600);
  EXPECT_EQ(after.c_cflag & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(after.c_cflag & CLOCAL, tcflag_t{CLOCAL});
  // A pty forces CS8, CREAD and no parity by itself; these guard real UARTs only.
  EXPECT_EQ(after.c_cflag & (CSIZE | PARENB | CREAD), tcflag_t{CS8 | CREAD});
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(after.c_cc[VMIN], 0);
  EXPECT_EQ(after.c_cc[VTIME], 0);
}

// DTR on, RTS off, in that order, once the speed is set.
TEST(PosixSerialLine, OpenRaisesDtrAndLowersRts) {
  PtyPair pty;
  std::vector<std::pair<unsigned long, int>> calls;
  PosixSerialPort port({.setModemLine = [&](int fd, unsigned long request, int line) {
    int speed = -1;
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
      speed = static_cast<int>(::cfgetospeed(&tio));
    }
    EXPECT_EQ(speed, static_cast<int>(B9600));
    calls.emplace_back(request, line);
  }});
  ASSERT_TRUE(port.OpenPort(pty.path()));
  EXPECT_EQ(calls, (std::vector<std::pair<unsigned long, int>>{{TIOCMBIS, TIOCM_DTR},
                                                               {TIOCMBIC, TIOCM_RTS}}));
}

TEST(PosixSerialLine, ClearErrorResumesOutputThatAStopSuspended) {
  PtyPair pty;
  PosixSerialPort port;
  ASSERT_TRUE(port.OpenPort(pty.path()));
  ASSERT_EQ(::tcflow(pty.slave(), TCOOFF), 0);

  EXPECT_FALSE(port.WriteByte(0x55)) << "a stopped line must not report the byte as taken";
  port.ClearError();
  EXPECT_TRUE(port.WriteByte(0x55));
  EXPECT_EQ(pty.Receive(1), Bytes{0x55});
}

// The run waits here between ticks: a port that is closed or hung up must
// still take the whole wait, or the run would spin on it.
TEST(PosixSerialLine, WaitForInputReturnsWithBytesAndOtherwiseWaitsOutItsDeadline) {
  using std::chrono::milliseconds;
  constexpr milliseconds kWait{60};
  PtyPair pty;
  PosixSerialPort port;
  const auto waitedOut = [&](const char* what) {
    const auto start = Clock::now();
    EXPECT_FALSE(port.WaitForInput(start + kWait)) << what;
    EXPECT_GE(Clock::now() - start, kWait) << what;
  };
  waitedOut("no port open");
  ASSERT_TRUE(port.OpenPort(pty.path()));
  waitedOut("nothing queued");
  pty.Send({0x42});
  EXPECT_TRUE(port.WaitForInput(Clock::now() + kCrossingDeadline));
  std::uint8_t byte = 0;
  EXPECT_TRUE(port.ReadByte(byte));
  pty.CloseMaster();
  waitedOut("hung up");
}

TEST(PosixSerialOwnership, ASecondOpenerIsRefusedUntilTheFirstCloses) {
  PtyPair pty;
  PosixSerialPort first;
  PosixSerialPort second;
  ASSERT_TRUE(first.OpenPort(pty.path()));

  EXPECT_FALSE(second.OpenPort(pty.path()));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_THAT(second.LastOpenError(), HasSubstr(pty.path() + ": in use"));

  first.ClosePort();
  EXPECT_TRUE(second.OpenPort(pty.path()));
  EXPECT_THAT(second.LastOpenError(), IsEmpty());
}

// Each guard alone must keep us out, also for root, which TIOCEXCL does not stop.
TEST(PosixSerialOwnership, APortAnotherProgramHoldsIsRefused) {
  PtyPair pty;
  PosixSerialPort port;

  const int locker = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(locker, 0);
  ASSERT_EQ(::flock(locker, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(port.OpenPort(pty.path())) << "flock holder";
  ::close(locker);

  ASSERT_EQ(::ioctl(pty.slave(), TIOCEXCL), 0);
  EXPECT_FALSE(port.OpenPort(pty.path())) << "TIOCEXCL holder";
  ASSERT_EQ(::ioctl(pty.slave(), TIOCNXCL), 0);

  EXPECT_TRUE(port.OpenPort(pty.path()));
}

TEST(PosixSerialOwnership, ClosingHandsThePortBackEvenWhileOthersKeepTheTtyOpen) {
  PtyPair pty;
  {
    PosixSerialPort scoped;
    ASSERT_TRUE(scoped.OpenPort(pty.path()));
  }
  int exclusive = -1;
  ASSERT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0) << "an unprivileged opener would get EBUSY";
  PosixSerialPort next;
  EXPECT_TRUE(next.OpenPort(pty.path()));
}

TEST(PosixSerialOwnership, OpeningAnotherPortLetsGoOfTheFirstWithoutLeaking) {
  PtyPair one;
  PtyPair two;
  PosixSerialPort port;
  PosixSerialPort other;
  ASSERT_TRUE(port.OpenPort(one.path()));
  const std::size_t descriptors = OpenDescriptorCount();
  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(port.OpenPort(two.path()));
    ASSERT_TRUE(port.OpenPort(one.path()));
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);

  ASSERT_TRUE(port.OpenPort(two.path()));
  EXPECT_TRUE(other.OpenPort(one.path()));
  EXPECT_FALSE(other.OpenPort(two.path()));
}

class PosixSerialOpenFailure : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(dir_); }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  const std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("brintel-open-" + std::to_string(::getpid()));
};

TEST_F(PosixSerialOpenFailure, MissingDevicesAndOrdinaryFilesAreRefusedWithAReason) {
  PosixSerialPort port;
  const std::string missing = (dir_ / "ttyUSB7").string();
  EXPECT_FALSE(port.OpenPort(missing));
  EXPECT_THAT(port.LastOpenError(), HasSubstr(missing + ": no such device"));
  EXPECT_FALSE(port.LastOpenErrorLasts()) << "the adapter may yet be plugged in";

  // A mistyped --port must never get the probe written into a file.
  const std::string file = (dir_ / "notes.txt").string();
  std::ofstream(file) << "keep";
  EXPECT_FALSE(port.OpenPort(file));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_THAT(port.LastOpenError(), HasSubstr(file + ": not a serial device"));
  EXPECT_TRUE(port.LastOpenErrorLasts());
}

// The open is tried as nobody in a child process (root is never refused);
// returns why it was refused and whether the refusal lasts.
std::pair<std::string, bool> RefusedAsNobody(const std::string& device) {
  int channel[2];
  if (::pipe(channel) != 0) {
    return {"no pipe", false};
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(2);
    }
    PosixSerialPort port;
    const bool opened = port.OpenPort(device);
    const std::string error = (port.LastOpenErrorLasts() ? "L" : "T") + port.LastOpenError();
    const bool sent =
        ::write(channel[1], error.data(), error.size()) == static_cast<ssize_t>(error.size());
    ::_exit(!opened && sent ? 0 : 1);
  }
  ::close(channel[1]);
  std::string error;
  std::array<char, 256> chunk{};
  for (ssize_t n; (n = ::read(channel[0], chunk.data(), chunk.size())) > 0;) {
    error.append(chunk.data(), static_cast<std::size_t>(n));
  }
  ::close(channel[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0 || error.empty()) {
    return {"the open was not refused", false};
  }
  return {error.substr(1), error[0] == 'L'};
}

TEST_F(PosixSerialOpenFailure, PermissionDeniedLastsAndNamesOwnerGroupModeAndTheWayIn) {
  const std::string device = (dir_ / "ttyUSB0").string();
  std::ofstream(device).close();
  namespace fs = std::filesystem;
  fs::permissions(device, fs::perms::owner_read | fs::perms::owner_write);
  const auto [rootOnly, lasts] = RefusedAsNobody(device);
  EXPECT_TRUE(lasts);
  EXPECT_THAT(rootOnly,
              HasSubstr(device + ": permission denied (owner root, group root, mode 0600"));
  EXPECT_THAT(rootOnly, HasSubstr("you are in: nogroup"));
  EXPECT_THAT(rootOnly, Not(HasSubstr("usermod"))) << "joining root's group would not help";
  EXPECT_THAT(rootOnly, HasSubstr("udev rule"));

  // A node its group may use: joining that group is the way in.
  const group* dialout = ::getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
  fs::permissions(device, fs::perms::group_read | fs::perms::group_write, fs::perm_options::add);
  EXPECT_THAT(RefusedAsNobody(device).first,
              HasSubstr("group dialout, mode 0660; you are in: nogroup); add the user to the "
                        "dialout group (sudo usermod -aG dialout $USER)"));
}

}  // namespace
}  // namespace brintel::testing
