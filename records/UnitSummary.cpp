#include "records/UnitSummary.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

#include "records/ThisMachine.h"
#include "records/Timestamps.h"

namespace brintel::records {
namespace {

void Count(UnitGroup& group, const UnitRecord& unit) {
  ++group.units;
  ++group.outcomes[unit.outcome];
  if (const std::string display = DisplayOf(unit); !display.empty()) {
    group.displays.insert(display);
  }
  if (unit.outcome == kCompletedOutcome) {
    ++group.completed;
    if (const auto seconds = UnitSeconds(unit)) {
      group.completedSeconds += *seconds;
      ++group.timedCompleted;
    }
  }
}

std::vector<UnitGroup> Grouped(const std::vector<UnitRecord>& units,
                               const std::function<std::string(const UnitRecord&)>& keyOf) {
  std::map<std::string, UnitGroup> groups;
  for (const UnitRecord& unit : units) {
    const std::string key = keyOf(unit);
    UnitGroup& group = groups[key];
    group.key = key;
    Count(group, unit);
  }
  std::vector<UnitGroup> sorted;
  for (auto& [key, group] : groups) {
    sorted.push_back(std::move(group));
  }
  return sorted;
}

}  // namespace

std::optional<double> UnitSeconds(const UnitRecord& unit) {
  const auto started = ParseUtc(unit.startedAt);
  const auto ended = ParseUtc(unit.endedAt);
  if (!started || !ended) {
    return std::nullopt;
  }
  return std::chrono::duration<double>(*ended - *started).count();
}

std::optional<std::string> DayOf(std::string_view storedUtc, bool utc) {
  const auto time = ParseUtc(storedUtc);
  if (!time) {
    return std::nullopt;
  }
  const std::time_t t =
      std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(*time));
  std::tm tm{};
  if (!(utc ? UtcParts(t, tm) : LocalParts(t, tm))) {
    return std::nullopt;
  }
  char text[48];  // room for any int the compiler can imagine
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return text;
}

double UnitGroup::FailurePercent() const {
  return units == 0 ? 0 : 100.0 * (units - completed) / units;
}

std::optional<double> UnitGroup::AverageCompletedSeconds() const {
  if (timedCompleted == 0) {
    return std::nullopt;
  }
  return completedSeconds / timedCompleted;
}

std::vector<UnitGroup> GroupBySocket(const std::vector<UnitRecord>& units) {
  return Grouped(units, [](const UnitRecord& unit) { return unit.port; });
}

std::vector<UnitGroup> GroupByStation(const std::vector<UnitRecord>& units) {
  return Grouped(units, [](const UnitRecord& unit) { return unit.station; });
}

std::vector<UnitGroup> GroupByDay(const std::vector<UnitRecord>& units, bool utc) {
  auto groups = Grouped(
      units, [utc](const UnitRecord& unit) { return DayOf(unit.startedAt, utc).value_or(""); });
  // Newest first; the empty key (no day) sorts first, so it goes to the end.
  std::reverse(groups.begin(), groups.end());
  return groups;
}

std::string DisplayOf(const UnitRecord& unit) {
  return unit.deviceId.empty() ? unit.transferDeviceId : unit.deviceId;
}

std::vector<UnitRecord> LastUnitsNotCompleted(const std::vector<UnitRecord>& newestFirst) {
  std::set<std::string> seen;
  std::vector<UnitRecord> last;
  for (const UnitRecord& unit : newestFirst) {
    const std::string display = DisplayOf(unit);
    if (!display.empty() && seen.insert(display).second && unit.outcome != kCompletedOutcome) {
      last.push_back(unit);
    }
  }
  return last;
}

}  // namespace brintel::records
