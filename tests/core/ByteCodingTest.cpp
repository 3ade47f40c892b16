// The byte-level codings of the display protocol: the identity frame, the
// scrambling of program bytes, and the preparation of a block.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "device/IdentityFrame.h"
#include "device/PermuteByte.h"
#include "device/SendBlock.h"
#include "server/ProgramPackage.h"
#include "sim/display/LineUnscrambling.h"

namespace brintel {
namespace {

// Arrival order is slot 10 first, slot 0 last.
IdentityFrame FrameFromArrival(std::initializer_list<std::uint8_t> arrival) {
  IdentityFrame frame{};
  std::size_t slot = IDENTITY_FRAME_SIZE;
  for (const std::uint8_t byte : arrival) {
    frame[--slot] = byte;
  }
  return frame;
}

TEST(IdentityFrame, WorkedExampleGivesIdAndLabel) {
  const IdentityFrame frame =
      FrameFromArrival({0x01, 0x02, 0x03, 0x00, 0x4E, 0x02, 0x04, 0x05, 0x06, 0x07, 0xF0});
  EXPECT_TRUE(IsValidFrame(frame));
  const DeviceIdentity identity = BuildDeviceLabel(frame);
  EXPECT_EQ(identity.deviceId, "1027262514131211");
  EXPECT_EQ(identity.deviceLabel, "(sn=1027-2625-1413-1211)");
}

TEST(IdentityFrame, OffsetsWrapAroundModulo256) {
  IdentityFrame frame{};
  frame.fill(0xE0);
  frame[4] = frame[8] = frame[9] = frame[10] = 0xF5;
  frame[5] = 0x02;
  frame[6] = 0x4E;
  frame[7] = 0x00;
  EXPECT_EQ(BuildDeviceLabel(frame).deviceId, "0000000005050505");
}

TEST(IdentityFrame, EachFixedByteIsChecked) {
  IdentityFrame frame = FrameFromArrival({1, 2, 3, 0x00, 0x4E, 0x02, 4, 5, 6, 7, 8});
  ASSERT_TRUE(IsValidFrame(frame));
  for (const std::size_t slot : {5u, 6u, 7u}) {
    IdentityFrame broken = frame;
    broken[slot] ^= 0x01;
    EXPECT_FALSE(IsValidFrame(broken)) << "slot " << slot;
  }
}

TEST(PermuteByte, KnownValues) {
  EXPECT_EQ(PermuteByte(0x00), 0xCC);
  EXPECT_EQ(PermuteByte(0xFF), 0x33);
  EXPECT_EQ(PermuteByte(0x35), 0x00);
  EXPECT_EQ(PermuteByte(0x01), 0x4C);
  EXPECT_EQ(PermuteByte(0x80), 0xEC);
}

// Each input bit alone, against the bit table: the sample values above leave
// several pairs of bits indistinguishable.
TEST(PermuteByte, EveryInputBitTravelsAsTheTableSays) {
  struct Row {
    int input;
    int output;
    bool inverted;
  };
  const Row table[] = {{0, 7, true}, {1, 1, false}, {2, 2, true},  {3, 4, false},
                       {4, 3, true}, {5, 6, true},  {6, 0, false}, {7, 5, false}};
  for (const Row& row : table) {
    SCOPED_TRACE("input bit " + std::to_string(row.input));
    const auto alone = static_cast<std::uint8_t>(1u << row.input);
    EXPECT_EQ(PermuteByte(alone) ^ PermuteByte(0), 1 << row.output);
    EXPECT_EQ(((PermuteByte(0) >> row.output) & 1) != 0, row.inverted);
  }
}

TEST(PermuteByte, IsABijectionThatTheDisplayUndoes) {
  std::set<int> outputs;
  for (int value = 0; value < 256; ++value) {
    const auto byte = static_cast<std::uint8_t>(value);
    outputs.insert(PermuteByte(byte));
    EXPECT_EQ(sim::UnscrambleByte(PermuteByte(byte)), byte);
  }
  EXPECT_EQ(outputs.size(), 256u);
}

TEST(ReadDigitPair, ReadsTheLeadingRunOfHexDigits) {
  EXPECT_EQ(ReadDigitPair("5A", 0), 0x5A);
  EXPECT_EQ(ReadDigitPair("ff", 0), 0xFF);
  EXPECT_EQ(ReadDigitPair("aG", 0), 0x0A);
  EXPECT_EQ(ReadDigitPair(" 5", 0), 0);
  EXPECT_EQ(ReadDigitPair("-5", 0), 0);
  EXPECT_EQ(ReadDigitPair("G5", 0), 0);
  EXPECT_EQ(ReadDigitPair("12C", 2), 0x0C);  // only the first character exists
  EXPECT_EQ(ReadDigitPair("12", 2), 0);      // neither exists
  EXPECT_EQ(ReadDigitPair("12", 40), 0);
}

// A package text whose payload byte p is written as the digits of `byteAt(p)`.
std::string MakePackage(const std::string& head, std::uint8_t (*byteAt)(int)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = head;
  for (int p = 0; p < PAYLOAD_DIGITS / 2; ++p) {
    const std::uint8_t value = byteAt(p);
    text += kHex[value >> 4];
    text += kHex[value & 0x0F];
  }
  return text;
}

TEST(PrepareBlock, FirstBlockCarriesTheLastSegmentLastBlockTheFirst) {
  // Each payload byte is its segment number, so the block shows where it was read.
  const std::string text = MakePackage("0123456789ABCDEFtitle_139140",
                                       [](int p) { return static_cast<std::uint8_t>(p / 515); });
  const auto u = static_cast<std::ptrdiff_t>(text.find('_'));
  ASSERT_EQ(u, 21);
  const std::string zeroId(16, '0');
  const std::string zeroKey(1, '\0');

  const SendBlock first = PrepareBlock(text, u + PAYLOAD_OFFSET, 0, zeroId, zeroKey);
  const SendBlock last = PrepareBlock(text, u + PAYLOAD_OFFSET, 69, zeroId, zeroKey);
  for (const std::uint8_t byte : first) {
    ASSERT_EQ(sim::UnscrambleByte(byte), 69);
  }
  for (const std::uint8_t byte : last) {
    ASSERT_EQ(sim::UnscrambleByte(byte), 0);
  }
}

TEST(PrepareBlock, BlockPositionsGoOutInReverseAndTextPositionsMatchTheWorkedExample) {
  // Title of 3 bytes: u = 19; block 0 reads 71096..72125, block 69 reads 26..1055.
  EXPECT_EQ(BlockDigitPosition(26, 0, 0), 71096);
  EXPECT_EQ(BlockDigitPosition(26, 0, 514) + 1, 72125);
  EXPECT_EQ(BlockDigitPosition(26, 69, 0), 26);
  EXPECT_EQ(BlockDigitPosition(26, 69, 514) + 1, 1055);

  const std::string text = MakePackage("0123456789ABCDEFabc_134135",
                                       [](int p) { return static_cast<std::uint8_t>(p % 251); });
  const std::string zeroId(16, '0');
  const SendBlock block = PrepareBlock(text, 26, 0, zeroId, std::string(1, '\0'));
  // The first byte on the wire is payload byte 36049, the last of block 0 is 35535.
  EXPECT_EQ(sim::UnscrambleByte(block[0]), 36049 % 251);
  EXPECT_EQ(sim::UnscrambleByte(block[514]), 35535 % 251);
}

TEST(PrepareBlock, KeysComeFromDeviceIdThenCycleBackwardsThroughListKey) {
  // An all-zero payload makes every prepared byte the scrambled negated key.
  const std::string text =
      MakePackage("0000000000000000_134134", [](int) { return std::uint8_t{0}; });
  const std::string deviceId = "0102030405060708";
  const std::string listKey = "\x10\x20\x30";
  const SendBlock block = PrepareBlock(text, 23, 5, deviceId, listKey);
  const auto keyAt = [&](int n) {
    return static_cast<std::uint8_t>(
        -sim::UnscrambleByte(block[514 - static_cast<std::size_t>(n)]));
  };
  for (int n = 0; n < 8; ++n) {
    EXPECT_EQ(keyAt(n), n + 1) << "position " << n;
  }
  EXPECT_EQ(keyAt(8), 0x30);
  EXPECT_EQ(keyAt(9), 0x20);
  EXPECT_EQ(keyAt(10), 0x10);
  EXPECT_EQ(keyAt(11), 0x30);
  const int cycle[3] = {0x30, 0x20, 0x10};
  EXPECT_EQ(keyAt(514), cycle[(514 - 8) % 3]);

  const SendBlock oneByteKey = PrepareBlock(text, 23, 5, deviceId, "\x7F");
  for (int n = 8; n < 515; ++n) {
    ASSERT_EQ(sim::UnscrambleByte(oneByteKey[514 - static_cast<std::size_t>(n)]), 0x81);
  }
}

TEST(PrepareBlock, ZeroPairWithZeroKeyGoesOutAs0xCC) {
  const std::string text =
      MakePackage("0000000000000000_134134", [](int) { return std::uint8_t{0}; });
  const SendBlock block = PrepareBlock(text, 23, 0, std::string(16, '0'), "K");
  EXPECT_EQ(block[514], 0xCC);
  EXPECT_EQ(static_cast<std::uint8_t>(~block[514]), 0x33);  // the echo the display must send
}

TEST(PrepareBlock, DigitsMissingAtTheEndReadAsZero) {
  // Block 0 reads the tail of the payload; cut the text inside it.
  std::string text = MakePackage("0000000000000000_134134", [](int) { return std::uint8_t{0x11}; });
  text.resize(
      static_cast<std::size_t>(BlockDigitPosition(23, 0, 514) + 1));  // one digit of the last pair
  const SendBlock block = PrepareBlock(text, 23, 0, std::string(16, '0'), std::string(1, '\0'));
  EXPECT_EQ(sim::UnscrambleByte(block[0]), 0x01);
  EXPECT_EQ(sim::UnscrambleByte(block[1]), 0x11);
}

}  // namespace
}  // namespace brintel
