#include "records/Schema.h"

#include <string>

namespace brintel::records {
namespace {

constexpr const char* kSteps[] = {
    // 0 -> 1: the units.
    R"sql(
      CREATE TABLE units (
        id INTEGER PRIMARY KEY,
        channel INTEGER NOT NULL,
        port TEXT NOT NULL DEFAULT '',
        started_at TEXT NOT NULL,
        ended_at TEXT NOT NULL DEFAULT '',
        device_id TEXT NOT NULL DEFAULT '',
        transfer_device_id TEXT NOT NULL DEFAULT '',
        program TEXT NOT NULL DEFAULT '',
        title TEXT NOT NULL DEFAULT '',
        list_url TEXT NOT NULL DEFAULT '',
        outcome TEXT NOT NULL DEFAULT '',
        offered TEXT NOT NULL DEFAULT '',
        blocks INTEGER NOT NULL DEFAULT 0,
        resends INTEGER NOT NULL DEFAULT 0,
        retry_acknowledgements INTEGER NOT NULL DEFAULT 0,
        wrong_echoes INTEGER NOT NULL DEFAULT 0,
        echo_silences INTEGER NOT NULL DEFAULT 0,
        acknowledgement_silences INTEGER NOT NULL DEFAULT 0,
        identification_failures INTEGER NOT NULL DEFAULT 0,
        ports_lost INTEGER NOT NULL DEFAULT 0,
        version TEXT NOT NULL DEFAULT ''
      );
    )sql",
    // 1 -> 2: the history's filters and order, and the search for open rows.
    R"sql(
      CREATE INDEX units_started_at ON units (started_at);
      CREATE INDEX units_device_id ON units (device_id);
      CREATE INDEX units_transfer_device_id ON units (transfer_device_id);
      CREATE INDEX units_open ON units (outcome) WHERE outcome = '';
    )sql",
    // 2 -> 3: why a request failed, and the displays that answered in the right one's place.
    R"sql(
      ALTER TABLE units ADD COLUMN detail TEXT NOT NULL DEFAULT '';
      ALTER TABLE units ADD COLUMN other_displays INTEGER NOT NULL DEFAULT 0;
    )sql",
    // 3 -> 4: the station runs, so that one station never takes another's
    // live unit for one a killed station left open.
    R"sql(
      CREATE TABLE sessions (
        id INTEGER PRIMARY KEY,
        host TEXT NOT NULL DEFAULT '',
        pid INTEGER NOT NULL DEFAULT 0,
        started_at TEXT NOT NULL,
        last_seen_at TEXT NOT NULL
      );
      ALTER TABLE units ADD COLUMN session_id INTEGER;
    )sql",
    // 4 -> 5: several stations in one store, told apart by name; a unit of a
    // session found by its channel and start (unique in a shared database,
    // where an insert may be sent again after a lost answer).
    R"sql(
      ALTER TABLE sessions ADD COLUMN station TEXT NOT NULL DEFAULT '';
      ALTER TABLE units ADD COLUMN station TEXT NOT NULL DEFAULT '';
      CREATE INDEX units_station ON units (station, started_at);
      CREATE INDEX units_of_session ON units (session_id, channel, started_at);
    )sql",
};

}  // namespace

std::span<const char* const> SchemaSteps() {
  return kSteps;
}

void Migrate(const Database& db, std::span<const char* const> steps) {
  const auto known = static_cast<std::int64_t>(steps.size());
  for (;;) {
    // Read outside a write transaction first: an up-to-date file needs no lock.
    std::int64_t version = db.ReadInt("PRAGMA user_version");
    if (version == known) {
      return;
    }
    if (version < 0) {
      throw RecordsError(db.path() + ": unknown schema version " + std::to_string(version));
    }
    if (version > known) {
      throw RecordsError(db.path() + ": the records have schema version " +
                         std::to_string(version) + ", newer than this brintel (" + BRINTEL_VERSION +
                         ") knows (" + std::to_string(known) + "); use a newer brintel");
    }
    WriteTransaction transaction(db);
    // Another process may have moved it on since the read.
    if (db.ReadInt("PRAGMA user_version") != version) {
      continue;
    }
    db.Exec(steps[static_cast<std::size_t>(version)]);
    db.Exec(("PRAGMA user_version = " + std::to_string(version + 1)).c_str());
    transaction.Commit();
  }
}

}  // namespace brintel::records
