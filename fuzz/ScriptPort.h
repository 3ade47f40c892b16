#pragma once

// A serial port whose far end is the fuzzer: it decides what the port list
// holds, when opening and writing fail, and which bytes arrive.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/SerialPort.h"

namespace brintel::fuzz {

class ScriptPort final : public SerialPort {
 public:
  std::vector<std::string> names;
  bool openFails = false;
  bool writesFail = false;
  std::deque<std::uint8_t> input;     // readable now
  std::vector<std::uint8_t> written;  // since the script last cleared it
  int opens = 0;
  int closes = 0;

  std::vector<std::string> ScanPorts() override { return names; }
  bool OpenPort(const std::string&) override {
    if (openFails) {
      return false;
    }
    open_ = true;
    ++opens;
    input.clear();  // opening purges both queues
    return true;
  }
  bool WriteByte(std::uint8_t byte) override {
    if (!open_ || writesFail) {
      return false;
    }
    written.push_back(byte);
    return true;
  }
  bool ReadByte(std::uint8_t& byte) override {
    byte = 0;
    if (!open_ || input.empty()) {
      return false;
    }
    byte = input.front();
    input.pop_front();
    return true;
  }
  void ClearError() override {}
  void ClosePort() override {
    if (open_) {
      ++closes;
    }
    open_ = false;
  }
  bool IsOpen() const override { return open_; }

 private:
  bool open_ = false;
};

}  // namespace brintel::fuzz
