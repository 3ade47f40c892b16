#pragma once

// The engine wired to fakes, with a scripted display on one fake port and a
// program server catalogue, so a test can drive a run tick by tick.

#include <cstdint>
#include <string>
#include <vector>

#include "Fakes.h"
#include "device/IdentityFrame.h"
#include "device/PermuteByte.h"
#include "device/SendBlock.h"
#include "engine/UpgradeEngine.h"
#include "server/ProgramList.h"
#include "server/ProgramPackage.h"

namespace brintel::testing {

// Identity bytes in arrival order after 0x9C; they give the id below.
inline const std::vector<std::uint8_t> kFrameArrival = {0x01, 0x02, 0x03, 0x00, 0x4E, 0x02,
                                                        0x04, 0x05, 0x06, 0x07, 0xF0};
inline const std::string kDeviceId = "1027262514131211";
inline const std::string kDeviceLabel = "(sn=1027-2625-1413-1211)";
inline const std::string kDefaultServer = "programs.test";
inline const std::string kListUrl = "http://programs.test/cargetnameplovix.asp?id=1027262514131211";

// The display: answers probes on its port and takes blocks, echoing each byte
// as its complement and acknowledging with `ack`. Tests change the knobs
// between ticks to inject faults.
class ScriptedDisplay {
 public:
  ScriptedDisplay(FakeSerialPort& port, std::string name) : port_(port), name_(std::move(name)) {
    port_.onWrite = [this](std::uint8_t byte) { OnByte(byte); };
  }

  bool answerProbes = true;
  bool autoEcho = true;  // echo each block byte as it arrives
  bool autoAck = true;   // acknowledge after the 515th byte
  std::uint8_t ack = BLOCK_ACCEPT;
  std::vector<std::uint8_t> frame = kFrameArrival;
  std::vector<std::vector<std::uint8_t>> blocks;  // every block received, wire order
  int probes = 0;

  const std::string& name() const { return name_; }

 private:
  void OnByte(std::uint8_t byte) {
    if (port_.openPort != name_) {
      return;
    }
    if (opensSeen_ != port_.opens.size()) {
      receiving_ = false;  // a fresh open: the display starts over
      opensSeen_ = port_.opens.size();
    }
    if (receiving_) {
      blocks.back().push_back(byte);
      if (autoEcho) {
        port_.input.push_back(static_cast<std::uint8_t>(~byte));
      }
      if (blocks.back().size() == BLOCK_SIZE) {
        receiving_ = false;
        if (autoAck) {
          port_.input.push_back(ack);
        }
      }
      return;
    }
    if (byte == PROBE_BYTE) {
      ++probes;
      if (answerProbes) {
        port_.input.push_back(PROBE_REPLY);
        port_.input.insert(port_.input.end(), frame.begin(), frame.end());
        const bool valid = frame.size() == IDENTITY_FRAME_SIZE && frame[3] == 0x00 &&
                           frame[4] == 0x4E && frame[5] == 0x02;
        if (valid) {
          receiving_ = true;
          blocks.emplace_back();
        }
      }
    }
  }

  FakeSerialPort& port_;
  std::string name_;
  bool receiving_ = false;
  std::size_t opensSeen_ = 0;
};

// The program as the display keeps it: 36050 bytes.
inline std::vector<std::uint8_t> SampleProgram() {
  std::vector<std::uint8_t> program(BLOCK_SIZE * BLOCK_COUNT);
  for (std::size_t p = 0; p < program.size(); ++p) {
    program[p] = static_cast<std::uint8_t>((p * 7 + p / 515) & 0xFF);
  }
  return program;
}

// A package for `deviceId` whose payload, de-keyed by the tool with
// `deviceId` and `listKey`, is `program`.
inline std::string KeyedPackage(const std::string& deviceId, const std::string& listKey,
                                const std::string& title, const std::string& pictures,
                                const std::vector<std::uint8_t>& program) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = deviceId + title + "_" + pictures;
  for (std::size_t p = 0; p < program.size(); ++p) {
    const std::size_t n = p % BLOCK_SIZE;
    const std::uint8_t key =
        n < 8 ? ReadDigitPair(deviceId, static_cast<std::ptrdiff_t>(2 * n))
              : static_cast<std::uint8_t>(listKey[listKey.size() - 1 - (n - 8) % listKey.size()]);
    const auto value = static_cast<std::uint8_t>(program[p] + key);
    text += kHex[value >> 4];
    text += kHex[value & 0x0F];
  }
  return text;
}

// What the display wrote into its memory from the accepted blocks: unscrambled,
// block positions restored, last segment first.
inline std::vector<std::uint8_t> ProgramFromBlocks(
    const std::vector<std::vector<std::uint8_t>>& accepted) {
  std::vector<std::uint8_t> program(BLOCK_SIZE * BLOCK_COUNT);
  for (std::size_t b = 0; b < accepted.size() && b < BLOCK_COUNT; ++b) {
    const std::size_t segment = BLOCK_COUNT - 1 - b;
    for (std::size_t k = 0; k < BLOCK_SIZE; ++k) {
      program[segment * BLOCK_SIZE + (BLOCK_SIZE - 1 - k)] = UnpermuteByte(accepted[b][k]);
    }
  }
  return program;
}

struct EngineHarness {
  FakeSerialPort port;
  FakeHttpClient http;
  FakeHost host;
  FakeGbkDecoder gbk;
  int pausedMs = 0;
  UpgradeEngine engine{host,
                       port,
                       http,
                       gbk,
                       [this](int ms) { pausedMs += ms; },
                       UpgradeEngine::Config{kDefaultServer}};

  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      engine.tick();
    }
  }
  // Ticks while timer 1 runs, as a front end would; returns the ticks run.
  int TickWhileRunning(int limit) {
    int ticks = 0;
    while (host.timerRunning && ticks < limit) {
      engine.tick();
      ++ticks;
    }
    return ticks;
  }
};

}  // namespace brintel::testing
