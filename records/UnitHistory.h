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

// The columns of the table units there are; empty when there is no such table.
std::set<std::string> UnitColumns(const Database& db);

// The units newest first, from whatever columns `columns` names (a column the
// file lacks reads as empty or 0): those started at or after the stored time
// text `startedFrom`, of the display `deviceId`, when given.
std::vector<UnitRecord> ReadUnits(const Database& db, const std::set<std::string>& columns,
                                  const std::optional<std::string>& startedFrom,
                                  const std::optional<std::string>& deviceId);

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
  Database db_;
  std::set<std::string> columns_;  // of the table units; empty when there is none
};

}  // namespace brintel::records
