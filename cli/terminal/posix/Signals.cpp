#include "cli/terminal/Signals.h"

namespace brintel::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t resized = 0;

void OnInterrupt(int signal) {
  interrupted = signal;
}

void OnResize(int) {
  resized = 1;
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// SA_RESTART: a resize must not end a wait for Enter.
void CatchResizes() {
  struct sigaction action {};
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, nullptr);
}

const volatile std::sig_atomic_t& Interrupted() {
  return interrupted;
}

bool TakeResize() {
  if (resized == 0) {
    return false;
  }
  resized = 0;
  return true;
}

int InterruptedStatus() {
  return 128 + interrupted;
}

}  // namespace brintel::cli
