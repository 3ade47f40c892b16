#pragma once

#include <cstdint>
#include <string_view>

namespace brintel::cli {

// The instruction picture with this id as the BMP file the window draws, for
// the web page; empty for an id that has none.
std::string_view InstructionBitmap(std::uint16_t id);

}  // namespace brintel::cli
