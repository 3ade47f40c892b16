#include "cli/terminal/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace brintel::cli {
namespace {

// Whether stdout and stderr are consoles that took escape sequences.
bool drawable[3] = {false, false, false};

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool IsConsole(int fd) {
  DWORD mode = 0;
  return ::GetConsoleMode(HandleOf(fd), &mode) != FALSE;
}

}  // namespace

void PrepareConsole() {
  ::SetConsoleOutputCP(CP_UTF8);
  for (const int fd : {1, 2}) {
    // The same bytes as on Linux into pipes and files: LF alone.
    ::_setmode(fd, _O_BINARY);
    DWORD mode = 0;
    const HANDLE handle = HandleOf(fd);
    drawable[fd] = ::GetConsoleMode(handle, &mode) != FALSE &&
                   ::SetConsoleMode(handle, mode | ENABLE_PROCESSED_OUTPUT |
                                                ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
  }
}

bool IsTerminal(int fd) {
  if (fd == 1 || fd == 2) {
    return drawable[fd];
  }
  return IsConsole(fd);
}

int TerminalWidth(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(HandleOf(fd), &info) == FALSE) {
    return 80;
  }
  const int width = info.srWindow.Right - info.srWindow.Left + 1;
  return width > 0 ? width : 80;
}

}  // namespace brintel::cli
