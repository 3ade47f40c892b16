#include "cli/station/RecordsListener.h"

#include "records/SharedRecords.h"
#include "records/ThisMachine.h"
#include "records/Timestamps.h"

namespace brintel::cli {
namespace {

// A writer that gives up on a lock soon: it tries again anyway, and says why
// meanwhile.
constexpr std::chrono::milliseconds kBusyTimeout{1000};

records::Session StationSession(const std::string& station) {
  records::Session session = records::ThisProcess();
  if (!station.empty()) {
    session.station = station;
  }
  return session;
}

}  // namespace

RecordsListener::RecordsListener(const std::string& db, const std::string& station)
    : station_(StationSession(station).station),
      writer_(std::make_unique<records::RecordsWriter>(
          records::OpenUnitStore(db.empty() ? records::Utf8(records::DefaultHistoryPath()) : db,
                                 StationSession(station), kBusyTimeout),
          records::RecordsWriter::Settings{})) {}

void RecordsListener::operator()(const run::RunEvent& event) {
  using run::RunEvent;
  records::UnitRecord record;
  record.channel = event.channel;
  record.port = event.port;
  record.deviceId = event.deviceId;
  record.station = station_;
  switch (event.kind) {
    case RunEvent::Kind::kUnitStarted:
      record.startedAt = records::FormatUtc(event.at);
      writer_->Begin(event.channel, std::move(record));
      break;
    case RunEvent::Kind::kUnitEnded:
      record.endedAt = records::FormatUtc(event.at);
      record.transferDeviceId = event.transferDeviceId;
      record.program = event.program;
      record.title = event.title;
      record.listUrl = event.listUrl;
      record.outcome = run::OutcomeName(event.outcome);
      record.offered = event.offered;
      record.counts = event.counts;
      record.detail = event.detail;
      writer_->End(event.channel, std::move(record));
      break;
    default:
      break;
  }
}

}  // namespace brintel::cli
