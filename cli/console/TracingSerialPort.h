#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "device/SerialPort.h"

namespace brintel::cli {

// Passes every call on to the real port and writes what crossed the line to a
// file: one line per byte with the seconds since the start, the direction
// (TX to the display, RX from it) and the byte in hex, and a line per scan,
// open, close and failed write.
class TracingSerialPort final : public SerialPort {
 public:
  TracingSerialPort(SerialPort& port, std::FILE* trace);

  std::vector<std::string> ScanPorts() override;
  bool OpenPort(const std::string& name) override;
  bool WriteByte(std::uint8_t byte) override;
  bool ReadByte(std::uint8_t& byte) override;
  void ClearError() override { port_.ClearError(); }
  void ClosePort() override;
  bool IsOpen() const override { return port_.IsOpen(); }
  std::string LastOpenError() const override { return port_.LastOpenError(); }
  bool LastOpenErrorLasts() const override { return port_.LastOpenErrorLasts(); }

 private:
  void Line(const std::string& text);

  SerialPort& port_;
  std::FILE* trace_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace brintel::cli
