// The simulator's pieces that need no line: the frame it sends, the fault
// texts it reads and the timing of a paced line.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/IdentityFrame.h"
#include "sim/display/DisplayFault.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/display/PacedLine.h"

namespace brintel::sim::testing {
namespace {

using namespace std::chrono_literals;

TEST(IdentityFrame, TheToolReadsBackTheIdentityTheFrameWasBuiltFrom) {
  // Digits 00 and 05 come from bytes that wrap (0xE0 + 0x20, 0xF5 + 0x10).
  for (const std::string identity :
       {"1027262514131211", "0000000000000000", "FFFFFFFFFFFFFFFF", "00000000050505FF"}) {
    const std::optional<IdentityFrame> frame = BuildIdentityFrame(identity);
    ASSERT_TRUE(frame) << identity;
    EXPECT_TRUE(IsValidFrame(*frame)) << identity;
    EXPECT_EQ(BuildDeviceLabel(*frame).deviceId, identity);
  }
  EXPECT_EQ(BuildDeviceLabel(*BuildIdentityFrame("abcdef0123456789")).deviceId, "ABCDEF0123456789");
}

TEST(IdentityFrame, AnythingButSixteenHexDigitsIsRefused) {
  for (const std::string identity : {"", "102726251413121", "10272625141312111",
                                     "1027-2625-1413-12", "102726251413121G", " 027262514131211"}) {
    EXPECT_FALSE(BuildIdentityFrame(identity)) << identity;
  }
}

// Reading and writing back go through every field, so a number read into the
// wrong one shows here; which field the display acts on shows in its own tests.
TEST(FaultText, EveryFormIsReadAndWrittenBackTheSame) {
  for (const std::string text :
       {"ignore-probe:3", "wrong-reply:1", "short-frame:2", "invalid-frame:4", "wrong-echo:69:514",
        "retry-block:0", "stray-before-ack:7:2", "no-ack:12", "unplug-after:70",
        "unplug-after:5:250", "silent-after:20"}) {
    const FaultParseResult<Fault> parsed = ParseFault(text);
    ASSERT_TRUE(parsed.fault) << text << ": " << parsed.error;
    EXPECT_EQ(FormatFault(*parsed.fault), text);
  }
  const Fault echo = *ParseFault("wrong-echo:69:514").fault;
  EXPECT_EQ(echo.kind, FaultKind::kWrongEcho);
  EXPECT_EQ(echo.block, 69);
  EXPECT_EQ(echo.amount, 514);
  EXPECT_EQ(ParseFault("ignore-probe:3").fault->remaining, 3);
  EXPECT_EQ(ParseFault("unplug-after:5:250").fault->replugAfter, 250ms);
  EXPECT_FALSE(ParseFault("unplug-after:5").fault->replugAfter);
}

TEST(FaultText, MalformedFaultsGiveAReasonAndNoFault) {
  struct Case {
    std::string text;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"unplug", "unknown fault"},
      {"wrong-echo:1", "wrong-echo:B:POS"},
      {"no-ack:1:2", "no-ack:B"},
      {"wrong-echo:70:0", "B must be a whole number from 0 to 69"},
      {"wrong-echo:0:515", "POS must be a whole number from 0 to 514"},
      {"ignore-probe:0", "N must be"},
      {"ignore-probe:2x", "N must be"},
      {"retry-block:-1", "B must be"},
      {"unplug-after:0", "N must be a whole number from 1 to 70"},
      {"unplug-after:3:", "REPLUG_MS must be"},
  };
  for (const Case& c : cases) {
    const FaultParseResult<Fault> parsed = ParseFault(c.text);
    EXPECT_FALSE(parsed.fault) << c.text;
    EXPECT_NE(parsed.error.find(c.reason), std::string::npos) << c.text << ": " << parsed.error;
  }
}

TEST(PacedLine, BytesCrossOneByteTimeApartInEachDirectionOnItsOwn) {
  PacedLine line(9600);
  const auto byteTime = line.ByteTime();
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::microseconds>(byteTime).count(), 1041);
  const PacedLine::Clock::time_point t{1s};
  // A burst written at once arrives byte after byte; after a pause the line is idle.
  EXPECT_EQ(line.Arrival(t), t + byteTime);
  EXPECT_EQ(line.Arrival(t), t + 2 * byteTime);
  EXPECT_EQ(line.Arrival(t + byteTime), t + 3 * byteTime);
  EXPECT_EQ(line.Arrival(t + 10ms), t + 10ms + byteTime);
  // Output leaves when it is ready or when the line frees, whichever is later.
  EXPECT_EQ(line.Delivery(t), t + byteTime);
  EXPECT_EQ(line.Delivery(t), t + 2 * byteTime);
  EXPECT_EQ(line.Delivery(t + 10ms), t + 10ms + byteTime);
  line.Reset();
  EXPECT_EQ(line.Delivery(t), t + byteTime);

  PacedLine unpaced(0);
  EXPECT_EQ(unpaced.Arrival(t), t);
  EXPECT_EQ(unpaced.Arrival(t), t);
  EXPECT_EQ(unpaced.Delivery(t + 1ms), t + 1ms);
}

}  // namespace
}  // namespace brintel::sim::testing
