#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/SerialPort.h"
#include "device/win32/UniqueHandle.h"

namespace brintel {

// SerialPort on the Windows serial communications API. Port names are "COM1"
// to "COM99". By default all input and output is synchronous and never
// overlapped; reads only take bytes already queued, so no call waits for the
// device.
class Win32SerialPort final : public SerialPort {
 public:
  struct Options {
    // When not empty, the scan tries exactly these ports ("COM5", "COM12"), in
    // this order, instead of COM1 to COM99.
    std::vector<std::string> fixedPorts = {};
    // Opens the port for overlapped input and output, so that WaitForInput can
    // sleep until a byte arrives; each read and write still completes before
    // it returns.
    bool waitable = false;
  };

  Win32SerialPort();
  explicit Win32SerialPort(Options options);
  ~Win32SerialPort() override;

  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  // Tries COM1 to COM99 in ascending order and lists those that open, closing
  // each at once. Closes an open port first, so that it is not left out.
  std::vector<std::string> ScanPorts() override;

  // Opens the port exclusively and applies the display's line settings; a
  // setting the driver refuses is ignored.
  bool OpenPort(const std::string& name) override;

  // True when WriteFile wrote the byte. A write the driver has not completed
  // returns after a second, as a failure.
  bool WriteByte(std::uint8_t byte) override;

  // False when ClearCommError fails (a lost port), nothing is queued, or the
  // read did not give exactly one byte.
  bool ReadByte(std::uint8_t& byte) override;

  // ClearCommError: ends the abort state in which the driver refuses every
  // write after a line error.
  void ClearError() override;

  void ClosePort() override;
  bool IsOpen() const override { return static_cast<bool>(handle_); }

  // Waitable ports only: waits until bytes are queued to be read (true) or
  // until `deadline` (false), on WaitCommEvent. A wait that outlives the call
  // stays pending for the next one (the next write ends it: EV_TXEMPTY), so
  // nothing is ever cancelled. Without an open port, or on a port opened
  // without `waitable`, it only waits out the time.
  bool WaitForInput(std::chrono::steady_clock::time_point deadline);

  // Why the latest OpenPort, or the last port a scan tried, failed to open.
  std::string LastOpenError() const override { return lastOpenError_; }

 private:
  std::vector<std::string> Candidates() const;
  unsigned long QueuedBytes();
  bool ReadQueuedByte(std::uint8_t& byte);

  Options options_;
  // The open port, or none.
  UniqueHandle handle_;
  // A waitable port's overlapped state: the events of its reads and writes
  // and of its pending WaitCommEvent.
  struct Overlapped;
  std::unique_ptr<Overlapped> overlapped_;
  // A waitable port's bytes read from the queue, and how many of them the
  // caller has taken.
  std::vector<std::uint8_t> received_;
  std::size_t taken_ = 0;
  std::string lastOpenError_;
};

}  // namespace brintel
