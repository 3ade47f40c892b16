#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brintel {

// The one serial line to the display, as the core sees it. At most one port is
// open at a time. No call waits for the device.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Names of the ports that exist and can be opened right now, in a stable
  // order, at most kMaxPorts. Called with no port open; leaves none open.
  virtual std::vector<std::string> ScanPorts() = 0;

  // Opens one listed port exclusively at 9600 8N1, raw, no flow control, DTR
  // on, RTS off, with both queues purged. True when the port is open; settings
  // the driver refuses do not make it fail.
  virtual bool OpenPort(const std::string& name) = 0;

  // Writes one byte. True when the system took it. False without an open port.
  virtual bool WriteByte(std::uint8_t byte) = 0;

  // Reads one byte only if one is already queued; never waits. False (and
  // byte 0) when nothing is queued, no port is open or the read failed. Clears
  // any line error first.
  virtual bool ReadByte(std::uint8_t& byte) = 0;

  // Clears the line's error state so that writes are accepted again.
  virtual void ClearError() = 0;

  // Closes the open port; nothing is sent or purged. No effect without one.
  virtual void ClosePort() = 0;

  virtual bool IsOpen() const = 0;

  // Why the latest OpenPort or scan failed to open a port, as a hint a person
  // can act on (the dialout group, a port in use); empty when it did not fail
  // or the adapter cannot tell.
  virtual std::string LastOpenError() const { return {}; }
  // The latest failure will not pass by itself (no permission, not a serial
  // device): waiting for the port is pointless.
  virtual bool LastOpenErrorLasts() const { return false; }

  static constexpr std::size_t kMaxPorts = 99;
};

}  // namespace brintel
