#include "cli/history/HistoryCommand.h"

#include <time.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/terminal/TerminalText.h"
#include "records/Timestamps.h"
#include "records/UnitHistory.h"
#include "records/UnitJson.h"
#include "records/UnitRecords.h"
#include "run/UnitOutcome.h"

namespace brintel::cli {
namespace {

using records::UnitRecord;

// An open row: its unit has no outcome yet.
constexpr const char* kRunning = "running";

// Text as it may be shown: control characters (C0, DEL, C1) and stray bytes
// as \xHH, so that a name from a server or a hand edit can neither drive the
// terminal nor hide a line end in a spreadsheet's cell. Never cut.
std::string Shown(const std::string& text) {
  return ShownText(text, std::numeric_limits<int>::max());
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    return text;
  }
  std::string quoted = "\"";
  for (char c : text) {
    quoted += c;
    if (c == '"') {
      quoted += '"';
    }
  }
  return quoted + '"';
}

// A spreadsheet takes a cell that starts with one of these for a formula: the
// leading apostrophe OWASP advises makes it text.
std::string CsvText(const std::string& text) {
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  std::string cell = formula ? "'" : "";
  cell += Shown(text);
  return CsvField(cell);
}

void WriteCsv(const std::vector<UnitRecord>& units, bool excel, std::ostream& out) {
  if (excel) {
    out << "\xEF\xBB\xBF";  // else Excel takes the file for the local code page
  }
  const char* separator = "";
  const auto header = records::UnitJson(UnitRecord{});  // kept alive: items() refers to it
  for (const auto& [column, value] : header.items()) {
    out << separator << column;
    separator = ",";
  }
  out << "\r\n";
  for (const UnitRecord& unit : units) {
    separator = "";
    const auto fields = records::UnitJson(unit);  // kept alive: items() refers to it
    for (const auto& [name, value] : fields.items()) {
      out << separator;
      separator = ",";
      if (name == "offered") {
        // Its JSON array, and empty when nothing was offered, as stored.
        out << (unit.offered.empty() ? "" : CsvText(records::JsonLine(value)));
      } else if (value.is_string()) {
        out << CsvText(value.get<std::string>());
      } else {
        out << records::JsonLine(value);  // a number, never a formula
      }
    }
    out << "\r\n";
  }
}

std::optional<double> Seconds(const UnitRecord& unit) {
  const auto started = records::ParseUtc(unit.startedAt);
  const auto ended = records::ParseUtc(unit.endedAt);
  if (!started || !ended) {
    return std::nullopt;
  }
  return std::chrono::duration<double>(*ended - *started).count();
}

std::string OneDecimal(double value) {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  text.precision(1);
  text << value;
  return text.str();
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

std::string Outcome(const UnitRecord& unit) {
  return unit.outcome.empty() ? kRunning : Shown(unit.outcome);
}

// The stored UTC text in local time (the TZ environment variable decides).
std::string StartedAt(const UnitRecord& unit, bool utc) {
  if (const auto time = records::ParseUtc(unit.startedAt); time && !utc) {
    return records::FormatLocal(*time);
  }
  return Shown(unit.startedAt);
}

void WriteLine(const UnitRecord& unit, bool utc, std::ostream& out) {
  out << StartedAt(unit, utc) << "  ch " << unit.channel << "  " << OrDash(Shown(unit.port))
      << "  device " << OrDash(Shown(unit.deviceId));
  if (!unit.transferDeviceId.empty() && unit.transferDeviceId != unit.deviceId) {
    out << " (transfer " << Shown(unit.transferDeviceId) << ')';
  }
  const auto seconds = Seconds(unit);
  out << "  " << OrDash(Shown(unit.program)) << "  " << Outcome(unit) << "  blocks "
      << unit.counts.accepted << "  resends " << unit.counts.sentAgain() << "  "
      << (seconds ? OneDecimal(*seconds) + " s" : "-") << '\n';
}

// "name count, ..." with the most frequent first.
void WriteTally(const char* label, const std::map<std::string, int>& tally, std::ostream& out) {
  std::vector<std::pair<std::string, int>> sorted(tally.begin(), tally.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  out << label << ':';
  const char* separator = " ";
  for (const auto& [name, count] : sorted) {
    out << separator << name << ' ' << count;
    separator = ", ";
  }
  out << '\n';
}

void WritePlain(const std::vector<UnitRecord>& units, bool utc, std::ostream& out) {
  std::map<std::string, int> outcomes, programs;
  double completedSeconds = 0;
  int completed = 0;
  for (const UnitRecord& unit : units) {
    WriteLine(unit, utc, out);
    ++outcomes[Outcome(unit)];
    ++programs[OrDash(Shown(unit.program))];
    const auto seconds = Seconds(unit);
    if (unit.outcome == run::OutcomeName(run::UnitOutcome::kCompleted) && seconds) {
      completedSeconds += *seconds;
      ++completed;
    }
  }
  out << units.size() << (units.size() == 1 ? " unit\n" : " units\n");
  if (units.empty()) {
    return;
  }
  WriteTally("outcomes", outcomes, out);
  WriteTally("programs", programs, out);
  out << "average completed unit: "
      << (completed > 0 ? OneDecimal(completedSeconds / completed) + " s" : "-") << '\n';
}

// 16 hexadecimal digits in upper case, as the display gives them.
std::optional<std::string> DeviceId(std::string text) {
  if (text.size() != 16) {
    return std::nullopt;
  }
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if ((c < '0' || c > '9') && (c < 'A' || c > 'F')) {
      return std::nullopt;
    }
  }
  return text;
}

}  // namespace

int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err) {
  const auto usage = [&err](const std::string& why) {
    err << "brintel-cli history: " << why << '\n';
    return EXIT_USAGE;
  };
  if (options.csv && options.json) {
    return usage("give --csv or --json, not both");
  }
  if (options.excel && !options.csv) {
    return usage("--excel goes with --csv");
  }
  ::tzset();  // TZ as it is now, for SinceTime and FormatLocal
  records::HistoryFilter filter;
  if (options.since) {
    filter.since = records::SinceTime(*options.since);
    if (!filter.since) {
      return usage("--since " + Shown(*options.since) +
                   ": not a local date (2026-12-09) or local date-time (2026-12-09T10:31, "
                   "2026-12-09T10:31:07), nor a UTC one ending in Z (2026-12-09T02:31:07Z)");
    }
  }
  if (options.device) {
    filter.deviceId = DeviceId(*options.device);
    if (!filter.deviceId) {
      return usage("--device " + Shown(*options.device) +
                   ": not a display id (16 hexadecimal digits, as 1027262514131211)");
    }
  }
  try {
    const std::filesystem::path path =
        options.db.empty() ? records::DefaultHistoryPath() : std::filesystem::path(options.db);
    std::error_code error;  // other than not_found: let the open say what is wrong
    std::vector<UnitRecord> units;
    if (std::filesystem::status(path, error).type() != std::filesystem::file_type::not_found) {
      units = records::UnitHistory(path).Query(filter);
    } else if (!options.db.empty()) {
      return usage("--db " + Shown(options.db) + ": no such file");
    } else if (!options.csv && !options.json) {
      err << "brintel-cli history: no records yet: " << Shown(path.string()) << " does not exist\n";
    }
    if (options.csv) {
      WriteCsv(units, options.excel, out);
    } else if (options.json) {
      for (const UnitRecord& unit : units) {
        out << records::JsonLine(records::UnitJson(unit)) << '\n';
      }
    } else {
      WritePlain(units, options.utc, out);
    }
    out.flush();
    return EXIT_COMPLETED;
  } catch (const std::exception& error) {
    err << "brintel-cli history: " << error.what() << '\n';
    return EXIT_NOT_COMPLETED;
  }
}

std::string HistoryOutcomes() {
  std::string text;
  // kStopped is the last of a run's outcomes.
  for (int i = 0; i <= static_cast<int>(run::UnitOutcome::kStopped); ++i) {
    text += std::string(run::OutcomeName(static_cast<run::UnitOutcome>(i))) + ", ";
  }
  return text + records::kInterruptedOutcome + " (its station died before the unit ended), " +
         kRunning +
         " (no outcome yet: in progress, or its station died and no station has marked it "
         "interrupted since)";
}

}  // namespace brintel::cli
