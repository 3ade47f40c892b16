#include "sim/bench/DisplayBench.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "device/SendBlock.h"

namespace brintel::sim {
namespace {

using namespace std::chrono_literals;

// Each unit's notes wake the bench at once; this only bounds a missed one.
constexpr auto kLookAgain = 50ms;

void Refresh(BenchUnitResult& result, const DisplaySimulator& unit) {
  result.counters = unit.Counters();
  result.program = unit.Program();
  // Complete() clears at the next probe; the counter keeps it.
  result.completed = result.counters.programsCompleted > 0;
}

}  // namespace

std::string CountedIdentity(std::string_view base, std::uint64_t offset) {
  if (!BuildIdentityFrame(base)) {
    return {};
  }
  std::uint64_t value = 0;
  for (const char c : base) {
    value = value << 4 | static_cast<std::uint64_t>(HexDigitValue(c));
  }
  value += offset;
  std::string text(16, '0');
  for (auto digit = text.rbegin(); digit != text.rend(); ++digit) {
    *digit = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  }
  return text;
}

DisplayBench::DisplayBench(BenchOptions options) : options_(std::move(options)) {
  if (options_.linkPath.empty()) {
    throw std::invalid_argument("a bench needs a link path");
  }
  for (std::size_t i = 0; i < options_.units.size(); ++i) {
    const std::string& identity = options_.units[i].identity;
    if (!BuildIdentityFrame(identity)) {
      throw std::invalid_argument("identity '" + identity + "' is not 16 hexadecimal digits");
    }
    BenchUnitResult& result = results_.emplace_back();
    result.index = i;
    result.identity = identity;
  }
}

DisplayBench::~DisplayBench() {
  Stop();
}

void DisplayBench::Start() {
  {
    std::lock_guard lock(mutex_);
    if (started_ || stopping_) {
      throw std::logic_error("a display bench starts once");
    }
    started_ = true;
    done_ = options_.units.empty();
  }
  if (options_.units.empty()) {
    return;
  }
  try {
    Appear(0);
  } catch (const std::exception& error) {
    std::lock_guard lock(mutex_);
    results_[0].error = error.what();
    done_ = true;
    throw;
  }
  thread_ = std::thread(&DisplayBench::Run, this);
}

void DisplayBench::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool DisplayBench::WaitUntilDone(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return done_; });
}

// A unit's simulator takes the bench's lock only from its log, never holding
// its own: asking it under the bench's lock cannot deadlock.
std::vector<BenchUnitResult> DisplayBench::Results() const {
  std::lock_guard lock(mutex_);
  std::vector<BenchUnitResult> results = results_;
  if (present_) {
    Refresh(results[presentIndex_], *present_);
  }
  return results;
}

BenchUnitResult DisplayBench::Snapshot(std::size_t index) const {
  std::lock_guard lock(mutex_);
  BenchUnitResult result = results_[index];
  if (present_ && presentIndex_ == index) {
    Refresh(result, *present_);
  }
  return result;
}

void DisplayBench::Run() {
  for (std::size_t i = 0; i < options_.units.size(); ++i) {
    if (i > 0) {
      const Clock::time_point end = Clock::now() + options_.gap;
      bool stopped = false;
      do {  // at least once, so that no unit appears after Stop even without a gap
        stopped = !SleepUntil(end);
      } while (!stopped && Clock::now() < end);
      if (stopped) {
        break;
      }
      try {
        Appear(i);
      } catch (const std::exception& error) {
        {
          std::lock_guard lock(mutex_);
          results_[i].error = error.what();
        }
        Emit(BenchEventKind::kFailed, i);
        continue;
      }
    }
    Emit(BenchEventKind::kAppeared, i);
    // Only this thread replaces the present unit.
    Attend(i, *present_);
    Vanish(i);
  }
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  changed_.notify_all();
}

void DisplayBench::Appear(std::size_t index) {
  const BenchUnit& planned = options_.units[index];
  DisplayOptions display;
  display.identity = planned.identity;
  display.linkPath = options_.linkPath;
  display.baud = options_.baud;
  display.faults = planned.faults;
  display.outputPath = planned.outputPath;
  display.log = [this, index](const std::string& line) { Note(index, line); };
  auto unit = std::make_shared<DisplaySimulator>(std::move(display));
  unit->Start();
  std::lock_guard lock(mutex_);
  present_ = std::move(unit);
  presentIndex_ = index;
  results_[index].appearedAt = Clock::now();
}

void DisplayBench::Attend(std::size_t index, DisplaySimulator& unit) {
  Clock::time_point leaveAt;
  {
    std::lock_guard lock(mutex_);
    leaveAt = *results_[index].appearedAt +
              options_.units[index].leaveAfter.value_or(options_.leaveAfter);
  }
  std::optional<Clock::time_point> vanishAt;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (!vanishAt && unit.Counters().programsCompleted > 0) {
      // From the first completion: writing it again does not keep it longer.
      vanishAt = now + options_.stayAfterCompletion;
      {
        std::lock_guard lock(mutex_);
        results_[index].completedAt = now;
      }
      Emit(BenchEventKind::kCompleted, index);
    }
    const Clock::time_point until = vanishAt.value_or(leaveAt);
    if (now >= until || !SleepUntil(std::min(until, now + kLookAgain))) {
      return;
    }
  }
}

void DisplayBench::Vanish(std::size_t index) {
  std::shared_ptr<DisplaySimulator> unit;
  {
    std::lock_guard lock(mutex_);
    unit = present_;
  }
  unit->Stop();  // not under the lock: its thread may be waiting for it in Note
  {
    std::lock_guard lock(mutex_);
    Refresh(results_[index], *unit);
    results_[index].vanishedAt = Clock::now();
    present_.reset();
  }
  Emit(BenchEventKind::kVanished, index);
}

bool DisplayBench::SleepUntil(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, until, [this] { return stopping_ || woken_; });
  woken_ = false;
  return !stopping_;
}

void DisplayBench::Emit(BenchEventKind kind, std::size_t index) const {
  if (options_.onEvent) {
    options_.onEvent(BenchEvent{kind, Snapshot(index)});
  }
}

void DisplayBench::Note(std::size_t index, const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
  if (options_.log) {
    options_.log(index, line);
  }
}

}  // namespace brintel::sim
