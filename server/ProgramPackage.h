#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/SendBlock.h"

namespace brintel {

// A package: 16 hex digits of the device identity, the title, "_", two 3-digit
// picture ids, then the payload as hex digit pairs (36050 bytes, 70 segments of
// 515), then anything. Offsets count bytes after CR and LF were removed.
inline constexpr std::size_t PACKAGE_MIN_SIZE = 30000;
inline constexpr std::size_t PACKAGE_ID_SIZE = 16;
inline constexpr std::ptrdiff_t PAYLOAD_OFFSET = 7;  // from the "_"
// One segment a block, each byte written as two hex digits.
inline constexpr int SEGMENT_COUNT = BLOCK_COUNT;
inline constexpr std::ptrdiff_t SEGMENT_DIGITS = 2 * static_cast<std::ptrdiff_t>(BLOCK_SIZE);
inline constexpr std::ptrdiff_t PAYLOAD_DIGITS = SEGMENT_DIGITS * SEGMENT_COUNT;
static_assert(PAYLOAD_DIGITS == 2 * static_cast<std::ptrdiff_t>(PROGRAM_SIZE));
static_assert(PAYLOAD_DIGITS == 72100, "36050 payload bytes");

struct PackageHeader {
  std::ptrdiff_t separator = -1;                     // position of the first "_", -1 if none
  std::ptrdiff_t payloadStart = PAYLOAD_OFFSET - 1;  // its first digit, 7 behind the "_"
  std::string title;  // raw GBK bytes between the identity and the "_"
  std::uint16_t leftPicture = 0;
  std::uint16_t rightPicture = 0;
};

PackageHeader ReadPackageHeader(std::string_view text);

// True when the text has its "_" and every payload position (u + 7 to
// u + 72106) holds a hex digit of either case: only such a package may be
// written into a display. The reading itself keeps the digit pair rule.
bool HoldsValidPayload(std::string_view text);

// A picture id as atoi reads its three bytes: leading blanks and one sign,
// then digits up to the first other byte; no digit gives 0. Low 16 bits.
std::uint16_t ReadPictureId(std::string_view text, std::ptrdiff_t position);

}  // namespace brintel
