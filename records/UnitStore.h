#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/UnitRecord.h"

namespace brintel::records {

// Where a station's units go: an SQLite file on the bench PC or a database
// shared by several of them. Every call may come from any thread; failures
// throw RecordsError with the store's name and why.
class UnitStore {
 public:
  virtual ~UnitStore() = default;

  // Inserts the unit at its start and returns its id. Written again after a
  // failure whose answer was lost, it gives the same row, not a second one.
  virtual std::int64_t Begin(const UnitRecord& record) = 0;
  // Completes the unit record.id; false when there is no such row.
  virtual bool End(const UnitRecord& record) = 0;
  // This station run is alive.
  virtual void Heartbeat() = 0;
  // The file or the database, as it may be shown: never with a password.
  virtual std::string Name() const = 0;
};

}  // namespace brintel::records
