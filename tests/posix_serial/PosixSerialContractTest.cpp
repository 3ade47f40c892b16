#include <sys/ioctl.h>

#include <chrono>
#include <string>
#include <thread>

#include "../contracts/SerialPortContract.h"
#include "PtyPair.h"
#include "device/posix/PosixSerialPort.h"

namespace brintel::testing {
namespace {

// The port on the slave of a fresh pty pair; the display on its master.
class PtyRig {
 public:
  using Port = PosixSerialPort;
  static constexpr std::chrono::milliseconds kEmptyReadBound{50};
  static constexpr std::chrono::milliseconds kLostPortBound{100};

  std::string PortName() const { return pty_.path(); }

  std::size_t Send(const Bytes& bytes) {
    pty_.Send(bytes);
    // The kernel moves the bytes to the slave a moment later.
    int queued = 0;
    const auto deadline = Clock::now() + kCrossingDeadline;
    while (::ioctl(pty_.slave(), FIONREAD, &queued) == 0 &&
           static_cast<std::size_t>(queued) < bytes.size() && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds{1});
    }
    return static_cast<std::size_t>(queued);
  }

  Bytes Receive(std::size_t count) { return pty_.Receive(count); }
  void AwaitInput() { AwaitReadable(pty_.slave()); }
  void HangUp() { pty_.CloseMaster(); }

 private:
  PtyPair pty_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, SerialPortContract, PtyRig);

}  // namespace
}  // namespace brintel::testing
