#include "server/ProgramPackage.h"

#include <algorithm>

#include "server/Separator.h"

namespace brintel {

PackageHeader ReadPackageHeader(std::string_view text) {
  PackageHeader header;
  const std::size_t separator = FindSeparator(text);
  if (separator != std::string_view::npos) {
    header.separator = static_cast<std::ptrdiff_t>(separator);
    header.payloadStart = header.separator + PAYLOAD_OFFSET;
    if (separator > PACKAGE_ID_SIZE) {
      header.title = std::string(text.substr(PACKAGE_ID_SIZE, separator - PACKAGE_ID_SIZE));
    }
  }
  header.leftPicture = ReadPictureId(text, header.separator + 1);
  header.rightPicture = ReadPictureId(text, header.separator + 4);
  return header;
}

bool HoldsValidPayload(std::string_view text) {
  const std::size_t separator = FindSeparator(text);
  if (separator == std::string_view::npos ||
      text.size() < separator + PAYLOAD_OFFSET + PAYLOAD_DIGITS) {
    return false;
  }
  const std::string_view payload = text.substr(separator + PAYLOAD_OFFSET, PAYLOAD_DIGITS);
  return std::all_of(payload.begin(), payload.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

std::uint16_t ReadPictureId(std::string_view text, std::ptrdiff_t position) {
  if (position < 0) {
    return 0;
  }
  const std::string_view field =
      text.substr(std::min(text.size(), static_cast<std::size_t>(position)), 3);
  std::size_t i = 0;
  while (i < field.size() &&
         (field[i] == ' ' || field[i] == '\t' || field[i] == '\v' || field[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  int value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = value * 10 + (field[i] - '0');
  }
  return static_cast<std::uint16_t>(negative ? -value : value);
}

}  // namespace brintel
