#include "cli/system/SystemPorts.h"

#include <windows.h>
// After windows.h, which it needs.
#include <timeapi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

#include "device/win32/Win32SerialPort.h"
#include "server/win32/Win32GbkDecoder.h"
#include "server/win32/WinInetHttpClient.h"

namespace brintel::cli {
namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The number of "COM12", or 0 for any other name.
unsigned long ComNumber(const std::string& name) {
  const std::string upper = Upper(name);
  if (upper.size() < 4 || upper.size() > 8 || upper.compare(0, 3, "COM") != 0 ||
      !std::all_of(upper.begin() + 3, upper.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; })) {
    return 0;
  }
  return std::stoul(upper.substr(3));
}

}  // namespace

const char* const kAdapterPortsPlace = "the system's list of USB serial adapters";

std::string ResolvePortName(const std::string& name) {
  std::string bare = name;
  for (const char* prefix : {"\\\\.\\", "//./"}) {
    if (bare.rfind(prefix, 0) == 0) {
      bare.erase(0, 4);
    }
  }
  const unsigned long number = ComNumber(bare);
  return number != 0 ? "COM" + std::to_string(number) : name;
}

bool SamePort(const std::string& a, const std::string& b) {
  return Upper(ResolvePortName(a)) == Upper(ResolvePortName(b));
}

// The serial ports Windows has a driver for, less its built-in UARTs
// (\Device\Serial0...): the adapters of a hub, in the order of their numbers.
std::vector<std::string> AdapterPorts() {
  std::vector<std::string> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD index = 0;; ++index) {
    std::array<char, 256> device{};
    std::array<char, 64> port{};
    DWORD deviceSize = static_cast<DWORD>(device.size());
    DWORD portSize = static_cast<DWORD>(port.size() - 1);
    DWORD type = 0;
    const LONG rc = ::RegEnumValueA(key, index, device.data(), &deviceSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(port.data()), &portSize);
    if (rc == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (rc != ERROR_SUCCESS || type != REG_SZ ||
        std::string(device.data()).rfind("\\Device\\Serial", 0) == 0) {
      continue;
    }
    const std::string name = ResolvePortName(port.data());
    if (ComNumber(name) != 0) {
      ports.push_back(name);
    }
  }
  ::RegCloseKey(key);
  std::sort(ports.begin(), ports.end(),
            [](const std::string& a, const std::string& b) { return ComNumber(a) < ComNumber(b); });
  return ports;
}

// A port opened for waiting, WinINet and the system's code page 936.
run::ChannelParts SystemChannelParts(const std::vector<std::string>& ports) {
  // The run's 5 ms ticks: Windows sleeps in steps of 15.6 ms unless asked for
  // its finest timer, once for the whole program.
  static const bool fineTimer = ::timeBeginPeriod(1) == TIMERR_NOERROR;
  static_cast<void>(fineTimer);
  auto serial = std::make_unique<Win32SerialPort>(
      Win32SerialPort::Options{.fixedPorts = ports, .waitable = true});
  Win32SerialPort& waiter = *serial;
  run::ChannelParts parts;
  parts.port = std::move(serial);
  WinInetHttpClient::Options http;
  http.userAgent = "brintel-cli";
  parts.http = std::make_unique<WinInetHttpClient>(http);
  parts.gbk = std::make_unique<Win32GbkDecoder>();
  parts.waitForInput = [&waiter](run::RunClock::time_point until) {
    return waiter.WaitForInput(until);
  };
  // An unplugged adapter takes its COM name with it. Opened for no access at
  // all, a port in use still answers that it is there (access denied);
  // QueryDosDevice would do on Windows, but not for the ports Wine maps later.
  parts.portPresent = [ports] {
    if (ports.size() != 1) {
      return false;
    }
    const HANDLE port =
        ::CreateFileA(("//./" + ports.front()).c_str(), 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port != INVALID_HANDLE_VALUE) {
      ::CloseHandle(port);
      return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  };
  return parts;
}

}  // namespace brintel::cli
