#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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

// brintel-cli's port: opened for overlapped input and output so that the run
// can sleep on WaitForInput. The same promises on the same line.
class WaitablePort final : public SerialPort {
 public:
  std::vector<std::string> ScanPorts() override { return port_.ScanPorts(); }
  bool OpenPort(const std::string& name) override { return port_.OpenPort(name); }
  bool WriteByte(std::uint8_t byte) override { return port_.WriteByte(byte); }
  bool ReadByte(std::uint8_t& byte) override { return port_.ReadByte(byte); }
  void ClearError() override { port_.ClearError(); }
  void ClosePort() override { port_.ClosePort(); }
  bool IsOpen() const override { return port_.IsOpen(); }

 private:
  Win32SerialPort port_{Win32SerialPort::Options{.fixedPorts = {}, .waitable = true}};
};

class WaitablePeerRig : public PeerRig {
 public:
  using Port = WaitablePort;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32Waitable, SerialPortContract, WaitablePeerRig);

}  // namespace
}  // namespace brintel::testing
