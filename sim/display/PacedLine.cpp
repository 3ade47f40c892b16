#include "sim/display/PacedLine.h"

#include <algorithm>
#include <cstdint>

namespace brintel::sim {
namespace {

constexpr std::int64_t kBitsPerByte = 10;  // start, 8 data, stop

}  // namespace

PacedLine::PacedLine(unsigned baud)
    : byteTime_(baud == 0 ? Clock::duration::zero()
                          : std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(
                                kBitsPerByte * 1'000'000'000 / static_cast<std::int64_t>(baud)))) {}

PacedLine::Clock::time_point PacedLine::Arrival(Clock::time_point seen) {
  lastArrival_ = std::max(seen, lastArrival_) + byteTime_;
  return lastArrival_;
}

PacedLine::Clock::time_point PacedLine::Delivery(Clock::time_point ready) {
  lastDelivery_ = std::max(ready, lastDelivery_) + byteTime_;
  return lastDelivery_;
}

void PacedLine::Reset() {
  lastArrival_ = {};
  lastDelivery_ = {};
}

}  // namespace brintel::sim
