#pragma once

#include <string>
#include <string_view>

namespace brintel {

// What becomes of bytes that are not a valid character of the code page.
enum class InvalidBytes {
  kReplace,  // the system substitutes them (U+FFFD in UTF-8)
  kFail,     // the whole conversion gives an empty text
};

// The system's conversion between a code page (CP_UTF8, CP_ACP, 936, ...) and
// UTF-16. An empty text, one too long for the system's int lengths, or a
// failed conversion gives an empty result.
std::wstring WideFromCodePage(unsigned int codePage, std::string_view bytes,
                              InvalidBytes invalid = InvalidBytes::kReplace);
std::string CodePageFromWide(unsigned int codePage, std::wstring_view wide);

}  // namespace brintel
