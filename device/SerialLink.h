#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "device/SerialPort.h"

namespace brintel {

// A blocking pause of the given milliseconds; injected so tests never sleep.
using Pause = std::function<void(int milliseconds)>;

// How long writes may keep failing before the port counts as lost.
inline constexpr int SEND_RETRY_LIMIT_MS = 1000;

// Writes one byte. A refused write is retried with the line's error state
// cleared (a line error makes the driver refuse writes until then), pausing
// 1 ms between tries; after SEND_RETRY_LIMIT_MS of refusals on a steady clock
// (or that many pauses, whichever comes first), or with no port open, returns
// false: the port is lost.
bool SendByte(SerialPort& port, std::uint8_t byte, const Pause& pause);

// Discards the bytes queued now and tells how many. Bounded, so a device that
// never stops sending cannot hold the tick.
std::size_t DrainInput(SerialPort& port);

}  // namespace brintel
