#include "app/WideText.h"

#include <limits>
#include <vector>

#include <windows.h>

#include <commctrl.h>

namespace brintel::app {
namespace {

std::string Narrow(UINT codePage, std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return {};
  }
  const int length = static_cast<int>(wide.size());
  const int needed =
      ::WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(codePage, 0, wide.data(), length, text.data(), needed, nullptr, nullptr);
  return text;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return {};
  }
  const int length = static_cast<int>(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  return Narrow(CP_UTF8, wide);
}

std::wstring BaseNameWithoutExtension(std::wstring_view path) {
  const std::size_t folderEnd = path.find_last_of(L"\\/:");
  std::wstring_view name = folderEnd == std::wstring_view::npos ? path : path.substr(folderEnd + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring_view::npos) {
    name = name.substr(0, dot);
  }
  return std::wstring(name);
}

std::string ProgramAgentName() {
  // Long paths exceed MAX_PATH; grow until the name fits.
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) {
      return {};
    }
    if (length < size) {
      return Narrow(CP_ACP, BaseNameWithoutExtension(std::wstring_view(path.data(), length)));
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace brintel::app
