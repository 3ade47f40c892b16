#pragma once

#include <map>
#include <mutex>
#include <string>

#include "records/UnitRecord.h"
#include "records/UnitRecords.h"
#include "run/RunEvent.h"

namespace brintel::cli {

// Writes every unit into the records: a row when a display is found, its end
// when the unit ends. Safe to call from several channels' threads.
class RecordsListener {
 public:
  // Opens the file (the default history file when empty); throws with the
  // reason when it cannot.
  explicit RecordsListener(const std::string& path);

  void operator()(const run::RunEvent& event);

 private:
  records::UnitRecords store_;
  std::mutex mutex_;
  std::map<int, records::UnitRecord> open_;  // by channel
};

}  // namespace brintel::cli
