#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "device/IdentityFrame.h"
#include "device/SendBlock.h"
#include "device/posix/PosixSerialPort.h"
#include "server/ProgramPackage.h"
#include "sim/display/DisplayProtocol.h"
#include "tests/support/Faults.h"
#include "tests/support/TempDir.h"

namespace brintel::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Bounds a failing test only: an answer crosses a pty in microseconds.
inline constexpr Clock::duration kAnswerDeadline = 2s;
// How long a display that is meant to stay silent is listened to.
inline constexpr Clock::duration kSilence = 60ms;

inline const std::string kDeviceId = "1027262514131211";
inline const std::string kListKey = "Zk\x01\xFF";

// The upgrade tool's end of the line, on the core's own termios port.
class Tool {
 public:
  explicit Tool(const std::string& path) : opened_(port_.OpenPort(path)) {}

  bool opened() const { return opened_; }
  PosixSerialPort& port() { return port_; }

  bool Send(const Bytes& bytes) {
    for (const std::uint8_t byte : bytes) {
      if (!port_.WriteByte(byte)) {
        return false;
      }
    }
    return true;
  }

  // What came before `deadline` passed, stopping at `count` bytes.
  Bytes Receive(std::size_t count, Clock::duration deadline = kAnswerDeadline) {
    Bytes received;
    const Clock::time_point end = Clock::now() + deadline;
    while (received.size() < count && Clock::now() < end) {
      std::uint8_t byte = 0;
      if (port_.ReadByte(byte)) {
        received.push_back(byte);
      } else {
        std::this_thread::sleep_for(100us);
      }
    }
    return received;
  }

  Bytes ReceiveFor(Clock::duration window) {
    return Receive(std::numeric_limits<std::size_t>::max(), window);
  }

  // The answer to a probe: the reply and the frame.
  Bytes Probe(Clock::duration deadline = kAnswerDeadline) {
    Send({PROBE_BYTE});
    return Receive(1 + IDENTITY_FRAME_SIZE, deadline);
  }

  // The echo of a whole block and what follows it.
  Bytes SendBlock(const brintel::SendBlock& block, std::size_t expect = BLOCK_SIZE + 1,
                  Clock::duration deadline = kAnswerDeadline) {
    Send(Bytes(block.begin(), block.end()));
    return Receive(expect, deadline);
  }

 private:
  PosixSerialPort port_;
  bool opened_;
};

// Slot 10 comes first on the line.
inline IdentityFrame FrameOf(const Bytes& answer) {
  IdentityFrame frame{};
  for (std::size_t i = 0; i < IDENTITY_FRAME_SIZE && i + 1 < answer.size(); ++i) {
    frame[IDENTITY_FRAME_SIZE - 1 - i] = answer[i + 1];
  }
  return frame;
}

inline bool IsValidAnswer(const Bytes& answer) {
  return answer.size() == 1 + IDENTITY_FRAME_SIZE && answer[0] == PROBE_REPLY &&
         IsValidFrame(FrameOf(answer));
}

inline Bytes ExpectedEcho(const brintel::SendBlock& block, std::uint8_t acknowledgement) {
  Bytes echo;
  for (const std::uint8_t byte : block) {
    echo.push_back(static_cast<std::uint8_t>(~byte));
  }
  echo.push_back(acknowledgement);
  return echo;
}

inline Bytes SampleProgram(std::uint32_t seed) {
  Bytes program(PROGRAM_SIZE);
  for (std::uint8_t& byte : program) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(seed >> 24);
  }
  return program;
}

// A package as the program server sends it to device `kDeviceId`: each program
// byte raised by its key, written as two hex digits.
inline std::string PackageFor(const Bytes& program) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = kDeviceId + "Title_139140";
  for (std::size_t p = 0; p < program.size(); ++p) {
    const std::size_t n = p % BLOCK_SIZE;
    const std::uint8_t key =
        n < 8
            ? ReadDigitPair(kDeviceId, static_cast<std::ptrdiff_t>(2 * n))
            : static_cast<std::uint8_t>(kListKey[kListKey.size() - 1 - (n - 8) % kListKey.size()]);
    const auto value = static_cast<std::uint8_t>(program[p] + key);
    text += kHex[value >> 4];
    text += kHex[value & 0x0F];
  }
  return text;
}

// Block `index` as the tool sends it to device `kDeviceId`.
inline brintel::SendBlock BlockOf(const std::string& package, int index) {
  return PrepareBlock(package, static_cast<std::ptrdiff_t>(package.find('_')) + PAYLOAD_OFFSET,
                      index, kDeviceId, kListKey);
}

inline Bytes Segment(const Bytes& program, int segment) {
  const auto start = program.begin() + static_cast<std::ptrdiff_t>(BLOCK_SIZE) * segment;
  return Bytes(start, start + static_cast<std::ptrdiff_t>(BLOCK_SIZE));
}

template <typename Predicate>
bool WaitFor(Predicate done, Clock::duration deadline = kAnswerDeadline) {
  const Clock::time_point end = Clock::now() + deadline;
  while (!done()) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

using brintel::testing::DisplayFault;
using brintel::testing::TempDir;

}  // namespace brintel::sim::testing
