#pragma once

#include <span>

#include "records/Sqlite.h"

namespace brintel::records {

// Step n brings a file from schema version n to n + 1; PRAGMA user_version
// holds the number of steps a file has had.
std::span<const char* const> SchemaSteps();

// Applies the steps a file lacks, each with its new version in a transaction
// of its own, so a failed step leaves the file at the version before it.
// A file newer than `steps` is refused: this program would misread it.
void Migrate(const Database& db, std::span<const char* const> steps);

}  // namespace brintel::records
