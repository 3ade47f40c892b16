#pragma once

#include <signal.h>

#include <ctime>

namespace brintel::sim {

// SIGINT, SIGTERM and SIGHUP, blocked in the calling thread. Called before any
// thread exists, so that they all inherit the mask and the signals are taken
// by StopSignalled, outside any handler.
inline sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

// Waits up to 50 ms for one of `signals`; true when one came.
inline bool StopSignalled(const sigset_t& signals) {
  const timespec wait{0, 50'000'000};
  return sigtimedwait(&signals, nullptr, &wait) > 0;
}

}  // namespace brintel::sim
