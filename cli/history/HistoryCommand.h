#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace brintel::cli {

// brintel-cli history [--db FILE] [--since DATE] [--device ID] [--csv | --json]
struct HistoryOptions {
  std::string db;  // empty: the default history file
  std::optional<std::string> since, device;
  bool csv = false, json = false;
};

// Prints the station's records, newest first: readable lines and a summary,
// or CSV (RFC 4180), or one JSON object a line. 0, or 1 with the reason on
// err when the file cannot be read. A missing file holds no records.
int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err);

}  // namespace brintel::cli
