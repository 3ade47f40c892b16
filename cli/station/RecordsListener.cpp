#include "cli/station/RecordsListener.h"

#include "records/Timestamps.h"

namespace brintel::cli {

RecordsListener::RecordsListener(const std::string& path)
    : store_(records::UnitRecords::Open(path.empty() ? records::DefaultHistoryPath()
                                                     : std::filesystem::path(path))) {}

void RecordsListener::operator()(const run::RunEvent& event) {
  using run::RunEvent;
  std::lock_guard lock(mutex_);
  switch (event.kind) {
    case RunEvent::Kind::kUnitStarted: {
      records::UnitRecord record;
      record.channel = event.channel;
      record.port = event.port;
      record.startedAt = records::FormatUtc(event.at);
      record.deviceId = event.deviceId;
      record.version = BRINTEL_VERSION;
      record.id = store_.Begin(record);
      open_[event.channel] = record;
      break;
    }
    case RunEvent::Kind::kUnitEnded: {
      const auto it = open_.find(event.channel);
      if (it == open_.end()) {
        return;
      }
      records::UnitRecord record = it->second;
      open_.erase(it);
      record.endedAt = records::FormatUtc(event.at);
      record.transferDeviceId = event.transferDeviceId;
      record.program = event.program;
      record.title = event.title;
      record.listUrl = event.listUrl;
      record.outcome = run::OutcomeName(event.outcome);
      record.detail = event.detail;
      record.offered = event.offered;
      record.counts = event.counts;
      store_.End(record);
      break;
    }
    default:
      break;
  }
}

}  // namespace brintel::cli
