#include "cli/terminal/TerminalSize.h"

#include <sys/ioctl.h>

namespace brintel::cli {

int TerminalWidth(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

}  // namespace brintel::cli
