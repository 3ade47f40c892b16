#pragma once

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <string>

#include "records/Sqlite.h"
#include "records/Timestamps.h"
#include "records/UnitRecord.h"
#include "tests/support/TempDir.h"

namespace brintel::records::test {

using brintel::testing::TempDir;

inline UnitRecord Unit(int channel, std::string deviceId, std::string startedAt) {
  UnitRecord unit;
  unit.channel = channel;
  unit.port = "/dev/ttyUSB" + std::to_string(channel - 1);
  unit.deviceId = std::move(deviceId);
  unit.startedAt = std::move(startedAt);
  return unit;
}

// A unit on `port` that ended `seconds` after it started with `outcome`, or
// is still open when that is empty.
inline UnitRecord UnitOn(std::string port, std::string deviceId, std::string startedAt, int seconds,
                         std::string outcome) {
  UnitRecord unit = Unit(1, std::move(deviceId), std::move(startedAt));
  unit.port = std::move(port);
  unit.outcome = std::move(outcome);
  if (!unit.outcome.empty()) {
    unit.endedAt = FormatUtc(*ParseUtc(unit.startedAt) + std::chrono::seconds{seconds});
  }
  return unit;
}

// The table of the first release's files (schema version 1); later versions
// added to it.
inline constexpr const char* kVersionOneUnits =
    "CREATE TABLE units (id INTEGER PRIMARY KEY, channel INTEGER NOT NULL, port TEXT NOT "
    "NULL DEFAULT '', started_at TEXT NOT NULL, ended_at TEXT NOT NULL DEFAULT '', device_id "
    "TEXT NOT NULL DEFAULT '', transfer_device_id TEXT NOT NULL DEFAULT '', program TEXT NOT "
    "NULL DEFAULT '', title TEXT NOT NULL DEFAULT '', list_url TEXT NOT NULL DEFAULT '', "
    "outcome TEXT NOT NULL DEFAULT '', offered TEXT NOT NULL DEFAULT '', blocks INTEGER NOT "
    "NULL DEFAULT 0, resends INTEGER NOT NULL DEFAULT 0, retry_acknowledgements INTEGER NOT "
    "NULL DEFAULT 0, wrong_echoes INTEGER NOT NULL DEFAULT 0, echo_silences INTEGER NOT NULL "
    "DEFAULT 0, acknowledgement_silences INTEGER NOT NULL DEFAULT 0, identification_failures "
    "INTEGER NOT NULL DEFAULT 0, ports_lost INTEGER NOT NULL DEFAULT 0, version TEXT NOT NULL "
    "DEFAULT '');";

// An environment variable set for the scope, then as it was; the C library
// reads TZ again at once.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = ::getenv(name)) {
      old_ = old;
    }
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    value ? ::setenv(name_, value->c_str(), 1) : ::unsetenv(name_);
    ::tzset();
  }
  const char* name_;
  std::optional<std::string> old_;
};

// The first column of the first row, read past the store.
inline std::string ReadText(const std::filesystem::path& file, const char* sql) {
  Database db(file.string(), SQLITE_OPEN_READWRITE);
  Statement statement(db, sql);
  return statement.Step() ? statement.Text(0) : "(no row)";
}

// A change made past the store, as another program would.
inline void Exec(const std::filesystem::path& file, const char* sql) {
  Database db(file.string(), SQLITE_OPEN_READWRITE);
  db.Exec(sql);
}

}  // namespace brintel::records::test
