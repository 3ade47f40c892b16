#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/BlockCounts.h"

namespace brintel::records {

// How a unit ended, as stored in the outcome column.
namespace outcome {
inline constexpr const char* kCompleted = "completed";
inline constexpr const char* kListRefused = "list-refused";
inline constexpr const char* kPackageRefused = "package-refused";
inline constexpr const char* kOtherDevice = "other-device";  // the package names another display
// Another display answered in the transfer: nothing was written into it.
inline constexpr const char* kOtherDisplay = "other-display";
inline constexpr const char* kProgramNotOffered = "program-not-offered";
inline constexpr const char* kServerError = "server-error";
inline constexpr const char* kPortLost = "port-lost";
inline constexpr const char* kStopped = "stopped";
inline constexpr const char* kInterrupted = "interrupted";  // the station died mid-unit
}  // namespace outcome

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
  BlockCounts counts;
  std::string version = BRINTEL_VERSION;

  friend bool operator==(const UnitRecord&, const UnitRecord&) = default;
};

}  // namespace brintel::records
