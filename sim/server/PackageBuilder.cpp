#include "sim/server/PackageBuilder.h"

#include <stdexcept>

#include "device/SendBlock.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"

namespace brintel::sim {

std::uint8_t PayloadKey(std::string_view deviceId, std::string_view listKey, std::size_t position) {
  const std::size_t n = position % BLOCK_SIZE;
  if (n < 8) {
    return ReadDigitPair(deviceId, static_cast<std::ptrdiff_t>(2 * n));
  }
  return static_cast<std::uint8_t>(listKey[listKey.size() - 1 - (n - 8) % listKey.size()]);
}

std::string BuildPackage(std::string_view deviceId, std::string_view listKey,
                         const Program& program) {
  if (listKey.empty()) {
    throw std::invalid_argument("a package needs a list key of at least one byte");
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(deviceId.size() + program.title.size() + 7 +
               static_cast<std::size_t>(PAYLOAD_DIGITS) + program.trailer.size());
  text.append(deviceId).append(program.title);
  text += SEPARATOR;
  text += program.pictures;
  for (std::size_t p = 0; p < program.data.size(); ++p) {
    const auto value =
        static_cast<std::uint8_t>(program.data[p] + PayloadKey(deviceId, listKey, p));
    text += kHex[value >> 4];
    text += kHex[value & 0x0F];
  }
  text += program.trailer;
  return text;
}

std::string WithLineBreaks(std::string_view text, std::size_t width) {
  if (width == 0) {
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size() + 2 * (text.size() / width + 1));
  for (std::size_t line = 0; line < text.size(); line += width) {
    out.append(text.substr(line, width));
    out += "\r\n";
  }
  return out;
}

}  // namespace brintel::sim
