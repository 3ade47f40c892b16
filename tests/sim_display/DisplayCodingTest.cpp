// The simulator's pieces that need no line: the frame it sends, the fault
// texts it reads, the timing of a paced line and the display's own clock.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ToolSide.h"
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
        "unplug-after:5:250", "silent-after:20", "swap-after:0:ABCDEF0123456789",
        "swap-after:70:abcdef0123456789:500", "babble-after:1", "flood"}) {
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
  const Fault swap = *ParseFault("swap-after:70:ABCDEF0123456789:500").fault;
  EXPECT_EQ(swap.block, 70);
  EXPECT_EQ(swap.identity, "ABCDEF0123456789");
  EXPECT_EQ(swap.swapAfter, 500ms);
  EXPECT_FALSE(swap.replugAfter);
  EXPECT_FALSE(ParseFault("swap-after:3:ABCDEF0123456789").fault->swapAfter);
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
      {"swap-after:5", "swap-after:B:IDENTITY[:MS]"},
      {"swap-after:71:ABCDEF0123456789", "B must be a whole number from 0 to 70"},
      {"swap-after:5:ABCDEF012345678", "IDENTITY must be 16 hexadecimal digits"},
      {"swap-after:5:ABCDEF012345678G:10", "IDENTITY must be"},
      {"swap-after:5:ABCDEF0123456789:x", "MS must be"},
      {"babble-after:71", "B must be"},
      {"flood:1", "must be written flood"},
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

// The display model alone, on a clock the test moves.
class Model {
 public:
  explicit Model(const std::vector<std::string>& faults) : display_(SettingsWith(faults, now_)) {}

  DisplayProtocol& display() { return display_; }
  Clock::time_point now() const { return now_; }

  Bytes Send(const Bytes& bytes) {
    Bytes answer;
    for (const std::uint8_t byte : bytes) {
      reaction_.Clear();
      display_.OnByte(byte, now_, reaction_);
      answer.insert(answer.end(), reaction_.bytes.begin(), reaction_.bytes.end());
    }
    return answer;
  }
  Bytes Probe() { return Send({PROBE_BYTE}); }
  // Probe, frame, block `index`: the echo and acknowledgement it got.
  Bytes Transfer(const std::string& package, int index) {
    const Bytes answer = Probe();
    if (!IsValidAnswer(answer)) {
      return answer;
    }
    const brintel::SendBlock block = BlockOf(package, index);
    return Send(Bytes(block.begin(), block.end()));
  }
  // What the display sends while the clock moves `total` in steps of `step`.
  Bytes Wait(Clock::duration total, Clock::duration step) {
    Bytes sent;
    for (Clock::duration moved{}; moved < total; moved += step) {
      now_ += std::min(step, total - moved);
      reaction_.Clear();
      display_.OnClock(now_, reaction_);
      sent.insert(sent.end(), reaction_.bytes.begin(), reaction_.bytes.end());
    }
    return sent;
  }
  Bytes Wait(Clock::duration total) { return Wait(total, total); }

 private:
  static DisplayProtocol::Settings SettingsWith(const std::vector<std::string>& faults,
                                                Clock::time_point poweredAt) {
    DisplayProtocol::Settings settings;
    settings.frame = *BuildIdentityFrame(kDeviceId);
    for (const std::string& text : faults) {
      settings.faults.push_back(DisplayFault(text));
    }
    settings.poweredAt = poweredAt;
    return settings;
  }

  Clock::time_point now_{std::chrono::hours(1)};
  DisplayProtocol display_;
  DisplayProtocol::Reaction reaction_;
};

const std::string kOtherId = "ABCDEF0123456789";

class DisplayClock : public ::testing::Test {
 protected:
  Bytes program = SampleProgram(11);
  std::string package = PackageFor(program);
  Bytes Accepted(int index) const { return ExpectedEcho(BlockOf(package, index), BLOCK_ACCEPT); }
};

// The swap waits for its time and for the clock: the tool gets the fifth
// acknowledgement, the sixth block is cut off midway, the same line then
// answers with the other frame and the display there holds nothing.
TEST_F(DisplayClock, SwapAfterLosesTheBlocksAndTheSameLineAnswersWithTheOtherFrame) {
  Model model({"swap-after:5:" + kOtherId + ":50"});
  for (int b = 0; b < 5; ++b) {
    ASSERT_EQ(model.Transfer(package, b), Accepted(b)) << "block " << b;
  }
  const brintel::SendBlock block = BlockOf(package, 5);
  ASSERT_TRUE(IsValidAnswer(model.Probe()));
  EXPECT_EQ(model.Send(Bytes(block.begin(), block.begin() + 100)).size(), 100u);
  EXPECT_TRUE(model.Wait(49ms).empty());
  EXPECT_EQ(model.display().AcceptedBlocks(), 5);
  EXPECT_TRUE(model.Wait(1ms).empty());

  EXPECT_TRUE(model.display().AwaitingProbe());  // the sixth block is gone
  EXPECT_EQ(model.display().AcceptedBlocks(), 0);
  EXPECT_EQ(model.display().Program(), Bytes(PROGRAM_SIZE, 0xFF));
  const Bytes answer = model.Probe();
  ASSERT_TRUE(IsValidAnswer(answer));
  EXPECT_EQ(BuildDeviceLabel(FrameOf(answer)).deviceId, kOtherId);
  EXPECT_EQ(model.display().Counters().blocksAccepted, 5u);
}

TEST_F(DisplayClock, SwapAfterTheProgramLetsTheNextDisplayBeWrittenToo) {
  Model model({"swap-after:70:" + kOtherId + ":500"});
  for (int b = 0; b < BLOCK_COUNT; ++b) {
    ASSERT_EQ(model.Transfer(package, b), Accepted(b)) << "block " << b;
  }
  EXPECT_TRUE(model.Wait(499ms, 5ms).empty());
  EXPECT_TRUE(model.display().Complete());
  EXPECT_EQ(model.display().Program(), program);
  model.Wait(1ms);
  EXPECT_FALSE(model.display().Complete());
  EXPECT_EQ(BuildDeviceLabel(model.display().Frame()).deviceId, kOtherId);

  for (int b = 0; b < BLOCK_COUNT; ++b) {
    ASSERT_EQ(model.Transfer(package, b), Accepted(b)) << "block " << b;
  }
  EXPECT_TRUE(model.display().Complete());
  EXPECT_EQ(model.display().Counters().programsCompleted, 2u);
  EXPECT_EQ(model.display().Counters().faultsFired, 1u);
}

// 960 bytes a second however coarse the clock, and nothing else until the
// power goes: no echo, no acknowledgement, no answer to a probe.
TEST_F(DisplayClock, BabbleAfterAnswersOnceThenSendsZerosAtTheLineRateUntilAPowerCycle) {
  for (const Clock::duration step : {Clock::duration(5ms), Clock::duration(2s)}) {
    Model model({"babble-after:1"});
    ASSERT_EQ(model.Transfer(package, 0), Accepted(0));
    EXPECT_TRUE(IsValidAnswer(model.Probe()));
    EXPECT_EQ(model.Wait(2s, step), Bytes(1920, 0x00));
    const brintel::SendBlock block = BlockOf(package, 1);
    EXPECT_TRUE(model.Send(Bytes(block.begin(), block.end())).empty());
    EXPECT_TRUE(model.Probe().empty());
    EXPECT_EQ(model.Wait(1s), Bytes(960, 0x00));
    // It wants waking for its next byte, not before and not much later.
    const std::optional<Clock::time_point> next = model.display().NextEvent();
    ASSERT_TRUE(next);
    EXPECT_GT(*next, model.now());
    EXPECT_LE(*next, model.now() + 2ms);

    DisplayProtocol::Reaction reaction;
    model.display().OnPowerLost(reaction);
    EXPECT_TRUE(model.Wait(1s).empty());
    EXPECT_TRUE(IsValidAnswer(model.Probe()));
  }
}

TEST_F(DisplayClock, FloodSendsZerosFromPowerOnAndAgainAfterEachPowerCycle) {
  for (const Clock::duration step : {Clock::duration(5ms), Clock::duration(2s)}) {
    Model model({"flood"});
    EXPECT_EQ(model.Wait(2s, step), Bytes(1920, 0x00));
    EXPECT_TRUE(model.Probe().empty());
    EXPECT_EQ(model.display().Counters().probesSeen, 0u);

    DisplayProtocol::Reaction reaction;
    model.display().OnPowerLost(reaction);
    model.Wait(1ms);  // powered again from here
    EXPECT_EQ(model.Wait(1s, step), Bytes(960, 0x00));
    EXPECT_TRUE(model.Probe().empty());
  }
}

}  // namespace
}  // namespace brintel::sim::testing
