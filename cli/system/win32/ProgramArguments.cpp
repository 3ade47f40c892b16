#include "cli/system/ProgramArguments.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "server/win32/CodePageConversion.h"

namespace brintel::cli {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    return {argv, argv + argc};
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    arguments.push_back(CodePageFromWide(CP_UTF8, wide[i]));
  }
  ::LocalFree(wide);
  return arguments;
}

}  // namespace brintel::cli
