#pragma once

#include <cstddef>
#include <string_view>

namespace brintel {

inline constexpr char SEPARATOR = '_';

// A GBK lead byte starts a double-byte character; the byte after it is never
// a character of its own, even when it is 0x5F.
constexpr bool IsGbkLeadByte(unsigned char byte) {
  return byte >= 0x81 && byte <= 0xFE;
}

// Position of the first "_" at or after `from` that is a character of its own,
// stepping through `text` character by character as GBK; npos if none.
std::size_t FindSeparator(std::string_view text, std::size_t from = 0);

}  // namespace brintel
