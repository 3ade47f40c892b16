#include <chrono>
#include <cstdint>
#include <string>

#include "../contracts/SerialPortContract.h"
#include "PtyPeerClient.h"
#include "device/win32/Win32SerialPort.h"

#include <windows.h>

namespace brintel::testing {
namespace {

// The port on the COM number that brintel-pty-peer maps its fresh
// pseudo-terminal on; the peer plays the display on the master.
class PeerRig {
 public:
  using Port = Win32SerialPort;
  static constexpr std::chrono::milliseconds kEmptyReadBound{100};
  // As loose as this adapter's test of a lost line always was: it catches a
  // write that hangs, not one that fails slowly.
  static constexpr std::chrono::milliseconds kLostPortBound{5000};

  PeerRig() { peer_.NewLine(); }

  std::string PortName() const { return peer_.portName(); }
  std::size_t Send(const Bytes& bytes) { return peer_.Send(bytes); }
  Bytes Receive(std::size_t count) { return peer_.Receive(static_cast<std::uint32_t>(count)); }

  void AwaitInput() { ::Sleep(1); }
  void HangUp() { peer_.HangUp(); }

 private:
  PtyPeerClient peer_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SerialPortContract, PeerRig);

}  // namespace
}  // namespace brintel::testing
