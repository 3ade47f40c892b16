#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/SerialPort.h"
#include "run/RunClock.h"
#include "server/GbkDecoder.h"
#include "server/HttpClient.h"

namespace brintel::run {

// What a platform gives one station channel: a port that opens the
// channel's port alone, a server connection and a text decoder of its own.
struct ChannelParts {
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<HttpClient> http;
  std::unique_ptr<GbkDecoder> gbk;
  // Waits until the port has bytes queued (true) or the time given (false);
  // empty: ticks come every 5 ms.
  std::function<bool(RunClock::time_point)> waitForInput;
  // Whether the port's device is there at all (an unplugged adapter takes it away).
  std::function<bool()> portPresent;
};

// Makes the parts of the channel on `port`.
using ChannelPartsFactory = std::function<ChannelParts(const std::string& port)>;

}  // namespace brintel::run
