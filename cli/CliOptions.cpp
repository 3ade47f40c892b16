#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <filesystem>
#include <iostream>
#include <sstream>

namespace brintel::cli {
namespace {

CLI::Validator NotEmpty() {
  return CLI::Validator(
      [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; },
      "NAME");
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
      "SECONDS");
}

// "ttyUSB0" means /dev/ttyUSB0, unless a file of that name is right here.
void ResolvePortNames(std::vector<std::string>& names) {
  for (std::string& name : names) {
    std::error_code error;
    if (name.find('/') == std::string::npos && !std::filesystem::exists(name, error)) {
      name = "/dev/" + name;
    }
  }
}

}  // namespace

std::variant<CliOptions, int> ParseCliOptions(int argc, const char* const* argv) {
  CliOptions options;
  CLI::App app{"Upgrades the program of a vehicle display over its USB-serial adapter.",
               "brintel-cli"};
  app.set_version_flag("--version", std::string("brintel-cli ") + BRINTEL_VERSION);
  app.add_option("--port", options.ports,
                 "Probe this serial port instead of scanning (repeatable; probed in order; a "
                 "name without a slash is looked for in /dev)")
      ->type_name("NAME")
      ->check(NotEmpty());
  app.add_option("--server", options.server,
                 std::string("Default program server for this run (default ") +
                     BRINTEL_DEFAULT_SERVER + ")")
      ->type_name("HOST[:PORT]");
  app.add_option("--address", options.address,
                 "Server address as the hidden address box would hold it "
                 "(asks http://TEXT:82/getnameplovix.asp)")
      ->type_name("TEXT");
  app.add_option("--program", options.program, "Choose this program (matched by name)")
      ->type_name("NAME");
  app.add_flag("--yes", options.yes,
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

  CLI::App* station = app.add_subcommand(
      "station", "Upgrade display after display on several adapters at once, recording every unit");
  StationOptions& s = options.station;
  station
      ->add_option("--port", s.ports,
                   "One channel per adapter (repeatable). Prefer /dev/serial/by-path/ names: "
                   "they name the hub's socket, so a display plugged in again comes back under "
                   "the same name")
      ->type_name("NAME");
  station->add_flag("--ports-from-by-path", s.portsFromByPath,
                    "A channel for every adapter under /dev/serial/by-path");
  station->add_option("--program", s.program, "The program every unit gets (UTF-8)")
      ->type_name("NAME")
      ->required();
  station->add_option("--db", s.db, "The records (default $XDG_DATA_HOME/brintel/history.sqlite3)")
      ->type_name("FILE");
  CLI::Option* stationServer =
      station->add_option("--server", s.server, "Default program server")->type_name("HOST[:PORT]");
  station->add_option("--address", s.address, "Server address as the hidden address box holds it")
      ->type_name("TEXT")
      ->excludes(stationServer);
  station->add_option("--units", s.units, "End after N units have ended (exit 0 if all completed)")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  station->add_flag("--json", s.json, "One JSON object a line on stdout for every event");

  CLI::App* history = app.add_subcommand(
      "history", "The recorded units, newest first, then a summary; the file is only read");
  HistoryOptions& h = options.history;
  history->add_option("--db", h.db, "The records (default $XDG_DATA_HOME/brintel/history.sqlite3)")
      ->type_name("FILE");
  history
      ->add_option("--since", h.since,
                   "Units started at or after this local date (its midnight) or local date-time "
                   "(2026-12-09T10:31, 2026-12-09T10:31:07); in UTC when it ends in Z")
      ->type_name("DATE");
  history->add_option("--device", h.device, "Units of this display (its 16 hexadecimal digits)")
      ->type_name("ID");
  history->add_flag("--utc", h.utc,
                    "The table's times in UTC (default: local time with its offset from UTC)");
  CLI::Option* csv = history->add_flag(
      "--csv", h.csv, "RFC 4180 CSV with a header line; the times as stored, in UTC");
  history->add_flag("--excel", h.excel, "With --csv: a UTF-8 byte-order mark first, for Excel");
  history->add_flag("--json", h.json, "One JSON object a line; the times as stored, in UTC")
      ->excludes(csv);
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
                  "The CSV's text that begins with = + - @, a tab or a carriage return gets a\n"
                  "leading apostrophe. Control characters are shown as \\xHH in the table and\n"
                  "the CSV.\n"
                  "Exit status: 0 shown (the default file not made yet holds no records), 1 the\n"
                  "file cannot be read, 2 usage error (a --db that does not exist, a bad --since\n"
                  "or --device).");
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
  } else if (history->parsed()) {
    options.command = CliOptions::Command::kHistory;
  }
  return options;
}

}  // namespace brintel::cli
