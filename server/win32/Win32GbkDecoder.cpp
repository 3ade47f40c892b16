#include "server/win32/Win32GbkDecoder.h"

#include <windows.h>

#include "server/win32/CodePageConversion.h"

namespace brintel {
namespace {

constexpr UINT kGbkCodePage = 936;
constexpr wchar_t kReplacement = L'\xFFFD';

// The UTF-16 of `bytes`, or an empty string when any byte is not part of a
// valid character.
std::wstring Widen(std::string_view bytes) {
  return WideFromCodePage(kGbkCodePage, bytes, InvalidBytes::kFail);
}

// One character at a time: a double-byte character if the next two bytes make
// one, else a valid single byte, else U+FFFD for this byte alone, so that the
// next byte starts afresh.
std::wstring WidenReplacingInvalid(std::string_view gbk) {
  std::wstring wide;
  wide.reserve(gbk.size());
  std::size_t i = 0;
  while (i < gbk.size()) {
    if (static_cast<unsigned char>(gbk[i]) < 0x80) {
      wide += static_cast<wchar_t>(gbk[i]);
      ++i;
      continue;
    }
    if (i + 1 < gbk.size()) {
      const std::wstring pair = Widen(gbk.substr(i, 2));
      if (pair.size() == 1) {
        wide += pair;
        i += 2;
        continue;
      }
    }
    const std::wstring single = Widen(gbk.substr(i, 1));
    wide += single.size() == 1 ? single : std::wstring(1, kReplacement);
    ++i;
  }
  return wide;
}

}  // namespace

std::string Win32GbkDecoder::ToUtf8(std::string_view gbk) const {
  if (gbk.empty()) {
    return {};
  }
  // The whole text in one call when it is valid, as it nearly always is.
  std::wstring wide = Widen(gbk);
  if (wide.empty()) {
    wide = WidenReplacingInvalid(gbk);
  }
  return CodePageFromWide(CP_UTF8, wide);
}

}  // namespace brintel
