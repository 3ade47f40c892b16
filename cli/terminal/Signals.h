#pragma once

#include <csignal>

namespace brintel::cli {

// Ctrl-C (and SIGTERM; on Windows Ctrl-Break and closing the console) is Stop.
// A wait for Enter returns at once; a second one ends the program even inside
// a server request.
void CatchInterrupts();
// SIGWINCH (a new console width on Windows): the live line is drawn again to fit.
void CatchResizes();

// The signal that stopped the run; 0 until one came.
const volatile std::sig_atomic_t& Interrupted();
// True once after each resize.
bool TakeResize();
// A shell's status for a run a signal stopped: 130 for SIGINT, 143 for SIGTERM.
int InterruptedStatus();

}  // namespace brintel::cli
