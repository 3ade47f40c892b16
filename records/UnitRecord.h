#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/BlockCounts.h"

namespace brintel::records {

// The outcome of a unit a killed station left open; the others are the run's.
inline constexpr const char* kInterruptedOutcome = "interrupted";

// One display upgraded (or not) on one channel of a station. Times are UTC,
// ISO 8601 with milliseconds (2026-12-09T02:31:07.125Z).
struct UnitRecord {
  std::int64_t id = 0;  // given by UnitRecords::Begin
  int channel = 0;      // 1-based
  std::string port;
  std::string startedAt;
  std::string endedAt;           // empty while open, and for interrupted units
  std::string deviceId;          // as the search read it
  std::string transferDeviceId;  // as the transfer read it
  std::string program;           // UTF-8
  std::string title;             // UTF-8
  std::string listUrl;
  std::string outcome;               // empty while open
  std::vector<std::string> offered;  // the list's programs, for program-not-offered
  std::string detail;                // why the unit's last server request failed
  BlockCounts counts;
  std::string version = BRINTEL_VERSION;
  std::string station;  // the station that wrote it (--station, else its host)

  friend bool operator==(const UnitRecord&, const UnitRecord&) = default;
};

}  // namespace brintel::records
