#include "device/IdentityFrame.h"

namespace brintel {

bool IsValidFrame(const IdentityFrame& frame) {
  return frame[5] == 0x02 && frame[6] == 0x4E && frame[7] == 0x00;
}

DeviceIdentity BuildDeviceLabel(const IdentityFrame& frame) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  struct Digit {
    std::size_t slot;
    std::uint8_t offset;
    bool dashAfter;
  };
  // The device offsets its identity bytes; the fixed slots 5..7 carry none of it.
  static constexpr Digit kDigits[] = {{0, 0x20, false}, {1, 0x20, true},  {2, 0x20, false},
                                      {3, 0x20, true},  {4, 0x10, false}, {8, 0x10, true},
                                      {9, 0x10, false}, {10, 0x10, false}};
  DeviceIdentity identity;
  identity.deviceLabel = "(sn=";
  for (const Digit& d : kDigits) {
    const auto value = static_cast<std::uint8_t>(frame[d.slot] + d.offset);
    const char pair[2] = {kHex[value >> 4], kHex[value & 0x0F]};
    identity.deviceLabel.append(pair, 2);
    identity.deviceId.append(pair, 2);
    if (d.dashAfter) {
      identity.deviceLabel += '-';
    }
  }
  identity.deviceLabel += ')';
  return identity;
}

}  // namespace brintel
