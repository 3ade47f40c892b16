#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/server/Catalogue.h"

namespace brintel::sim {

// The byte the tool subtracts from payload byte `position` (block position
// position % 515): the id's digit pairs for the first 8, then the list key
// backwards and cyclically. `listKey` must not be empty.
std::uint8_t PayloadKey(std::string_view deviceId, std::string_view listKey, std::size_t position);

// The package for one display: the id as given, the title, "_", the pictures,
// each data byte plus its key as two uppercase hex digits, the trailer. Without
// line breaks. Throws std::invalid_argument for an empty list key.
std::string BuildPackage(std::string_view deviceId, std::string_view listKey,
                         const Program& program);

// CRLF after every `width` bytes and after the last partial line; the tool
// drops CR and LF wherever they stand, even inside a GBK character.
std::string WithLineBreaks(std::string_view text, std::size_t width = 64);

}  // namespace brintel::sim
