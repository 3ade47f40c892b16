#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brintel::testing {

using Bytes = std::vector<std::uint8_t>;

// The display's end of the line, played by brintel-pty-peer on the Linux side
// of Wine. Every call waits for the peer's answer; a failed call throws.
class PtyPeerClient {
 public:
  // Connects to the peer named in BRINTEL_PTY_PEER_PORT; throws when this
  // process was not started by brintel-pty-peer.
  PtyPeerClient();
  ~PtyPeerClient();
  PtyPeerClient(const PtyPeerClient&) = delete;
  PtyPeerClient& operator=(const PtyPeerClient&) = delete;

  // "COMn", the port the peer maps its pseudo-terminals on.
  const std::string& portName() const { return portName_; }

  // A fresh pseudo-terminal behind the port, raw, nothing queued.
  void NewLine();
  // Line settings that any open must replace: 115200 baud, two stop bits,
  // RTS/CTS and XON/XOFF.
  void Unsettle();
  // Sends bytes as the display; returns how many bytes then wait to be read
  // on the port's side.
  std::uint32_t Send(const Bytes& bytes);
  // What the port sent, once `count` bytes have come or two seconds passed.
  Bytes Receive(std::uint32_t count);
  // The slave's termios, as "speed=9600 cstopb=0 crtscts=0 ixon=0 ixoff=0".
  std::string Settings();
  // Descriptors that Wine holds on the pseudo-terminal: one or more while a
  // handle is open on the port, none once every handle is closed.
  std::uint32_t Holders();
  // Unplugs the display: the pseudo-terminal is hung up.
  void HangUp();
  // Takes the COM number out of the Wine prefix.
  void Unmap();

 private:
  Bytes Request(char op, const Bytes& payload);

  std::uintptr_t socket_;
  std::string portName_;
};

}  // namespace brintel::testing
