#pragma once

#include <cstdint>
#include <string>

namespace brintel::cli {

// What the instruction picture with this id shows, for a user without the window.
std::string DescribePicture(std::uint16_t id);

}  // namespace brintel::cli
