#include "cli/console/UpgradeCommand.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/console/ConsoleHost.h"
#include "cli/console/EndNotes.h"
#include "cli/console/TracingSerialPort.h"
#include "cli/json/JsonEventWriter.h"
#include "cli/system/SystemPorts.h"
#include "cli/terminal/Console.h"
#include "cli/terminal/Signals.h"
#include "cli/terminal/TerminalInput.h"
#include "run/ChannelHost.h"
#include "run/UnitWatch.h"
#include "run/UpgradeRun.h"

namespace brintel::cli {
namespace {

using run::UpgradeRun;

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kStderr = 2;

// Once Ctrl-C came, no request goes out: a prompt interrupted inside a tick
// returns to an engine that would fetch the list next.
class StoppableHttpClient final : public HttpClient {
 public:
  explicit StoppableHttpClient(HttpClient& http) : http_(http) {}
  HttpResponse Get(const std::string& url) override {
    if (Interrupted() != 0) {
      return {.outcome = HttpResponse::Outcome::kNotOpened, .body = {}, .detail = "stopped"};
    }
    return http_.Get(url);
  }

 private:
  HttpClient& http_;
};

using TraceFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The trace, once it is known that it can be written at all (a full disk,
// /dev/full) before the run depends on it; null when it cannot.
TraceFile OpenTrace(const std::string& path) {
  TraceFile trace(std::fopen(path.c_str(), "w"), &std::fclose);
  if (trace &&
      (std::fputs("# brintel-cli trace\n", trace.get()) < 0 || std::fflush(trace.get()) != 0)) {
    trace.reset();
  }
  return trace;
}

int ExitStatusOf(UpgradeRun::Ending ending, const UpgradeEngine& engine,
                 run::RunHost::Refusal refusal) {
  if (ending == UpgradeRun::Ending::kInterrupted) {
    return InterruptedStatus();
  }
  if (ending != UpgradeRun::Ending::kStopped) {
    return EXIT_NOT_COMPLETED;
  }
  if (engine.completed() || refusal == run::RunHost::Refusal::kListPrinted) {
    return EXIT_COMPLETED;
  }
  return refusal == run::RunHost::Refusal::kNoTerminal ? EXIT_USAGE : EXIT_NOT_COMPLETED;
}

ConsoleHost::Settings ConsoleSettings(const CliOptions& options) {
  const int talkFd = options.list ? kStderr : kStdout;
  const bool canAsk = IsTerminal(kStdin);
  return {.liveLine = IsTerminal(talkFd),
          .canAsk = canAsk,
          .yes = options.yes,
          .list = options.list,
          .quiet = options.quiet,
          .program = options.program,
          .address = options.address,
          .width = [talkFd] { return TerminalWidth(talkFd); },
          .discardTypedInput = canAsk ? std::function(DiscardTypedInput) : std::function<void()>{},
          .readLine =
              canAsk ? std::function(ReadAnswer) : std::function<std::optional<std::string>()>{},
          .interrupted = [] { return Interrupted() != 0; }};
}

UpgradeRun::Settings RunSettings(const CliOptions& options, run::ChannelParts& parts) {
  UpgradeRun::Settings settings{.searchTimeout = options.searchTimeout,
                                .silenceTimeout = options.silenceTimeout,
                                .endOnLastingOpenError = !options.ports.empty(),
                                .showOpenErrors = true,
                                .waitForInput = parts.waitForInput};
  if (options.server) {
    settings.defaultServer = *options.server;
  }
  return settings;
}

}  // namespace

int RunUpgrade(const CliOptions& options) {
  if (options.json && !options.program && !options.yes && !options.list) {
    std::cerr << "brintel-cli: --json answers every message itself; give --program NAME or "
                 "--yes\n";
    return EXIT_USAGE;
  }
  TraceFile trace(nullptr, &std::fclose);
  if (!options.trace.empty() && !(trace = OpenTrace(options.trace))) {
    std::perror(("brintel-cli: cannot write the trace " + options.trace).c_str());
    return EXIT_USAGE;
  }

  // With --json nobody answers at the terminal: the run reports its events
  // as a station channel does.
  JsonEventWriter json(std::cout);
  run::ChannelHost channelHost(
      {.channel = 1, .program = options.program, .address = options.address},
      [&json](const run::RunEvent& event) { json(event); });
  // With --list stdout holds the names alone; everything else is talk.
  ConsoleHost console(ConsoleSettings(options), options.list ? std::cerr : std::cout, std::cerr,
                      std::cin, &std::cout);
  const bool reportUnit = options.json && !options.list;
  run::RunHost& host = reportUnit ? static_cast<run::RunHost&>(channelHost) : console;

  run::ChannelParts parts = SystemChannelParts(options.ports);
  std::unique_ptr<TracingSerialPort> tracing;
  SerialPort* port = parts.port.get();
  if (trace) {
    tracing = std::make_unique<TracingSerialPort>(*parts.port, trace.get());
    port = tracing.get();
  }
  StoppableHttpClient http(*parts.http);
  run::SteadyRunClock clock;
  const UpgradeRun::Settings settings = RunSettings(options, parts);
  UpgradeRun upgrade(host, *port, http, *parts.gbk, clock, settings);

  // With --json the run is reported as one unit, as a station channel's are.
  run::UnitWatch unit(upgrade, channelHost, clock);
  std::string deviceId;  // the display found, which the end of a run forgets
  CatchInterrupts();
  CatchResizes();
  const auto interrupted = [] { return Interrupted() != 0; };
  const auto startedAt = std::chrono::steady_clock::now();
  UpgradeRun::Ending ending = upgrade.Run(interrupted, [&] {
    if (TakeResize()) {
      console.Redraw();
    }
    console.AfterTick();
    if (!upgrade.engine().link().deviceId().empty()) {
      deviceId = upgrade.engine().link().deviceId();
    }
    if (reportUnit && unit.AfterTick()) {
      channelHost.Emit(unit.Started());
    }
  });
  // Ctrl-C at the completion's prompt only closes it: the display is written.
  if (interrupted() && !upgrade.engine().completed()) {
    ending = UpgradeRun::Ending::kInterrupted;
  }
  if (reportUnit && unit.started()) {
    channelHost.Emit(unit.Ended(ending, interrupted()));
  }
  if (!reportUnit && ending == UpgradeRun::Ending::kStopped) {
    ExplainSilentEnd(upgrade.engine(), deviceId, console);
  }
  if (reportUnit || options.list) {
    console.Finish();
  } else if (ending == UpgradeRun::Ending::kStopped && upgrade.engine().completed()) {
    console.LastLine(CompletedLine(deviceId, console.chosenName(),
                                   std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::steady_clock::now() - startedAt)),
                     true);
  } else {
    console.LastLine("not completed: " + WhyNotCompleted(ending, upgrade.engine(), host.refusal(),
                                                         Interrupted(), console.stoppedAtPrompt()),
                     false);
  }
  if (trace && (std::fflush(trace.get()) != 0 || std::ferror(trace.get()) != 0)) {
    std::cerr << "brintel-cli: the trace " << options.trace << " could not be written whole\n";
    return EXIT_NOT_COMPLETED;
  }
  return ExitStatusOf(ending, upgrade.engine(), host.refusal());
}

}  // namespace brintel::cli
