#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brintel {

inline constexpr std::size_t BLOCK_SIZE = 515;
inline constexpr int BLOCK_COUNT = 70;
inline constexpr std::uint8_t BLOCK_ACCEPT = 0xA6;
inline constexpr std::uint8_t BLOCK_RETRY = 0x55;

// What the display holds after an upgrade: 70 blocks of 515 bytes.
inline constexpr std::size_t PROGRAM_SIZE = BLOCK_SIZE * static_cast<std::size_t>(BLOCK_COUNT);

// In the order of sending: SendBlock[k] carries block position 514 - k.
using SendBlock = std::array<std::uint8_t, BLOCK_SIZE>;

// The value of one hex digit (0-9, A-F, a-f); -1 for any other character.
int HexDigitValue(char c);

// The two characters at `position` read as hex: the run of 0, 1 or 2 hex
// digits at the start; characters past the end of the text end the run.
std::uint8_t ReadDigitPair(std::string_view text, std::ptrdiff_t position);

// Text position of the first digit of byte n of the block sent as number
// `blockIndex`, the payload's first digit at `payloadStart`: blocks go out
// last segment first.
constexpr std::ptrdiff_t BlockDigitPosition(std::ptrdiff_t payloadStart, int blockIndex, int n) {
  constexpr auto kBlockDigits = 2 * static_cast<std::ptrdiff_t>(BLOCK_SIZE);
  return payloadStart + kBlockDigits * (BLOCK_COUNT - 1 - blockIndex) + 2 * n;
}

// Block `blockIndex` of the package, de-keyed and scrambled: positions 0..7
// take the digit pairs of `deviceId` as keys, positions 8..514 the bytes of
// `listKey` (1..32 bytes) backwards and cyclically.
SendBlock PrepareBlock(std::string_view packageText, std::ptrdiff_t payloadStart, int blockIndex,
                       std::string_view deviceId, std::string_view listKey);

}  // namespace brintel
