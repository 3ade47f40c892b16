// The simulated display on a real pseudo-terminal, driven from the tool's side
// through the core's termios port: identification, blocks and the program they
// build, every fault, recovery of the receive state, unplugging and pacing.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "ToolSide.h"
#include "sim/display/DisplaySimulator.h"

namespace brintel::sim::testing {
namespace {

class SimulatedDisplay : public ::testing::Test {
 protected:
  TempDir dir;
  Bytes program = SampleProgram(7);
  std::string package = PackageFor(program);
  std::unique_ptr<DisplaySimulator> display;

  void StartDisplay(DisplayOptions options = {}) {
    display = std::make_unique<DisplaySimulator>(std::move(options));
    display->Start();
  }
  void StartWithFaults(const std::vector<std::string>& faults) {
    DisplayOptions options;
    for (const std::string& text : faults) {
      options.faults.push_back(DisplayFault(text));
    }
    StartDisplay(std::move(options));
  }
  // Probe, frame, block `index`: the echo and acknowledgement it got.
  Bytes Transfer(Tool& tool, int index) {
    if (!IsValidAnswer(tool.Probe())) {
      return {};
    }
    return tool.SendBlock(BlockOf(package, index));
  }
  Bytes Accepted(int index) const { return ExpectedEcho(BlockOf(package, index), BLOCK_ACCEPT); }
  int FiredCount(FaultKind kind) const {
    int fired = 0;
    for (const Fault& fault : display->Faults()) {
      fired += fault.kind == kind ? fault.fired : 0;
    }
    return fired;
  }
};

TEST_F(SimulatedDisplay, AnswersOnlyTheProbeWithItsIdentityFrame) {
  StartDisplay();
  Tool tool(display->PortPath());
  ASSERT_TRUE(tool.opened());
  ASSERT_TRUE(tool.Send({0x00, 0x41, PROBE_REPLY, BLOCK_ACCEPT, 0x0D}));
  EXPECT_TRUE(tool.ReceiveFor(kSilence).empty());

  const Bytes answer = tool.Probe();
  EXPECT_EQ(answer,
            (Bytes{PROBE_REPLY, 0x01, 0x02, 0x03, 0x00, 0x4E, 0x02, 0x04, 0x05, 0x06, 0x07, 0xF0}));
  EXPECT_EQ(BuildDeviceLabel(FrameOf(answer)).deviceId, kDeviceId);
  EXPECT_EQ(display->Counters().probesSeen, 1u);
  EXPECT_EQ(display->Counters().framesSent, 1u);
}

TEST_F(SimulatedDisplay, SeventyBlocksBuildTheProgramAndANewUpgradeStartsAtBlockZero) {
  DisplayOptions options;
  options.outputPath = (dir / "program.bin").string();
  StartDisplay(options);
  Tool tool(display->PortPath());
  const Bytes erased = display->Program();
  for (int b = 0; b < BLOCK_COUNT; ++b) {
    ASSERT_EQ(Transfer(tool, b), Accepted(b)) << "block " << b;
    // Blocks go out last segment first.
    ASSERT_EQ(Segment(display->Program(), 69 - b), Segment(program, 69 - b)) << "block " << b;
    ASSERT_EQ(display->Complete(), b == 69);
  }
  EXPECT_NE(erased, program);
  EXPECT_EQ(display->Program(), program);
  std::ifstream file(options.outputPath, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), program);
  EXPECT_EQ(display->ProgramsWritten(), 1u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  const Bytes next = SampleProgram(8);
  package = PackageFor(next);
  EXPECT_EQ(Transfer(tool, 0), Accepted(0));
  EXPECT_FALSE(display->Complete());
  EXPECT_EQ(Segment(display->Program(), 69), Segment(next, 69));
}

TEST_F(SimulatedDisplay, SpoiledAnswersToProbesLeaveItWaitingForTheNextProbe) {
  StartWithFaults({"ignore-probe:1", "wrong-reply:1", "short-frame:1", "invalid-frame:1"});
  Tool tool(display->PortPath());
  const Bytes good = {PROBE_REPLY, 0x01, 0x02, 0x03, 0x00, 0x4E,
                      0x02,        0x04, 0x05, 0x06, 0x07, 0xF0};

  EXPECT_TRUE(tool.Probe(kSilence).empty());
  EXPECT_EQ(tool.Probe(kSilence), Bytes{0x9D});
  EXPECT_EQ(tool.Probe(kSilence), Bytes(good.begin(), good.begin() + 8));
  Bytes invalid = good;
  invalid[5] = 0x4F;
  EXPECT_EQ(tool.Probe(), invalid);
  // Had any of them left it expecting a block, this probe would come back as
  // a one-byte echo.
  EXPECT_EQ(tool.Probe(), good);

  for (FaultKind kind : {FaultKind::kIgnoreProbe, FaultKind::kWrongReply, FaultKind::kShortFrame,
                         FaultKind::kInvalidFrame}) {
    EXPECT_EQ(FiredCount(kind), 1);
  }
  const DisplayCounters counters = display->Counters();
  EXPECT_EQ(counters.probesSeen, 5u);
  EXPECT_EQ(counters.framesSent, 1u);
  EXPECT_EQ(counters.faultsFired, 4u);
}

TEST_F(SimulatedDisplay, AWrongEchoByteEndsInARetryAndTheBlockIsNotKept) {
  StartWithFaults({"wrong-echo:0:5", "wrong-echo:1:514"});
  Tool tool(display->PortPath());
  const Bytes erased = display->Program();

  for (const auto& [block, position] : {std::pair{0, 5}, std::pair{1, 514}}) {
    Bytes expected = ExpectedEcho(BlockOf(package, block), BLOCK_RETRY);
    expected[static_cast<std::size_t>(position)] ^= 0x01;
    EXPECT_EQ(Transfer(tool, block), expected) << "block " << block;
    EXPECT_EQ(Segment(display->Program(), 69 - block), Segment(erased, 69 - block));
    EXPECT_EQ(Transfer(tool, block), Accepted(block)) << "block " << block;
  }
  EXPECT_EQ(display->Counters().retriesSent, 2u);
  EXPECT_EQ(FiredCount(FaultKind::kWrongEcho), 2);
  EXPECT_EQ(Segment(display->Program(), 68), Segment(program, 68));
}

TEST_F(SimulatedDisplay, RetryMissingAndStrayAcknowledgementsEachHitTheirBlockOnce) {
  StartWithFaults({"retry-block:0", "no-ack:0", "stray-before-ack:1:3"});
  Tool tool(display->PortPath());

  EXPECT_EQ(Transfer(tool, 0), ExpectedEcho(BlockOf(package, 0), BLOCK_RETRY));
  Bytes echoOnly = ExpectedEcho(BlockOf(package, 0), BLOCK_ACCEPT);
  echoOnly.pop_back();
  ASSERT_TRUE(IsValidAnswer(tool.Probe()));
  EXPECT_EQ(tool.SendBlock(BlockOf(package, 0), BLOCK_SIZE), echoOnly);
  EXPECT_TRUE(tool.ReceiveFor(kSilence).empty());
  EXPECT_EQ(Transfer(tool, 0), Accepted(0));

  ASSERT_TRUE(IsValidAnswer(tool.Probe()));
  Bytes stray = ExpectedEcho(BlockOf(package, 1), BLOCK_ACCEPT);
  stray.insert(stray.end() - 1, {0x00, 0x12, 0x00});
  EXPECT_EQ(tool.SendBlock(BlockOf(package, 1), stray.size()), stray);

  EXPECT_EQ(display->Counters().blocksAccepted, 2u);
  EXPECT_EQ(display->Counters().retriesSent, 1u);
  EXPECT_EQ(display->Counters().faultsFired, 3u);
  EXPECT_EQ(Segment(display->Program(), 68), Segment(program, 68));
}

TEST_F(SimulatedDisplay, SilenceDuringABlockDropsItAndTheNextProbeIsAnswered) {
  DisplayOptions options;
  options.interByteTimeout = 20ms;
  options.blockStartTimeout = 50ms;
  StartDisplay(options);
  Tool tool(display->PortPath());
  const brintel::SendBlock block = BlockOf(package, 0);

  ASSERT_TRUE(IsValidAnswer(tool.Probe()));
  ASSERT_TRUE(tool.Send(Bytes(block.begin(), block.begin() + 100)));
  EXPECT_EQ(tool.Receive(100).size(), 100u);
  std::this_thread::sleep_for(options.interByteTimeout + 20ms);
  EXPECT_TRUE(IsValidAnswer(tool.Probe()));

  std::this_thread::sleep_for(options.blockStartTimeout + 20ms);
  EXPECT_TRUE(IsValidAnswer(tool.Probe()));
  EXPECT_EQ(tool.SendBlock(block), Accepted(0));

  EXPECT_EQ(display->Counters().receiveTimeouts, 2u);
  EXPECT_EQ(display->Counters().blocksReceived, 1u);
  EXPECT_EQ(Segment(display->Program(), 69), Segment(program, 69));
}

// A pty master reads EIO while no one holds the slave: that is an absent tool,
// not the end of the line. A port closed mid-block ends the block, or the next
// tool's probe would be read as a block byte until a time-out.
TEST_F(SimulatedDisplay, KeepsAnsweringAfterTheToolClosesThePortEvenMidBlock) {
  StartDisplay();
  const brintel::SendBlock block = BlockOf(package, 1);
  {
    Tool first(display->PortPath());
    EXPECT_EQ(Transfer(first, 0), Accepted(0));
    ASSERT_TRUE(IsValidAnswer(first.Probe()));
    ASSERT_TRUE(first.Send(Bytes(block.begin(), block.begin() + 100)));
    EXPECT_EQ(first.Receive(100).size(), 100u);
  }
  EXPECT_TRUE(WaitFor([&] { return !display->ToolAttached(); }));
  Tool second(display->PortPath());
  ASSERT_TRUE(second.opened());
  EXPECT_EQ(Transfer(second, 1), Accepted(1));
  EXPECT_TRUE(display->ToolAttached());
  EXPECT_EQ(display->Counters().receiveTimeouts, 0u);
  EXPECT_EQ(Segment(display->Program(), 68), Segment(program, 68));
}

// On a given device the simulator holds a tty slave, where an empty queue must
// not read as a hang-up (with VMIN 0 it reads 0 bytes).
TEST_F(SimulatedDisplay, ServesOnAGivenSerialDevice) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  DisplayOptions options;
  options.devicePath = ::ptsname(master);
  StartDisplay(options);
  EXPECT_EQ(display->PortPath(), options.devicePath);
  const auto exchange = [master](const Bytes& out, std::size_t count) {
    EXPECT_EQ(::write(master, out.data(), out.size()), static_cast<ssize_t>(out.size()));
    Bytes in;
    const Clock::time_point end = Clock::now() + kAnswerDeadline;
    while (in.size() < count && Clock::now() < end) {
      pollfd readable{master, POLLIN, 0};
      std::array<std::uint8_t, 1024> chunk{};
      if (::poll(&readable, 1, 10) == 1) {
        const ssize_t n = ::read(master, chunk.data(), chunk.size());
        in.insert(in.end(), chunk.begin(), chunk.begin() + std::max<ssize_t>(n, 0));
      }
    }
    return in;
  };
  EXPECT_TRUE(IsValidAnswer(exchange({PROBE_BYTE}, 1 + IDENTITY_FRAME_SIZE)));
  const brintel::SendBlock block = BlockOf(package, 0);
  EXPECT_EQ(exchange(Bytes(block.begin(), block.end()), BLOCK_SIZE + 1), Accepted(0));
  display->Stop();
  ::close(master);
}

// Unplugging is a power cycle: the display comes back empty and takes the next
// block it gets as its block 0.
TEST_F(SimulatedDisplay, UnplugFailsTheToolsLineAndReplugServesAnEmptyDisplayOnTheSameLink) {
  DisplayOptions options;
  options.linkPath = (dir / "ttyUSB0").string();
  StartDisplay(options);
  ASSERT_EQ(display->PortPath(), options.linkPath);
  const Bytes erased = display->Program();
  Tool tool(options.linkPath);
  ASSERT_TRUE(tool.opened());
  EXPECT_EQ(Transfer(tool, 0), Accepted(0));
  EXPECT_EQ(Transfer(tool, 1), Accepted(1));

  display->Unplug();
  EXPECT_FALSE(tool.port().WriteByte(PROBE_BYTE));
  std::uint8_t byte = 0;
  EXPECT_FALSE(tool.port().ReadByte(byte));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(options.linkPath)));
  EXPECT_FALSE(Tool(options.linkPath).opened());

  EXPECT_EQ(display->Program(), erased);

  display->Replug();
  Tool again(options.linkPath);
  ASSERT_TRUE(again.opened());
  EXPECT_EQ(Transfer(again, 2), Accepted(2));
  EXPECT_EQ(Segment(display->Program(), 69), Segment(program, 67));  // block 2 taken as block 0
  EXPECT_EQ(Segment(display->Program(), 68), Segment(erased, 68));
}

TEST_F(SimulatedDisplay, UnplugAfterFaultHangsUpBehindTheAcknowledgementAndComesBack) {
  DisplayOptions options;
  options.linkPath = (dir / "ttyUSB0").string();
  options.faults = {DisplayFault("unplug-after:1:100")};
  StartDisplay(options);
  Tool tool(options.linkPath);
  EXPECT_EQ(Transfer(tool, 0), Accepted(0));
  EXPECT_TRUE(WaitFor([&] { return !tool.port().WriteByte(PROBE_BYTE); }));
  EXPECT_FALSE(display->Plugged());

  ASSERT_TRUE(WaitFor([&] { return display->Plugged(); }));
  Tool again(options.linkPath);
  ASSERT_TRUE(again.opened());
  EXPECT_EQ(Transfer(again, 1), Accepted(1));
  EXPECT_EQ(FiredCount(FaultKind::kUnplugAfter), 1);
}

// An adapter that stays plugged in with another display put in behind it:
// the tool's open port goes on, to a display that holds nothing.
TEST_F(SimulatedDisplay, SwapIdentityKeepsTheLineAndTheNextProbeGetsTheOtherFrame) {
  DisplayOptions options;
  options.linkPath = (dir / "ttyUSB0").string();
  StartDisplay(options);
  Tool tool(options.linkPath);
  ASSERT_TRUE(tool.opened());
  EXPECT_EQ(Transfer(tool, 0), Accepted(0));
  const Bytes erased(PROGRAM_SIZE, 0xFF);

  display->SwapIdentity("abcdef0123456789");
  EXPECT_EQ(display->PortPath(), options.linkPath);
  EXPECT_EQ(display->Identity(), "ABCDEF0123456789");
  const Bytes answer = tool.Probe();
  ASSERT_TRUE(IsValidAnswer(answer));
  EXPECT_EQ(BuildDeviceLabel(FrameOf(answer)).deviceId, "ABCDEF0123456789");
  EXPECT_EQ(display->Program(), erased);
  EXPECT_EQ(tool.SendBlock(BlockOf(package, 1)), Accepted(1));
  EXPECT_EQ(Segment(display->Program(), 69), Segment(program, 68));  // taken as block 0
  EXPECT_EQ(display->Counters().blocksAccepted, 2u);

  EXPECT_THROW(display->SwapIdentity("ABCDEF012345678"), std::invalid_argument);
  EXPECT_EQ(display->Identity(), "ABCDEF0123456789");
}

// A flood into a pty whose tool reads nothing must not spin the simulator's
// thread; one who reads gets the zeros at the line's rate.
TEST_F(SimulatedDisplay, AFloodComesAtTheLineRateAndLeavesTheThreadIdleBetweenBytes) {
  StartWithFaults({"flood"});
  Tool tool(display->PortPath());
  ASSERT_TRUE(tool.opened());
  const auto cpu = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  };
  const auto cpuBefore = cpu();
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(cpu() - cpuBefore, 100ms);

  tool.ReceiveFor(20ms);  // what piled up meanwhile
  const Clock::time_point start = Clock::now();
  const Bytes zeros = tool.ReceiveFor(300ms);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_TRUE(std::all_of(zeros.begin(), zeros.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_GT(static_cast<double>(zeros.size()), 960 * seconds * 0.7);
  EXPECT_LT(static_cast<double>(zeros.size()), 960 * seconds * 1.1 + 5);
  EXPECT_EQ(display->Counters().probesSeen, 0u);
}

// A test may point one simulator's link at another's pty; stopping the first
// must not take the second one's port away.
TEST_F(SimulatedDisplay, StopRemovesTheLinkOnlyWhileItStillPointsAtItsOwnPty) {
  DisplayOptions firstOptions;
  firstOptions.linkPath = (dir / "ttyUSB0").string();
  DisplaySimulator first(firstOptions);
  first.Start();
  DisplayOptions secondOptions;
  secondOptions.linkPath = (dir / "ttyUSB1").string();
  secondOptions.identity = "ABCDEF0123456789";
  StartDisplay(secondOptions);
  const std::filesystem::path moved = dir / "moved";
  std::filesystem::create_symlink(std::filesystem::read_symlink(secondOptions.linkPath), moved);
  std::filesystem::rename(moved, firstOptions.linkPath);

  first.Stop();
  ASSERT_TRUE(std::filesystem::is_symlink(firstOptions.linkPath));
  Tool tool(firstOptions.linkPath);
  const Bytes answer = tool.Probe();
  ASSERT_TRUE(IsValidAnswer(answer));
  EXPECT_EQ(BuildDeviceLabel(FrameOf(answer)).deviceId, "ABCDEF0123456789");

  display->Stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(secondOptions.linkPath)));
}

// The one slow test: a single block across a 9600 baud line.
TEST_F(SimulatedDisplay, PacedExchangeTakesTheLineTimeAndEchoesWhileTheBlockArrives) {
  DisplayOptions options;
  options.baud = 9600;
  StartDisplay(options);
  Tool tool(display->PortPath());
  const brintel::SendBlock block = BlockOf(package, 0);
  const auto byteTime = PacedLine(options.baud).ByteTime();

  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(IsValidAnswer(tool.Probe()));
  const Clock::time_point blockSent = Clock::now();
  ASSERT_TRUE(tool.Send(Bytes(block.begin(), block.end())));
  Bytes echo = tool.Receive(1);
  const Clock::time_point firstEcho = Clock::now();
  const Bytes rest = tool.Receive(BLOCK_SIZE);
  const Clock::time_point end = Clock::now();
  echo.insert(echo.end(), rest.begin(), rest.end());
  EXPECT_EQ(echo, Accepted(0));

  // Probe in, reply and frame out, block in, the last echo and the acknowledgement out.
  const auto floor = static_cast<int>(1 + 1 + IDENTITY_FRAME_SIZE + BLOCK_SIZE + 2) * byteTime;
  const auto took = end - start;
  EXPECT_GE(took, floor);
  EXPECT_LT(firstEcho - blockSent, static_cast<int>(BLOCK_SIZE / 2) * byteTime);
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  std::printf("paced block exchange: %.2f ms, line floor %.2f ms, overhead %.2f%%\n", ms(took),
              ms(floor), 100.0 * (ms(took) / ms(floor) - 1.0));
}

}  // namespace
}  // namespace brintel::sim::testing
