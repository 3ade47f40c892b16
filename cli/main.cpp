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
#include "engine/Messages.h"
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
  // Without --search-timeout the search goes on until Ctrl-C.
  const Clock::duration searchLimit =
      options.searchTimeout ? std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(*options.searchTimeout))
                            : Clock::duration::max();
  std::optional<Clock::time_point> searchingSince;
  std::string lastOpenError;
  // Blocks may have gone out since the display was identified in the
  // transfer; from then on a run that ends early leaves it mid-program.
  bool writing = false;
  std::uint64_t bytesSeen = 0;
  Clock::time_point answeredAt{};
  char limitText[32] = "";
  if (options.searchTimeout) {
    std::snprintf(limitText, sizeof limitText, "%g", *options.searchTimeout);
  }
  // A display left mid-program and written again without a power cycle takes
  // the new run's blocks after the old ones.
  const auto adviseIfMidProgram = [&] {
    if (writing && !engine.completed() && host.lastMessage() != messages::kStopMidwayHint) {
      host.Note(messages::kStopMidwayHint);
    }
  };

  engine.OnStart();
  auto next = Clock::now();
  while (host.timerRunning()) {
    if (interrupted) {
      engine.OnStop();
      adviseIfMidProgram();
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
    } else if (now - *searchingSince >= searchLimit) {
      engine.OnStop();
      host.Note(std::string("no display found within ") + limitText + " s");
      adviseIfMidProgram();
      host.Finish();
      return EXIT_NOT_COMPLETED;
    }
    // An identified display that falls silent (its power gone while the
    // adapter stays) is given up after the same time as a search.
    if (writing && engine.link().bytesReceived() != bytesSeen) {
      bytesSeen = engine.link().bytesReceived();
      answeredAt = now;
    }
    if (writing && now - answeredAt >= searchLimit) {
      engine.OnStop();
      host.Note(std::string("the display has not answered for ") + limitText + " s");
      adviseIfMidProgram();
      host.Finish();
      return EXIT_NOT_COMPLETED;
    }
    next = std::max(next + kTick, now);
    std::this_thread::sleep_until(next);
    engine.tick();
    if (!writing && engine.phase() == PHASE_TRANSFER && engine.link().identified()) {
      writing = true;
      bytesSeen = engine.link().bytesReceived();
      answeredAt = Clock::now();
    }
    if (serial.LastOpenError() != lastOpenError) {
      lastOpenError = serial.LastOpenError();
      if (!lastOpenError.empty() && !options.ports.empty()) {
        host.Note(lastOpenError);
      }
    }
  }
  adviseIfMidProgram();
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
