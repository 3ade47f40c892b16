#pragma once

#include <chrono>
#include <string>

namespace brintel::cli {

// The time the blocks still to come will take, at the pace since the first
// one was accepted.
class BlockEstimate {
 public:
  using Clock = std::chrono::steady_clock;

  // `blocks` are accepted now; 1 (or a first call) starts the measure again.
  void Accepted(int blocks, Clock::time_point at);
  int blocks() const { return blocks_; }
  // " 1:23 left"; empty before the second block and after the last.
  std::string LeftText() const;

 private:
  int blocks_ = 0;
  bool measuring_ = false;
  Clock::time_point firstAt_{};
  Clock::duration perBlock_{};
};

// "1:23": minutes and seconds, as a bench reads a duration.
std::string MinutesSeconds(std::chrono::seconds duration);

// A bar of `width` columns, '#' for the blocks accepted and '.' for the rest.
std::string ProgressBar(int blocks, int width);

}  // namespace brintel::cli
