#include "records/UnitRecords.h"

#include <array>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

#include "records/CountFields.h"
#include "records/Schema.h"
#include "records/ThisMachine.h"
#include "records/Timestamps.h"
#include "records/UnitHistory.h"
#include "records/UnitJson.h"

namespace brintel::records {
namespace {

std::string PrepareFolder(const std::filesystem::path& path) {
  if (path.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
      throw RecordsError(path.string() + ": cannot make its folder: " + error.message());
    }
  }
  return Utf8(path);
}

// "blocks = ?9, resends = ?10, ...": the counters from parameter `first` on.
std::string CountAssignments(int first) {
  std::string text;
  for (const CountField& field : kCountFields) {
    text += std::string(text.empty() ? "" : ", ") + field.name + " = ?" + std::to_string(first++);
  }
  return text;
}

void BindEnd(Statement& statement, const UnitRecord& record) {
  statement.Bind(1, record.endedAt.empty() ? UtcNow() : record.endedAt);
  statement.Bind(2, record.deviceId);
  statement.Bind(3, record.transferDeviceId);
  statement.Bind(4, record.program);
  statement.Bind(5, record.title);
  statement.Bind(6, record.listUrl);
  statement.Bind(7, record.outcome);
  statement.Bind(8, EncodeOffered(record.offered));
  statement.Bind(9, record.detail);
  statement.Bind(10, record.version);
  statement.Bind(11, record.id);
  int index = 12;
  for (const CountField& field : kCountFields) {
    statement.Bind(index++, std::int64_t{CountValue(record.counts, field)});
  }
}

}  // namespace

Session ThisProcess() {
  return {HostName(), ProcessId(), HostName()};
}

UnitRecords::UnitRecords(const std::filesystem::path& path, std::chrono::milliseconds busyTimeout,
                         const Session& session)
    : db_(PrepareFolder(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) {
  sqlite3_busy_timeout(db_.get(), static_cast<int>(busyTimeout.count()));
  {
    // Finalized before any transaction: a statement left running blocks COMMIT.
    Statement journal(db_, "PRAGMA journal_mode = WAL");
    if (!journal.Step() || journal.Text(0) != "wal") {
      throw RecordsError(db_.path() + ": cannot use write-ahead logging");
    }
  }
  // Two writes a unit: every commit may as well reach the disk.
  db_.Exec("PRAGMA synchronous = FULL");
  Migrate(db_, SchemaSteps());
  MarkInterrupted(session);
  BeginSession(session);
}

UnitRecords UnitRecords::Open(const std::filesystem::path& path, const Session& session,
                              std::chrono::milliseconds busyTimeout) {
  return UnitRecords(path, busyTimeout, session);
}

std::unique_ptr<UnitRecords> UnitRecords::OpenStore(const std::filesystem::path& path,
                                                    const Session& session,
                                                    std::chrono::milliseconds busyTimeout) {
  return std::unique_ptr<UnitRecords>(new UnitRecords(path, busyTimeout, session));
}

void UnitRecords::BeginSession(const Session& session) {
  station_ = session.station.empty() ? session.host : session.station;
  WriteTransaction transaction(db_);
  Statement insert(db_,
                   "INSERT INTO sessions (host, pid, started_at, last_seen_at, station) "
                   "VALUES (?1, ?2, ?3, ?3, ?4)");
  insert.Bind(1, session.host);
  insert.Bind(2, session.pid);
  insert.Bind(3, UtcNow());
  insert.Bind(4, station_);
  insert.Run();
  sessionId_ = sqlite3_last_insert_rowid(db_.get());
  transaction.Commit();
}

// A process of this host that is gone, or a station elsewhere that has been
// silent too long, left its open units for good.
void UnitRecords::MarkInterrupted(const Session& session) {
  WriteTransaction transaction(db_);
  Statement open(db_,
                 "SELECT DISTINCT u.session_id, s.id, s.host, s.pid, s.last_seen_at FROM units u "
                 "LEFT JOIN sessions s ON s.id = u.session_id WHERE u.outcome = ''");
  std::vector<std::optional<std::int64_t>> dead;
  const auto now = std::chrono::system_clock::now();
  while (open.Step()) {
    const std::string sessionId = open.Text(0);
    if (sessionId.empty()) {
      dead.push_back(std::nullopt);  // written before sessions were recorded
      continue;
    }
    bool alive = false;
    if (!open.Text(1).empty()) {
      const std::optional<std::chrono::system_clock::time_point> seen = ParseUtc(open.Text(4));
      alive = open.Text(2) == session.host ? ProcessAlive(open.Int(3))
                                           : seen && now - *seen < kSessionLostAfter;
    }
    if (!alive) {
      dead.push_back(open.Int(0));
    }
  }
  for (const std::optional<std::int64_t>& id : dead) {
    Statement mark(db_, id ? "UPDATE units SET outcome = ?1 WHERE outcome = '' AND session_id = ?2"
                           : "UPDATE units SET outcome = ?1 WHERE outcome = '' AND session_id "
                             "IS NULL");
    mark.Bind(1, kInterruptedOutcome);
    if (id) {
      mark.Bind(2, *id);
    }
    mark.Run();
  }
  transaction.Commit();
}

void UnitRecords::Heartbeat() {
  std::lock_guard lock(mutex_);
  WriteTransaction transaction(db_);
  Statement update(db_, "UPDATE sessions SET last_seen_at = ?1 WHERE id = ?2");
  update.Bind(1, UtcNow());
  update.Bind(2, sessionId_);
  update.Run();
  transaction.Commit();
}

std::int64_t UnitRecords::Begin(const UnitRecord& record) {
  std::lock_guard lock(mutex_);
  WriteTransaction transaction(db_);
  Statement insert(db_,
                   "INSERT INTO units (channel, port, started_at, device_id, transfer_device_id, "
                   "program, title, list_url, version, session_id, station) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
  insert.Bind(1, std::int64_t{record.channel});
  insert.Bind(2, record.port);
  insert.Bind(3, record.startedAt.empty() ? UtcNow() : record.startedAt);
  insert.Bind(4, record.deviceId);
  insert.Bind(5, record.transferDeviceId);
  insert.Bind(6, record.program);
  insert.Bind(7, record.title);
  insert.Bind(8, record.listUrl);
  insert.Bind(9, record.version);
  insert.Bind(10, sessionId_);
  insert.Bind(11, record.station.empty() ? station_ : record.station);
  insert.Run();
  const std::int64_t id = sqlite3_last_insert_rowid(db_.get());
  transaction.Commit();
  return id;
}

bool UnitRecords::End(const UnitRecord& record) {
  if (record.outcome.empty()) {
    throw std::invalid_argument("unit " + std::to_string(record.id) + " ended without an outcome");
  }
  std::lock_guard lock(mutex_);
  WriteTransaction transaction(db_);
  Statement update(db_, ("UPDATE units SET ended_at = ?1, device_id = ?2, transfer_device_id = ?3, "
                         "program = ?4, title = ?5, list_url = ?6, outcome = ?7, offered = ?8, "
                         "detail = ?9, version = ?10, " +
                         CountAssignments(12) + " WHERE id = ?11")
                            .c_str());
  BindEnd(update, record);
  update.Run();
  if (sqlite3_changes(db_.get()) != 1) {
    return false;
  }
  transaction.Commit();
  return true;
}

std::vector<UnitRecord> UnitRecords::Query(const UnitFilter& filter) const {
  std::optional<std::string> since;
  if (filter.since) {
    since = SinceBound(*filter.since);
    if (!since) {
      throw std::invalid_argument("not a date or date-time: " + *filter.since);
    }
  }
  std::lock_guard lock(mutex_);
  return ReadUnits(db_, UnitColumns(db_), since, filter.deviceId);
}

std::filesystem::path DefaultHistoryPath() {
  return UserDataFolder() / "brintel" / "history.sqlite3";
}

}  // namespace brintel::records
