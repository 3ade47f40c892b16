#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/Sqlite.h"
#include "records/UnitRecord.h"

namespace brintel::records {

struct UnitFilter {
  // A date or date-time in UTC (see SinceBound); units started at or after it.
  std::optional<std::string> since;
  // Units whose search or transfer read this device id.
  std::optional<std::string> deviceId;
};

// The records of one station in one SQLite file (WAL). Every call may come
// from any channel's thread: one connection, guarded by a mutex, since SQLite
// lets one writer at a time in anyway and a unit writes twice in minutes.
// The busy timeout covers other processes (a history read, another station).
// Failures throw RecordsError with the file's name and SQLite's message.
class UnitRecords {
 public:
  // For a station: makes the folders and the file, brings the schema up to
  // date, and marks the units a killed station left open as interrupted
  // (their ended_at stays empty: when the station died is not known).
  static UnitRecords Open(const std::filesystem::path& path);
  // For reading while a station may be writing: the file must exist, and
  // open units are left alone (they may be running).
  static UnitRecords OpenForReading(const std::filesystem::path& path);

  UnitRecords(const UnitRecords&) = delete;
  UnitRecords& operator=(const UnitRecords&) = delete;

  // Inserts the unit at its start and returns its id; startedAt, when empty,
  // is now. The outcome and the end are left for End.
  std::int64_t Begin(const UnitRecord& record);
  // Completes the unit record.id with everything but channel, port and
  // startedAt; endedAt, when empty, is now. The outcome must be given.
  void End(const UnitRecord& record);

  // Newest first.
  std::vector<UnitRecord> Query(const UnitFilter& filter = {}) const;

  const std::string& path() const { return db_.path(); }

 private:
  UnitRecords(const std::filesystem::path& path, bool station);

  Database db_;
  mutable std::mutex mutex_;
};

// $XDG_DATA_HOME/brintel/history.sqlite3, else
// $HOME/.local/share/brintel/history.sqlite3.
std::filesystem::path DefaultHistoryPath();

}  // namespace brintel::records
