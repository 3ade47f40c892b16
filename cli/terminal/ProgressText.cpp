#include "cli/terminal/ProgressText.h"

#include <algorithm>
#include <cstdio>

#include "device/SendBlock.h"

namespace brintel::cli {

void BlockEstimate::Accepted(int blocks, Clock::time_point at) {
  if (blocks <= 1 || !measuring_) {
    firstAt_ = at;
    perBlock_ = {};
    measuring_ = true;
  } else {
    perBlock_ = (at - firstAt_) / (blocks - 1);
  }
  blocks_ = blocks;
}

std::string BlockEstimate::LeftText() const {
  if (perBlock_ == Clock::duration{} || blocks_ >= BLOCK_COUNT) {
    return {};
  }
  // Appended: GCC 12 at -O3 warns falsely of overlap for " " + text.
  std::string text = " ";
  text += MinutesSeconds(
      std::chrono::duration_cast<std::chrono::seconds>(perBlock_ * (BLOCK_COUNT - blocks_)));
  text += " left";
  return text;
}

std::string MinutesSeconds(std::chrono::seconds duration) {
  const auto seconds = static_cast<long long>(duration.count());
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  return text;
}

std::string ProgressBar(int blocks, int width) {
  const int filled = std::clamp(blocks, 0, BLOCK_COUNT) * width / BLOCK_COUNT;
  return std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '.');
}

}  // namespace brintel::cli
