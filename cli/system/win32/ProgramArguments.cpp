#include "cli/system/ProgramArguments.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>

namespace brintel::cli {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    const int length = static_cast<int>(std::wcslen(wide[i]));
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, wide[i], length, text.data(), size, nullptr, nullptr);
    }
    arguments.push_back(std::move(text));
  }
  ::LocalFree(wide);
  return arguments;
}

}  // namespace brintel::cli
