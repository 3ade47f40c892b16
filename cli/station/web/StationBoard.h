#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "cli/terminal/ProgressText.h"
#include "run/RunEvent.h"

namespace brintel::cli {

// What the station's web page shows, kept from the station's events: a tile
// per channel, the totals and the last units. Readers wait for a change and
// take the whole board as JSON. Safe to call from several channels' threads.
class StationBoard {
 public:
  explicit StationBoard(std::vector<std::string> ports);

  void operator()(const run::RunEvent& event);
  // The station has ended, for this reason; the board changes no more.
  void End(const std::string& why);

  struct Snapshot {
    std::uint64_t version = 0;
    std::string json;
    bool ended = false;
  };
  // Once the board is newer than `seen`, or after `timeout` (then the version
  // is `seen` and the JSON empty), or when `giveUp` says so.
  Snapshot WaitNewer(std::uint64_t seen, std::chrono::milliseconds timeout,
                     const std::atomic<bool>& giveUp);
  Snapshot Now();
  // Wakes the waiting readers to look at their giveUp flag.
  void WakeAll();

 private:
  enum class Tone { kWaiting, kPlain, kDone, kFailed };
  struct Tile {
    std::string port;
    std::string socket;
    std::string deviceId;
    std::string state;
    Tone tone = Tone::kWaiting;
    bool ended = false;  // the state is how the last unit ended: it stays
    std::string cue;
    std::string reason;  // why the last unit failed
    std::string title;
    std::uint16_t leftPicture = 0;
    std::uint16_t rightPicture = 0;
    BlockEstimate progress;
  };
  struct LastUnit {
    std::string at;
    int channel = 0;
    std::string socket;
    std::string deviceId;
    std::string outcome;
    std::string reason;
    double seconds = 0;
  };

  void Apply(const run::RunEvent& event);
  std::string Json() const;
  Snapshot Take() const;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t version_ = 1;
  std::vector<Tile> tiles_;
  std::deque<LastUnit> last_;
  int completed_ = 0;
  int failed_ = 0;
  bool ended_ = false;
  std::string endedWhy_;
  std::string endedAt_;
  const std::chrono::system_clock::time_point startedAt_ = std::chrono::system_clock::now();
  const std::chrono::steady_clock::time_point steadyStart_ = std::chrono::steady_clock::now();
};

}  // namespace brintel::cli
