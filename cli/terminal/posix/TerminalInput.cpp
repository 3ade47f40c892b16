#include "cli/terminal/TerminalInput.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "cli/terminal/Signals.h"

namespace brintel::cli {

std::optional<std::string> ReadAnswer() {
  std::string line;
  while (Interrupted() == 0) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 50) <= 0) {
      continue;
    }
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return std::nullopt;  // end of the input
    }
    if (c == '\n') {
      return line;
    }
    line += c;
  }
  return std::nullopt;
}

void DiscardTypedInput() {
  ::tcflush(STDIN_FILENO, TCIFLUSH);
}

}  // namespace brintel::cli
