// brintel-display-sim: the vehicle display's side of the upgrade protocol on a
// pseudo-terminal, for demos and for the end-to-end tests of the tool.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "sim/StopSignals.h"
#include "sim/display/DisplaySimulator.h"

namespace {

using brintel::sim::DisplayOptions;
using brintel::sim::DisplaySimulator;
using namespace std::chrono_literals;

// After the last acknowledgement the tool closes the port; closing ours first
// would hang up its line while the acknowledgement may still be unread.
constexpr auto kLingerAfterProgram = 2s;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Simulated vehicle display: answers the upgrade tool's probe with its identity, takes the "
      "program block by block and keeps it. Prints 'PORT <path>' on stdout once the port is "
      "ready.",
      "brintel-display-sim"};
  app.set_version_flag("--version", std::string("brintel-display-sim ") + BRINTEL_VERSION);
  DisplayOptions options;
  std::vector<std::string> faultTexts;
  std::string swapIdentity;
  bool once = false;
  bool quiet = false;

  app.add_option("--identity", options.identity, "identity the display reports, 16 hex digits")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return brintel::sim::BuildIdentityFrame(text) ? "" : "must be 16 hexadecimal digits";
          },
          "HEX16"));
  CLI::Option* device = app.add_option("--device", options.devicePath,
                                       "serve on this existing serial device instead of a new pty");
  app.add_option("--link", options.linkPath, "make this path a symbolic link to the pty")
      ->excludes(device);
  app.add_option("--baud", options.baud, "pace the line at this rate; 0 sends at once")
      ->capture_default_str();
  app.add_option("--fault", faultTexts,
                 "misbehave on purpose (repeatable):\n" + brintel::sim::FaultForms())
      ->check(CLI::Validator(
          [](std::string& text) -> std::string { return brintel::sim::ParseFault(text).error; },
          "FAULT"));
  app.add_option("--swap-identity", swapIdentity,
                 "each SIGUSR1 swaps the display between --identity and this one, a power "
                 "cycle on the same port")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return brintel::sim::BuildIdentityFrame(text) ? "" : "must be 16 hexadecimal digits";
          },
          "HEX16"));
  app.add_option("--output", options.outputPath, "write the finished program to this file");
  app.add_flag("--once", once, "exit after the first finished program");
  app.add_flag("--quiet", quiet, "no progress lines on stderr");
  CLI11_PARSE(app, argc, argv);

  for (const std::string& text : faultTexts) {
    options.faults.push_back(*brintel::sim::ParseFault(text).fault);
  }
  if (!quiet) {
    options.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }

  // Blocked before any thread exists, like the stop signals, so that only the
  // sigtimedwait below takes it.
  const sigset_t stopSignals = brintel::sim::BlockStopSignals();
  sigset_t waited = stopSignals;
  if (!swapIdentity.empty()) {
    sigset_t swapSignal;
    sigemptyset(&swapSignal);
    sigaddset(&swapSignal, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &swapSignal, nullptr);
    sigaddset(&waited, SIGUSR1);
  }

  std::optional<DisplaySimulator> simulator;
  try {
    simulator.emplace(options);
    simulator->Start();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "brintel-display-sim: %s\n", error.what());
    return 1;
  }
  std::printf("PORT %s\n", simulator->PortPath().c_str());
  std::fflush(stdout);

  std::optional<std::chrono::steady_clock::time_point> finishedAt;
  bool swapped = false;
  for (;;) {
    const timespec wait{0, 50'000'000};
    const int taken = sigtimedwait(&waited, nullptr, &wait);
    if (taken == SIGUSR1) {
      swapped = !swapped;
      simulator->SwapIdentity(swapped ? swapIdentity : options.identity);
      continue;
    }
    if (taken > 0) {
      break;
    }
    if (!once) {
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!finishedAt && simulator->Counters().programsCompleted > 0) {
      finishedAt = now;
    }
    if (finishedAt && (!simulator->ToolAttached() || now - *finishedAt > kLingerAfterProgram)) {
      break;
    }
  }
  const bool written = simulator->ProgramsWritten() > 0;
  simulator->Stop();
  return once && !options.outputPath.empty() && !written ? 1 : 0;
}
