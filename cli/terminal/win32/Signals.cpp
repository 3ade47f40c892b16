#include <windows.h>

#include "cli/terminal/Console.h"
#include "cli/terminal/Signals.h"

namespace brintel::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
int knownWidth = 0;

// Ctrl-C and Ctrl-Break are Stop, as SIGINT is on Linux; a second one ends the
// program at once. Closing the console, logging off and shutting down are
// SIGTERM: the system ends the process when the handler returns, so it waits
// here while the run records what it stopped and returns from main.
BOOL WINAPI OnControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (interrupted != 0) {
        return FALSE;
      }
      interrupted = SIGINT;
      return TRUE;
    default:
      if (interrupted == 0) {
        interrupted = SIGTERM;
      }
      ::Sleep(10000);
      return TRUE;
  }
}

}  // namespace

void CatchInterrupts() {
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

// The console sends no signal when it is resized: the width is looked at.
void CatchResizes() {
  knownWidth = TerminalWidth(1);
}

const volatile std::sig_atomic_t& Interrupted() {
  return interrupted;
}

bool TakeResize() {
  const int width = TerminalWidth(1);
  if (width == knownWidth) {
    return false;
  }
  knownWidth = width;
  return true;
}

int InterruptedStatus() {
  return 128 + interrupted;
}

}  // namespace brintel::cli
