#include "cli/history/HistoryHtml.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "cli/history/HistoryText.h"
#include "cli/terminal/TerminalText.h"
#include "records/ThisMachine.h"
#include "records/Timestamps.h"
#include "records/UnitSummary.h"

namespace brintel::cli {
namespace {

using records::UnitRecord;
using namespace history_text;
using Clock = std::chrono::system_clock;

// The records' text: control characters as \xHH first, then escaped.
std::string Text(const std::string& text) {
  return HtmlEscaped(Shown(text));
}

std::string TimeText(Clock::time_point time, bool utc) {
  return utc ? records::FormatUtc(time) : records::FormatLocal(time);
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

bool Completed(const UnitRecord& unit) {
  return unit.outcome == records::kCompletedOutcome;
}

// The colour of an outcome wherever it is drawn: green done, grey still
// open, warm colours for the ways a unit fails.
std::string Colour(const std::string& outcome, const std::vector<std::string>& failures) {
  if (outcome == records::kCompletedOutcome) {
    return "#2e7d32";
  }
  if (outcome.empty()) {
    return "#9e9e9e";
  }
  static constexpr const char* kWarm[] = {"#c62828", "#ef6c00", "#ad1457", "#6a1b9a",
                                          "#8d6e63", "#f9a825", "#4e342e", "#d84315"};
  const auto at = std::find(failures.begin(), failures.end(), outcome) - failures.begin();
  return kWarm[static_cast<std::size_t>(at) % std::size(kWarm)];
}

// A time slot of the chart: an hour, or a day.
struct Slot {
  time_t start = 0;
  int completed = 0, failed = 0, open = 0;
  int Units() const { return completed + failed + open; }
};

struct Slots {
  bool days = false;
  std::vector<Slot> slots;
};

std::tm Broken(time_t t, bool utc) {
  std::tm tm{};
  utc ? records::UtcParts(t, tm) : records::LocalParts(t, tm);
  return tm;
}

time_t Joined(std::tm tm, bool utc) {
  return utc ? records::FromUtcParts(tm) : std::mktime(&tm);
}

// The start of the hour (or day) `t` falls in, and of the next one; in
// local time unless `utc`.
time_t Floor(time_t t, bool days, bool utc) {
  std::tm tm = Broken(t, utc);
  tm.tm_min = tm.tm_sec = 0;
  if (days) {
    tm.tm_hour = 0;
    tm.tm_isdst = -1;  // midnight may be in another offset than t
  }
  return Joined(tm, utc);
}

time_t Next(time_t start, bool days, bool utc) {
  if (!days) {
    return Floor(start + 3600, false, utc);
  }
  std::tm tm = Broken(start, utc);
  ++tm.tm_mday;
  tm.tm_isdst = -1;
  return Joined(tm, utc);
}

Slots SlotsOf(const std::vector<UnitRecord>& units, bool utc) {
  std::vector<std::pair<time_t, const UnitRecord*>> starts;
  for (const UnitRecord& unit : units) {
    if (const auto time = records::ParseUtc(unit.startedAt)) {
      starts.emplace_back(Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(*time)), &unit);
    }
  }
  Slots result;
  if (starts.empty()) {
    return result;
  }
  std::sort(starts.begin(), starts.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  // Hours become too thin to read past two weeks.
  result.days = starts.back().first - starts.front().first > 14 * 24 * 3600;
  time_t start = Floor(starts.front().first, result.days, utc);
  result.slots.push_back({start});
  for (const auto& [t, unit] : starts) {
    for (time_t next; (next = Next(start, result.days, utc)) <= t;) {
      start = next;
      result.slots.push_back({start});
    }
    Slot& slot = result.slots.back();
    ++(Completed(*unit) ? slot.completed : unit->outcome.empty() ? slot.open : slot.failed);
  }
  return result;
}

std::string SlotLabel(time_t start, bool days, bool withDate, bool utc) {
  const std::tm tm = Broken(start, utc);
  char text[64];
  if (days) {
    std::snprintf(text, sizeof text, "%02d-%02d", tm.tm_mon + 1, tm.tm_mday);
  } else if (withDate) {
    std::snprintf(text, sizeof text, "%02d-%02d %02d:00", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour);
  } else {
    std::snprintf(text, sizeof text, "%02d:00", tm.tm_hour);
  }
  return text;
}

void Rect(std::string& svg, double x, double y, double width, double height,
          const std::string& fill, const std::string& title) {
  svg += "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(width);
  svg += "\" height=\"" + Number(height) + "\" fill=\"" + fill + "\"><title>";
  svg += title;
  svg += "</title></rect>";
}

void Label(std::string& svg, double x, double y, const char* anchor, const std::string& text) {
  svg += "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" text-anchor=\"";
  svg += anchor;
  svg += "\">";
  svg += text;
  svg += "</text>";
}

std::string PerSlotChart(const Slots& slots, bool utc) {
  constexpr double kWidth = 1000, kHeight = 260, kLeft = 40, kBottom = 40, kTop = 20;
  const std::size_t count = slots.slots.size();
  int most = 1;
  for (const Slot& slot : slots.slots) {
    most = std::max(most, slot.Units());
  }
  const bool manyDays = !slots.days && count > 0 &&
                        Broken(slots.slots.front().start, utc).tm_yday !=
                            Broken(slots.slots.back().start, utc).tm_yday;
  const double step = (kWidth - kLeft) / static_cast<double>(count);
  const double scale = (kHeight - kTop - kBottom) / most;
  const double base = kHeight - kBottom;
  std::string svg = "<svg class=\"chart\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(kHeight);
  svg += "\" role=\"img\" aria-label=\"units per ";
  svg += slots.days ? "day" : "hour";
  svg += "\">";
  svg += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(base) + "\" x2=\"" + Number(kWidth);
  svg += "\" y2=\"" + Number(base) + "\" stroke=\"#444\"/>";
  Label(svg, kLeft - 6, base + 4, "end", "0");
  Label(svg, kLeft - 6, base - most * scale + 4, "end", std::to_string(most));
  const std::size_t labelEvery = std::max<std::size_t>(1, (count + 11) / 12);
  for (std::size_t i = 0; i < count; ++i) {
    const Slot& slot = slots.slots[i];
    const double x = kLeft + step * static_cast<double>(i) + step * 0.1;
    const double width = step * 0.8;
    const std::string when = SlotLabel(slot.start, slots.days, true, utc);
    double top = base;
    const std::pair<int, const char*> parts[] = {
        {slot.completed, "completed"}, {slot.failed, "failed"}, {slot.open, "running"}};
    const char* fills[] = {"#2e7d32", "#c62828", "#9e9e9e"};
    for (std::size_t p = 0; p < std::size(parts); ++p) {
      if (parts[p].first == 0) {
        continue;
      }
      const double height = parts[p].first * scale;
      top -= height;
      std::string title = when + ": " + std::to_string(parts[p].first) + " ";
      title += parts[p].second;
      Rect(svg, x, top, width, height, fills[p], title);
    }
    if (slot.Units() > 0 && count <= 48) {
      Label(svg, x + width / 2, top - 4, "middle", std::to_string(slot.Units()));
    }
    if (i % labelEvery == 0) {
      Label(svg, x + width / 2, base + 18, "middle",
            SlotLabel(slot.start, slots.days, manyDays && i == 0, utc));
    }
  }
  svg += "</svg>";
  return svg;
}

// One bar of outcomes per socket, or per day. With `stations` a socket's key
// is "station\tport".
std::string GroupChart(const std::vector<records::UnitGroup>& groups,
                       const std::vector<std::string>& failures, const char* per,
                       bool stations = false) {
  constexpr double kLabel = 230, kBar = 560, kRow = 34, kWidth = 1000;
  int most = 1;
  for (const records::UnitGroup& group : groups) {
    most = std::max(most, group.units);
  }
  const double height = kRow * static_cast<double>(groups.size()) + 10;
  std::string svg = "<svg class=\"chart\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(height);
  svg += "\" role=\"img\" aria-label=\"outcomes per ";
  svg += per;
  svg += "\">";
  double y = 8;
  for (const records::UnitGroup& group : groups) {
    std::string label = group.key;
    if (const std::size_t tab = label.find('\t'); stations && tab != std::string::npos) {
      label = OrDash(label.substr(0, tab)) + " " + OrDash(ShortPort(label.substr(tab + 1)));
    } else {
      label = OrDash(ShortPort(label));
    }
    Label(svg, kLabel - 10, y + 17, "end", HtmlEscaped(label));
    // Completed first, then the failures in the legend's order, open last.
    std::vector<std::string> order = {records::kCompletedOutcome};
    order.insert(order.end(), failures.begin(), failures.end());
    order.emplace_back("");
    double x = kLabel;
    for (const std::string& outcome : order) {
      const auto found = group.outcomes.find(outcome);
      if (found == group.outcomes.end()) {
        continue;
      }
      const double width = kBar * found->second / most;
      Rect(svg, x, y, width, kRow - 10, Colour(outcome, failures),
           HtmlEscaped(OutcomeShown(outcome)) + ": " + std::to_string(found->second));
      x += width;
    }
    Label(svg, x + 8, y + 17, "start",
          std::to_string(group.units) + (group.units == 1 ? " unit, " : " units, ") +
              OneDecimal(group.FailurePercent()) + "% failed");
    y += kRow;
  }
  svg += "</svg>";
  return svg;
}

std::string Legend(const std::vector<std::string>& present,
                   const std::vector<std::string>& failures) {
  std::string html = "<p class=\"legend\">";
  for (const std::string& outcome : present) {
    html += "<span><i style=\"background:" + Colour(outcome, failures) + "\"></i>";
    html += HtmlEscaped(OutcomeShown(outcome));
    html += "</span> ";
  }
  html += "</p>";
  return html;
}

// The row's class colours the cell at `outcomeColumn`.
void Row(std::string& html, const std::vector<std::string>& cells, const char* rowClass,
         std::size_t outcomeColumn) {
  html += "<tr";
  if (*rowClass != '\0') {
    html += " class=\"";
    html += rowClass;
    html += '"';
  }
  html += '>';
  for (std::size_t i = 0; i < cells.size(); ++i) {
    html += i == outcomeColumn ? "<td class=\"outcome\">" : "<td>";
    html += cells[i];
    html += "</td>";
  }
  html += "</tr>\n";
}

void Head(std::string& html, const std::vector<const char*>& names) {
  html += "<thead><tr>";
  for (const char* name : names) {
    html += "<th>";
    html += name;
    html += "</th>";
  }
  html += "</tr></thead>\n";
}

const char* OutcomeClass(const UnitRecord& unit) {
  return Completed(unit) ? "ok" : unit.outcome.empty() ? "open" : "failed";
}

std::string Display(const UnitRecord& unit) {
  std::string text = Text(OrDash(unit.deviceId));
  if (!unit.transferDeviceId.empty() && unit.transferDeviceId != unit.deviceId) {
    text += " (transfer ";
    text += Text(unit.transferDeviceId);
    text += ')';
  }
  return text;
}

constexpr const char* kStyle = R"(
body { font: 15px/1.4 system-ui, "Noto Sans", "Noto Sans CJK SC", sans-serif; color: #222;
       margin: 24px auto; max-width: 1100px; padding: 0 16px; }
h1 { font-size: 24px; margin-bottom: 4px; }
h2 { font-size: 18px; margin-top: 28px; border-bottom: 1px solid #ccc; }
.note { color: #555; margin-top: 0; }
.figures { display: grid; grid-template-columns: repeat(4, 1fr); gap: 10px; }
.figures div { background: #f4f4f4; border-radius: 6px; padding: 8px 12px; }
.figures b { display: block; font-size: 22px; }
.chart { width: 100%; height: auto; font-size: 12px; }
.legend span { margin-right: 14px; white-space: nowrap; }
.legend i { display: inline-block; width: 12px; height: 12px; margin-right: 4px; }
table { border-collapse: collapse; width: 100%; font-size: 13px; }
th, td { border-bottom: 1px solid #ddd; padding: 3px 6px; text-align: left; vertical-align: top; }
td { white-space: nowrap; }
#units td:nth-child(6), #attention td:nth-child(6) { white-space: normal; overflow-wrap: anywhere; }
th { background: #eee; }
tr.failed td.outcome { color: #c62828; font-weight: bold; }
tr.ok td.outcome { color: #2e7d32; }
tr.open td.outcome { color: #757575; }
)";

void Figure(std::string& html, const std::string& name, const std::string& value) {
  html += "<div>";
  html += name;
  html += "<b>";
  html += value;
  html += "</b></div>";
}

}  // namespace

std::string HtmlEscaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string HistoryHtml(const std::vector<UnitRecord>& newestFirst,
                        const HistoryPageContext& context) {
  const bool utc = context.utc;
  std::set<std::string> stationNames;
  for (const UnitRecord& unit : newestFirst) {
    stationNames.insert(unit.station);
  }
  const bool stations = stationNames.size() > 1;  // a shared database's
  int completed = 0, open = 0;
  double completedSeconds = 0;
  int timed = 0;
  std::set<std::string> displays, failureSet;
  std::optional<Clock::time_point> first, last;
  for (const UnitRecord& unit : newestFirst) {
    if (Completed(unit)) {
      ++completed;
      if (const auto seconds = records::UnitSeconds(unit)) {
        completedSeconds += *seconds;
        ++timed;
      }
    } else if (unit.outcome.empty()) {
      ++open;
    } else {
      failureSet.insert(unit.outcome);
    }
    if (const std::string display = records::DisplayOf(unit); !display.empty()) {
      displays.insert(display);
    }
    for (const std::string* time : {&unit.startedAt, &unit.endedAt}) {
      if (const auto parsed = records::ParseUtc(*time)) {
        first = first ? std::min(*first, *parsed) : *parsed;
        last = last ? std::max(*last, *parsed) : *parsed;
      }
    }
  }
  const std::vector<std::string> failures(failureSet.begin(), failureSet.end());
  const int units = static_cast<int>(newestFirst.size());
  const int failed = units - completed - open;

  std::string period = "-";
  if (first) {
    period = TimeText(*first, utc);
    period += " \u2013 ";
    period += TimeText(*last, utc);
  }

  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  html += "Station history ";
  html += HtmlEscaped(period);
  html += "</title>\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body>\n";
  if (!context.backTo.empty()) {
    html += "<nav><a href=\"";
    html += HtmlEscaped(context.backTo);
    html += "\">Live</a> <b>History</b></nav>\n";
  }
  html += "<h1>Station history</h1>\n<p class=\"note\">";
  html += Text(context.db);
  if (!context.filters.empty()) {
    html += ", ";
    html += Text(context.filters);
  }
  html += "; made ";
  html += TimeText(context.made, utc);
  html += utc ? ", times in UTC" : ", times in local time";
  html += "</p>\n";

  html +=
      "<h2>Summary</h2>\n<p>Period: <span id=\"period\">" + HtmlEscaped(period) + "</span></p>\n";
  html += "<div class=\"figures\" id=\"summary\">";
  Figure(html, "units", std::to_string(units));
  Figure(html, "completed", std::to_string(completed));
  Figure(html, "failed", std::to_string(failed));
  Figure(html, "running", std::to_string(open));
  Figure(html, "failure rate (units not completed)",
         OneDecimal(units == 0 ? 0 : 100.0 * (units - completed) / units) + "%");
  Figure(html, "average completed unit",
         timed > 0 ? OneDecimal(completedSeconds / timed) + " s" : "-");
  Figure(html, "displays", std::to_string(displays.size()));
  html += "</div>\n";

  if (units > 0) {
    const Slots slots = SlotsOf(newestFirst, utc);
    html += slots.days ? "<h2>Units per day</h2>\n" : "<h2>Units per hour</h2>\n";
    html += Legend({records::kCompletedOutcome, "failed", ""}, {"failed"});
    html += PerSlotChart(slots, utc);
    html += "\n<h2>Outcomes per socket</h2>\n";
    std::vector<std::string> present;
    if (completed > 0) {
      present.emplace_back(records::kCompletedOutcome);
    }
    present.insert(present.end(), failures.begin(), failures.end());
    if (open > 0) {
      present.emplace_back("");
    }
    html += Legend(present, failures);
    if (stations) {
      // One hub's socket names recur on every bench PC.
      std::vector<UnitRecord> keyed = newestFirst;
      for (UnitRecord& unit : keyed) {
        unit.port = unit.station + '\t' + unit.port;
      }
      html += GroupChart(records::GroupBySocket(keyed), failures, "socket", true);
    } else {
      html += GroupChart(records::GroupBySocket(newestFirst), failures, "socket");
    }
    if (context.perDay) {
      html += "\n<h2>Outcomes per day</h2>\n";
      html += GroupChart(records::GroupByDay(newestFirst, utc), failures, "day");
    }
    html += '\n';
  }

  const auto attention = records::LastUnitsNotCompleted(newestFirst);
  html += "<h2>Displays to look at</h2>\n";
  if (attention.empty()) {
    html += "<p>Every display's last unit completed.</p>\n";
  } else {
    html += "<table id=\"attention\">\n";
    Head(html, {"started", "display", "socket", "program", "outcome", "detail"});
    html += "<tbody>\n";
    for (const UnitRecord& unit : attention) {
      Row(html,
          {HtmlEscaped(StartedAt(unit, utc)), Text(records::DisplayOf(unit)),
           HtmlEscaped(OrDash(ShortPort(unit.port))), Text(OrDash(unit.program)),
           HtmlEscaped(OutcomeShown(unit.outcome)), Text(OrDash(unit.detail))},
          OutcomeClass(unit), 4);
    }
    html += "</tbody></table>\n";
  }

  html += "<h2>Units</h2>\n<table id=\"units\">\n";
  std::vector<const char*> head = {"started", "ch",      "socket", "display", "program",
                                   "title",   "outcome", "blocks", "resends", "time"};
  if (stations) {
    head.insert(head.begin() + 1, "station");
  }
  Head(html, head);
  html += "<tbody>\n";
  for (const UnitRecord& unit : newestFirst) {
    const auto seconds = records::UnitSeconds(unit);
    std::vector<std::string> cells = {HtmlEscaped(StartedAt(unit, utc)),
                                      std::to_string(unit.channel),
                                      HtmlEscaped(OrDash(ShortPort(unit.port))),
                                      Display(unit),
                                      Text(OrDash(unit.program)),
                                      Text(OrDash(unit.title)),
                                      HtmlEscaped(OutcomeShown(unit.outcome)),
                                      std::to_string(unit.counts.accepted),
                                      std::to_string(unit.counts.sentAgain()),
                                      seconds ? OneDecimal(*seconds) + " s" : "-"};
    if (stations) {
      cells.insert(cells.begin() + 1, Text(OrDash(unit.station)));
    }
    Row(html, cells, OutcomeClass(unit), stations ? 7 : 6);
  }
  html += "</tbody></table>\n</body>\n</html>\n";
  return html;
}

}  // namespace brintel::cli
