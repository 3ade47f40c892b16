#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "records/Postgres.h"
#include "records/UnitRecord.h"
#include "records/UnitRecords.h"
#include "records/UnitStore.h"

namespace brintel::records {

// The records of several stations in one PostgreSQL database: the tables and
// versions of the SQLite file, so that both hold the same records. A lost
// connection is made again on the next write, at most once per back-off
// (doubling up to `longestRetry`), so that a restarted server or a cable
// plugged in again is found without hammering a dead one.
class PostgresUnits : public UnitStore {
 public:
  struct Settings {
    PgConnection::Timeouts timeouts{};
    std::chrono::milliseconds firstRetry{500};
    std::chrono::milliseconds longestRetry{4000};
  };

  // As UnitRecords::Open: brings the schema up to date, marks the units of
  // dead stations interrupted and records this station run. Throws when the
  // database cannot be reached now.
  PostgresUnits(const std::string& uri, const Session& session, Settings settings);

  std::int64_t Begin(const UnitRecord& record) override;
  bool End(const UnitRecord& record) override;
  void Heartbeat() override;
  std::string Name() const override { return name_; }

 private:
  PgConnection& Connection();
  // `write` on the connection; once more on a new one when the old one was
  // found dead (a restarted server): every write here may be sent twice.
  template <typename Write>
  auto Retried(Write write);
  void MarkInterrupted(PgConnection& db, const Session& session);

  std::string uri_;
  std::string name_;
  std::string station_;
  Settings settings_;
  std::int64_t sessionId_ = 0;
  std::mutex mutex_;
  std::optional<PgConnection> connection_;
  std::chrono::steady_clock::time_point nextAttempt_{};
  std::chrono::milliseconds retryIn_;
  std::string lastFailure_;
};

// The units of a shared database, newest first, as UnitHistory reads a file:
// nothing is written.
std::vector<UnitRecord> ReadPostgresUnits(const std::string& uri,
                                          const std::optional<std::string>& startedFrom,
                                          const std::optional<std::string>& deviceId);

struct ExportCount {
  int copied = 0;
  int alreadyThere = 0;  // the same station, channel, port and start
};

// Copies units (of a bench's file) into a shared database in one
// transaction; a unit already there is left out, so a second run copies
// nothing. A unit without a station gets `station`.
ExportCount ExportUnits(const std::vector<UnitRecord>& units, const std::string& uri,
                        const std::string& station);

// As the server's superuser (or a role that may make roles and databases):
// the database the URI names, its tables, and a role `role` that may log in
// (with `password`, when given) and do no more than a station and the history
// need: read all units and sessions, insert them and update them; it may
// neither delete nor change the schema. Each part already there is kept, so
// it may run again. Returns the URI a station gives (no password in it).
std::string SetUpSharedDatabase(const std::string& adminUri, const std::string& role,
                                const std::optional<std::string>& password);

}  // namespace brintel::records
