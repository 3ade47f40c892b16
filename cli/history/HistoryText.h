#pragma once

#include <string>

#include "records/UnitRecord.h"

// How the history shows a unit's fields, the same in its table and its page.
namespace brintel::cli::history_text {

// An open row: its unit has no outcome yet.
inline constexpr const char* kRunning = "running";

// Text as it may be shown: control characters (C0, DEL, C1) and stray bytes
// as \xHH, so that a name from a server or a hand edit can neither drive the
// terminal nor hide a line end in a spreadsheet's cell. Never cut.
std::string Shown(const std::string& text);

// One CSV field as RFC 4180 has it: quoted when it holds a comma, a quote or
// a line end of either kind, a quote inside doubled.
std::string CsvField(const std::string& text);

std::string OneDecimal(double value);
std::string OrDash(const std::string& text);
std::string OutcomeShown(const std::string& outcome);

// The stored UTC text in local time (the TZ environment variable decides),
// or as stored when `utc` or when it does not parse.
std::string StartedAt(const records::UnitRecord& unit, bool utc);

}  // namespace brintel::cli::history_text
