#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace brintel {

inline constexpr std::uint8_t PROBE_BYTE = 0x63;
inline constexpr std::uint8_t PROBE_REPLY = 0x9C;
inline constexpr std::size_t IDENTITY_FRAME_SIZE = 11;

// Slot 0 holds the last byte received, slot 10 the first.
using IdentityFrame = std::array<std::uint8_t, IDENTITY_FRAME_SIZE>;

struct DeviceIdentity {
  std::string deviceLabel;  // "(sn=XXXX-XXXX-XXXX-XXXX)"
  std::string deviceId;     // the same 16 uppercase hex digits, without separators
};

// Slots 5, 6 and 7 must hold 0x02, 0x4E, 0x00; there is no checksum.
bool IsValidFrame(const IdentityFrame& frame);

DeviceIdentity BuildDeviceLabel(const IdentityFrame& frame);

}  // namespace brintel
