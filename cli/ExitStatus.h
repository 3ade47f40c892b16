#pragma once

namespace brintel::cli {

// What scripts depend on: brintel-cli's exit statuses. A run a signal stopped
// exits with 128 + the signal (130 for Ctrl-C, 143 for SIGTERM).
inline constexpr int EXIT_COMPLETED = 0;      // upgrade completed, list printed, history shown
inline constexpr int EXIT_NOT_COMPLETED = 1;  // the run ended without completing
inline constexpr int EXIT_USAGE = 2;          // a usage error, or no way to choose a program
inline constexpr int EXIT_INTERRUPTED = 130;

}  // namespace brintel::cli
