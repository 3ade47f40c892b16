#pragma once

#include <csignal>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/station/web/WebAddress.h"

namespace brintel::cli {

struct StationOptions {
  std::vector<std::string> ports;  // one channel each, numbered from 1 in this order
  bool portsFromByPath = false;    // every adapter under /dev/serial/by-path
  std::optional<std::string> program;
  std::string db;       // empty: the default history file; or a postgresql:// URI
  std::string station;  // the name on its units; empty: the host's
  std::optional<std::string> server;
  std::string address;
  std::optional<int> units;  // end after this many units have ended
  bool json = false;
  std::optional<WebAddress> web;  // serve the station's page there
  std::string webToken;           // what a browser must bring off this PC
};

// Runs the station until `interrupted` is set (Ctrl-C: every unit in progress
// is recorded as stopped, 130) or --units have ended (0 when all completed,
// 1 otherwise). 2 for a usage error, 1 when the records cannot be opened.
int RunStation(StationOptions options, std::ostream& out, std::ostream& err,
               const volatile std::sig_atomic_t& interrupted);

}  // namespace brintel::cli
