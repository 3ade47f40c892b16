// brintel-cli: the upgrade engine without a window.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/ChannelHost.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/JsonEventWriter.h"
#include "cli/TracingSerialPort.h"
#include "cli/UnitWatch.h"
#include "cli/UpgradeRun.h"
#include "device/posix/PosixSerialPort.h"
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
  switch (options.command) {
    case CliOptions::Command::kStation:
      CatchInterrupts();
      return RunStation(options.station, std::cout, std::cerr, interrupted);
    case CliOptions::Command::kHistory:
      return RunHistory(options.history, std::cout, std::cerr);
    case CliOptions::Command::kUpgrade:
      break;
  }
  if (options.json && !options.program && !options.yes && !options.list) {
    std::cerr << "brintel-cli: --json answers every message itself; give --program NAME or "
                 "--yes\n";
    return EXIT_USAGE;
  }

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
  if (!options.trace.empty()) {
    trace.reset(std::fopen(options.trace.c_str(), "w"));
    if (!trace) {
      std::perror(("brintel-cli: " + options.trace).c_str());
      return EXIT_USAGE;
    }
  }

  // With --json nobody answers at the terminal: the run reports its events
  // as a station channel does.
  JsonEventWriter json(std::cout);
  ChannelHost channelHost({.channel = 1, .program = options.program, .address = options.address},
                          [&json](const RunEvent& event) { json(event); });
  ConsoleHost console({.liveLine = isatty(STDOUT_FILENO) != 0,
                       .canAsk = isatty(STDIN_FILENO) != 0,
                       .yes = options.yes,
                       .list = options.list,
                       .program = options.program,
                       .address = options.address},
                      std::cout, std::cerr, std::cin);
  RunHost& host = options.json && !options.list ? static_cast<RunHost&>(channelHost) : console;
  PosixSerialPort serial(PosixSerialPort::Options{.fixedPorts = options.ports});
  std::unique_ptr<TracingSerialPort> tracing;
  SerialPort* port = &serial;
  if (trace) {
    tracing = std::make_unique<TracingSerialPort>(serial, trace.get());
    port = tracing.get();
  }
  CurlHttpClient http(CurlHttpClient::Options{.userAgent = "brintel-cli"});
  IconvGbkDecoder gbk;
  UpgradeRun::Settings settings{.searchTimeout = options.searchTimeout,
                                .silenceTimeout = options.searchTimeout,
                                .showOpenErrors = !options.ports.empty(),
                                .waitForInput = [&serial](UpgradeRun::Clock::time_point until) {
                                  return serial.WaitForInput(until);
                                }};
  if (options.server) {
    settings.defaultServer = *options.server;
  }
  UpgradeRun run(host, *port, http, gbk, settings);

  // With --json the run is reported as one unit, as a station channel's are.
  const bool reportUnit = &host == &channelHost;
  UnitWatch unit(run, channelHost);
  CatchInterrupts();
  const UpgradeRun::Ending ending = run.Run([] { return interrupted != 0; },
                                            [&] {
                                              if (reportUnit && unit.AfterTick()) {
                                                channelHost.Emit(unit.Started());
                                              }
                                            });
  if (reportUnit && unit.started()) {
    channelHost.Emit(unit.Ended(ending, interrupted != 0));
  }
  console.Finish();
  return run.ExitStatus(interrupted != 0 ? UpgradeRun::Ending::kInterrupted : ending);
}
