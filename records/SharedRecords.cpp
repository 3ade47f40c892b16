#include "records/SharedRecords.h"

#include "records/Timestamps.h"

#ifdef BRINTEL_WITH_POSTGRESQL
#include "records/PostgresUnits.h"
#endif

namespace brintel::records {

#ifdef BRINTEL_WITH_POSTGRESQL

std::unique_ptr<UnitStore> OpenUnitStore(const std::string& db, const Session& session,
                                         std::chrono::milliseconds busyTimeout) {
  if (IsPostgresUri(db)) {
    return std::make_unique<PostgresUnits>(db, session, PostgresUnits::Settings{});
  }
  return UnitRecords::OpenStore(db, session, busyTimeout);
}

std::vector<UnitRecord> ReadSharedUnits(const std::string& uri, const HistoryFilter& filter) {
  return ReadPostgresUnits(
      uri, filter.since ? std::optional(FormatUtc(*filter.since)) : std::nullopt, filter.deviceId);
}

std::pair<int, int> CopyIntoShared(const std::vector<UnitRecord>& units, const std::string& uri,
                                   const std::string& station) {
  const ExportCount count = ExportUnits(units, uri, station);
  return {count.copied, count.alreadyThere};
}

std::string SetUpShared(const std::string& adminUri, const std::string& role,
                        const std::optional<std::string>& password) {
  return SetUpSharedDatabase(adminUri, role, password);
}

#else

namespace {

[[noreturn]] void NoPostgres(const std::string& uri) {
  throw RecordsError(WithoutPassword(uri) +
                     ": this brintel was built without PostgreSQL; give an SQLite file");
}

}  // namespace

std::unique_ptr<UnitStore> OpenUnitStore(const std::string& db, const Session& session,
                                         std::chrono::milliseconds busyTimeout) {
  if (IsPostgresUri(db)) {
    NoPostgres(db);
  }
  return UnitRecords::OpenStore(db, session, busyTimeout);
}

std::vector<UnitRecord> ReadSharedUnits(const std::string& uri, const HistoryFilter&) {
  NoPostgres(uri);
}

std::pair<int, int> CopyIntoShared(const std::vector<UnitRecord>&, const std::string& uri,
                                   const std::string&) {
  NoPostgres(uri);
}

std::string SetUpShared(const std::string& adminUri, const std::string&,
                        const std::optional<std::string>&) {
  NoPostgres(adminUri);
}

#endif

}  // namespace brintel::records
