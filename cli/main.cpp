// brintel-cli: the upgrade engine without a window.

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/ChannelHost.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/JsonEventWriter.h"
#include "cli/TerminalText.h"
#include "cli/TracingSerialPort.h"
#include "cli/UnitWatch.h"
#include "cli/UpgradeRun.h"
#include "device/posix/PosixSerialPort.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"
#include "server/posix/CurlHttpClient.h"
#include "server/posix/IconvGbkDecoder.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;  // the signal that stops the run

void OnInterrupt(int signal) {
  interrupted = signal;
}

// Ctrl-C (and SIGTERM) is Stop. Without SA_RESTART a wait for Enter returns at
// once; a second one ends the program even inside a server request.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = static_cast<int>(SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

volatile std::sig_atomic_t resized = 0;

void OnResize(int) {
  resized = 1;
}

// SA_RESTART: a resize must not end a wait for Enter.
void CatchResizes() {
  struct sigaction action {};
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, nullptr);
}

// A shell's status for a run a signal stopped: 130 for SIGINT, 143 for SIGTERM.
int InterruptedStatus() {
  return 128 + interrupted;
}

// A line from the terminal, read a byte at a time between looks at the
// interrupt flag: a Ctrl-C that comes just before the read began still ends
// the wait.
std::optional<std::string> ReadAnswer() {
  std::string line;
  while (interrupted == 0) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 50) <= 0) {
      continue;
    }
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return std::nullopt;  // end of the input
    }
    if (c == '\n') {
      return line;
    }
    line += c;
  }
  return std::nullopt;
}

int TerminalWidth(int fd) {
  winsize size{};
  return ::ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

// Passes requests on and tells the console why one failed: the designed
// messages say only that it did.
class ExplainingHttpClient final : public brintel::HttpClient {
 public:
  ExplainingHttpClient(brintel::HttpClient& http, brintel::cli::ConsoleHost& console)
      : http_(http), console_(console) {}
  brintel::HttpResponse Get(const std::string& url) override {
    brintel::HttpResponse response = http_.Get(url);
    if (response.outcome != brintel::HttpResponse::Outcome::kBody) {
      console_.RequestFailed(url, response.detail);
    }
    return response;
  }

 private:
  brintel::HttpClient& http_;
  brintel::cli::ConsoleHost& console_;
};

// Where the designed run ends without a word, the command line says why.
void ExplainSilentEnd(const brintel::UpgradeEngine& engine, const std::string& deviceId,
                      brintel::cli::ConsoleHost& console) {
  using namespace brintel;
  if (engine.completed()) {
    return;
  }
  if (console.choiceCancelled()) {
    console.Note("no program chosen; nothing was written");
    return;
  }
  const std::string& package = engine.responseText();
  if (engine.requestUrl().find("&type=") == std::string::npos ||
      package.size() < PACKAGE_MIN_SIZE || !HoldsValidPayload(package) ||
      package.compare(0, PACKAGE_ID_SIZE, deviceId) == 0) {
    return;
  }
  if (package[0] == SEPARATOR) {
    console.Note("the package begins with \"_\": it names no display; nothing was written");
  } else {
    console.Note("the package is made for display " +
                 cli::ShownText(package.substr(0, PACKAGE_ID_SIZE)) + ", not for this display " +
                 deviceId + "; nothing was written");
  }
}

// Makes sure the trace can be written at all (a full disk, /dev/full) before
// the run depends on it.
bool TraceWritable(std::FILE* trace) {
  return std::fputs("# brintel-cli trace\n", trace) >= 0 && std::fflush(trace) == 0;
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
      {
        const int status = RunStation(options.station, std::cout, std::cerr, interrupted);
        return status == EXIT_INTERRUPTED ? InterruptedStatus() : status;
      }
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
    if (!trace || !TraceWritable(trace.get())) {
      std::perror(("brintel-cli: cannot write the trace " + options.trace).c_str());
      return EXIT_USAGE;
    }
  }

  // With --json nobody answers at the terminal: the run reports its events
  // as a station channel does.
  JsonEventWriter json(std::cout);
  ChannelHost channelHost({.channel = 1, .program = options.program, .address = options.address},
                          [&json](const RunEvent& event) { json(event); });
  // With --list stdout holds the names alone; everything else is talk.
  const int talkFd = options.list ? STDERR_FILENO : STDOUT_FILENO;
  const bool canAsk = isatty(STDIN_FILENO) != 0;
  ConsoleHost console({.liveLine = isatty(talkFd) != 0,
                       .canAsk = canAsk,
                       .yes = options.yes,
                       .list = options.list,
                       .program = options.program,
                       .address = options.address,
                       .width = [talkFd] { return TerminalWidth(talkFd); },
                       .discardTypedInput =
                           [canAsk] {
                             if (canAsk) {
                               ::tcflush(STDIN_FILENO, TCIFLUSH);
                             }
                           },
                       .readLine = canAsk ? std::function(ReadAnswer)
                                          : std::function<std::optional<std::string>()>{}},
                      options.list ? std::cerr : std::cout, std::cerr, std::cin, &std::cout);
  RunHost& host = options.json && !options.list ? static_cast<RunHost&>(channelHost) : console;
  PosixSerialPort serial(PosixSerialPort::Options{.fixedPorts = options.ports});
  std::unique_ptr<TracingSerialPort> tracing;
  SerialPort* port = &serial;
  if (trace) {
    tracing = std::make_unique<TracingSerialPort>(serial, trace.get());
    port = tracing.get();
  }
  CurlHttpClient curl(CurlHttpClient::Options{.userAgent = "brintel-cli"});
  ExplainingHttpClient http(curl, console);
  IconvGbkDecoder gbk;
  UpgradeRun::Settings settings{.searchTimeout = options.searchTimeout,
                                .silenceTimeout = options.silenceTimeout,
                                .endOnLastingOpenError = !options.ports.empty(),
                                .showOpenErrors = true,
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
  std::string deviceId;  // the display found, which the end of a run forgets
  CatchInterrupts();
  CatchResizes();
  const UpgradeRun::Ending ending = run.Run([] { return interrupted != 0; },
                                            [&] {
                                              if (resized != 0) {
                                                resized = 0;
                                                console.Redraw();
                                              }
                                              if (!run.engine().link().deviceId().empty()) {
                                                deviceId = run.engine().link().deviceId();
                                              }
                                              if (reportUnit && unit.AfterTick()) {
                                                channelHost.Emit(unit.Started());
                                              }
                                            });
  if (reportUnit && unit.started()) {
    channelHost.Emit(unit.Ended(ending, interrupted != 0));
  }
  if (!reportUnit && interrupted == 0 && ending == UpgradeRun::Ending::kStopped) {
    ExplainSilentEnd(run.engine(), deviceId, console);
  }
  console.Finish();
  if (trace && (std::fflush(trace.get()) != 0 || std::ferror(trace.get()) != 0)) {
    std::cerr << "brintel-cli: the trace " << options.trace << " could not be written whole\n";
    return EXIT_NOT_COMPLETED;
  }
  if (interrupted != 0) {
    run.ExitStatus(UpgradeRun::Ending::kInterrupted);
    return InterruptedStatus();
  }
  return run.ExitStatus(ending);
}
