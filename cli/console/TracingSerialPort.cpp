#include "cli/console/TracingSerialPort.h"

namespace brintel::cli {
namespace {

std::string Hex(std::uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

}  // namespace

TracingSerialPort::TracingSerialPort(SerialPort& port, std::FILE* trace)
    : port_(port), trace_(trace) {}

void TracingSerialPort::Line(const std::string& text) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  std::fprintf(trace_, "%lld.%06lld %s\n", static_cast<long long>(micros / 1000000),
               static_cast<long long>(micros % 1000000), text.c_str());
}

std::vector<std::string> TracingSerialPort::ScanPorts() {
  std::vector<std::string> ports = port_.ScanPorts();
  std::string line = "scan";
  for (const std::string& name : ports) {
    line += " " + name;
  }
  Line(line);
  return ports;
}

bool TracingSerialPort::OpenPort(const std::string& name) {
  const bool opened = port_.OpenPort(name);
  Line((opened ? "open " : "open failed ") + name);
  return opened;
}

bool TracingSerialPort::WriteByte(std::uint8_t byte) {
  const bool written = port_.WriteByte(byte);
  Line((written ? "TX " : "TX failed ") + Hex(byte));
  return written;
}

bool TracingSerialPort::ReadByte(std::uint8_t& byte) {
  const bool read = port_.ReadByte(byte);
  if (read) {
    Line("RX " + Hex(byte));
  }
  return read;
}

void TracingSerialPort::ClosePort() {
  if (port_.IsOpen()) {
    Line("close");
  }
  port_.ClosePort();
}

}  // namespace brintel::cli
