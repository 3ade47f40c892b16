#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "records/UnitRecord.h"

namespace brintel::cli {

// What the page says about where its units come from.
struct HistoryPageContext {
  std::string db;       // the file as named, or the database without its password
  std::string filters;  // the choice of units, as the options gave it; empty: all
  bool utc = false;     // times in UTC instead of local time
  std::chrono::system_clock::time_point made{};
  std::string backTo;   // a link to the live station's page; empty: none
  bool perDay = false;  // each day's outcomes too, as history --by day counts them
};

// One HTML page that needs nothing else, neither a fetch nor a script: the
// summary, the units per hour (per day over more than two weeks), the
// outcomes per socket, the displays whose last unit did not complete, and
// the units (with their station, when there are several). Every text from
// the records is escaped.
std::string HistoryHtml(const std::vector<records::UnitRecord>& newestFirst,
                        const HistoryPageContext& context);

// Text as HTML shows it literally, in an element or a quoted attribute.
std::string HtmlEscaped(const std::string& text);

}  // namespace brintel::cli
