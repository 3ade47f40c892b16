#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "records/DatabaseUri.h"
#include "records/UnitHistory.h"
#include "records/UnitRecords.h"
#include "records/UnitStore.h"

namespace brintel::records {

// --db as a station takes it: a postgresql:// URI (see IsPostgresUri) or a
// file. Opened for this station run; throws RecordsError when it cannot be.
std::unique_ptr<UnitStore> OpenUnitStore(const std::string& db, const Session& session,
                                         std::chrono::milliseconds busyTimeout);

// The units of a shared database, newest first; only read.
std::vector<UnitRecord> ReadSharedUnits(const std::string& uri, const HistoryFilter& filter);

// Copies a bench's units into a shared database once: units already there
// are left out. Returns how many were copied and how many were there.
std::pair<int, int> CopyIntoShared(const std::vector<UnitRecord>& units, const std::string& uri,
                                   const std::string& station);

// The shared database, its tables and a station's role with no more rights
// than it needs; the URI a station gives. See SetUpSharedDatabase.
std::string SetUpShared(const std::string& adminUri, const std::string& role,
                        const std::optional<std::string>& password);

}  // namespace brintel::records
