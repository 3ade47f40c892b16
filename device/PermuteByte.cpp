#include "device/PermuteByte.h"

namespace brintel {
namespace {

constexpr int kTarget[8] = {7, 1, 2, 4, 3, 6, 0, 5};
constexpr std::uint8_t kInvertMask = 0x35;

}  // namespace

std::uint8_t PermuteByte(std::uint8_t value) {
  const auto inverted = static_cast<std::uint8_t>(value ^ kInvertMask);
  std::uint8_t out = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (inverted & (1u << bit)) {
      out = static_cast<std::uint8_t>(out | (1u << kTarget[bit]));
    }
  }
  return out;
}

std::uint8_t UnpermuteByte(std::uint8_t value) {
  std::uint8_t moved = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (value & (1u << kTarget[bit])) {
      moved = static_cast<std::uint8_t>(moved | (1u << bit));
    }
  }
  return static_cast<std::uint8_t>(moved ^ kInvertMask);
}

}  // namespace brintel
