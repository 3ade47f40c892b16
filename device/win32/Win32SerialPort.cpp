#include "device/win32/Win32SerialPort.h"

#include "device/win32/DisplayLineSettings.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace brintel {
namespace {

constexpr int kLastPortNumber = 99;
constexpr DWORD kEventMask = EV_RXCHAR | EV_TXEMPTY;
constexpr DWORD kInputQueueBytes = 1024;
constexpr DWORD kOutputQueueBytes = 512;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Share mode 0 makes the open exclusive: a port held by another program fails.
UniqueHandle OpenPath(const std::string& path, DWORD flags = 0) {
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, flags, nullptr);
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

std::string DescribeOpenError(const std::string& name, DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return name + ": no such port (is the adapter plugged in?)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return name + " is in use by another program";
    default:
      return name + " cannot be opened (error " + std::to_string(error) + ")";
  }
}

// Waits for an overlapped call on `handle` to complete, however long it takes:
// the port's time-outs bound reads and writes.
bool Complete(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD& count) {
  if (started == FALSE && ::GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  return ::GetOverlappedResult(handle, &overlapped, &count, TRUE) != FALSE;
}

}  // namespace

struct Win32SerialPort::Overlapped {
  UniqueHandle ioEvent;
  UniqueHandle waitEvent;
  OVERLAPPED wait{};
  DWORD events = 0;
  bool waiting = false;
};

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

Win32SerialPort::Win32SerialPort() = default;

Win32SerialPort::Win32SerialPort(Options options) : options_(std::move(options)) {}

Win32SerialPort::~Win32SerialPort() {
  ClosePort();
}

std::vector<std::string> Win32SerialPort::Candidates() const {
  if (!options_.fixedPorts.empty()) {
    return options_.fixedPorts;
  }
  std::vector<std::string> names;
  for (int number = 1; number <= kLastPortNumber; ++number) {
    names.push_back("COM" + std::to_string(number));
  }
  return names;
}

std::vector<std::string> Win32SerialPort::ScanPorts() {
  ClosePort();
  std::vector<std::string> listed;
  for (const std::string& name : Candidates()) {
    // Closed again at once: the scan only asks whether the port opens.
    if (OpenPath("//./" + name)) {
      listed.push_back(name);
    } else if (!options_.fixedPorts.empty()) {
      lastOpenError_ = DescribeOpenError(name, ::GetLastError());
    }
  }
  return listed;
}

bool Win32SerialPort::OpenPort(const std::string& name) {
  ClosePort();
  handle_ = OpenPath("//./" + name, options_.waitable ? FILE_FLAG_OVERLAPPED : 0);
  if (!handle_) {
    lastOpenError_ = DescribeOpenError(name, ::GetLastError());
    return false;
  }
  lastOpenError_.clear();
  if (options_.waitable) {
    overlapped_ = std::make_unique<Overlapped>();
    overlapped_->ioEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    overlapped_->waitEvent.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!overlapped_->ioEvent || !overlapped_->waitEvent) {
      overlapped_.reset();
      lastOpenError_ =
          name + ": no event for its input (error " + std::to_string(::GetLastError()) + ")";
      handle_.reset();
      return false;
    }
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
  if (!options_.waitable) {
    return ::WriteFile(handle_.get(), &byte, 1, &written, nullptr) != FALSE && written == 1;
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = overlapped_->ioEvent.get();
  const BOOL started = ::WriteFile(handle_.get(), &byte, 1, nullptr, &overlapped);
  return Complete(handle_.get(), overlapped, started, written) && written == 1;
}

bool Win32SerialPort::ReadByte(std::uint8_t& byte) {
  byte = 0;
  if (!handle_) {
    return false;
  }
  if (options_.waitable) {
    return ReadQueuedByte(byte);
  }
  // Checking the queue first keeps the read from blocking even on a driver
  // that refused the time-outs and keeps its own, which may wait forever.
  if (QueuedBytes() == 0) {
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

// All that is queued comes in with one read, and the bytes are handed out one
// by one from here: under Wine every call is a round trip to its server, and
// a block's 515 echoes read one call each can outlast the echo's time. The
// queue is asked (and a line error cleared) when they are all handed out.
bool Win32SerialPort::ReadQueuedByte(std::uint8_t& byte) {
  if (taken_ == received_.size()) {
    const DWORD queued = QueuedBytes();
    if (queued == 0) {
      return false;
    }
    received_.resize(std::min<std::size_t>(queued, kInputQueueBytes));
    taken_ = 0;
    DWORD count = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = overlapped_->ioEvent.get();
    const BOOL started = ::ReadFile(handle_.get(), received_.data(),
                                    static_cast<DWORD>(received_.size()), nullptr, &overlapped);
    if (!Complete(handle_.get(), overlapped, started, count)) {
      count = 0;
    }
    received_.resize(count);
    if (count == 0) {
      return false;
    }
  }
  byte = received_[taken_++];
  return true;
}

void Win32SerialPort::ClearError() {
  if (handle_) {
    static_cast<void>(QueuedBytes());
  }
}

// Closing the port ends a pending wait; its OVERLAPPED is freed only once the
// system has let go of it, and kept for good when it never does.
void Win32SerialPort::ClosePort() {
  handle_.reset();
  if (overlapped_ && overlapped_->waiting &&
      ::WaitForSingleObject(overlapped_->waitEvent.get(), 1000) != WAIT_OBJECT_0) {
    static_cast<void>(overlapped_.release());
  }
  overlapped_.reset();
  received_.clear();
  taken_ = 0;
}

// ClearCommError: the queue's length, and the end of a line error's abort
// state; 0 on a lost port.
unsigned long Win32SerialPort::QueuedBytes() {
  DWORD errors = 0;
  COMSTAT status{};
  return ::ClearCommError(handle_.get(), &errors, &status) != FALSE ? status.cbInQue : 0UL;
}

bool Win32SerialPort::WaitForInput(std::chrono::steady_clock::time_point deadline) {
  if (!handle_ || !overlapped_) {
    std::this_thread::sleep_until(deadline);
    return false;
  }
  const HANDLE handle = handle_.get();
  Overlapped& state = *overlapped_;
  for (;;) {
    if (taken_ < received_.size() || QueuedBytes() > 0) {
      return true;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return false;
    }
    if (!state.waiting) {
      state.wait = OVERLAPPED{};
      state.wait.hEvent = state.waitEvent.get();
      if (::WaitCommEvent(handle, &state.events, &state.wait) != FALSE) {
        continue;  // an event already: look at the queue again
      }
      if (::GetLastError() != ERROR_IO_PENDING) {
        // A lost port: nothing will come; the caller's tick finds out.
        std::this_thread::sleep_until(deadline);
        return false;
      }
      state.waiting = true;
      // A byte that came before the wait began does not end it.
      if (QueuedBytes() > 0) {
        return true;
      }
    }
    if (::WaitForSingleObject(state.waitEvent.get(),
                              static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(
                                  left.count(), MAXDWORD - 1))) != WAIT_OBJECT_0) {
      return QueuedBytes() > 0;
    }
    DWORD ignored = 0;
    ::GetOverlappedResult(handle, &state.wait, &ignored, FALSE);
    state.waiting = false;
  }
}

}  // namespace brintel
