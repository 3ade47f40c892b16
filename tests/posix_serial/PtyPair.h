#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/posix/UniqueFd.h"

namespace brintel::testing {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Generous: bytes cross a pty in microseconds; this only bounds a failing test.
inline constexpr std::chrono::seconds kCrossingDeadline{2};

// Waits up to a few milliseconds for `fd` to become readable.
inline void AwaitReadable(int fd) {
  pollfd request{fd, POLLIN, 0};
  ::poll(&request, 1, 5);
}

// A pseudo-terminal pair in the kernel's default (cooked) settings. The port under
// test opens the slave path; the test plays the display on the master.
class PtyPair {
 public:
  PtyPair() {
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    master_.reset(master);
    slave_.reset(slave);
    std::array<char, 128> name{};
    if (::ttyname_r(slave_.get(), name.data(), name.size()) != 0) {
      throw std::runtime_error("ttyname_r failed");
    }
    path_ = name.data();
    ::fcntl(master_.get(), F_SETFL, ::fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
  }
  // The display's end first, as when it is unplugged.
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& path() const { return path_; }
  // The test's own descriptor on the slave side, to inspect and wait on the line.
  int slave() const { return slave_.get(); }

  // Unplugs the display: the slave side is hung up.
  void CloseMaster() { master_.reset(); }

  void Send(const Bytes& bytes) {
    if (::write(master_.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("short write on the pty master");
    }
  }

  // What the port sent, once `count` bytes have come or the deadline has passed.
  Bytes Receive(std::size_t count) {
    Bytes received;
    const auto deadline = Clock::now() + kCrossingDeadline;
    while (received.size() < count && Clock::now() < deadline) {
      std::array<std::uint8_t, 512> chunk{};
      const ssize_t n = ::read(master_.get(), chunk.data(), chunk.size());
      if (n > 0) {
        received.insert(received.end(), chunk.begin(), chunk.begin() + n);
      } else {
        AwaitReadable(master_.get());
      }
    }
    return received;
  }

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string path_;
};

}  // namespace brintel::testing
