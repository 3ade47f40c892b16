#include "cli/terminal/TerminalInput.h"

#include <windows.h>

#include <array>

#include "cli/terminal/Signals.h"
#include "server/win32/CodePageConversion.h"

namespace brintel::cli {
// The console reads a whole line with its own editing; Ctrl-C ends the read
// (the handler has set the flag by then), so it never needs to be woken.
std::optional<std::string> ReadAnswer() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  std::wstring line;
  std::array<wchar_t, 256> buffer{};
  while (Interrupted() == 0) {
    DWORD read = 0;
    if (::ReadConsoleW(input, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ==
            FALSE ||
        Interrupted() != 0) {
      return std::nullopt;
    }
    if (read == 0) {
      continue;
    }
    line.append(buffer.data(), read);
    if (const auto end = line.find(L'\n'); end != std::wstring::npos) {
      line.resize(end);
      if (!line.empty() && line.back() == L'\r') {
        line.pop_back();
      }
      return CodePageFromWide(CP_UTF8, line);
    }
  }
  return std::nullopt;
}

void DiscardTypedInput() {
  ::FlushConsoleInputBuffer(::GetStdHandle(STD_INPUT_HANDLE));
}

}  // namespace brintel::cli
