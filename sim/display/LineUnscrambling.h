#pragma once

#include <cstdint>

namespace brintel::sim {

// The display's undoing of the tool's line scrambling, written from the bit
// table itself rather than from the tool's code, so a tool that moves a bit
// wrongly writes a wrong program into the simulated display.
std::uint8_t UnscrambleByte(std::uint8_t lineByte);

}  // namespace brintel::sim
