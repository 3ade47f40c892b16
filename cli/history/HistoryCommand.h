#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace brintel::cli {

// brintel-cli history [--db FILE|URI] [--since DATE] [--device ID] [--station NAME] [--utc]
//                     [--by socket|day|station | --attention] [--csv [--excel] | --json]
//                     [--html FILE] [--export-to URI]
struct HistoryOptions {
  std::string db{};                      // empty: the default history file; or a postgresql:// URI
  std::optional<std::string> station{};  // units of this station only
  std::optional<std::string> since{}, device{};
  bool csv = false, json = false;
  bool utc = false;    // the table's times (and --by day's days) in UTC instead of local time
  bool excel = false;  // a byte-order mark before the CSV
  std::optional<std::string> by{};  // "socket", "day" or "station": one row per each
  bool attention = false;           // the displays whose last unit did not complete
  // The widest line of the table: nullopt the terminal's when stdout is one
  // (else no limit), 0 no limit.
  std::optional<int> columns{};
  std::optional<std::string> html{};  // the page to write, instead of the table
  // A shared database to copy the units of `db` (a file) into.
  std::optional<std::string> exportTo{};
};

// Prints the station's records, newest first: readable lines in local time
// and a summary, or CSV (RFC 4180), or one JSON object a line, both with the
// times as stored (UTC); or, with `by` or `attention`, their groups or the
// displays to look at, the filters applied first; or, with `html`, one page of
// them all written to that file. The file is only read. 0; 1 with the reason on
// err when the file cannot be read; 2 with one line on err for a usage error (a
// --db that does not exist, a bad --since or --device, an --html file that
// cannot be written). The default file
// not made yet holds no records.
int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err);

// The outcomes a unit may show, for --help: "completed, ..., running (...)".
std::string HistoryOutcomes();

}  // namespace brintel::cli
