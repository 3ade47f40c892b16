// The bench on real pseudo-terminals, driven from the tool's side: units come
// one after another on one link, each with its own identity, stay after
// completing and leave when they never complete.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>

#include <gtest/gtest.h>

#include "ToolSide.h"
#include "sim/bench/DisplayBench.h"

namespace brintel::sim::testing {
namespace {

using Event = std::pair<std::size_t, BenchEventKind>;
constexpr auto kAppeared = BenchEventKind::kAppeared;
constexpr auto kCompleted = BenchEventKind::kCompleted;
constexpr auto kVanished = BenchEventKind::kVanished;

class SimulatedBench : public ::testing::Test {
 protected:
  TempDir dir;
  std::string link = (dir / "ttyUSB0").string();
  Bytes program = SampleProgram(11);
  std::string package = PackageFor(program);
  std::unique_ptr<DisplayBench> bench;
  std::mutex eventsMutex;
  std::vector<Event> events;

  static BenchUnit Unit(std::string identity) {
    BenchUnit unit;
    unit.identity = std::move(identity);
    return unit;
  }
  BenchOptions Options(std::vector<BenchUnit> units) const {
    BenchOptions options;
    options.linkPath = link;
    options.units = std::move(units);
    return options;
  }
  void StartBench(BenchOptions options) {
    options.onEvent = [this](const BenchEvent& event) {
      std::lock_guard lock(eventsMutex);
      events.emplace_back(event.unit.index, event.kind);
    };
    bench = std::make_unique<DisplayBench>(std::move(options));
    bench->Start();
  }
  BenchUnitResult Result(std::size_t index) const { return bench->Results().at(index); }
  bool LinkThere() const { return std::filesystem::exists(std::filesystem::symlink_status(link)); }
  std::vector<Event> Events() {
    std::lock_guard lock(eventsMutex);
    return events;
  }
  // The identity in the first answer; empty unless all 70 blocks were accepted.
  std::string Upgrade(Tool& tool) {
    std::string identity;
    for (int b = 0; b < BLOCK_COUNT; ++b) {
      const Bytes answer = tool.Probe();
      const brintel::SendBlock block = BlockOf(package, b);
      if (!IsValidAnswer(answer) || tool.SendBlock(block) != ExpectedEcho(block, BLOCK_ACCEPT)) {
        return {};
      }
      identity = b == 0 ? BuildDeviceLabel(FrameOf(answer)).deviceId : identity;
    }
    return identity;
  }
};

TEST_F(SimulatedBench, UnitsComeOneAfterAnotherWithTheirOwnIdentityAndStayAfterCompletingOnce) {
  BenchOptions options = Options({Unit("1027262514131211"), Unit("10272625141312AB")});
  options.units[0].outputPath = (dir / "first.bin").string();
  options.stayAfterCompletion = 300ms;
  options.gap = 500ms;
  StartBench(options);
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitFor([&] { return Result(i).appearedAt.has_value(); }, 3s)) << i;
    {
      Tool tool(link);
      ASSERT_TRUE(tool.opened()) << i;
      EXPECT_EQ(Upgrade(tool), options.units[i].identity);
      // Left plugged in: a station probing it again finds the same unit.
      const Bytes answer = tool.Probe();
      ASSERT_TRUE(IsValidAnswer(answer)) << i;
      EXPECT_EQ(BuildDeviceLabel(FrameOf(answer)).deviceId, options.units[i].identity);
    }
    ASSERT_TRUE(WaitFor([&] { return Result(i).vanishedAt.has_value(); }, 3s)) << i;
    EXPECT_FALSE(LinkThere()) << i;
    EXPECT_FALSE(i == 0 && Result(1).appearedAt.has_value());
  }
  ASSERT_TRUE(bench->WaitUntilDone(3s));

  const std::vector<BenchUnitResult> results = bench->Results();
  for (const BenchUnitResult& unit : results) {
    EXPECT_TRUE(unit.completed) << unit.index;
    EXPECT_EQ(unit.program, program) << unit.index;
    EXPECT_EQ(unit.counters.blocksAccepted, 70u) << unit.index;
    EXPECT_EQ(unit.counters.programsCompleted, 1u) << unit.index;
    EXPECT_EQ(unit.counters.framesSent, 71u) << unit.index;
    EXPECT_GE(*unit.vanishedAt - *unit.completedAt, options.stayAfterCompletion) << unit.index;
    EXPECT_LT(*unit.vanishedAt - *unit.completedAt, options.stayAfterCompletion + 1s);
  }
  EXPECT_GE(*results[1].appearedAt - *results[0].vanishedAt, options.gap);
  std::ifstream file(options.units[0].outputPath, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(file), {}), program);
  EXPECT_EQ(Events(), (std::vector<Event>{{0, kAppeared},
                                          {0, kCompleted},
                                          {0, kVanished},
                                          {1, kAppeared},
                                          {1, kCompleted},
                                          {1, kVanished}}));
}

TEST_F(SimulatedBench, AUnitThatNeverCompletesLeavesAfterItsOwnLeaveAfterOrTheBenchDefault) {
  BenchUnit refused = Unit("1027262514131211");
  refused.faults = {DisplayFault("no-ack:0")};
  refused.leaveAfter = 300ms;
  BenchOptions options = Options({refused, Unit("1027262514131212")});
  options.leaveAfter = 1500ms;
  options.gap = 100ms;
  StartBench(options);
  {
    Tool tool(link);
    ASSERT_TRUE(IsValidAnswer(tool.Probe()));
    EXPECT_EQ(tool.SendBlock(BlockOf(package, 0), BLOCK_SIZE + 1).size(), BLOCK_SIZE);
  }
  ASSERT_TRUE(bench->WaitUntilDone(5s));

  const std::vector<BenchUnitResult> results = bench->Results();
  EXPECT_FALSE(results[0].completed);
  EXPECT_EQ(results[0].counters.blocksReceived, 1u);
  EXPECT_EQ(results[0].counters.blocksAccepted, 0u);
  EXPECT_GE(*results[0].vanishedAt - *results[0].appearedAt, 300ms);
  EXPECT_LT(*results[0].vanishedAt - *results[0].appearedAt, 1000ms);
  EXPECT_FALSE(results[1].completed);
  EXPECT_GE(*results[1].vanishedAt - *results[1].appearedAt, 1500ms);
  EXPECT_FALSE(results[1].completedAt.has_value());
}

TEST_F(SimulatedBench, StopUnplugsThePresentUnitAndNoOtherComes) {
  BenchOptions options = Options({Unit("1027262514131211"), Unit("1027262514131212")});
  options.gap = 0ms;
  StartBench(options);
  EXPECT_TRUE(LinkThere());
  EXPECT_FALSE(bench->WaitUntilDone(0ms));
  bench->Stop();
  EXPECT_TRUE(bench->WaitUntilDone(0ms));
  EXPECT_FALSE(LinkThere());
  EXPECT_FALSE(Result(1).appearedAt.has_value());
  EXPECT_EQ(Events(), (std::vector<Event>{{0, kAppeared}, {0, kVanished}}));
}

}  // namespace
}  // namespace brintel::sim::testing
