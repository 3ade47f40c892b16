#include "records/UnitHistory.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>
#include <system_error>

#include <nlohmann/json.hpp>

#include "records/CountFields.h"
#include "records/DatabaseUri.h"
#include "records/ThisMachine.h"
#include "records/Timestamps.h"
#include "records/UnitJson.h"

namespace brintel::records {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kReadOnly = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;

// file:///... with every byte but the unreserved ones percent-encoded, so that
// a '?', '#' or '%' in a folder's name stays part of the path.
std::string Uri(const std::filesystem::path& path, const char* query) {
  std::string uri = "file://";
  std::string absolute = Utf8(std::filesystem::absolute(path));
  // Windows: file:///C:/folder/file.
  if constexpr (std::filesystem::path::preferred_separator == '\\') {
    std::replace(absolute.begin(), absolute.end(), '\\', '/');
    uri += '/';
  }
  uri += UriPart(absolute, "/:");
  uri += '?';
  uri += query;
  return uri;
}

Database OpenReadOnly(const std::filesystem::path& path) {
  const std::string name = Utf8(path);
  Database db(name, Uri(path, "mode=ro"), kReadOnly);
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // The first read of a file in WAL mode opens its log's index (-shm), and
  // makes it when it is missing: a reader who may not write the folder cannot.
  const int rc =
      sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    return db;
  }
  // A hot journal of rollback mode is another matter: the file alone may be torn.
  if ((rc & 0xFF) != SQLITE_CANTOPEN &&
      ((rc & 0xFF) != SQLITE_READONLY || rc == SQLITE_READONLY_ROLLBACK)) {
    db.Fail("cannot read");
  }
  std::error_code error;
  const std::string log = name + "-wal";
  if (const auto size = std::filesystem::file_size(PathFromUtf8(log), error); !error && size > 0) {
    std::string why = name;
    why += ": its latest units may still be in " + log + ", which can only be read through ";
    why += name + "-shm, and that can be neither read nor made here (";
    why += sqlite3_errmsg(db.get());
    why += "); let this user write to ";
    why += Utf8(std::filesystem::absolute(path).parent_path());
    why += ", or copy both files into a folder of yours and read the copy";
    throw RecordsError(why);
  }
  // Without a log every unit is in the file itself, which needs no index.
  return Database(name, Uri(path, "immutable=1"), kReadOnly);
}

int Clamped(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

struct TextField {
  const char* column;
  std::string UnitRecord::*member;
};

// detail came with schema version 3, station with 5; every other one was
// there from the start.
constexpr TextField kTextFields[] = {
    {"port", &UnitRecord::port},
    {"started_at", &UnitRecord::startedAt},
    {"ended_at", &UnitRecord::endedAt},
    {"device_id", &UnitRecord::deviceId},
    {"transfer_device_id", &UnitRecord::transferDeviceId},
    {"program", &UnitRecord::program},
    {"title", &UnitRecord::title},
    {"list_url", &UnitRecord::listUrl},
    {"outcome", &UnitRecord::outcome},
    {"detail", &UnitRecord::detail},
    {"version", &UnitRecord::version},
    {"station", &UnitRecord::station},
};

}  // namespace

std::set<std::string> UnitColumns(const Database& db) {
  std::set<std::string> columns;
  Statement info(db, "PRAGMA table_info(units)");
  while (info.Step()) {
    columns.insert(info.Text(1));
  }
  return columns;
}

std::vector<UnitRecord> ReadUnits(const Database& db, const std::set<std::string>& columns,
                                  const std::optional<std::string>& startedFrom,
                                  const std::optional<std::string>& deviceId) {
  if (columns.empty()) {
    return {};
  }
  const auto column = [&columns](const char* name, const char* absent) {
    return columns.count(name) != 0 ? std::string("\"") + name + '"' : std::string(absent);
  };
  const std::string id = column("id", "rowid"), startedAt = column("started_at", "''"),
                    device = column("device_id", "''");
  std::string sql = "SELECT " + id + ", " + column("channel", "0") + ", " + column("offered", "''");
  for (const TextField& field : kTextFields) {
    sql += ", " + column(field.column, "''");
  }
  for (const CountField& field : kCountFields) {
    if (field.member != nullptr) {  // resends is the sum of the causes
      sql += ", " + column(field.name, "0");
    }
  }
  sql += " FROM units WHERE (?1 IS NULL OR " + startedAt + " >= ?1) AND (?2 IS NULL OR " + device +
         " = ?2 OR " + column("transfer_device_id", "''") + " = ?2) ORDER BY " + startedAt +
         " DESC, " + id + " DESC";
  Statement select(db, sql.c_str());
  if (startedFrom) {
    select.Bind(1, *startedFrom);
  }
  if (deviceId) {
    select.Bind(2, *deviceId);
  }
  std::vector<UnitRecord> units;
  while (select.Step()) {
    UnitRecord& unit = units.emplace_back();
    unit.id = select.Int(0);
    unit.channel = Clamped(select.Int(1));
    unit.offered = DecodeOffered(select.Text(2));
    int index = 3;
    for (const TextField& field : kTextFields) {
      unit.*field.member = select.Text(index++);
    }
    for (const CountField& field : kCountFields) {
      if (field.member != nullptr) {
        unit.counts.*field.member = Clamped(select.Int(index++));
      }
    }
  }
  return units;
}

UnitHistory::UnitHistory(const std::filesystem::path& path) : db_(OpenReadOnly(path)) {
  // A station makes its table as soon as it has made the file.
  if (UnitColumns(db_).empty() && db_.ReadInt("SELECT count(*) FROM sqlite_master") != 0) {
    throw RecordsError(db_.path() + ": holds no table units: not a station's records");
  }
}

std::vector<UnitRecord> UnitHistory::Query(const HistoryFilter& filter) const {
  return ReadUnits(db_, UnitColumns(db_),
                   filter.since ? std::optional(FormatUtc(*filter.since)) : std::nullopt,
                   filter.deviceId);
}

}  // namespace brintel::records
