#include "records/RecordsWriter.h"

#include <algorithm>
#include <exception>

#include "records/Timestamps.h"

namespace brintel::records {

RecordsWriter::RecordsWriter(const std::filesystem::path& path, const Session& session,
                             std::chrono::milliseconds busyTimeout, Settings settings)
    : RecordsWriter(UnitRecords::OpenStore(path, session, busyTimeout), settings) {}

RecordsWriter::RecordsWriter(std::unique_ptr<UnitStore> store, Settings settings)
    : store_(std::move(store)), settings_(settings), thread_([this] { Loop(); }) {}

RecordsWriter::~RecordsWriter() {
  Close();
}

void RecordsWriter::Begin(int channel, UnitRecord record) {
  std::lock_guard lock(mutex_);
  queue_.push_back({channel, std::move(record), false, false, {}});
  wake_.notify_one();
}

void RecordsWriter::End(int channel, UnitRecord record) {
  std::lock_guard lock(mutex_);
  // The channel's latest unit that has not ended: one unit a channel at a time.
  const auto open = std::find_if(queue_.rbegin(), queue_.rend(), [channel](const Pending& p) {
    return p.channel == channel && !p.ended;
  });
  if (open != queue_.rend()) {
    record.id = open->record.id;
    record.startedAt = open->record.startedAt;
    open->record = std::move(record);
    open->ended = true;
    open->endedAt = std::chrono::steady_clock::now();
  } else {
    if (record.startedAt.empty()) {  // the same start each time it is tried
      record.startedAt = record.endedAt.empty() ? UtcNow() : record.endedAt;
    }
    queue_.push_back({channel, std::move(record), false, true, std::chrono::steady_clock::now()});
  }
  wake_.notify_one();
}

std::string RecordsWriter::Trouble() const {
  std::lock_guard lock(mutex_);
  return trouble_;
}

RecordsWriter::Latency RecordsWriter::WriteLatency() const {
  std::lock_guard lock(mutex_);
  return latency_;
}

void RecordsWriter::Loop() {
  std::unique_lock lock(mutex_);
  auto heartbeatAt = std::chrono::steady_clock::now() + settings_.heartbeatEvery;
  while (!closing_) {
    const bool written = WriteQueued(lock);
    if (std::chrono::steady_clock::now() >= heartbeatAt) {
      heartbeatAt = std::chrono::steady_clock::now() + settings_.heartbeatEvery;
      lock.unlock();
      try {
        store_->Heartbeat();
      } catch (const std::exception&) {
        // A missed sign of life costs nothing while the station lives.
      }
      lock.lock();
    }
    const auto until =
        written ? heartbeatAt
                : std::min(heartbeatAt, std::chrono::steady_clock::now() + settings_.retryEvery);
    wake_.wait_until(lock, until, [this, written] {
      return closing_ ||
             (written && std::any_of(queue_.begin(), queue_.end(),
                                     [](const Pending& p) { return !p.begun || p.ended; }));
    });
  }
}

bool RecordsWriter::WriteQueued(std::unique_lock<std::mutex>& lock) {
  for (std::size_t i = 0; i < queue_.size();) {
    if (queue_[i].begun && !queue_[i].ended) {
      ++i;  // written as far as it goes: its end is to come
      continue;
    }
    Pending work = queue_[i];
    lock.unlock();
    std::string failure;
    try {
      Write(work);
    } catch (const std::exception& error) {
      failure = error.what();
    }
    lock.lock();
    // The queue may have grown, and this unit's end may have come meanwhile.
    Pending& now = queue_[i];
    if (!failure.empty()) {
      trouble_ = failure;
      if (work.begun && !now.begun) {
        now.begun = true;
        now.record.id = work.record.id;
      }
      return false;
    }
    now.record.id = work.record.id;
    now.begun = true;
    if (work.ended) {
      const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - now.endedAt);
      ++latency_.units;
      latency_.total += waited;
      latency_.longest = std::max(latency_.longest, waited);
      queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  trouble_.clear();
  return true;
}

// Without the lock: the disk or another process may take their time.
void RecordsWriter::Write(Pending& pending) {
  if (!pending.begun) {
    pending.record.id = store_->Begin(pending.record);
    pending.begun = true;
  }
  if (pending.ended && !store_->End(pending.record)) {
    // Its row was deleted by hand meanwhile: the unit is written anew.
    pending.record.id = store_->Begin(pending.record);
    if (!store_->End(pending.record)) {
      throw RecordsError(store_->Name() + ": unit " + std::to_string(pending.record.id) +
                         " vanished as it was written");
    }
  }
}

std::vector<UnitRecord> RecordsWriter::Close() {
  {
    std::lock_guard lock(mutex_);
    if (closing_) {
      return {};
    }
    closing_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable()) {
    thread_.join();
  }
  std::unique_lock lock(mutex_);
  WriteQueued(lock);
  std::vector<UnitRecord> unwritten;
  for (const Pending& pending : queue_) {
    if (pending.ended || !pending.begun) {
      unwritten.push_back(pending.record);
    }
  }
  queue_.clear();
  return unwritten;
}

}  // namespace brintel::records
