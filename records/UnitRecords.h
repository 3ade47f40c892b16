#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/Sqlite.h"
#include "records/UnitRecord.h"
#include "records/UnitStore.h"

namespace brintel::records {

struct UnitFilter {
  // A date or date-time in UTC (see SinceBound); units started at or after it.
  std::optional<std::string> since;
  // Units whose search or transfer read this device id.
  std::optional<std::string> deviceId;
};

// A station run as the records know it: its rows say which run wrote them.
struct Session {
  std::string host;
  std::int64_t pid = 0;
  std::string station;  // the name its units carry; the host's when empty
};

// This process on this host.
Session ThisProcess();

// How long a station on another host may stay silent before its open units
// count as left by a killed station; its heartbeat comes every minute.
inline constexpr std::chrono::minutes kSessionLostAfter{10};

// The records of one station in one SQLite file (WAL). Every call may come
// from any thread: one connection, guarded by a mutex, since SQLite lets one
// writer at a time in anyway and a unit writes twice in minutes. The busy
// timeout covers other processes (another station). History reads through
// UnitHistory, which never writes.
// Failures throw RecordsError with the file's name and SQLite's message.
class UnitRecords : public UnitStore {
 public:
  // For a station: makes the folders and the file, brings the schema up to
  // date, records this station run as a session, and marks as interrupted
  // the units that a station now dead left open: of this host, when its
  // process is gone; of another host, when it gave no sign of life for
  // kSessionLostAfter (their ended_at stays empty: when it died is not known).
  static UnitRecords Open(const std::filesystem::path& path, const Session& session = ThisProcess(),
                          std::chrono::milliseconds busyTimeout = std::chrono::seconds(10));

  // The same, for a writer that holds it as any store.
  static std::unique_ptr<UnitRecords> OpenStore(
      const std::filesystem::path& path, const Session& session = ThisProcess(),
      std::chrono::milliseconds busyTimeout = std::chrono::seconds(10));

  UnitRecords(const UnitRecords&) = delete;
  UnitRecords& operator=(const UnitRecords&) = delete;

  // Inserts the unit at its start and returns its id; startedAt, when empty,
  // is now. The outcome and the end are left for End.
  std::int64_t Begin(const UnitRecord& record) override;
  // Completes the unit record.id with everything but channel, port and
  // startedAt; endedAt, when empty, is now. The outcome must be given. False
  // when there is no such row (deleted by hand): nothing was written.
  bool End(const UnitRecord& record) override;
  // This station run is alive.
  void Heartbeat() override;

  // Newest first.
  std::vector<UnitRecord> Query(const UnitFilter& filter = {}) const;

  const std::string& path() const { return db_.path(); }
  std::string Name() const override { return db_.path(); }

 private:
  UnitRecords(const std::filesystem::path& path, std::chrono::milliseconds busyTimeout,
              const Session& session);
  void BeginSession(const Session& session);
  void MarkInterrupted(const Session& session);

  Database db_;
  std::int64_t sessionId_ = 0;
  std::string station_;
  mutable std::mutex mutex_;
};

// $XDG_DATA_HOME/brintel/history.sqlite3, else
// $HOME/.local/share/brintel/history.sqlite3.
std::filesystem::path DefaultHistoryPath();

}  // namespace brintel::records
