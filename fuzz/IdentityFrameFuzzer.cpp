// DeviceLink's search and transfer steps fed by the fuzzer, tick by tick as the
// engine runs them, in either phase: whatever the device sends, the steps stay
// in their ranges, the frame count never passes 11, nothing is read or written
// out of bounds, and only a valid frame yields an identity.

#include <algorithm>
#include <string>

#include "FuzzInput.h"
#include "device/DeviceLink.h"
#include "device/IdentityFrame.h"
#include "device/SendBlock.h"
#include "server/ProgramPackage.h"
#include "sim/display/DisplayProtocol.h"
#include "tests/support/Fakes.h"

namespace brintel::fuzz {
namespace {

constexpr int kMaxTicks = 4000;

// Any text serves: the transfer steps read only what PrepareBlock made of it.
// Its first 16 characters name the only display the transfer may write.
const std::string kPackageId = "1027262514131211";
const std::string kPackage = kPackageId + "_139140" + std::string(1030, 'A') + "5a";
const std::string kListKey = "K1B2_";

bool IsUpperHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void CheckIdentity(DeviceLink& link) {
  FUZZ_CHECK(IsValidFrame(link.identityFrame()));
  const std::string label = link.BuildDeviceLabel();
  const std::string& id = link.deviceId();
  FUZZ_CHECK(id.size() == 16);
  FUZZ_CHECK(std::all_of(id.begin(), id.end(), IsUpperHex));
  FUZZ_CHECK(label == "(sn=" + id.substr(0, 4) + "-" + id.substr(4, 4) + "-" + id.substr(8, 4) +
                          "-" + id.substr(12, 4) + ")");
  // The simulated display encodes an id the other way; both must agree.
  const std::optional<IdentityFrame> encoded = sim::BuildIdentityFrame(id);
  FUZZ_CHECK(encoded && *encoded == link.identityFrame());
}

// What the tool wrote since the last call; one tick writes to one port only.
std::vector<std::uint8_t> TakeWritten(testing::ScriptedPort& port) {
  std::vector<std::uint8_t> bytes;
  for (const auto& [name, sent] : port.written) {
    bytes.insert(bytes.end(), sent.begin(), sent.end());
  }
  port.written.clear();
  return bytes;
}

void CheckCounters(const DeviceLink& link) {
  FUZZ_CHECK(link.frameBytesLeft() <= IDENTITY_FRAME_SIZE);
  FUZZ_CHECK(link.portCount() <= SerialPort::kMaxPorts);
  FUZZ_CHECK(link.portIndex() <= std::max<int>(link.portCount(), 1));
  FUZZ_CHECK(link.blockIndex() <= BLOCK_COUNT);
}

}  // namespace
}  // namespace brintel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brintel;
  using namespace brintel::fuzz;
  FuzzInput in(data, size);
  const std::uint8_t setup = in.Byte();
  const bool transferPhase = (setup & 1) != 0;
  testing::ScriptedPort port;
  for (int i = 0; i < (setup >> 1) % 4; ++i) {
    port.ports.push_back("/dev/ttyFUZZ" + std::to_string(i));
  }
  DeviceLink link(port, [](int) {});
  std::string status;
  link.ScanPorts();
  if (transferPhase) {
    link.BeginTransfer(kPackageId);
  }

  std::vector<std::uint8_t> written;  // in the last tick
  for (int tick = 0; tick < kMaxTicks && !in.empty(); ++tick) {
    // What the device did since the last tick: echo what it was sent (spoiled
    // at one place, if asked) and send raw bytes; and whether the port works.
    const std::uint8_t op = in.Byte();
    port.openFails = (op & 0x80) != 0;
    port.writesFail = (op & 0x40) != 0;
    if ((op & 0x20) != 0 && port.IsOpen()) {
      const std::size_t spoil = (op & 0x10) != 0 ? in.Below(BLOCK_SIZE + 1) : written.size();
      for (std::size_t i = 0; i < written.size(); ++i) {
        const auto echo = static_cast<std::uint8_t>(~written[i]);
        port.input.push_back(i == spoil ? static_cast<std::uint8_t>(echo ^ 0x40) : echo);
      }
    }
    // 15 raw bytes stand for the reply and frame of the package's display,
    // which random bytes would hardly ever spell.
    std::string raw = in.Bytes(op & 0x0F);
    if ((op & 0x0F) == 0x0F) {
      const IdentityFrame frame = *sim::BuildIdentityFrame(kPackageId);
      raw.assign(1, static_cast<char>(PROBE_REPLY));
      std::for_each(frame.rbegin(), frame.rend(),
                    [&raw](std::uint8_t b) { raw += static_cast<char>(b); });
    }
    if (port.IsOpen()) {
      port.input.insert(port.input.end(), raw.begin(), raw.end());
    }

    if (!transferPhase) {
      const auto result = link.IdentifyStep(false, status);
      written = TakeWritten(port);
      FUZZ_CHECK(link.step() <= 40);
      // The search only ever sends the probe.
      FUZZ_CHECK(std::all_of(written.begin(), written.end(),
                             [](std::uint8_t b) { return b == PROBE_BYTE; }));
      if (result == DeviceLink::IdentifyResult::kIdentified) {
        FUZZ_CHECK(link.identified());
        FUZZ_CHECK(status.find(" found... (sn=") != std::string::npos);
        CheckIdentity(link);
        link.EndSearch();
        FUZZ_CHECK(!port.IsOpen());
        link.ForgetDevice();  // Start again, as after a refused list
      }
    } else if (link.step() <= 40) {
      const auto result = link.IdentifyStep(true, status);
      written = TakeWritten(port);
      // Only the package's display is written; any other is refused unprepared.
      const std::string frameId = BuildDeviceLabel(link.identityFrame()).deviceId;
      if (result == DeviceLink::IdentifyResult::kOtherDisplay) {
        FUZZ_CHECK(IsValidFrame(link.identityFrame()) && frameId != kPackageId);
        FUZZ_CHECK(link.otherDeviceId() == frameId && link.step() == 0);
      }
      if (result == DeviceLink::IdentifyResult::kIdentified) {
        FUZZ_CHECK(IsValidFrame(link.identityFrame()) && frameId == kPackageId);
        FUZZ_CHECK(link.identified() && port.IsOpen());
        link.PrepareBlock(kPackage, 16 + PAYLOAD_OFFSET, kListKey);
        FUZZ_CHECK(link.step() == 41);
      } else {
        FUZZ_CHECK(link.step() <= 40);
      }
      FUZZ_CHECK(std::all_of(written.begin(), written.end(),
                             [](std::uint8_t b) { return b == PROBE_BYTE; }));
    } else {
      const bool sending = link.step() == 41;
      const int blocksBefore = link.blockIndex();
      const auto result = link.TransferStep();
      written = TakeWritten(port);
      FUZZ_CHECK(link.step() == 0 || link.step() >= 42);
      if (sending) {
        // The block goes out whole and in order, or up to the write that failed.
        const SendBlock& block = link.sendBlock();
        FUZZ_CHECK(written.size() <= BLOCK_SIZE);
        FUZZ_CHECK(std::equal(written.begin(), written.end(), block.begin()));
        FUZZ_CHECK(written.size() == BLOCK_SIZE || link.step() == 0);
      } else {
        FUZZ_CHECK(written.empty());
      }
      if (result == DeviceLink::TransferResult::kAccepted) {
        FUZZ_CHECK(link.blockIndex() == blocksBefore + 1);
        FUZZ_CHECK(link.step() == 0);
        if (link.blockIndex() >= BLOCK_COUNT) {
          link.EndTransfer();
        }
      } else {
        FUZZ_CHECK(link.blockIndex() == blocksBefore);
      }
    }
    CheckCounters(link);
  }
  return 0;
}
