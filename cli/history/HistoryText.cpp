#include "cli/history/HistoryText.h"

#include <limits>
#include <sstream>
#include <string_view>
#include <vector>

#include "cli/terminal/TerminalText.h"
#include "records/Timestamps.h"

namespace brintel::cli::history_text {

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

std::string OutcomeShown(const std::string& outcome) {
  return outcome.empty() ? kRunning : Shown(outcome);
}

std::string StartedAt(const records::UnitRecord& unit, bool utc) {
  if (const auto time = records::ParseUtc(unit.startedAt); time && !utc) {
    return records::FormatLocal(*time);
  }
  return Shown(unit.startedAt);
}

}  // namespace brintel::cli::history_text
