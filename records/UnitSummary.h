#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "records/UnitRecord.h"

namespace brintel::records {

// The run's name for a unit that took all its blocks; records stand beside
// the run and do not include it.
inline constexpr const char* kCompletedOutcome = "completed";

// The seconds from a unit's start to its end; nullopt while it has no end.
std::optional<double> UnitSeconds(const UnitRecord& unit);

// The day a stored UTC time falls on, 2026-12-09: in local time (the TZ
// environment variable decides) unless `utc`; nullopt for a time that does
// not parse.
std::optional<std::string> DayOf(std::string_view storedUtc, bool utc);

// The units of one socket or one day.
struct UnitGroup {
  std::string key;  // the port, the day or the station
  int units = 0;
  std::map<std::string, int> outcomes;  // as stored: "" for a unit still open
  int completed = 0;
  double completedSeconds = 0;  // of the completed units with an end
  int timedCompleted = 0;
  std::set<std::string> displays;

  // Units not completed (open ones too) per unit, in %.
  double FailurePercent() const;
  std::optional<double> AverageCompletedSeconds() const;
};

// One group per port, in the order of the ports' names.
std::vector<UnitGroup> GroupBySocket(const std::vector<UnitRecord>& units);

// One group per station, in the order of their names.
std::vector<UnitGroup> GroupByStation(const std::vector<UnitRecord>& units);

// One group per day (see DayOf), newest first; units whose start does not
// parse come last, under an empty key.
std::vector<UnitGroup> GroupByDay(const std::vector<UnitRecord>& units, bool utc);

// The display a unit is of: as the search read it, else as the transfer did.
std::string DisplayOf(const UnitRecord& unit);

// Of units newest first, each display's last unit when it did not complete,
// newest first; units of no known display are left out.
std::vector<UnitRecord> LastUnitsNotCompleted(const std::vector<UnitRecord>& newestFirst);

}  // namespace brintel::records
