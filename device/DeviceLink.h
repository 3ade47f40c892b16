#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/BlockCounts.h"
#include "device/IdentityFrame.h"
#include "device/SendBlock.h"
#include "device/SerialLink.h"
#include "device/SerialPort.h"

namespace brintel {

// The display's side of a run: the port table, the search and identification
// and the block transfer, each a stage of the one-byte step. One object lives as
// long as the program, so its counters keep their values across runs. A step
// never waits for the device: it takes only the bytes already queued, and
// every time-out is a count of ticks.
class DeviceLink {
 public:
  // kPortLost: the identified display's port refused every write and was
  // closed. The display lost its power with it and counts its blocks from 0
  // again, so the run must end: sending on would write it out of step.
  // kOtherDisplay: in the transfer a valid frame came from a display the
  // package was not made for; nothing is prepared for it.
  enum class IdentifyResult { kPending, kIdentified, kPortLost, kOtherDisplay };
  enum class TransferResult { kPending, kAccepted, kPortLost };

  // The part of a block's exchange the next tick works on; within a stage the
  // step counts the ticks of its time-out.
  enum class Stage {
    kIdentify,         // probe, reply and identity frame (IdentifyStep)
    kSend,             // the prepared block goes out in one tick
    kEcho,             // the complements come back
    kAcknowledgement,  // BLOCK_ACCEPT or BLOCK_RETRY
  };
  Stage stage() const;
  // The next tick sends without waiting for the display: the probe of an
  // identified display after an accepted block, or the prepared block. A probe
  // after a failed exchange waits for its regular tick, so a display that
  // babbles cannot drive the ticks.
  bool SendsNext() const;
  // Counts exchanges that show the right display alive: a valid frame it was
  // accepted for, a complete echo, an acknowledgement. Garbage never counts.
  std::uint64_t validExchanges() const { return validExchanges_; }
  // The identity of the latest display refused in the transfer; empty when
  // none was since the transfer began.
  const std::string& otherDeviceId() const { return otherDeviceId_; }
  const std::string& packageDeviceId() const { return packageDeviceId_; }

  DeviceLink(SerialPort& port, Pause pause);

  // Fills the port table with the ports that can be opened now.
  void ScanPorts();
  void ClosePort();

  // One tick of steps 0..40. kIdentified: a valid identity frame was accepted
  // and the input drained; the first one since `identified` was clear set the
  // status text to the port, " found... " and the label.
  IdentifyResult IdentifyStep(bool transferPhase, std::string& statusText);

  // The search found the display: hand over to the list phase, port closed.
  void EndSearch();

  // The transfer begins at block 0 with a fresh search, for the display
  // `packageDeviceId` only: the package is keyed to it, so any other display
  // would take a program that is not its own.
  void BeginTransfer(std::string packageDeviceId);

  // Prepares block `blockIndex` from the package; the next step sends it.
  void PrepareBlock(std::string_view packageText, std::ptrdiff_t payloadStart,
                    std::string_view listKey);

  // One tick of steps 41..255. kAccepted: the display took the block and
  // blockIndex went up by one.
  TransferResult TransferStep();

  // The label "(sn=...)" of the current frame; rebuilds deviceId as it goes.
  std::string BuildDeviceLabel();

  // Start and ResetToIdle forget the run's device; the port table, portIndex
  // and blockIndex stay.
  void ForgetDevice();

  // Completion: the next transfer starts again from the first block.
  void EndTransfer();

  const std::string& PortName() const { return portTable_[portIndex_]; }
  const std::string& deviceId() const { return deviceId_; }
  std::uint8_t step() const { return step_; }
  std::uint8_t frameBytesLeft() const { return frameBytesLeft_; }
  bool identified() const { return identified_ != 0; }
  std::uint8_t blockIndex() const { return blockIndex_; }
  std::int32_t byteIndex() const { return byteIndex_; }
  std::uint8_t portIndex() const { return portIndex_; }
  std::uint8_t portCount() const { return portCount_; }
  const IdentityFrame& identityFrame() const { return identityFrame_; }
  // Every byte read from the port since the program started, drained ones too.
  std::uint64_t bytesReceived() const { return bytesReceived_; }
  // Counted since the last ResetCounts (the engine's Start).
  const BlockCounts& counts() const { return counts_; }
  void ResetCounts() { counts_ = {}; }
  const SendBlock& sendBlock() const { return sendBlock_; }

 private:
  IdentifyResult Probe(std::string& statusText);
  bool Read(std::uint8_t& byte);
  void Drain();
  void WaitForReply();
  IdentifyResult CollectFrame(bool transferPhase, std::string& statusText);
  IdentifyResult AcceptIdentity(bool transferPhase, std::string& statusText);
  IdentifyResult RefuseOtherDisplay(std::string deviceId);
  void GiveUpProbe();
  bool LosePort();
  TransferResult SendStep();
  void EchoStep();
  TransferResult AcknowledgementStep();

  SerialPort& port_;
  Pause pause_;

  std::array<std::string, SerialPort::kMaxPorts + 1> portTable_;  // the last slot stays empty
  std::uint8_t portCount_ = 0;
  std::uint8_t portIndex_ = 0;
  std::uint8_t frameBytesLeft_ = 0;
  IdentityFrame identityFrame_{};
  SendBlock sendBlock_{};
  std::int32_t byteIndex_ = 0;
  std::uint8_t blockIndex_ = 0;
  std::uint8_t step_ = 0;
  std::int32_t identified_ = 0;
  std::string deviceId_;
  std::uint64_t bytesReceived_ = 0;
  std::uint64_t validExchanges_ = 0;
  bool afterFailure_ = false;  // the probe due follows a failed exchange
  std::string packageDeviceId_;
  std::string otherDeviceId_;
  BlockCounts counts_;
};

}  // namespace brintel
