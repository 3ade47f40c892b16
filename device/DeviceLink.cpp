#include "device/DeviceLink.h"

#include <algorithm>
#include <utility>

#include "device/SearchTexts.h"

namespace brintel {
namespace {

// Steps of the search and of the transfer; a step advances on every tick that
// brings no byte, so each range is a time-out counted in ticks.
constexpr std::uint8_t STEP_PROBE = 0;
constexpr std::uint8_t STEP_REPLY_FIRST = 1;
constexpr std::uint8_t STEP_REPLY_TIMEOUT = 20;
constexpr std::uint8_t STEP_FRAME_FIRST = 21;
constexpr std::uint8_t STEP_FRAME_TIMEOUT = 40;
constexpr std::uint8_t STEP_SEND = 41;
constexpr std::uint8_t STEP_ECHO_FIRST = 42;
constexpr std::uint8_t STEP_ECHO_LAST = 140;
constexpr std::uint8_t STEP_ECHO_COMPLETE = 142;
constexpr std::uint8_t STEP_ACK_LAST = 255;

constexpr int PROBE_PAUSE_MS = 2;

}  // namespace

DeviceLink::DeviceLink(SerialPort& port, Pause pause) : port_(port), pause_(std::move(pause)) {}

void DeviceLink::ScanPorts() {
  const std::vector<std::string> names = port_.ScanPorts();
  const std::size_t count = std::min(names.size(), SerialPort::kMaxPorts);
  // Slots beyond the new count keep what they held; nothing reads them.
  std::copy_n(names.begin(), count, portTable_.begin());
  portCount_ = static_cast<std::uint8_t>(count);
}

void DeviceLink::ClosePort() {
  port_.ClosePort();
}

DeviceLink::Stage DeviceLink::stage() const {
  if (step_ < STEP_SEND) {
    return Stage::kIdentify;
  }
  if (step_ == STEP_SEND) {
    return Stage::kSend;
  }
  return step_ <= STEP_ECHO_LAST ? Stage::kEcho : Stage::kAcknowledgement;
}

bool DeviceLink::SendsNext() const {
  return identified_ != 0 && ((step_ == STEP_PROBE && !afterFailure_) || step_ == STEP_SEND);
}

DeviceLink::IdentifyResult DeviceLink::IdentifyStep(bool transferPhase, std::string& statusText) {
  if (step_ == STEP_PROBE) {
    return Probe(statusText);
  }
  if (step_ < STEP_REPLY_TIMEOUT) {
    WaitForReply();
  } else if (step_ > STEP_REPLY_TIMEOUT && step_ < STEP_FRAME_TIMEOUT) {
    return CollectFrame(transferPhase, statusText);
  } else {
    GiveUpProbe();
  }
  return IdentifyResult::kPending;
}

DeviceLink::IdentifyResult DeviceLink::Probe(std::string& statusText) {
  pause_(PROBE_PAUSE_MS);
  if (!identified_) {
    statusText = messages::kSearching;
    if (portIndex_ >= portCount_) {
      portIndex_ = 0;
      ScanPorts();
    }
    if (portCount_ == 0 || !port_.OpenPort(portTable_[portIndex_])) {
      ++portIndex_;
      return IdentifyResult::kPending;
    }
  }
  afterFailure_ = false;
  Drain();
  if (!SendByte(port_, PROBE_BYTE, pause_)) {
    return LosePort() ? IdentifyResult::kPortLost : IdentifyResult::kPending;
  }
  step_ = STEP_REPLY_FIRST;
  return IdentifyResult::kPending;
}

bool DeviceLink::Read(std::uint8_t& byte) {
  if (!port_.ReadByte(byte)) {
    return false;
  }
  ++bytesReceived_;
  return true;
}

void DeviceLink::Drain() {
  bytesReceived_ += DrainInput(port_);
}

void DeviceLink::WaitForReply() {
  ++step_;
  std::uint8_t byte = 0;
  if (!Read(byte)) {
    return;
  }
  if (byte == PROBE_REPLY) {
    frameBytesLeft_ = IDENTITY_FRAME_SIZE;
    step_ = STEP_FRAME_FIRST;
  } else {
    GiveUpProbe();
  }
}

DeviceLink::IdentifyResult DeviceLink::CollectFrame(bool transferPhase, std::string& statusText) {
  std::uint8_t byte = 0;
  if (!Read(byte)) {
    ++step_;
    return IdentifyResult::kPending;
  }
  do {
    if (frameBytesLeft_ == 0 || frameBytesLeft_ > IDENTITY_FRAME_SIZE) {
      GiveUpProbe();  // cannot happen: the reply always arms the count
      return IdentifyResult::kPending;
    }
    --frameBytesLeft_;
    identityFrame_[frameBytesLeft_] = byte;
    if (frameBytesLeft_ == 0) {
      if (IsValidFrame(identityFrame_)) {
        return AcceptIdentity(transferPhase, statusText);
      }
      if (!transferPhase && !identified_) {
        statusText = PortName() + messages::kFoundNoSerial;
      }
      GiveUpProbe();
      return IdentifyResult::kPending;
    }
  } while (Read(byte));
  return IdentifyResult::kPending;
}

DeviceLink::IdentifyResult DeviceLink::AcceptIdentity(bool transferPhase, std::string& statusText) {
  if (transferPhase) {
    std::string deviceId = brintel::BuildDeviceLabel(identityFrame_).deviceId;
    if (deviceId != packageDeviceId_) {
      return RefuseOtherDisplay(std::move(deviceId));
    }
  }
  ++validExchanges_;
  if (!identified_) {
    identified_ = 1;
    statusText = PortName() + messages::kFound + BuildDeviceLabel();
  }
  Drain();
  return IdentifyResult::kIdentified;
}

// Given up like a bad frame: while searching the port is left for the next
// one; an identified port (the display swapped behind an adapter that stayed)
// gets nothing but probes until the right display answers.
DeviceLink::IdentifyResult DeviceLink::RefuseOtherDisplay(std::string deviceId) {
  otherDeviceId_ = std::move(deviceId);
  ++counts_.otherDisplays;
  if (!identified_) {
    port_.ClosePort();
    ++portIndex_;
  }
  step_ = STEP_PROBE;
  afterFailure_ = true;
  return IdentifyResult::kOtherDisplay;
}

void DeviceLink::GiveUpProbe() {
  if (identified_) {
    ++counts_.identificationFailures;
  } else {
    port_.ClosePort();
    ++portIndex_;
  }
  step_ = STEP_PROBE;
  afterFailure_ = true;
}

// A port that refuses every write is gone (the display was unplugged). While
// searching it is given up like a silent one. True when it was the identified
// display's: the caller must end the run.
bool DeviceLink::LosePort() {
  port_.ClosePort();
  step_ = STEP_PROBE;
  if (identified_) {
    ++counts_.portsLost;
    return true;
  }
  ++portIndex_;
  return false;
}

void DeviceLink::EndSearch() {
  frameBytesLeft_ = 0;
  step_ = STEP_PROBE;
  identified_ = 0;
  port_.ClosePort();
}

void DeviceLink::BeginTransfer(std::string packageDeviceId) {
  packageDeviceId_ = std::move(packageDeviceId);
  otherDeviceId_.clear();
  blockIndex_ = 0;
  step_ = STEP_PROBE;
  frameBytesLeft_ = 0;
}

void DeviceLink::PrepareBlock(std::string_view packageText, std::ptrdiff_t payloadStart,
                              std::string_view listKey) {
  sendBlock_ = brintel::PrepareBlock(packageText, payloadStart, blockIndex_, deviceId_, listKey);
  byteIndex_ = 0;
  step_ = STEP_SEND;
}

DeviceLink::TransferResult DeviceLink::TransferStep() {
  if (step_ == STEP_SEND) {
    return SendStep();
  }
  if (step_ >= STEP_ECHO_FIRST && step_ <= STEP_ECHO_LAST) {
    EchoStep();
  } else if (step_ > STEP_ECHO_LAST) {
    return AcknowledgementStep();
  } else {
    step_ = STEP_PROBE;
  }
  return TransferResult::kPending;
}

DeviceLink::TransferResult DeviceLink::SendStep() {
  for (byteIndex_ = 0; byteIndex_ < static_cast<std::int32_t>(BLOCK_SIZE); ++byteIndex_) {
    if (!SendByte(port_, sendBlock_[static_cast<std::size_t>(byteIndex_)], pause_)) {
      byteIndex_ = 0;
      return LosePort() ? TransferResult::kPortLost : TransferResult::kPending;
    }
  }
  byteIndex_ = 0;
  step_ = STEP_ECHO_FIRST;
  return TransferResult::kPending;
}

void DeviceLink::EchoStep() {
  std::uint8_t byte = 0;
  if (!Read(byte)) {
    ++step_;  // from the last echo step straight into the acknowledgement wait
    return;
  }
  do {
    const auto expected =
        static_cast<std::uint8_t>(~sendBlock_[static_cast<std::size_t>(byteIndex_)]);
    if (byte != expected) {
      ++counts_.wrongEchoes;
      step_ = STEP_PROBE;
      afterFailure_ = true;
      return;
    }
    if (++byteIndex_ == static_cast<std::int32_t>(BLOCK_SIZE)) {
      ++validExchanges_;
      step_ = STEP_ECHO_COMPLETE;  // an early acknowledgement stays queued for the next tick
      return;
    }
  } while (Read(byte));
}

DeviceLink::TransferResult DeviceLink::AcknowledgementStep() {
  std::uint8_t byte = 0;
  if (!Read(byte)) {
    if (step_ != STEP_ACK_LAST) {
      ++step_;
      return TransferResult::kPending;
    }
    // The echo index tells whether the echo ever completed.
    ++(byteIndex_ < static_cast<std::int32_t>(BLOCK_SIZE) ? counts_.echoSilences
                                                          : counts_.acknowledgementSilences);
    step_ = STEP_PROBE;
    afterFailure_ = true;
    return TransferResult::kPending;
  }
  if (byte == BLOCK_ACCEPT) {
    ++validExchanges_;
    ++blockIndex_;
    ++counts_.accepted;
    step_ = STEP_PROBE;
    return TransferResult::kAccepted;
  }
  if (byte == BLOCK_RETRY) {
    ++validExchanges_;
    ++counts_.retryAcknowledgements;
    step_ = STEP_PROBE;
    afterFailure_ = true;
  }
  return TransferResult::kPending;  // any other byte is dropped, one per tick
}

std::string DeviceLink::BuildDeviceLabel() {
  DeviceIdentity identity = brintel::BuildDeviceLabel(identityFrame_);
  deviceId_ = std::move(identity.deviceId);
  return std::move(identity.deviceLabel);
}

void DeviceLink::ForgetDevice() {
  identified_ = 0;
  step_ = STEP_PROBE;
  deviceId_.clear();
}

void DeviceLink::EndTransfer() {
  blockIndex_ = 0;
  step_ = STEP_PROBE;
}

}  // namespace brintel
