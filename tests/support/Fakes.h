#pragma once

// Scriptable fakes of the core's three outside interfaces, for driving the
// engine tick by tick in the tests and the fuzz targets.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "device/SerialPort.h"
#include "engine/UpgradeHost.h"
#include "server/GbkDecoder.h"
#include "server/HttpClient.h"
#include "sim/display/DisplayProtocol.h"

namespace brintel::testing {

// A serial line whose far end is the test or the fuzzer: a scan list, ports
// that fail to open or to take writes, and on any port a display model fed
// with each written byte at the line's clock. The display's answers are read
// in order; while `holding` they wait in `held` until released, so a test can
// split or delay them, and Queue adds bytes of the test's own.
class ScriptedPort : public SerialPort {
 public:
  struct HeldByte {
    std::uint8_t byte;
    sim::Clock::time_point sentAt;
  };

  std::vector<std::string> ports;    // what a scan finds
  std::set<std::string> unopenable;  // listed, but opening fails
  bool openFails = false;            // no port opens
  int failWrites = 0;                // refuse this many writes
  bool writesFail = false;           // refuse every write (the device is gone)
  int scans = 0;
  bool openAtLastScan = false;
  std::optional<std::string> openPort;  // name of the open port
  std::vector<std::string> opens;       // every successful open, in order
  std::map<std::string, std::vector<std::uint8_t>> written;
  int clearErrors = 0;
  std::deque<std::uint8_t> input;  // readable now
  bool holding = false;
  std::deque<HeldByte> held;
  std::optional<std::uint8_t> endless;  // read for ever: a line that never runs dry
  sim::Clock::time_point now{};

  // From now on `display` is the far end of port `name`.
  void Attach(const std::string& name, sim::DisplayProtocol& display) {
    displays_[name] = &display;
  }
  void Advance(std::chrono::milliseconds elapsed) {
    now += elapsed;
    for (auto& [name, display] : displays_) {
      reaction_.Clear();
      display->OnClock(now, reaction_);
      Deliver();
    }
  }
  // The oldest `count` held bytes reach the tool.
  void Release(std::size_t count = SIZE_MAX) {
    for (; count > 0 && !held.empty(); --count) {
      input.push_back(held.front().byte);
      held.pop_front();
    }
  }
  // Pulled out: every write fails and the displays lose their power.
  void Unplug() {
    writesFail = true;
    for (auto& [name, display] : displays_) {
      reaction_.Clear();
      display->OnPowerLost(reaction_);
    }
  }
  void Replug() { writesFail = false; }

  std::vector<std::string> ScanPorts() override {
    ++scans;
    openAtLastScan = openPort.has_value();
    return ports;
  }
  bool OpenPort(const std::string& name) override {
    if (openFails || unopenable.count(name) != 0) {
      return false;
    }
    openPort = name;
    opens.push_back(name);
    input.clear();  // the open purges both queues
    held.clear();
    return true;
  }
  bool WriteByte(std::uint8_t byte) override {
    if (!openPort || writesFail) {
      return false;
    }
    if (failWrites > 0) {
      --failWrites;
      return false;
    }
    written[*openPort].push_back(byte);
    if (sim::DisplayProtocol* display = OpenDisplay()) {
      reaction_.Clear();
      display->OnByte(byte, now, reaction_);
      Deliver();
    }
    return true;
  }
  bool ReadByte(std::uint8_t& byte) override {
    byte = 0;
    if (openPort && endless) {
      byte = *endless;
      return true;
    }
    if (!openPort || input.empty()) {
      return false;
    }
    byte = input.front();
    input.pop_front();
    return true;
  }
  void ClearError() override { ++clearErrors; }
  void ClosePort() override {
    if (sim::DisplayProtocol* display = OpenDisplay()) {
      reaction_.Clear();
      display->OnLineLost("port closed", reaction_);
    }
    openPort.reset();
  }
  bool IsOpen() const override { return openPort.has_value(); }

  void Queue(std::initializer_list<std::uint8_t> bytes) { input.insert(input.end(), bytes); }
  const std::vector<std::uint8_t>& WrittenTo(const std::string& name) { return written[name]; }

 private:
  sim::DisplayProtocol* OpenDisplay() const {
    const auto it = openPort ? displays_.find(*openPort) : displays_.end();
    return it == displays_.end() ? nullptr : it->second;
  }
  void Deliver() {
    for (const std::uint8_t byte : reaction_.bytes) {
      if (holding) {
        held.push_back({byte, now});
      } else {
        input.push_back(byte);
      }
    }
  }

  std::map<std::string, sim::DisplayProtocol*> displays_;
  sim::DisplayProtocol::Reaction reaction_;
};

class FakeHttpClient : public HttpClient {
 public:
  std::map<std::string, HttpResponse> responses;  // by URL; others are internet errors
  std::vector<std::string> requests;

  HttpResponse Get(const std::string& url) override {
    requests.push_back(url);
    const auto it = responses.find(url);
    if (it == responses.end()) {
      return {HttpResponse::Outcome::kInternetError, {}, "no route"};
    }
    return it->second;
  }
  void Serve(const std::string& url, std::string body) {
    responses[url] = {HttpResponse::Outcome::kBody, std::move(body), {}};
  }
};

// The window: its two text controls, and a log of everything else it was
// asked to do, in order.
class FakeHost : public UpgradeHost {
 public:
  std::string statusControl;
  std::string addressControl;
  std::vector<std::string> log;
  std::vector<std::string> messages;  // "caption|text"
  std::vector<std::vector<std::string>> choices;
  std::function<ProgramChoice(const std::vector<std::string>&)> answerChoice =
      [](const std::vector<std::string>& names) {
        return ProgramChoice{true, names.empty() ? std::nullopt : std::optional<std::size_t>(0)};
      };
  std::function<void()> onMessage;
  bool timerRunning = false;
  int progress = 0;
  std::string title;

  // The lines of the log that begin with `prefix`, in order.
  std::vector<std::string> Logged(std::string_view prefix) const {
    std::vector<std::string> lines;
    std::copy_if(log.begin(), log.end(), std::back_inserter(lines),
                 [prefix](const std::string& line) { return line.starts_with(prefix); });
    return lines;
  }

  void ReadControls(std::string& statusText, std::string& serverAddress) override {
    statusText = statusControl;
    serverAddress = addressControl;
  }
  void WriteControls(const std::string& statusText, const std::string& serverAddress) override {
    statusControl = statusText;
    addressControl = serverAddress;
  }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    messages.push_back(caption + "|" + text);
    log.push_back("message " + caption + "|" + text + (timerRunning ? " (timer running)" : ""));
    if (onMessage) {
      onMessage();
    }
  }
  ProgramChoice ChooseProgram(const std::vector<std::string>& names) override {
    choices.push_back(names);
    log.push_back(std::string("choice") + (timerRunning ? " (timer running)" : ""));
    return answerChoice(names);
  }
  void StartTimer() override {
    timerRunning = true;
    log.push_back("timer start");
  }
  void StopTimer() override {
    timerRunning = false;
    log.push_back("timer stop");
  }
  void SetProgress(int position) override {
    progress = position;
    log.push_back("progress " + std::to_string(position));
  }
  void SetTitle(const std::string& text) override {
    title = text;
    log.push_back("title " + text);
  }
  void DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) override {
    log.push_back("pictures " + std::to_string(leftId) + " " + std::to_string(rightId));
  }
};

// Shows every byte above 0x7F as <XX>, so a test sees which texts were
// decoded on their way to the window.
class FakeGbkDecoder : public GbkDecoder {
 public:
  std::string ToUtf8(std::string_view gbk) const override {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : gbk) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        out += c;
      } else {
        out += '<';
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
        out += '>';
      }
    }
    return out;
  }
};

}  // namespace brintel::testing
