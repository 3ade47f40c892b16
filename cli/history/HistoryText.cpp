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

std::string ShortPort(const std::string& port) {
  constexpr std::size_t kKept = 19;
  std::string_view tail(port);
  if (const auto slash = tail.rfind('/');
      slash != std::string_view::npos && slash + 1 < tail.size()) {
    tail.remove_prefix(slash + 1);
  }
  std::vector<std::size_t> starts;  // of the UTF-8 characters
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if ((static_cast<unsigned char>(tail[i]) & 0xC0) != 0x80) {
      starts.push_back(i);
    }
  }
  if (starts.size() <= kKept + 1) {
    return Shown(std::string(tail));
  }
  std::string shortened = "~";
  shortened += Shown(std::string(tail.substr(starts[starts.size() - kKept])));
  return shortened;
}

std::string StartedAt(const records::UnitRecord& unit, bool utc) {
  if (const auto time = records::ParseUtc(unit.startedAt); time && !utc) {
    return records::FormatLocal(*time);
  }
  return Shown(unit.startedAt);
}

}  // namespace brintel::cli::history_text
