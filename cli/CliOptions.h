#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/history/HistoryCommand.h"
#include "cli/station/SharedDatabaseCommand.h"
#include "cli/station/StationCommand.h"

namespace brintel::cli {

// What scripts depend on: the option names and their meaning.
struct CliOptions {
  enum class Command { kUpgrade, kStation, kHistory, kSharedDatabase };
  Command command = Command::kUpgrade;

  // A single run.
  std::vector<std::string> ports;       // probe these, in this order, instead of scanning
  std::optional<std::string> server;    // default program server host[:port]
  std::string address;                  // what the hidden address box would hold
  std::optional<std::string> program;   // the program to choose (UTF-8)
  bool yes = false;                     // answer every message with OK
  bool list = false;                    // print the program list and stop
  bool json = false;                    // one JSON object a line on stdout, nothing else
  bool quiet = false;                   // only the messages and the last line
  std::optional<double> searchTimeout;  // seconds without a display before giving up
  double silenceTimeout = 10;           // seconds of a transfer without the right display
  std::string trace;                    // file for a trace of the serial line

  StationOptions station;
  HistoryOptions history;
  SharedDatabaseOptions sharedDatabase;
};

// The options, or the exit status when parsing ended the program (--help and
// --version print and give 0; a usage error prints why and gives 2).
std::variant<CliOptions, int> ParseCliOptions(int argc, const char* const* argv);

}  // namespace brintel::cli
