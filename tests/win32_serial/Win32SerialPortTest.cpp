#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PtyPeerClient.h"
#include "device/SerialLink.h"
#include "device/win32/Win32SerialPort.h"

#include <windows.h>

namespace brintel::testing {
namespace {

using ::testing::Contains;
using ::testing::Not;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// "COM" and a number from 1 to 99 without leading zeros.
bool IsPortName(const std::string& name) {
  if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "COM") != 0 || name[3] == '0') {
    return false;
  }
  return name.find_first_not_of("0123456789", 3) == std::string::npos;
}

// Each test gets a fresh pseudo-terminal behind the same COM number. Under Wine
// the machine's /dev/ttyS0 is always COM1 as well, so tests look for their own
// port and never count ports.
class Win32SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { peer_.NewLine(); }

  PtyPeerClient peer_;
};

TEST_F(Win32SerialTest, ScanListsTheMappedPortUntilItIsUnmapped) {
  Win32SerialPort port;
  const std::vector<std::string> listed = port.ScanPorts();
  EXPECT_THAT(listed, Contains(peer_.portName()));
  for (std::size_t i = 0; i < listed.size(); ++i) {
    ASSERT_TRUE(IsPortName(listed[i])) << listed[i];
    if (i > 0) {
      EXPECT_LT(std::stoi(listed[i - 1].substr(3)), std::stoi(listed[i].substr(3)));
    }
  }
  EXPECT_FALSE(port.IsOpen());

  peer_.Unmap();
  EXPECT_THAT(port.ScanPorts(), Not(Contains(peer_.portName())));
}

TEST_F(Win32SerialTest, ScanLetsGoOfAnOpenPortAndOfEveryTrialOpen) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  ASSERT_GT(peer_.Holders(), 0u);

  EXPECT_THAT(port.ScanPorts(), Contains(peer_.portName()));
  EXPECT_FALSE(port.IsOpen());
  for (int round = 0; round < 5; ++round) {
    port.ScanPorts();
  }
  EXPECT_EQ(peer_.Holders(), 0u) << "a handle on the port was left open";
}

TEST_F(Win32SerialTest, OpenReplacesWhateverSettingsTheLineHadWithTheDisplays) {
  peer_.Unsettle();
  ASSERT_EQ(peer_.Settings(), "speed=115200 cstopb=1 crtscts=1 ixon=1 ixoff=1");

  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  EXPECT_EQ(peer_.Settings(), "speed=9600 cstopb=0 crtscts=0 ixon=0 ixoff=0");
}

TEST_F(Win32SerialTest, DrainInputEmptiesTheQueueOfTheRealLine) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  ASSERT_EQ(peer_.Send(Bytes(300, 0x9C)), 300u);

  DrainInput(port);
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
}

// The display unplugged while its port is open, after a byte went through:
// the core's SendByte must give up.
TEST_F(Win32SerialTest, AfterTheDisplayIsUnpluggedSendByteGivesUpWithinItsBound) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  ASSERT_TRUE(port.WriteByte(0x63));
  ASSERT_EQ(peer_.Receive(1), Bytes{0x63});
  peer_.HangUp();

  const auto start = Clock::now();
  int pauses = 0;
  EXPECT_FALSE(SendByte(port, 0x63, [&](int) { ++pauses; }));
  EXPECT_LE(pauses, SEND_RETRY_LIMIT_MS);
  EXPECT_LT(Clock::now() - start, 5s) << "a write on the lost port waited";
}

TEST_F(Win32SerialTest, ReopeningAndClosingLeakNoHandle) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  const std::uint32_t holders = peer_.Holders();
  ASSERT_GT(holders, 0u);
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(port.OpenPort(peer_.portName()));
  }
  EXPECT_EQ(peer_.Holders(), holders);

  port.ClosePort();
  EXPECT_EQ(peer_.Holders(), 0u);
  {
    Win32SerialPort scoped;
    ASSERT_TRUE(scoped.OpenPort(peer_.portName()));
  }
  EXPECT_EQ(peer_.Holders(), 0u) << "the destructor left the port open";
}

// "COM0" is no port: nothing is left open for the core's SendByte.
// brintel-cli's wait: it wakes when a byte comes, not at its deadline; without
// input it returns at the deadline; a byte already queued, or one that comes
// while the wait begins, is never slept over; a lost line only waits out the
// time, and nothing of the port is left waiting.
TEST_F(Win32SerialTest, WaitForInputWakesWhenAByteComesAndOtherwiseAtItsDeadline) {
  Win32SerialPort port(
      Win32SerialPort::Options{.fixedPorts = {peer_.portName()}, .waitable = true});
  ASSERT_EQ(port.ScanPorts(), std::vector<std::string>{peer_.portName()});
  ASSERT_TRUE(port.OpenPort(peer_.portName()));

  auto start = Clock::now();
  EXPECT_FALSE(port.WaitForInput(start + 300ms));
  EXPECT_GE(Clock::now() - start, 290ms);

  std::thread sender([this] {
    std::this_thread::sleep_for(200ms);
    peer_.Send({0x5A});
  });
  start = Clock::now();
  EXPECT_TRUE(port.WaitForInput(start + 5s));
  const auto woke = Clock::now() - start;
  sender.join();
  EXPECT_GE(woke, 150ms);
  EXPECT_LT(woke, 2s);
  // Queued and not yet read: no wait at all.
  start = Clock::now();
  EXPECT_TRUE(port.WaitForInput(start + 5s));
  EXPECT_LT(Clock::now() - start, 500ms);
  std::uint8_t byte = 0;
  ASSERT_TRUE(port.ReadByte(byte));
  EXPECT_EQ(byte, 0x5A);
  EXPECT_TRUE(port.WriteByte(0xA5));  // a wait that was ended leaves writes working
  EXPECT_EQ(peer_.Receive(1), (std::vector<std::uint8_t>{0xA5}));

  peer_.HangUp();
  start = Clock::now();
  EXPECT_FALSE(port.WaitForInput(start + 300ms));
  EXPECT_GE(Clock::now() - start, 250ms);
  EXPECT_FALSE(port.ReadByte(byte));
}

// A fixed list is what the scan tries, and a port that is not there says so.
TEST_F(Win32SerialTest, AFixedPortThatIsNotThereIsNamedInTheOpenError) {
  Win32SerialPort port(Win32SerialPort::Options{.fixedPorts = {"COM97"}, .waitable = true});
  EXPECT_TRUE(port.ScanPorts().empty());
  EXPECT_THAT(port.LastOpenError(), ::testing::HasSubstr("COM97: no such port"));
  EXPECT_FALSE(port.OpenPort("COM97"));
  EXPECT_FALSE(port.LastOpenErrorLasts());
}

TEST(Win32SerialNoPort, AfterAFailedOpenSendByteGivesUp) {
  Win32SerialPort port;
  EXPECT_FALSE(port.OpenPort("COM0"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(SendByte(port, 0x01, [](int) {}));
}

}  // namespace
}  // namespace brintel::testing
