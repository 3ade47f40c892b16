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

}  // namespace brintel
