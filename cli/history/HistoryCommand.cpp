#include "cli/history/HistoryCommand.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/CountFields.h"
#include "records/Timestamps.h"
#include "records/UnitRecords.h"
#include "run/UnitOutcome.h"

namespace brintel::cli {
namespace {

using records::UnitRecord;

// The record's fields under the column names, in their order: those of the
// unit, its counters, then the version and why a request failed.
nlohmann::ordered_json ToJson(const UnitRecord& r) {
  nlohmann::ordered_json fields = {{"id", r.id},
                                   {"channel", r.channel},
                                   {"port", r.port},
                                   {"started_at", r.startedAt},
                                   {"ended_at", r.endedAt},
                                   {"device_id", r.deviceId},
                                   {"transfer_device_id", r.transferDeviceId},
                                   {"program", r.program},
                                   {"title", r.title},
                                   {"list_url", r.listUrl},
                                   {"outcome", r.outcome},
                                   {"offered", r.offered}};
  for (const records::CountField& field : records::kCountFields) {
    fields[field.name] = records::CountValue(r.counts, field);
  }
  fields["version"] = r.version;
  fields["detail"] = r.detail;
  return fields;
}

// Text that is not UTF-8 (a port name, say) comes out replaced, not thrown.
std::string Dump(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
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

void WriteCsv(const std::vector<UnitRecord>& units, std::ostream& out) {
  const char* separator = "";
  const auto header = ToJson(UnitRecord{});  // kept alive: items() refers to it
  for (const auto& [column, value] : header.items()) {
    out << separator << column;
    separator = ",";
  }
  out << "\r\n";
  for (const UnitRecord& unit : units) {
    separator = "";
    const auto fields = ToJson(unit);  // kept alive: items() refers to it
    for (const auto& [name, value] : fields.items()) {
      // offered as its JSON array, and empty when nothing was offered, as stored.
      const bool empty = name == "offered" && unit.offered.empty();
      out << separator
          << CsvField(empty               ? ""
                      : value.is_string() ? value.get<std::string>()
                                          : Dump(value));
      separator = ",";
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

void WriteLine(const UnitRecord& unit, std::ostream& out) {
  out << unit.startedAt << "  ch " << unit.channel << "  " << OrDash(unit.port) << "  device "
      << OrDash(unit.deviceId);
  if (!unit.transferDeviceId.empty() && unit.transferDeviceId != unit.deviceId) {
    out << " (transfer " << unit.transferDeviceId << ')';
  }
  const auto seconds = Seconds(unit);
  out << "  " << OrDash(unit.program) << "  " << (unit.outcome.empty() ? "running" : unit.outcome)
      << "  blocks " << unit.counts.accepted << "  resends " << unit.counts.sentAgain() << "  "
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

void WritePlain(const std::vector<UnitRecord>& units, std::ostream& out) {
  std::map<std::string, int> outcomes, programs;
  double completedSeconds = 0;
  int completed = 0;
  for (const UnitRecord& unit : units) {
    WriteLine(unit, out);
    ++outcomes[unit.outcome.empty() ? "running" : unit.outcome];
    ++programs[OrDash(unit.program)];
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

}  // namespace

int RunHistory(const HistoryOptions& options, std::ostream& out, std::ostream& err) {
  try {
    if (options.csv && options.json) {
      err << "brintel-cli history: give --csv or --json, not both\n";
      return 1;
    }
    if (options.since && !records::SinceBound(*options.since)) {
      err << "brintel-cli history: --since " << *options.since
          << ": not a date (2026-12-09) or a UTC date-time (2026-12-09T02:31:07Z)\n";
      return 1;
    }
    const std::filesystem::path path =
        options.db.empty() ? records::DefaultHistoryPath() : std::filesystem::path(options.db);
    std::vector<UnitRecord> units;
    if (std::filesystem::exists(path)) {
      units = records::UnitRecords::OpenForReading(path).Query({options.since, options.device});
    } else if (!options.csv && !options.json) {
      err << "brintel-cli history: no records yet: " << path.string() << " does not exist\n";
    }
    if (options.csv) {
      WriteCsv(units, out);
    } else if (options.json) {
      for (const UnitRecord& unit : units) {
        out << Dump(ToJson(unit)) << '\n';
      }
    } else {
      WritePlain(units, out);
    }
    out.flush();
    return 0;
  } catch (const std::exception& error) {
    err << "brintel-cli history: " << error.what() << '\n';
    return 1;
  }
}

}  // namespace brintel::cli
