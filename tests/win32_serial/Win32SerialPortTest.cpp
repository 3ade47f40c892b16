#include <chrono>
#include <cstdint>
#include <numeric>
#include <string>

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

Bytes AllByteValues() {
  Bytes all(256);
  std::iota(all.begin(), all.end(), std::uint8_t{0});
  return all;
}

// Polls the port the way the engine does until `count` bytes have come or two
// seconds have passed.
Bytes ReadFromPort(Win32SerialPort& port, std::size_t count) {
  Bytes received;
  const auto deadline = Clock::now() + 2s;
  while (received.size() < count && Clock::now() < deadline) {
    std::uint8_t byte = 0;
    if (port.ReadByte(byte)) {
      received.push_back(byte);
    } else {
      ::Sleep(1);
    }
  }
  return received;
}

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

TEST_F(Win32SerialTest, EveryByteValueCrossesBothWaysUntranslated) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));

  for (const std::uint8_t byte : AllByteValues()) {
    ASSERT_TRUE(port.WriteByte(byte)) << int{byte};
  }
  EXPECT_EQ(peer_.Receive(256), AllByteValues());

  EXPECT_EQ(peer_.Send(AllByteValues()), 256u);
  EXPECT_EQ(ReadFromPort(port, 256), AllByteValues());
}

TEST_F(Win32SerialTest, ReadNeverWaitsAndDropsWhatTheDisplaySentBeforeTheOpen) {
  ASSERT_EQ(peer_.Send({'s', 't', 'a', 'l', 'e'}), 5u) << "stale bytes never reached the port";

  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  std::uint8_t byte = 0xAA;
  const auto start = Clock::now();
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_LT(Clock::now() - start, 100ms);
  EXPECT_EQ(byte, 0);

  // Stale bytes left in the queue would come before this one.
  ASSERT_EQ(peer_.Send({0x42}), 1u);
  EXPECT_EQ(ReadFromPort(port, 1), Bytes{0x42});
}

TEST_F(Win32SerialTest, DrainInputEmptiesTheQueueOfTheRealLine) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  ASSERT_EQ(peer_.Send(Bytes(300, 0x9C)), 300u);

  DrainInput(port);
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
}

// The display unplugged while its port is open: writes must fail at once
// rather than block the tick, and the core's SendByte must give up.
TEST_F(Win32SerialTest, AfterTheDisplayIsUnpluggedSendByteGivesUpWithinItsBound) {
  Win32SerialPort port;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  ASSERT_TRUE(port.WriteByte(0x63));
  ASSERT_EQ(peer_.Receive(1), Bytes{0x63});
  peer_.HangUp();

  const auto start = Clock::now();
  EXPECT_FALSE(port.WriteByte(0x63));
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_EQ(byte, 0);

  int pauses = 0;
  EXPECT_FALSE(SendByte(port, 0x63, [&](int) { ++pauses; }));
  EXPECT_LE(pauses, SEND_RETRY_LIMIT_MS);
  EXPECT_LT(Clock::now() - start, 5s) << "a write on the lost port waited";
}

TEST_F(Win32SerialTest, ClosingTwiceLeavesAPortOpenedSinceAlone) {
  Win32SerialPort port;
  Win32SerialPort other;
  ASSERT_TRUE(port.OpenPort(peer_.portName()));
  port.ClosePort();
  // Windows hands out the freed handle value again, so a second CloseHandle on
  // it would close `other`.
  ASSERT_TRUE(other.OpenPort(peer_.portName()));
  port.ClosePort();

  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(other.WriteByte(0x5A));
  EXPECT_EQ(peer_.Receive(1), Bytes{0x5A});
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

TEST(Win32SerialNoPort, WithoutAnOpenPortNothingIsWrittenOrRead) {
  Win32SerialPort port;
  EXPECT_FALSE(port.OpenPort("COM0"));
  port.ClearError();
  port.ClosePort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.WriteByte(0x01));
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_EQ(byte, 0);
  EXPECT_FALSE(SendByte(port, 0x01, [](int) {}));
}

}  // namespace
}  // namespace brintel::testing
