#pragma once

#include <atomic>
#include <chrono>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "cli/terminal/ProgressText.h"
#include "run/RunEvent.h"

namespace brintel::cli {

// What a person at the bench sees. On a terminal: one redrawn line per
// channel (port, identity, bar, percent, time left, the latest prompt) and a
// totals line; otherwise one line per event. Safe to call from several
// channels' threads.
class StationView {
 public:
  StationView(std::ostream& out, std::vector<std::string> ports, bool terminal, int width);
  void operator()(const run::RunEvent& event);
  // Leaves the cursor below the view.
  void Finish();
  // The view could not be written (a pipe its reader closed).
  bool failed() const { return unwritable_; }

 private:
  struct Channel {
    std::string port;
    std::string deviceId;
    std::string text;  // the latest prompt, status or note
    BlockEstimate progress;
  };

  void Apply(const run::RunEvent& event);
  void PrintEvent(const run::RunEvent& event);
  void Redraw();
  std::string ChannelLine(const Channel& channel) const;
  std::string TotalsLine() const;
  std::string Fit(std::string line) const;

  std::ostream& out_;
  const bool terminal_;
  const int width_;
  mutable std::mutex mutex_;
  std::vector<Channel> channels_;
  int completed_ = 0;
  int failed_ = 0;
  bool drawn_ = false;
  std::atomic<bool> unwritable_{false};
  std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
};

}  // namespace brintel::cli
