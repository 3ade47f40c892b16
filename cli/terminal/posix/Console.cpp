#include "cli/terminal/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

namespace brintel::cli {

void PrepareConsole() {
  // A reader that went away (a closed pipe) ends nothing but the output.
  std::signal(SIGPIPE, SIG_IGN);
}

bool IsTerminal(int fd) {
  return ::isatty(fd) != 0;
}

int TerminalWidth(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

}  // namespace brintel::cli
