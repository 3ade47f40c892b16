#include "cli/station/StationCommand.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "cli/ExitStatus.h"
#include "cli/json/JsonEventWriter.h"
#include "cli/station/RecordsListener.h"
#include "cli/station/StationView.h"
#include "cli/station/web/StationWeb.h"
#include "cli/system/SystemPorts.h"
#include "cli/terminal/Console.h"
#include "cli/terminal/Signals.h"
#include "records/UnitJson.h"
#include "run/StationChannel.h"

namespace brintel::cli {
namespace {

constexpr int kStdout = 1;

// Why the ports cannot make a station, or nothing.
std::optional<std::string> SharedPort(const std::vector<std::string>& ports) {
  for (std::size_t i = 0; i < ports.size(); ++i) {
    for (std::size_t j = i + 1; j < ports.size(); ++j) {
      if (SamePort(ports[i], ports[j])) {
        return "--port " + ports[i] + " and --port " + ports[j] +
               " are the same device; give each adapter once";
      }
    }
  }
  return std::nullopt;
}

// The ports that can never be opened as they are (no permission, not a
// serial device), by their place in the list, with why: their channels would
// search for ever.
std::map<std::size_t, std::string> UnusablePorts(const std::vector<std::string>& ports) {
  std::map<std::size_t, std::string> unusable;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::unique_ptr<SerialPort> port = SystemChannelParts({ports[i]}).port;
    port->ScanPorts();
    if (port->LastOpenErrorLasts()) {
      unusable[i] = port->LastOpenError();
    }
  }
  return unusable;
}

// What every channel asks the station.
struct ChannelRules {
  std::function<bool()> admitUnit;
  std::function<std::string()> hold;
  std::function<bool()> windingDown;
};

// One channel a port, numbered from 1 in the order given.
std::vector<std::unique_ptr<run::StationChannel>> MakeChannels(
    const StationOptions& options, const std::map<std::size_t, std::string>& unusable,
    run::RunClock& clock, const run::RunListener& listener, const ChannelRules& rules) {
  std::vector<std::unique_ptr<run::StationChannel>> channels;
  for (std::size_t i = 0; i < options.ports.size(); ++i) {
    if (unusable.count(i) != 0) {
      continue;
    }
    run::StationChannel::Settings settings;
    settings.channel = static_cast<int>(i + 1);
    settings.port = options.ports[i];
    settings.program = options.program;
    settings.address = options.address;
    if (options.server) {
      settings.defaultServer = *options.server;
    }
    settings.admitUnit = rules.admitUnit;
    settings.hold = rules.hold;
    settings.windingDown = rules.windingDown;
    channels.push_back(std::make_unique<run::StationChannel>(
        std::move(settings), SystemChannelParts({options.ports[i]}), clock, listener));
  }
  return channels;
}

// The ports of the command line with those found under by-path, or the exit
// status when they cannot make a station.
std::optional<int> CheckPorts(StationOptions& options, std::ostream& err) {
  if (options.portsFromByPath) {
    const std::vector<std::string> found = AdapterPorts();
    options.ports.insert(options.ports.end(), found.begin(), found.end());
  }
  if (options.ports.empty()) {
    if (options.portsFromByPath) {
      err << "brintel-cli station: no adapter in " << kAdapterPortsPlace
          << "; plug one in, or give --port\n";
    } else {
      err << "brintel-cli station: no port; give --port for each adapter (or --all-ports)\n";
    }
    return EXIT_USAGE;
  }
  if (const std::optional<std::string> why = SharedPort(options.ports)) {
    err << "brintel-cli station: " << *why << '\n';
    return EXIT_USAGE;
  }
  return std::nullopt;
}

enum class StationEnd { kInterrupted, kUnitsEnded, kOutputLost, kChannelsEnded };

// Until Ctrl-C, --units have ended, or every channel ended by itself; a lost
// output winds the station down first: no new unit, the ones in transfer
// finish. Then every channel is told to stop.
StationEnd Supervise(std::atomic<bool>& stop, std::atomic<bool>& windingDown,
                     const volatile std::sig_atomic_t& interrupted, std::optional<int> units,
                     const std::atomic<int>& ended, const std::atomic<int>& running,
                     const std::function<bool()>& outputLost) {
  for (;;) {
    if (interrupted != 0) {
      stop = true;
      return StationEnd::kInterrupted;
    }
    if (units && ended >= *units) {
      stop = true;
      return StationEnd::kUnitsEnded;
    }
    if (!windingDown && outputLost()) {
      windingDown = true;
    }
    if (running == 0) {
      stop = true;
      return windingDown ? StationEnd::kOutputLost : StationEnd::kChannelsEnded;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// What the records could not take, for the shop to keep: one JSON object a
// line, as history --json gives them. True when there was any.
bool PrintUnwritten(const std::vector<records::UnitRecord>& unwritten, std::ostream& err) {
  for (const records::UnitRecord& unit : unwritten) {
    err << records::JsonLine(records::UnitJson(unit)) << '\n';
  }
  if (!unwritten.empty()) {
    err << "brintel-cli station: " << unwritten.size()
        << " unit(s) could not be written into the records; each is above as one JSON line\n";
  }
  err << std::flush;
  return !unwritten.empty();
}

// For the web page: why the station ended.
std::string EndedWhy(StationEnd end, bool unwritten) {
  std::string why = end == StationEnd::kInterrupted  ? "stopped (Ctrl-C)"
                    : end == StationEnd::kUnitsEnded ? "its --units have ended"
                    : end == StationEnd::kOutputLost ? "its output could no longer be written"
                                                     : "every channel has ended";
  if (unwritten) {
    why += "; some units could not be written into the records (see its error output)";
  }
  return why;
}

// Where the units went and how long the writer took for each, once at the end.
void PrintLatency(const std::string& store, const records::RecordsWriter::Latency& latency,
                  std::ostream& err) {
  if (latency.units == 0) {
    return;
  }
  const auto ms = [](std::chrono::microseconds time) {
    return std::to_string(time.count() / 1000) + "." + std::to_string(time.count() / 100 % 10);
  };
  err << "brintel-cli station: " << latency.units << " unit(s) recorded in " << store
      << "; writer latency per unit: mean " << ms(latency.total / latency.units) << " ms, longest "
      << ms(latency.longest) << " ms\n";
}

}  // namespace

int RunStation(StationOptions options, std::ostream& out, std::ostream& err,
               const volatile std::sig_atomic_t& interrupted) {
  if (const std::optional<int> status = CheckPorts(options, err)) {
    return *status;
  }
  const std::map<std::size_t, std::string> unusable = UnusablePorts(options.ports);
  if (unusable.size() == options.ports.size()) {
    for (const auto& [index, why] : unusable) {
      err << "brintel-cli station: " << why << '\n';
    }
    return EXIT_NOT_COMPLETED;
  }
  std::unique_ptr<StationWeb> web;
  if (options.web) {
    try {
      web = std::make_unique<StationWeb>(
          StationWebSettings{.address = *options.web, .token = options.webToken, .db = options.db},
          options.ports);
    } catch (const std::exception& e) {
      err << "brintel-cli station: " << e.what() << '\n';
      return EXIT_NOT_COMPLETED;
    }
    err << "brintel-cli station: the page is at " << web->Url()
        << (options.webToken.empty() ? "" : " (open it once with ?token=TOKEN)") << '\n'
        << std::flush;
  }
  std::unique_ptr<RecordsListener> records;
  try {
    records = std::make_unique<RecordsListener>(options.db, options.station);
  } catch (const std::exception& e) {
    err << "brintel-cli station: " << e.what() << '\n';
    return EXIT_NOT_COMPLETED;
  }

  std::optional<JsonEventWriter> json;
  if (options.json) {
    json.emplace(out);
  }
  const bool terminal = !options.json && IsTerminal(kStdout);
  StationView view(options.json ? err : out, options.ports,
                   {.terminal = terminal,
                    .width = TerminalWidth(kStdout),
                    .colour = terminal && std::getenv("NO_COLOR") == nullptr});
  CatchResizes();
  std::mutex eventMutex;
  std::atomic<int> ended{0};
  std::atomic<int> completed{0};
  const run::RunListener listener = [&](const run::RunEvent& event) {
    const std::lock_guard lock(eventMutex);
    // Records first: a unit is on file before anyone is told it ended.
    records->operator()(event);
    if (event.kind == run::RunEvent::Kind::kUnitEnded) {
      ++ended;
      completed += event.outcome == run::UnitOutcome::kCompleted ? 1 : 0;
    }
    if (json) {
      (*json)(event);
    }
    if (!options.json || event.kind == run::RunEvent::Kind::kUnitEnded) {
      view(event);
    }
    if (web) {
      (*web)(event);
    }
  };

  std::atomic<bool> stop{false};
  std::atomic<bool> windingDown{false};
  std::atomic<int> admitted{0};
  std::atomic<int> running{0};
  run::SteadyRunClock clock;
  // A channel whose port will never open is marked so at once; the others work.
  for (const auto& [index, why] : unusable) {
    run::RunEvent event = run::RunEvent::Of(run::RunEvent::Kind::kNote, "unusable: " + why);
    event.channel = static_cast<int>(index) + 1;
    listener(event);
  }
  const auto channels = MakeChannels(
      options, unusable, clock, listener,
      {.admitUnit = [&] { return !options.units || ++admitted <= *options.units; },
       .hold =
           [&records] {
             const std::string trouble = records->Trouble();
             return trouble.empty() ? trouble : "records cannot be written: " + trouble;
           },
       .windingDown = [&windingDown] { return windingDown.load(); }});
  std::vector<std::thread> threads;
  for (const auto& channel : channels) {
    ++running;
    threads.emplace_back([&stop, &channel, &running] {
      channel->Run(stop);
      --running;
    });
  }

  const StationEnd end =
      Supervise(stop, windingDown, interrupted, options.units, ended, running, [&] {
        if (TakeResize()) {
          view.Resize(TerminalWidth(kStdout));
        }
        return (json && json->failed()) || view.failed();
      });
  for (std::thread& thread : threads) {
    thread.join();
  }
  view.Finish();
  const std::vector<records::UnitRecord> unwrittenUnits = records->Close();
  PrintLatency(records->StoreName(), records->WriteLatency(), err);
  const bool unwritten = PrintUnwritten(unwrittenUnits, err);
  if (web) {
    web->End(EndedWhy(end, unwritten));
  }
  if (unwritten || end == StationEnd::kOutputLost) {
    return EXIT_NOT_COMPLETED;
  }
  if (end == StationEnd::kInterrupted) {
    return EXIT_INTERRUPTED;
  }
  return options.units && completed == *options.units ? EXIT_COMPLETED : EXIT_NOT_COMPLETED;
}

}  // namespace brintel::cli
