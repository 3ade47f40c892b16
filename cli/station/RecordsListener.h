#pragma once

#include <memory>
#include <string>
#include <vector>

#include "records/RecordsWriter.h"
#include "records/UnitRecord.h"
#include "run/RunEvent.h"

namespace brintel::cli {

// Hands every unit to the records' writer: its start when a display is found,
// all of it when the unit ends. Never waits for the disk. Safe to call from
// several channels' threads.
class RecordsListener {
 public:
  // Opens the records (a file, the default history file when empty, or a
  // postgresql:// URI) for this station run, its units under `station` (the
  // host's name when empty); throws with the reason when it cannot.
  RecordsListener(const std::string& db, const std::string& station);

  void operator()(const run::RunEvent& event);

  // Why records cannot be written now; empty when they can.
  std::string Trouble() const { return writer_->Trouble(); }
  // Writes what it still can and returns what it could not.
  std::vector<records::UnitRecord> Close() { return writer_->Close(); }
  // Where the units go, and how long they waited to be written.
  std::string StoreName() const { return writer_->StoreName(); }
  records::RecordsWriter::Latency WriteLatency() const { return writer_->WriteLatency(); }

 private:
  std::string station_;
  std::unique_ptr<records::RecordsWriter> writer_;
};

}  // namespace brintel::cli
