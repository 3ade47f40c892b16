#include "server/win32/CodePageConversion.h"

#include <windows.h>

#include <limits>

namespace brintel {
namespace {

// The system calls take int lengths.
bool FitsInt(std::size_t size) {
  return size <= static_cast<std::size_t>(std::numeric_limits<int>::max());
}

}  // namespace

std::wstring WideFromCodePage(unsigned int codePage, std::string_view bytes, InvalidBytes invalid) {
  if (bytes.empty() || !FitsInt(bytes.size())) {
    return {};
  }
  // MB_ERR_INVALID_CHARS makes the call fail instead of substituting silently.
  const DWORD flags = invalid == InvalidBytes::kFail ? MB_ERR_INVALID_CHARS : 0;
  const int length = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  if (::MultiByteToWideChar(codePage, flags, bytes.data(), length, wide.data(), needed) != needed) {
    return {};
  }
  return wide;
}

std::string CodePageFromWide(unsigned int codePage, std::wstring_view wide) {
  if (wide.empty() || !FitsInt(wide.size())) {
    return {};
  }
  const int length = static_cast<int>(wide.size());
  const int needed =
      ::WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(needed), '\0');
  if (::WideCharToMultiByte(codePage, 0, wide.data(), length, text.data(), needed, nullptr,
                            nullptr) != needed) {
    return {};
  }
  return text;
}

}  // namespace brintel
