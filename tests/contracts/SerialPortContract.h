#pragma once

// What every SerialPort adapter promises on a real line, whatever drives it
// (termios, the Windows communications API): instantiate with a rig that makes
// a fresh line for each test and plays the display on its far end. A rig has
//   Port                 the adapter, default-constructible;
//   kEmptyReadBound      a read with nothing queued returns sooner;
//   kLostPortBound       a write and a read on a lost line fail sooner;
//   PortName()           what OpenPort takes;
//   Send(bytes)          sends as the display, returns how many then wait at the port;
//   Receive(count)       what the port sent, once `count` came or a deadline passed;
//   AwaitInput()         waits a few milliseconds at most, less when input comes;
//   HangUp()             unplugs the display.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <numeric>
#include <vector>

#include "device/SerialLink.h"

namespace brintel::testing {

using Bytes = std::vector<std::uint8_t>;

template <typename Rig>
class SerialPortContract : public ::testing::Test {
 protected:
  using Port = typename Rig::Port;
  using Clock = std::chrono::steady_clock;

  // Polls the port the way the engine does until `count` bytes have come or
  // the deadline has passed.
  Bytes ReadFromPort(Port& port, std::size_t count) {
    Bytes received;
    const auto deadline = Clock::now() + std::chrono::seconds{2};
    while (received.size() < count && Clock::now() < deadline) {
      std::uint8_t byte = 0;
      if (port.ReadByte(byte)) {
        received.push_back(byte);
      } else {
        rig.AwaitInput();
      }
    }
    return received;
  }

  static Bytes AllByteValues() {
    Bytes all(256);
    std::iota(all.begin(), all.end(), std::uint8_t{0});
    return all;
  }

  Rig rig;
};

TYPED_TEST_SUITE_P(SerialPortContract);

// A line that starts cooked (the POSIX rig's pty) shows any mode left on: CR/LF
// mapping, XON/XOFF swallowed, line editing on 0x7F, 0x03 taken as a signal.
TYPED_TEST_P(SerialPortContract, EveryByteValueCrossesBothWaysUntranslated) {
  typename TestFixture::Port port;
  ASSERT_TRUE(port.OpenPort(this->rig.PortName()));
  const Bytes all = TestFixture::AllByteValues();

  for (const std::uint8_t byte : all) {
    ASSERT_TRUE(port.WriteByte(byte)) << int{byte};
  }
  EXPECT_EQ(this->rig.Receive(256), all);

  EXPECT_EQ(this->rig.Send(all), 256u);
  EXPECT_EQ(this->ReadFromPort(port, 256), all);
}

TYPED_TEST_P(SerialPortContract, ReadNeverWaitsAndDropsWhatTheDisplaySentBeforeTheOpen) {
  // Ended by a newline: a cooked line hands over whole lines only.
  ASSERT_EQ(this->rig.Send({'s', 't', 'a', 'l', 'e', '\n'}), 6u)
      << "stale bytes never reached the port";

  typename TestFixture::Port port;
  ASSERT_TRUE(port.OpenPort(this->rig.PortName()));
  std::uint8_t byte = 0xAA;
  const auto start = TestFixture::Clock::now();
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_LT(TestFixture::Clock::now() - start, TypeParam::kEmptyReadBound);
  EXPECT_EQ(byte, 0);

  // Stale bytes left in the queue would come before this one.
  ASSERT_EQ(this->rig.Send({0x42}), 1u);
  EXPECT_EQ(this->ReadFromPort(port, 1), Bytes{0x42});
}

// Writes must fail at once rather than block the tick.
TYPED_TEST_P(SerialPortContract, AfterTheDisplayIsUnpluggedWritesAndReadsFailAtOnce) {
  typename TestFixture::Port port;
  ASSERT_TRUE(port.OpenPort(this->rig.PortName()));
  this->rig.HangUp();

  const auto start = TestFixture::Clock::now();
  EXPECT_FALSE(port.WriteByte(0x01));
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_EQ(byte, 0);
  EXPECT_LT(TestFixture::Clock::now() - start, TypeParam::kLostPortBound);
}

// The core's two helpers on a real line: DrainInput takes what is queued and
// tells how many, and SendByte gives a lost line up within its limit.
TYPED_TEST_P(SerialPortContract, DrainInputTakesWhatCameAndSendByteGivesALostLineUp) {
  typename TestFixture::Port port;
  ASSERT_TRUE(port.OpenPort(this->rig.PortName()));
  ASSERT_EQ(this->rig.Send(Bytes(300, 0x9C)), 300u);
  EXPECT_EQ(DrainInput(port), 300u);
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
  ASSERT_EQ(this->rig.Send({0x42}), 1u);
  EXPECT_EQ(this->ReadFromPort(port, 1), Bytes{0x42});

  this->rig.HangUp();
  const auto start = TestFixture::Clock::now();
  int pauses = 0;
  EXPECT_FALSE(SendByte(port, 0x63, [&](int) { ++pauses; }));
  EXPECT_LE(pauses, SEND_RETRY_LIMIT_MS);
  EXPECT_LT(TestFixture::Clock::now() - start,
            std::chrono::milliseconds{SEND_RETRY_LIMIT_MS} + TypeParam::kLostPortBound);
}

// The system hands out a freed descriptor or handle value again, so a second
// close on it would close `other`.
TYPED_TEST_P(SerialPortContract, ClosingTwiceLeavesAPortOpenedSinceAlone) {
  typename TestFixture::Port port;
  typename TestFixture::Port other;
  ASSERT_TRUE(port.OpenPort(this->rig.PortName()));
  port.ClosePort();
  ASSERT_TRUE(other.OpenPort(this->rig.PortName()));
  port.ClosePort();

  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(other.WriteByte(0x5A));
  EXPECT_EQ(this->rig.Receive(1), Bytes{0x5A});
}

TYPED_TEST_P(SerialPortContract, WithoutAnOpenPortNothingIsWrittenOrRead) {
  typename TestFixture::Port port;
  port.ClearError();
  port.ClosePort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.WriteByte(0x01));
  std::uint8_t byte = 0xAA;
  EXPECT_FALSE(port.ReadByte(byte));
  EXPECT_EQ(byte, 0);
}

REGISTER_TYPED_TEST_SUITE_P(SerialPortContract, EveryByteValueCrossesBothWaysUntranslated,
                            ReadNeverWaitsAndDropsWhatTheDisplaySentBeforeTheOpen,
                            AfterTheDisplayIsUnpluggedWritesAndReadsFailAtOnce,
                            DrainInputTakesWhatCameAndSendByteGivesALostLineUp,
                            ClosingTwiceLeavesAPortOpenedSinceAlone,
                            WithoutAnOpenPortNothingIsWrittenOrRead);

}  // namespace brintel::testing
