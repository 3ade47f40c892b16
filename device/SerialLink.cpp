#include "device/SerialLink.h"

#include <chrono>

namespace brintel {
namespace {

// Far more than the driver's input queue holds.
constexpr std::size_t kDrainLimit = 64 * 1024;

}  // namespace

bool SendByte(SerialPort& port, std::uint8_t byte, const Pause& pause) {
  if (port.WriteByte(byte)) {
    return true;
  }
  // Bounded by the time passed, since one pause of 1 ms may last 16 (Windows'
  // timer), and by the pauses asked for, which is what a test's pause counts.
  using Clock = std::chrono::steady_clock;
  const auto giveUpAt = Clock::now() + std::chrono::milliseconds(SEND_RETRY_LIMIT_MS);
  for (int waitedMs = 0; port.IsOpen(); ++waitedMs) {
    port.ClearError();
    if (port.WriteByte(byte)) {
      return true;
    }
    if (waitedMs >= SEND_RETRY_LIMIT_MS || Clock::now() >= giveUpAt) {
      break;
    }
    pause(1);
  }
  return false;
}

std::size_t DrainInput(SerialPort& port) {
  std::uint8_t byte = 0;
  std::size_t drained = 0;
  while (drained < kDrainLimit && port.ReadByte(byte)) {
    ++drained;
  }
  return drained;
}

}  // namespace brintel
