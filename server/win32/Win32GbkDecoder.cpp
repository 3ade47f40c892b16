#include "server/win32/Win32GbkDecoder.h"

#include <windows.h>

#include <limits>

namespace brintel {
namespace {

constexpr UINT kGbkCodePage = 936;
constexpr wchar_t kReplacement = L'\xFFFD';

// The UTF-16 of `bytes`, or an empty string when any byte is not part of a
// valid character (MB_ERR_INVALID_CHARS makes the call fail instead of
// substituting silently).
std::wstring Widen(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return {};
  }
  const int length = static_cast<int>(bytes.size());
  const int needed =
      ::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  if (::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, bytes.data(), length, wide.data(),
                            needed) != needed) {
    return {};
  }
  return wide;
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

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return {};
  }
  const int length = static_cast<int>(wide.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, utf8.data(), needed, nullptr, nullptr);
  return utf8;
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
  return Utf8FromWide(wide);
}

}  // namespace brintel
