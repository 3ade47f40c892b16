// brintel-cli: the upgrade engine without a window.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/TracingSerialPort.h"
#include "device/posix/PosixSerialPort.h"
#include "engine/UpgradeEngine.h"
#include "server/posix/CurlHttpClient.h"
#include "server/posix/IconvGbkDecoder.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
  interrupted = 1;
}

// Ctrl-C is Stop. Without SA_RESTART a wait for Enter returns at once; a
// second Ctrl-C ends the program even inside a server request.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brintel;
  using namespace brintel::cli;

  const auto parsed = ParseCliOptions(argc, argv);
  if (const int* status = std::get_if<int>(&parsed)) {
    return *status;
  }
  const CliOptions& options = std::get<CliOptions>(parsed);

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
  if (!options.trace.empty()) {
    trace.reset(std::fopen(options.trace.c_str(), "w"));
    if (!trace) {
      std::perror(("brintel-cli: " + options.trace).c_str());
      return EXIT_USAGE;
    }
  }

  ConsoleHost host({.liveLine = isatty(STDOUT_FILENO) != 0,
                    .canAsk = isatty(STDIN_FILENO) != 0,
                    .yes = options.yes,
                    .list = options.list,
                    .program = options.program,
                    .address = options.address},
                   std::cout, std::cerr, std::cin);
  PosixSerialPort serial(PosixSerialPort::Options{.fixedPorts = options.ports});
  std::unique_ptr<TracingSerialPort> tracing;
  SerialPort* port = &serial;
  if (trace) {
    tracing = std::make_unique<TracingSerialPort>(serial, trace.get());
    port = tracing.get();
  }
  CurlHttpClient http(CurlHttpClient::Options{.userAgent = "brintel-cli"});
  IconvGbkDecoder gbk;
  UpgradeEngine::Config config;
  if (options.server) {
    config.defaultServer = *options.server;
  }
  UpgradeEngine engine(
      host, *port, http, gbk,
      [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }, config);

  CatchInterrupts();
  using Clock = std::chrono::steady_clock;
  constexpr auto kTick = std::chrono::milliseconds(5);
  const auto searchLimit =
      options.searchTimeout
          ? std::optional<Clock::duration>(std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(*options.searchTimeout)))
          : std::nullopt;
  std::optional<Clock::time_point> searchingSince;
  std::string lastOpenError;

  engine.OnStart();
  auto next = Clock::now();
  while (host.timerRunning()) {
    if (interrupted) {
      engine.OnStop();
      host.Finish();
      return EXIT_INTERRUPTED;
    }
    const bool searching = engine.phase() == PHASE_SEARCH ||
                           (engine.phase() == PHASE_TRANSFER && !engine.link().identified());
    const auto now = Clock::now();
    if (!searching) {
      searchingSince.reset();
    } else if (!searchingSince) {
      searchingSince = now;
    } else if (searchLimit && now - *searchingSince >= *searchLimit) {
      engine.OnStop();
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", *options.searchTimeout);
      host.Note(std::string("no display found within ") + seconds + " s");
      host.Finish();
      return EXIT_NOT_COMPLETED;
    }
    next = std::max(next + kTick, now);
    std::this_thread::sleep_until(next);
    engine.tick();
    if (serial.LastOpenError() != lastOpenError) {
      lastOpenError = serial.LastOpenError();
      if (!lastOpenError.empty() && !options.ports.empty()) {
        host.Note(lastOpenError);
      }
    }
  }
  host.Finish();
  if (interrupted) {
    return EXIT_INTERRUPTED;
  }
  if (engine.completed()) {
    return EXIT_COMPLETED;
  }
  switch (host.refusal()) {
    case ConsoleHost::Refusal::kListPrinted:
      return EXIT_COMPLETED;
    case ConsoleHost::Refusal::kNoTerminal:
      return EXIT_USAGE;
    default:
      return EXIT_NOT_COMPLETED;
  }
}
