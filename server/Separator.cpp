#include "server/Separator.h"

namespace brintel {

std::size_t FindSeparator(std::string_view text, std::size_t from) {
  std::size_t i = from;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == static_cast<unsigned char>(SEPARATOR)) {
      return i;
    }
    i += (IsGbkLeadByte(byte) && i + 1 < text.size()) ? 2u : 1u;
  }
  return std::string_view::npos;
}

}  // namespace brintel
