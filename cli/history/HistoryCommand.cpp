#include "cli/history/HistoryCommand.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/ExitStatus.h"
#include "cli/history/HistoryHtml.h"
#include "cli/history/HistoryText.h"
#include "cli/terminal/Console.h"
#include "cli/terminal/TerminalText.h"
#include "records/SharedRecords.h"
#include "records/ThisMachine.h"
#include "records/Timestamps.h"
#include "records/UnitHistory.h"
#include "records/UnitJson.h"
#include "records/UnitRecords.h"
#include "records/UnitSummary.h"
#include "run/UnitOutcome.h"

namespace brintel::cli {
namespace {

using records::UnitRecord;
using namespace history_text;

// A spreadsheet takes a cell that starts with one of these for a formula: the
// leading apostrophe OWASP advises makes it text.
std::string CsvText(const std::string& text) {
  const bool formula =
      !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  std::string cell = formula ? "'" : "";
  cell += Shown(text);
  return CsvField(cell);
}

// One cell of an object's value: text neutralised, a number as it is, an
// empty list or null as nothing.
std::string CsvCell(const nlohmann::ordered_json& value) {
  if (value.is_string()) {
    return CsvText(value.get<std::string>());
  }
  if (value.is_null() || (value.is_array() && value.empty())) {
    return "";
  }
  if (value.is_array()) {
    return CsvText(records::JsonLine(value));  // its JSON, as the records keep it
  }
  return records::JsonLine(value);  // a number, never a formula
}

// The objects' values under the names of `header`'s keys.
void WriteCsv(const nlohmann::ordered_json& header, const std::vector<nlohmann::ordered_json>& rows,
              bool excel, std::ostream& out) {
  if (excel) {
    out << "\xEF\xBB\xBF";  // else Excel takes the file for the local code page
  }
  const char* separator = "";
  for (const auto& [column, value] : header.items()) {
    out << separator << column;
    separator = ",";
  }
  out << "\r\n";
  for (const auto& row : rows) {
    separator = "";
    for (const auto& [name, value] : row.items()) {
      out << separator << CsvCell(value);
      separator = ",";
    }
    out << "\r\n";
  }
}

void WriteCsv(const std::vector<UnitRecord>& units, bool excel, std::ostream& out) {
  std::vector<nlohmann::ordered_json> rows;
  for (const UnitRecord& unit : units) {
    rows.push_back(records::UnitJson(unit));
  }
  WriteCsv(records::UnitJson(UnitRecord{}), rows, excel, out);
}

std::string Outcome(const UnitRecord& unit) {
  return OutcomeShown(unit.outcome);
}

void WriteLine(const UnitRecord& unit, bool utc, std::ostream& out) {
  out << StartedAt(unit, utc) << "  ch " << unit.channel << "  " << OrDash(ShortPort(unit.port))
      << "  device " << OrDash(Shown(unit.deviceId));
  if (!unit.transferDeviceId.empty() && unit.transferDeviceId != unit.deviceId) {
    out << " (transfer " << Shown(unit.transferDeviceId) << ')';
  }
  const auto seconds = records::UnitSeconds(unit);
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
    const auto seconds = records::UnitSeconds(unit);
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

// The outcomes in the run's order, then a unit's who died with its station
// and an open one's.
std::vector<std::string> KnownOutcomes() {
  std::vector<std::string> names;
  for (int i = 0; i <= static_cast<int>(run::UnitOutcome::kStopped); ++i) {
    names.emplace_back(run::OutcomeName(static_cast<run::UnitOutcome>(i)));
  }
  names.emplace_back(records::kInterruptedOutcome);
  names.emplace_back(kRunning);
  return names;
}

double OneDecimalValue(double value) {
  return std::round(value * 10) / 10;
}

// The same names and order in the CSV's header and in each JSON object; an
// outcome that is none of the known ones (edited by hand) counts as other.
nlohmann::ordered_json GroupJson(const records::UnitGroup& group, const char* keyName) {
  nlohmann::ordered_json fields = {{keyName, group.key}, {"units", group.units}};
  int other = group.units;
  for (const std::string& name : KnownOutcomes()) {
    const auto found = group.outcomes.find(name == kRunning ? "" : name);
    const int count = found == group.outcomes.end() ? 0 : found->second;
    fields[name] = count;
    other -= count;
  }
  fields["other"] = other;
  fields["failure_rate"] = OneDecimalValue(group.FailurePercent());
  const auto average = group.AverageCompletedSeconds();
  fields["average_completed_seconds"] =
      average ? nlohmann::ordered_json(OneDecimalValue(*average)) : nlohmann::ordered_json();
  fields["displays"] = group.displays.size();
  return fields;
}

nlohmann::ordered_json AttentionJson(const UnitRecord& unit) {
  return {{"device_id", records::DisplayOf(unit)},
          {"started_at", unit.startedAt},
          {"port", unit.port},
          {"program", unit.program},
          {"outcome", unit.outcome},
          {"detail", unit.detail}};
}

// Cells padded to their column's widest (in terminal columns), numbers to
// the right; the last column is not padded.
void WriteAligned(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right,
                  std::ostream& out) {
  std::vector<int> widths(right.size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], TerminalColumns(row[i]));
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string pad(static_cast<std::size_t>(widths[i] - TerminalColumns(row[i])), ' ');
      if (i > 0) {
        line += "  ";
      }
      if (right[i]) {
        line += pad;
        line += row[i];
      } else {
        line += row[i];
        if (i + 1 < row.size()) {
          line += pad;
        }
      }
    }
    out << line << '\n';
  }
}

// "completed 3, port-lost 1": the most frequent first.
std::string Tally(const std::map<std::string, int>& outcomes) {
  std::vector<std::pair<std::string, int>> sorted;
  for (const auto& [name, count] : outcomes) {
    sorted.emplace_back(OutcomeShown(name), count);
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (const auto& [name, count] : sorted) {
    if (!text.empty()) {
      text += ", ";
    }
    text += name;
    text += ' ';
    text += std::to_string(count);
  }
  return text;
}

// `key` names the groups as the JSON does: port, day or station.
void WriteGroupsPlain(const std::vector<records::UnitGroup>& groups, const std::string& key,
                      std::ostream& out) {
  const bool bySocket = key == "port";
  std::vector<std::vector<std::string>> rows = {
      {bySocket ? "socket" : key, "units", "failed", "average", "displays", "outcomes"}};
  for (const records::UnitGroup& group : groups) {
    const auto average = group.AverageCompletedSeconds();
    rows.push_back({OrDash(bySocket ? ShortPort(group.key) : Shown(group.key)),
                    std::to_string(group.units), OneDecimal(group.FailurePercent()) + "%",
                    average ? OneDecimal(*average) + " s" : "-",
                    std::to_string(group.displays.size()), Tally(group.outcomes)});
  }
  WriteAligned(rows, {false, true, true, true, true, false}, out);
}

void WriteAttentionPlain(const std::vector<UnitRecord>& units, bool utc, std::ostream& out) {
  std::vector<std::vector<std::string>> rows = {
      {"started", "display", "socket", "program", "outcome", "detail"}};
  for (const UnitRecord& unit : units) {
    rows.push_back({StartedAt(unit, utc), Shown(records::DisplayOf(unit)),
                    OrDash(ShortPort(unit.port)), OrDash(Shown(unit.program)), Outcome(unit),
                    OrDash(Shown(unit.detail))});
  }
  WriteAligned(rows, {false, false, false, false, false, false}, out);
}

// Each line at most `columns` wide (0: any), cut with an ellipsis; the text
// holds no control character but its line ends.
void WriteCut(const std::string& text, int columns, std::ostream& out) {
  if (columns <= 0) {
    out << text;
    return;
  }
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (TerminalColumns(line) > columns) {
      line = CutToColumns(line, columns - 1);
      line += "\u2026";
    }
    out << line << '\n';
  }
}

int ColumnsOf(const HistoryOptions& options) {
  if (options.columns) {
    return *options.columns;
  }
  return IsTerminal(1) ? TerminalWidth(1) : 0;
}

void WriteObjects(const std::vector<nlohmann::ordered_json>& objects, std::ostream& out) {
  for (const auto& object : objects) {
    out << records::JsonLine(object) << '\n';
  }
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
  if (options.by && *options.by != "socket" && *options.by != "day" && *options.by != "station") {
    return usage("--by " + Shown(*options.by) + ": give socket, day or station");
  }
  if (options.by && options.attention) {
    return usage("give --by or --attention, not both");
  }
  if (options.html && (options.csv || options.json || options.by || options.attention)) {
    return usage("--html holds them all: give it without --csv, --json, --by or --attention");
  }
  if (options.exportTo &&
      (options.csv || options.json || options.by || options.attention || options.html)) {
    return usage(
        "--export-to only copies: give it without --csv, --json, --by, --attention or "
        "--html");
  }
  if (options.exportTo && !records::IsPostgresUri(*options.exportTo)) {
    return usage("--export-to " + Shown(records::WithoutPassword(*options.exportTo)) +
                 ": give a postgresql:// URI");
  }
  if (options.exportTo && records::IsPostgresUri(options.db)) {
    return usage("--export-to copies a file: give its --db FILE");
  }
  records::ReadTimeZone();  // TZ as it is now, for SinceTime and FormatLocal
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
        options.db.empty() ? records::DefaultHistoryPath() : records::PathFromUtf8(options.db);
    std::error_code error;  // other than not_found: let the open say what is wrong
    std::vector<UnitRecord> units;
    if (records::IsPostgresUri(options.db)) {
      units = records::ReadSharedUnits(options.db, filter);
    } else if (std::filesystem::status(path, error).type() !=
               std::filesystem::file_type::not_found) {
      units = records::UnitHistory(path).Query(filter);
    } else if (!options.db.empty()) {
      return usage("--db " + Shown(options.db) + ": no such file");
    } else if (!options.csv && !options.json) {
      err << "brintel-cli history: no records yet: " << Shown(path.string()) << " does not exist\n";
    }
    if (options.station && !options.exportTo) {  // there it names the units of no station
      std::erase_if(units,
                    [&](const UnitRecord& unit) { return unit.station != *options.station; });
    }
    const bool bySocket = options.by == "socket";
    const bool byStation = options.by == "station";
    if (options.exportTo) {
      const auto [copied, there] = records::CopyIntoShared(
          units, *options.exportTo, options.station.value_or(records::HostName()));
      out << "copied " << copied << " unit(s) from " << Shown(path.string()) << " into "
          << Shown(records::WithoutPassword(*options.exportTo)) << "; " << there
          << " were there already\n";
    } else if (options.html) {
      const std::string shownDb =
          records::IsPostgresUri(options.db) ? records::WithoutPassword(options.db) : path.string();
      HistoryPageContext context{shownDb, {},   options.utc, std::chrono::system_clock::now(),
                                 {},      false};
      if (options.since) {
        context.filters = "units since " + *options.since;
      }
      if (options.station) {
        context.filters += context.filters.empty() ? "units of station " : ", of station ";
        context.filters += *options.station;
      }
      if (filter.deviceId) {
        context.filters += context.filters.empty() ? "units of display " : ", of display ";
        context.filters += *filter.deviceId;
      }
      const std::string page = HistoryHtml(units, context);
      errno = 0;
      std::ofstream file(*options.html, std::ios::binary | std::ios::trunc);
      file << page;
      file.close();
      if (!file) {
        std::string why = errno != 0 ? std::strerror(errno) : "write failed";
        return usage("--html " + Shown(*options.html) + ": cannot be written: " + why);
      }
    } else if (options.by) {
      const auto groups = bySocket    ? records::GroupBySocket(units)
                          : byStation ? records::GroupByStation(units)
                                      : records::GroupByDay(units, options.utc);
      const char* key = bySocket ? "port" : byStation ? "station" : "day";
      std::vector<nlohmann::ordered_json> rows;
      for (const records::UnitGroup& group : groups) {
        rows.push_back(GroupJson(group, key));
      }
      if (options.csv) {
        WriteCsv(GroupJson({}, key), rows, options.excel, out);
      } else if (options.json) {
        WriteObjects(rows, out);
      } else {
        std::ostringstream table;
        WriteGroupsPlain(groups, key, table);
        WriteCut(table.str(), ColumnsOf(options), out);
      }
    } else if (options.attention) {
      const auto last = records::LastUnitsNotCompleted(units);
      std::vector<nlohmann::ordered_json> rows;
      for (const UnitRecord& unit : last) {
        rows.push_back(AttentionJson(unit));
      }
      if (options.csv) {
        WriteCsv(AttentionJson({}), rows, options.excel, out);
      } else if (options.json) {
        WriteObjects(rows, out);
      } else {
        std::ostringstream table;
        WriteAttentionPlain(last, options.utc, table);
        WriteCut(table.str(), ColumnsOf(options), out);
      }
    } else if (options.csv) {
      WriteCsv(units, options.excel, out);
    } else if (options.json) {
      for (const UnitRecord& unit : units) {
        out << records::JsonLine(records::UnitJson(unit)) << '\n';
      }
    } else {
      std::ostringstream table;
      WritePlain(units, options.utc, table);
      WriteCut(table.str(), ColumnsOf(options), out);
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
