#include "cli/system/SystemPorts.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "device/posix/PosixSerialPort.h"
#include "server/posix/CurlHttpClient.h"
#include "server/posix/IconvGbkDecoder.h"

namespace brintel::cli {

const char* const kAdapterPortsPlace = "/dev/serial/by-path";

std::string ResolvePortName(const std::string& name) {
  std::error_code error;
  if (name.find('/') == std::string::npos && !std::filesystem::exists(name, error)) {
    return "/dev/" + name;
  }
  return name;
}

bool SamePort(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
    return false;
  }
  if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode)) {
    return sa.st_rdev == sb.st_rdev;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The by-path names name the hub's socket: a display plugged in again comes
// back under the same name.
std::vector<std::string> AdapterPorts() {
  std::vector<std::string> ports;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kAdapterPortsPlace, error)) {
    ports.push_back(entry.path().string());
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

// A termios port, libcurl, iconv, and the port's node on the file system.
run::ChannelParts SystemChannelParts(const std::vector<std::string>& ports) {
  auto serial = std::make_unique<PosixSerialPort>(PosixSerialPort::Options{.fixedPorts = ports});
  PosixSerialPort& waiter = *serial;
  run::ChannelParts parts;
  parts.port = std::move(serial);
  parts.http =
      std::make_unique<CurlHttpClient>(CurlHttpClient::Options{.userAgent = "brintel-cli"});
  parts.gbk = std::make_unique<IconvGbkDecoder>();
  parts.waitForInput = [&waiter](run::RunClock::time_point until) {
    return waiter.WaitForInput(until);
  };
  parts.portPresent = [ports] {
    std::error_code error;
    return ports.size() == 1 && std::filesystem::exists(ports.front(), error);
  };
  return parts;
}

}  // namespace brintel::cli
