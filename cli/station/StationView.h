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
// channel (number, socket, display, what to do now, bar, percent, time left)
// and a totals line; otherwise one line per event. The state a unit ended in
// stays until the next unit begins. Safe to call from several channels'
// threads.
class StationView {
 public:
  struct Settings {
    bool terminal = false;
    int width = 80;
    bool colour = false;  // a terminal that takes colours, and no NO_COLOR
  };

  StationView(std::ostream& out, std::vector<std::string> ports, Settings settings);
  void operator()(const run::RunEvent& event);
  // The terminal has this many columns now: drawn again to fit.
  void Resize(int width);
  // Leaves the cursor below the view.
  void Finish();
  // The view could not be written (a pipe its reader closed).
  bool failed() const { return unwritable_; }

 private:
  enum class Tone { kPlain, kWaiting, kDone, kFailed };
  struct Channel {
    std::string port;
    std::string socket;  // the short label
    std::string deviceId;
    std::string state;  // what to do now, or how the last unit ended
    Tone tone = Tone::kWaiting;
    bool ended = false;    // the state is the last unit's end: it stays
    std::string pictures;  // the unit's instruction pictures, "139 and 140"
    BlockEstimate progress;
    std::chrono::steady_clock::time_point startedAt{};
  };

  void Apply(const run::RunEvent& event);
  void PrintEvent(const run::RunEvent& event);
  void Redraw();
  std::string ChannelLine(const Channel& channel) const;
  std::string TotalsLine() const;
  std::string Fit(std::string line) const;

  std::string Coloured(const std::string& text, Tone tone) const;

  std::ostream& out_;
  const Settings settings_;
  int width_;
  std::size_t socketWidth_ = 0;
  mutable std::mutex mutex_;
  std::vector<Channel> channels_;
  int completed_ = 0;
  int failed_ = 0;
  bool drawn_ = false;
  std::atomic<bool> unwritable_{false};
  std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
};

}  // namespace brintel::cli
