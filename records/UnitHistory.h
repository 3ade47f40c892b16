#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "records/Sqlite.h"
#include "records/UnitRecord.h"

namespace brintel::records {

struct HistoryFilter {
  std::optional<std::chrono::system_clock::time_point> since;  // started at or after
  std::optional<std::string> deviceId;  // as the search or the transfer read it
};

// The records as they are, for a reader who may not write them (another user,
// read-only media) while a station may be writing: the file is opened
// read-only, its journal mode and schema are left alone, and any schema
// version is read. A column the file lacks reads as empty or 0; columns and
// tables of later versions are not looked at. Failures throw RecordsError
// naming the file.
class UnitHistory {
 public:
  // The file must exist.
  explicit UnitHistory(const std::filesystem::path& path);

  // Newest first.
  std::vector<UnitRecord> Query(const HistoryFilter& filter = {}) const;

 private:
  // Each field's value from the columns there are.
  std::string Column(const char* name, const char* absent) const;

  Database db_;
  std::set<std::string> columns_;  // of the table units; empty when there is none
};

}  // namespace brintel::records
