#pragma once

#include <cstdint>

namespace brintel {

// The line scrambling of every program byte: invert the bits of 0x35, then
// move bit 0->7, 1->1, 2->2, 3->4, 4->3, 5->6, 6->0, 7->5. A bijection.
std::uint8_t PermuteByte(std::uint8_t value);

}  // namespace brintel
