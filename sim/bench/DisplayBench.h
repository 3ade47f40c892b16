#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/display/DisplayFault.h"
#include "sim/display/DisplayProtocol.h"
#include "sim/display/DisplaySimulator.h"

namespace brintel::sim {

struct BenchUnit {
  std::string identity = "1027262514131211";  // 16 hex digits
  std::vector<Fault> faults;
  // Unplugged this long after it appeared when it has not completed by then;
  // empty: the bench's default.
  std::optional<std::chrono::milliseconds> leaveAfter;
  std::string outputPath;  // the finished program is written here; empty: none
};

struct BenchUnitResult {
  std::size_t index = 0;  // in BenchOptions::units, from 0
  std::string identity;
  bool completed = false;  // it holds a whole program
  std::vector<std::uint8_t> program;
  // blocksAccepted and programsCompleted tell whether a unit left plugged in
  // was written again.
  DisplayCounters counters;
  std::optional<Clock::time_point> appearedAt;
  std::optional<Clock::time_point> completedAt;  // when its stay began
  std::optional<Clock::time_point> vanishedAt;
  std::string error;  // why it could not appear; empty when it did
};

enum class BenchEventKind { kAppeared, kCompleted, kVanished, kFailed };

struct BenchEvent {
  BenchEventKind kind = BenchEventKind::kAppeared;
  BenchUnitResult unit;  // as it was then
};

struct BenchOptions {
  std::string linkPath;  // every unit appears here
  std::vector<BenchUnit> units;
  // Kept plugged in after completing, as a person takes a while to unplug it;
  // short of the tool's last read, the final acknowledgement may be lost.
  std::chrono::milliseconds stayAfterCompletion{2000};
  std::chrono::milliseconds gap{1000};  // from one unit's vanishing to the next one's appearing
  std::chrono::milliseconds leaveAfter{30000};
  unsigned baud = 0;  // 0: bytes cross at once; else every unit paces its line at this rate
  // Called on the bench's thread, in order; it may call the bench's accessors
  // but not Stop.
  std::function<void(const BenchEvent&)> onEvent;
  // Each unit's notes, called on that unit's simulator thread.
  std::function<void(std::size_t unit, const std::string& line)> log;
};

// 16 uppercase hex digits: `base` read as a number plus `offset`, wrapping
// around; empty when `base` is not 16 hex digits.
std::string CountedIdentity(std::string_view base, std::uint64_t offset);

// A service-shop bench on one link path: plugs in one simulated display after
// another, on a thread of its own. Every public call is thread-safe.
class DisplayBench {
 public:
  // Throws std::invalid_argument when the link path is empty or an identity
  // is not 16 hex digits.
  explicit DisplayBench(BenchOptions options);
  ~DisplayBench();

  DisplayBench(const DisplayBench&) = delete;
  DisplayBench& operator=(const DisplayBench&) = delete;

  // The first unit is on the link when this returns. Throws std::system_error
  // when it cannot be made. Once per object.
  void Start();

  // Unplugs the unit present, if any; no later unit appears. Idempotent.
  void Stop();

  // True once every unit has vanished or Stop ended the run.
  bool WaitUntilDone(std::chrono::milliseconds timeout) const;

  // One per unit in order, the present one as it is now.
  std::vector<BenchUnitResult> Results() const;

 private:
  void Run();
  void Appear(std::size_t index);  // throws std::system_error
  void Attend(std::size_t index, DisplaySimulator& unit);
  void Vanish(std::size_t index);
  bool SleepUntil(Clock::time_point until);  // false once stopping
  BenchUnitResult Snapshot(std::size_t index) const;
  void Emit(BenchEventKind kind, std::size_t index) const;
  void Note(std::size_t index, const std::string& line);

  BenchOptions options_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<BenchUnitResult> results_;
  std::shared_ptr<DisplaySimulator> present_;
  std::size_t presentIndex_ = 0;
  bool woken_ = false;  // a unit noted something since the bench last looked
  bool started_ = false;
  bool stopping_ = false;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace brintel::sim
