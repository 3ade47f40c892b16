#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "records/UnitRecord.h"
#include "records/UnitRecords.h"

namespace brintel::records {

// Writes a station's units on a thread of its own, so that no channel ever
// waits for a disk or a lock. What cannot be written now (a full disk, a
// lock held too long, a row deleted by hand) stays queued and is tried again;
// Trouble says why meanwhile, so the station starts no new unit.
class RecordsWriter {
 public:
  struct Settings {
    std::chrono::milliseconds retryEvery{1000};
    std::chrono::milliseconds heartbeatEvery{60000};
  };

  // How long the units waited for their end to be written: from End to the
  // commit, of the units written since the start.
  struct Latency {
    int units = 0;
    std::chrono::microseconds total{0};
    std::chrono::microseconds longest{0};
  };

  // Opens the records for this station run (UnitRecords::Open; throws as it
  // does); the thread starts at once.
  RecordsWriter(const std::filesystem::path& path, const Session& session,
                std::chrono::milliseconds busyTimeout, Settings settings);
  // Writes into a store opened for this station run.
  RecordsWriter(std::unique_ptr<UnitStore> store, Settings settings);
  ~RecordsWriter();
  RecordsWriter(const RecordsWriter&) = delete;
  RecordsWriter& operator=(const RecordsWriter&) = delete;

  // A unit began on `channel`; its record is written as soon as it can be.
  void Begin(int channel, UnitRecord record);
  // The unit of `channel` ended: its whole record (outcome given).
  void End(int channel, UnitRecord record);

  // Why records cannot be written now; empty when they can.
  std::string Trouble() const;
  Latency WriteLatency() const;
  // The store, as it may be shown.
  std::string StoreName() const { return store_->Name(); }

  // Tries once more to write what is queued, stops the thread and returns
  // the records that could not be written (ended or not), oldest first.
  std::vector<UnitRecord> Close();

 private:
  struct Pending {
    int channel = 0;
    UnitRecord record;
    bool begun = false;  // its row exists (record.id)
    bool ended = false;  // the record is complete
    std::chrono::steady_clock::time_point endedAt{};
  };

  void Loop();
  // Writes what it can, in order; false when something failed (trouble_ set).
  bool WriteQueued(std::unique_lock<std::mutex>& lock);
  void Write(Pending& pending);

  std::unique_ptr<UnitStore> store_;
  Settings settings_;
  Latency latency_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Pending> queue_;  // a unit stays until its end is written
  std::string trouble_;
  bool closing_ = false;
  std::thread thread_;
};

}  // namespace brintel::records
