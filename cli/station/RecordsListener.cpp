#include "cli/station/RecordsListener.h"

#include "records/ThisMachine.h"
#include "records/Timestamps.h"

namespace brintel::cli {
namespace {

// A writer that gives up on a lock soon: it tries again anyway, and says why
// meanwhile.
constexpr std::chrono::milliseconds kBusyTimeout{1000};

}  // namespace

RecordsListener::RecordsListener(const std::string& path)
    : writer_(std::make_unique<records::RecordsWriter>(
          path.empty() ? records::DefaultHistoryPath() : records::PathFromUtf8(path),
          records::ThisProcess(), kBusyTimeout, records::RecordsWriter::Settings{})) {}

void RecordsListener::operator()(const run::RunEvent& event) {
  using run::RunEvent;
  records::UnitRecord record;
  record.channel = event.channel;
  record.port = event.port;
  record.deviceId = event.deviceId;
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
