#include "device/SendBlock.h"

#include "device/PermuteByte.h"

namespace brintel {
namespace {

int HexValue(std::string_view text, std::ptrdiff_t position) {
  if (position < 0 || position >= static_cast<std::ptrdiff_t>(text.size())) {
    return -1;
  }
  return HexDigitValue(text[static_cast<std::size_t>(position)]);
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

std::uint8_t ReadDigitPair(std::string_view text, std::ptrdiff_t position) {
  const int high = HexValue(text, position);
  if (high < 0) {
    return 0;
  }
  const int low = HexValue(text, position + 1);
  return static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
}

SendBlock PrepareBlock(std::string_view packageText, std::ptrdiff_t payloadStart, int blockIndex,
                       std::string_view deviceId, std::string_view listKey) {
  SendBlock block{};
  const std::size_t keyLength = listKey.size();
  for (int n = 0; n < static_cast<int>(BLOCK_SIZE); ++n) {
    const std::uint8_t value =
        ReadDigitPair(packageText, BlockDigitPosition(payloadStart, blockIndex, n));
    std::uint8_t key = 0;
    if (n < 8) {
      key = ReadDigitPair(deviceId, 2 * n);
    } else if (keyLength > 0) {
      const auto cycle = static_cast<std::size_t>(n - 8) % keyLength;
      key = static_cast<std::uint8_t>(listKey[keyLength - 1 - cycle]);
    }
    block[BLOCK_SIZE - 1 - static_cast<std::size_t>(n)] =
        PermuteByte(static_cast<std::uint8_t>(value - key));
  }
  return block;
}

}  // namespace brintel
