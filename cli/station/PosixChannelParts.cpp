#include "cli/station/PosixChannelParts.h"

#include <filesystem>
#include <memory>

#include "device/posix/PosixSerialPort.h"
#include "server/posix/CurlHttpClient.h"
#include "server/posix/IconvGbkDecoder.h"

namespace brintel::cli {

run::ChannelParts PosixChannelParts(const std::string& port) {
  auto serial = std::make_unique<PosixSerialPort>(PosixSerialPort::Options{.fixedPorts = {port}});
  PosixSerialPort& waiter = *serial;
  run::ChannelParts parts;
  parts.port = std::move(serial);
  parts.http =
      std::make_unique<CurlHttpClient>(CurlHttpClient::Options{.userAgent = "brintel-cli"});
  parts.gbk = std::make_unique<IconvGbkDecoder>();
  parts.waitForInput = [&waiter](run::RunClock::time_point until) {
    return waiter.WaitForInput(until);
  };
  parts.portPresent = [port] {
    std::error_code error;
    return std::filesystem::exists(port, error);
  };
  return parts;
}

}  // namespace brintel::cli
