#include <cstddef>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "device/win32/DisplayLineSettings.h"

namespace brintel {
namespace {

// The DCB's flag bits as one word, the way the driver receives them.
std::uint32_t PackedFlags(const DCB& dcb) {
  std::uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
              sizeof flags);
  return flags;
}

DCB Filled(unsigned char byte) {
  DCB dcb;
  std::memset(&dcb, byte, sizeof dcb);
  return dcb;
}

// Named fields are set; every other flag (fTXContinueOnXoff, fErrorChar,
// fDummy2) keeps what the driver had, whether it was set or clear.
TEST(DisplayLineSettings, FlagWordKeepsOnlyTheFieldsNotNamed) {
  DCB fromSet = Filled(0xFF);
  ApplyDisplayLineSettings(fromSet);
  EXPECT_EQ(PackedFlags(fromSet), 0xFFFFC491u);

  DCB fromClear = Filled(0x00);
  ApplyDisplayLineSettings(fromClear);
  EXPECT_EQ(PackedFlags(fromClear), 0x00004011u);
}

TEST(DisplayLineSettings, LineIs9600Baud8N1AndTheRestOfTheRecordIsKept) {
  DCB dcb = Filled(0xFF);
  ApplyDisplayLineSettings(dcb);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
  // Left as read.
  EXPECT_EQ(dcb.XonLim, 0xFFFF);
  EXPECT_EQ(dcb.XoffLim, 0xFFFF);
  EXPECT_EQ(static_cast<unsigned char>(dcb.XonChar), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(dcb.EofChar), 0xFF);
  EXPECT_EQ(dcb.DCBlength, 0xFFFFFFFFu);
}

// Reads take only what is queued and never wait; a write the driver never
// completes gives the thread back after a second, whatever its length.
TEST(DisplayLineSettings, ReadsReturnAtOnceAndAWriteWithinASecond) {
  const COMMTIMEOUTS timeouts = DisplayLineTimeouts();
  EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);
}

}  // namespace
}  // namespace brintel
