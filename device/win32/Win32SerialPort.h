#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/SerialPort.h"
#include "device/win32/UniqueHandle.h"

namespace brintel {

// SerialPort on the Windows serial communications API. Port names are "COM1"
// to "COM99". All input and output is synchronous and never overlapped; reads
// only take bytes already queued, so no call waits for the device.
class Win32SerialPort final : public SerialPort {
 public:
  Win32SerialPort() = default;

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

 private:
  // The open port, or none.
  UniqueHandle handle_;
};

}  // namespace brintel
