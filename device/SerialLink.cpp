#include "device/SerialLink.h"

namespace brintel {
namespace {

// Far more than the driver's input queue holds.
constexpr std::size_t kDrainLimit = 64 * 1024;

}  // namespace

bool SendByte(SerialPort& port, std::uint8_t byte, const Pause& pause) {
  if (port.WriteByte(byte)) {
    return true;
  }
  for (int waitedMs = 0; port.IsOpen(); ++waitedMs) {
    port.ClearError();
    if (port.WriteByte(byte)) {
      return true;
    }
    if (waitedMs >= SEND_RETRY_LIMIT_MS) {
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
