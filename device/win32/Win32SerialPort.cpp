#include "device/win32/Win32SerialPort.h"

#include "device/win32/DisplayLineSettings.h"

namespace brintel {
namespace {

constexpr int kLastPortNumber = 99;
constexpr DWORD kEventMask = EV_RXCHAR | EV_TXEMPTY;
constexpr DWORD kInputQueueBytes = 1024;
constexpr DWORD kOutputQueueBytes = 512;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Share mode 0 makes the open exclusive: a port held by another program fails.
UniqueHandle OpenPath(const std::string& path) {
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

}  // namespace

// fAbortOnError makes the driver refuse all input and output after a line
// error until ClearCommError, which every read calls.
void ApplyDisplayLineSettings(DCB& dcb) {
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = TRUE;
}

// MAXDWORD between bytes with no total is the documented "return at once"
// read. A write has no such form: without a total a driver that never drains
// (a stalled USB adapter) would hold the engine's thread in WriteFile.
COMMTIMEOUTS DisplayLineTimeouts() {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 1000;
  return timeouts;
}

std::vector<std::string> Win32SerialPort::ScanPorts() {
  ClosePort();
  std::vector<std::string> listed;
  for (int number = 1; number <= kLastPortNumber; ++number) {
    const std::string name = "COM" + std::to_string(number);
    // Closed again at once: the scan only asks whether the port opens.
    if (OpenPath("//./" + name)) {
      listed.push_back(name);
    }
  }
  return listed;
}

bool Win32SerialPort::OpenPort(const std::string& name) {
  ClosePort();
  handle_ = OpenPath("//./" + name);
  if (!handle_) {
    return false;
  }
  const HANDLE handle = handle_.get();
  // Results ignored: a port whose driver refuses a setting still counts as open.
  ::SetCommMask(handle, kEventMask);
  ::SetupComm(handle, kInputQueueBytes, kOutputQueueBytes);
  // Whatever the device sent before the open is dropped here.
  ::PurgeComm(handle, kPurgeAll);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ::GetCommState(handle, &dcb);
  ApplyDisplayLineSettings(dcb);
  ::SetCommState(handle, &dcb);
  COMMTIMEOUTS timeouts = DisplayLineTimeouts();
  ::SetCommTimeouts(handle, &timeouts);
  return true;
}

bool Win32SerialPort::WriteByte(std::uint8_t byte) {
  if (!handle_) {
    return false;
  }
  DWORD written = 0;
  // A write the driver did not complete within its time-out succeeds with a
  // count of 0: that byte did not go out.
  return ::WriteFile(handle_.get(), &byte, 1, &written, nullptr) != FALSE && written == 1;
}

bool Win32SerialPort::ReadByte(std::uint8_t& byte) {
  byte = 0;
  if (!handle_) {
    return false;
  }
  DWORD errors = 0;
  COMSTAT status{};
  // Checking the queue first keeps the read from blocking even on a driver
  // that refused the time-outs and keeps its own, which may wait forever.
  if (::ClearCommError(handle_.get(), &errors, &status) == FALSE || status.cbInQue == 0) {
    return false;
  }
  std::uint8_t received = 0;
  DWORD count = 0;
  if (::ReadFile(handle_.get(), &received, 1, &count, nullptr) == FALSE || count != 1) {
    return false;
  }
  byte = received;
  return true;
}

void Win32SerialPort::ClearError() {
  if (!handle_) {
    return;
  }
  DWORD errors = 0;
  COMSTAT status{};
  ::ClearCommError(handle_.get(), &errors, &status);
}

void Win32SerialPort::ClosePort() {
  handle_.reset();
}

}  // namespace brintel
