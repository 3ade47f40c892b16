#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/system/SystemPorts.h"
#include "cli/terminal/Console.h"

namespace brintel::cli {
namespace {

constexpr char kDefaultDbHelp[] =
    "The records (default brintel/history.sqlite3 in $XDG_DATA_HOME, ~/.local/share or "
    "%LOCALAPPDATA%)";

// The validators have no name of their own: CLI11 would show it after the
// value's name in --help ("NAME:NAME").
CLI::Validator NotEmpty() {
  return CLI::Validator(
      [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; }, "");
}

// HOST or HOST:PORT alone: the list's URL is built around it, so a scheme or
// a path would make a URL that asks something else.
CLI::Validator HostAndPort() {
  return CLI::Validator(
      [](std::string& text) {
        const std::string bad = "must be HOST or HOST:PORT, without a scheme or a path";
        if (text.empty() || text.find_first_of("/?#@\\ \t") != std::string::npos) {
          return bad;
        }
        const std::size_t colon = text.rfind(':');
        const bool bracketed = text.front() == '[';  // [::1]:8080
        if (colon == std::string::npos || (bracketed && colon < text.find(']'))) {
          return std::string();
        }
        if (!bracketed && text.find(':') != colon) {
          return bad;
        }
        const std::string port = text.substr(colon + 1);
        unsigned number = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (colon == 0 || error != std::errc{} || end != port.data() + port.size() || number == 0 ||
            number > 65535) {
          return std::string("must be HOST or HOST:PORT, with PORT from 1 to 65535");
        }
        return std::string();
      },
      "");
}

// More than 0 and at most a million seconds: "nan", "inf" and 1e10 (which
// would overflow the clock and end the search at once) are no time limit.
CLI::Validator Seconds() {
  return CLI::Validator(
      [](std::string& text) {
        double seconds = 0;
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, seconds);
        if (error != std::errc{} || stop != end || !(seconds > 0 && seconds <= 1e6)) {
          return std::string("must be a number of seconds, more than 0 and at most 1000000");
        }
        return std::string();
      },
      "");
}

void ResolvePortNames(std::vector<std::string>& names) {
  for (std::string& name : names) {
    name = ResolvePortName(name);
  }
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The long option of `apps` nearest to `typed` (a typo, or the start of a
// name), if one is near enough to be meant.
std::string NearestOption(const std::string& typed, const std::vector<const CLI::App*>& apps) {
  const std::string name = typed.substr(0, typed.find('='));
  std::string best;
  std::size_t bestDistance = std::max<std::size_t>(2, name.size() / 3) + 1;
  for (const CLI::App* app : apps) {
    for (const CLI::Option* option : app->get_options()) {
      for (const std::string& known : option->get_lnames()) {
        const std::string candidate = "--" + known;
        const bool prefix = name.size() > 3 && candidate.rfind(name, 0) == 0;
        const std::size_t distance = prefix ? 1 : EditDistance(name, candidate);
        if (distance < bestDistance) {
          best = candidate;
          bestDistance = distance;
        }
      }
    }
  }
  return best;
}

// CLI11's reason with the program's name first, as every other error of
// brintel-cli, and for an unknown option the one that was likely meant.
std::string FailureMessage(const CLI::App* app, const CLI::Error& e) {
  std::string text = std::string("brintel-cli: ") + e.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    std::vector<const CLI::App*> apps;
    for (const CLI::App* command : app->get_subcommands()) {
      apps.push_back(command);  // the command given, if any
    }
    if (apps.empty()) {
      apps.push_back(app);
    }
    const std::string what = e.what();
    std::istringstream words(what.substr(what.find(": ") + 2));
    for (std::string word; words >> word;) {
      const std::string meant = word.rfind("--", 0) == 0 ? NearestOption(word, apps) : "";
      if (!meant.empty()) {
        text += "; did you mean " + meant + "?";
        break;
      }
    }
  }
  return text + "\nRun with --help for more information.\n";
}

// --web as an address, or the exit status of a usage error. Off this PC the
// page is open to the whole network: a token keeps the bench's business
// (displays, customers' programs, the shop's pace) to the shop.
std::optional<int> CheckWeb(const std::optional<std::string>& web, StationOptions& station) {
  if (!web) {
    return std::nullopt;
  }
  station.web = ParseWebAddress(*web);
  if (!station.web) {
    std::cerr << "brintel-cli station: --web " << *web
              << ": not [ADDRESS:]PORT (8080, 127.0.0.1:8080, 0.0.0.0:8080)\n";
    return EXIT_USAGE;
  }
  if (!IsLoopback(station.web->host) && station.webToken.empty()) {
    std::cerr << "brintel-cli station: --web " << *web
              << " can be reached beyond this PC; give --web-token TOKEN too, and open the page "
                 "once with ?token=TOKEN\n";
    return EXIT_USAGE;
  }
  return std::nullopt;
}

}  // namespace

std::variant<CliOptions, int> ParseCliOptions(int argc, const char* const* argv) {
  CliOptions options;
  CLI::App app{"Upgrades the program of a vehicle display over its USB-serial adapter.",
               "brintel-cli"};
  app.set_version_flag("--version", std::string("brintel-cli ") + BRINTEL_VERSION);
  app.failure_message(FailureMessage);
  app.add_option("-p,--port", options.ports,
                 "Probe this serial port instead of scanning (repeatable; probed in order; "
                 "ttyUSB0 means /dev/ttyUSB0 on Linux, com5 means COM5 on Windows)")
      ->type_name("NAME")
      ->check(NotEmpty());
  app.add_option("--server", options.server,
                 std::string("Default program server for this run (default ") +
                     BRINTEL_DEFAULT_SERVER + ")")
      ->type_name("HOST[:PORT]")
      ->check(HostAndPort());
  app.add_option("--address", options.address,
                 "Server address as the hidden address box would hold it "
                 "(asks http://TEXT:82/getnameplovix.asp)")
      ->type_name("TEXT");
  app.add_option("--program", options.program, "Choose this program (matched by name)")
      ->type_name("NAME");
  app.add_flag("-y,--yes", options.yes,
               "Answer every message with OK; without --program take the first program");
  app.add_flag("--list", options.list, "Print the program list in sorted order and stop");
  app.add_option("--search-timeout", options.searchTimeout,
                 "Give up when no display is found for this long (default: search until "
                 "interrupted)")
      ->type_name("SECONDS")
      ->check(Seconds());
  app.add_option("--silence-timeout", options.silenceTimeout,
                 "Give up a transfer when the display has not answered for this long")
      ->type_name("SECONDS")
      ->capture_default_str()
      ->check(Seconds());
  app.add_option("--trace", options.trace, "Write every byte on the serial line to FILE")
      ->type_name("FILE");
  app.add_flag("--json", options.json,
               "One JSON object a line on stdout for every event, nothing else; messages are "
               "answered at once (give --program, or --yes for the first program)");
  app.add_flag("-q,--quiet", options.quiet,
               "Print only the messages and the last line (no status, no progress)");

  CLI::App* station = app.add_subcommand(
      "station", "Upgrade display after display on several adapters at once, recording every unit");
  StationOptions& s = options.station;
  station
      ->add_option("--port", s.ports,
                   "One channel per adapter (repeatable). On Linux prefer /dev/serial/by-path/ "
                   "names: they name the hub's socket, so a display plugged in again comes back "
                   "under the same name; on Windows a socket of a hub keeps its COM number")
      ->type_name("NAME");
  station->add_flag(
      "--all-ports,--ports-from-by-path", s.portsFromByPath,
      std::string("A channel for every USB serial adapter (") + kAdapterPortsPlace + ")");
  station->add_option("--program", s.program, "The program every unit gets (UTF-8)")
      ->type_name("NAME")
      ->required();
  station
      ->add_option("--db", s.db,
                   "The records: a file (default brintel/history.sqlite3 in $XDG_DATA_HOME, "
                   "~/.local/share or %LOCALAPPDATA%) or a shared database, "
                   "postgresql://[USER@]HOST[:PORT]/DB[?sslmode=...] (PG* "
                   "variables and the service file fill in what it leaves out)")
      ->type_name("FILE|URI");
  station
      ->add_option("--station", s.station,
                   "The name this station's units carry in the records (default the host name)")
      ->type_name("NAME");
  CLI::Option* stationServer =
      station->add_option("--server", s.server, "Default program server")->type_name("HOST[:PORT]");
  station->add_option("--address", s.address, "Server address as the hidden address box holds it")
      ->type_name("TEXT")
      ->excludes(stationServer);
  station->add_option("--units", s.units, "End after N units have ended (exit 0 if all completed)")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  station->add_flag("--json", s.json, "One JSON object a line on stdout for every event");
  std::optional<std::string> web;
  CLI::Option* webOption =
      station
          ->add_option("--web", web,
                       "Serve a read-only page of the station (tiles, pictures, totals, history) "
                       "at ADDRESS (default 127.0.0.1) and PORT (0: any free one)")
          ->type_name("[ADDRESS:]PORT");
  station
      ->add_option("--web-token", s.webToken,
                   "What a browser must bring (once as ?token=, then a cookie); needed when "
                   "--web listens beyond this PC")
      ->type_name("TOKEN")
      ->needs(webOption);

  CLI::App* history = app.add_subcommand(
      "history", "The recorded units, newest first, then a summary; the file is only read");
  HistoryOptions& h = options.history;
  history
      ->add_option("--db", h.db,
                   "The records: a file (default brintel/history.sqlite3 in $XDG_DATA_HOME, "
                   "~/.local/share or %LOCALAPPDATA%) or a shared database's postgresql:// URI")
      ->type_name("FILE|URI");
  history->add_option("--station", h.station, "Units of this station only")->type_name("NAME");
  history
      ->add_option("--since", h.since,
                   "Units started at or after this local date (its midnight) or local date-time "
                   "(2026-12-09T10:31, 2026-12-09T10:31:07); in UTC when it ends in Z")
      ->type_name("DATE");
  history->add_option("--device", h.device, "Units of this display (its 16 hexadecimal digits)")
      ->type_name("ID");
  history->add_flag("--utc", h.utc,
                    "The table's times and --by day's days in UTC (default: local time with its "
                    "offset from UTC)");
  CLI::Option* by =
      history
          ->add_option("--by", h.by,
                       "One row per socket (the port), per local day or per station: units, "
                       "each outcome's count, failure rate (units not completed), average time "
                       "of the completed units, displays")
          ->type_name("socket|day|station")
          ->check(CLI::IsMember({"socket", "day", "station"}).description(""));
  history
      ->add_flag("--attention", h.attention,
                 "The displays whose last unit did not complete, newest first: when, where, the "
                 "outcome and its detail")
      ->excludes(by);
  CLI::Option* csv = history->add_flag(
      "--csv", h.csv, "RFC 4180 CSV with a header line; the times as stored, in UTC");
  history->add_flag("--excel", h.excel, "With --csv: a UTF-8 byte-order mark first, for Excel");
  CLI::Option* json =
      history->add_flag("--json", h.json, "One JSON object a line; the times as stored, in UTC")
          ->excludes(csv);
  history
      ->add_option("--html", h.html,
                   "Write one HTML page that needs nothing else (no fetch, no script): the "
                   "summary, units per hour, outcomes per socket, the displays to look at and "
                   "the units")
      ->type_name("FILE")
      ->excludes(csv)
      ->excludes(json)
      ->excludes(by)
      ->excludes("--attention");
  history
      ->add_option("--export-to", h.exportTo,
                   "Copy the units of --db (a file) into this shared database, once: units "
                   "already there are left out; a unit of no station gets --station or the "
                   "host name")
      ->type_name("URI")
      ->excludes(csv)
      ->excludes(json)
      ->excludes(by)
      ->excludes("--attention")
      ->excludes("--html");
  // Wrapped by hand: CLI11 prints a footer as it is.
  std::string outcomes = "Outcomes:", line = outcomes;
  std::istringstream words(HistoryOutcomes());
  for (std::string word; words >> word;) {
    const bool wrap = line.size() + 1 + word.size() > 78;
    outcomes += (wrap ? "\n  " : " ") + word;
    line = (wrap ? "  " : line + " ") + word;
  }
  history->footer(outcomes +
                  ".\n"
                  "--since and --device choose the units before --by, --attention and --html\n"
                  "look at them; --csv and --json go with either of the first two. On a\n"
                  "terminal no line of the table is wider than it; the table and the page name\n"
                  "a port by its end, the CSV and JSON in full.\n"
                  "The CSV's text that begins with = + - @, a tab or a carriage return gets a\n"
                  "leading apostrophe. Control characters are shown as \\xHH in the table and\n"
                  "the CSV; all text is escaped in the --html page.\n"
                  "Exit status: 0 shown (the default file not made yet holds no records), 1 the\n"
                  "file cannot be read, 2 usage error (a --db that does not exist, a bad --since\n"
                  "or --device, an --html FILE that cannot be written).");
  CLI::App* shared = app.add_subcommand(
      "shared-db",
      "Make the database several stations share, its tables, and the stations' role (it may read, "
      "insert and update units and sessions, nothing more); prints the URI the stations give");
  SharedDatabaseOptions& d = options.sharedDatabase;
  shared
      ->add_option("--db", d.db,
                   "postgresql://ADMIN@HOST[:PORT]/DATABASE as a role that may make roles and "
                   "databases (the server's superuser)")
      ->type_name("URI")
      ->required();
  shared
      ->add_option("--station-role", d.stationRole, "The stations' role (default brintel_station)")
      ->type_name("NAME");
  shared->footer(
      "The station role's password is taken from the environment variable\n"
      "BRINTEL_STATION_PASSWORD, so that it shows in no command line; never printed.");
  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return EXIT_USAGE;
  }
  ResolvePortNames(options.ports);
  ResolvePortNames(options.station.ports);
  if (station->parsed()) {
    options.command = CliOptions::Command::kStation;
    if (const std::optional<int> status = CheckWeb(web, options.station)) {
      return *status;
    }
  } else if (history->parsed()) {
    options.command = CliOptions::Command::kHistory;
  } else if (shared->parsed()) {
    options.command = CliOptions::Command::kSharedDatabase;
    if (const char* password = std::getenv("BRINTEL_STATION_PASSWORD");
        password != nullptr && *password != '\0') {
      options.sharedDatabase.password = password;
    }
  } else if (!options.program && !options.yes && !options.list && !IsTerminal(0)) {
    // Said before the search: nobody could choose a program at its end.
    std::cerr << "brintel-cli: no terminal to choose a program on; give --program NAME, --yes "
                 "or --list\n";
    return EXIT_USAGE;
  }
  return options;
}

}  // namespace brintel::cli
