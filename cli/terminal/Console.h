#pragma once

namespace brintel::cli {

// Readies the program's output once, before anything is written: on Windows
// UTF-8 in the console, with its escape sequences where it takes them, and no
// CR added before LF anywhere; on Linux a closed pipe ends only the output.
void PrepareConsole();

// Whether `fd` is a terminal to draw on (output) or to ask on (input). A
// Windows console that takes no escape sequences is none for output: it gets
// one line per event.
bool IsTerminal(int fd);

// The columns of the terminal on `fd` now; 80 when it is none or does not say.
int TerminalWidth(int fd);

}  // namespace brintel::cli
