#include "app/WideText.h"

#include <vector>

#include <windows.h>

#include "server/win32/CodePageConversion.h"

namespace brintel::app {

std::wstring Utf8ToWide(std::string_view utf8) {
  return WideFromCodePage(CP_UTF8, utf8);
}

std::string WideToUtf8(std::wstring_view wide) {
  return CodePageFromWide(CP_UTF8, wide);
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
      return CodePageFromWide(CP_ACP,
                              BaseNameWithoutExtension(std::wstring_view(path.data(), length)));
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace brintel::app
