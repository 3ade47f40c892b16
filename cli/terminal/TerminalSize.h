#pragma once

namespace brintel::cli {

// The columns of the terminal on `fd` now; 80 when it is none or does not say.
int TerminalWidth(int fd);

}  // namespace brintel::cli
