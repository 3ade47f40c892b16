#include "cli/json/JsonEventWriter.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "device/SendBlock.h"
#include "records/CountFields.h"
#include "records/Timestamps.h"

namespace brintel::cli {
namespace {

using run::RunEvent;

const char* KindName(RunEvent::Kind kind) {
  switch (kind) {
    case RunEvent::Kind::kStatus:
      return "status";
    case RunEvent::Kind::kMessage:
      return "message";
    case RunEvent::Kind::kProgress:
      return "progress";
    case RunEvent::Kind::kTitle:
      return "title";
    case RunEvent::Kind::kPictures:
      return "pictures";
    case RunEvent::Kind::kNote:
      return "note";
    case RunEvent::Kind::kRequestFailed:
      return "request-failed";
    case RunEvent::Kind::kUnitStarted:
      return "unit-started";
    case RunEvent::Kind::kUnitEnded:
      return "unit-ended";
  }
  return "?";
}

// Under the names the history gives them.
void PutCounts(const BlockCounts& counts, nlohmann::json& line) {
  for (const records::CountField& field : records::kCountFields) {
    line[field.name] = records::CountValue(counts, field);
  }
}

}  // namespace

void JsonEventWriter::operator()(const RunEvent& event) {
  nlohmann::json line = {{"channel", event.channel},
                         {"time", records::FormatUtc(event.at)},
                         {"event", KindName(event.kind)}};
  switch (event.kind) {
    case RunEvent::Kind::kStatus:
    case RunEvent::Kind::kTitle:
    case RunEvent::Kind::kNote:
      line["text"] = event.text;
      break;
    case RunEvent::Kind::kMessage:
      line["caption"] = event.caption;
      line["text"] = event.text;
      break;
    case RunEvent::Kind::kProgress:
      line["blocks"] = event.blocks;
      line["of"] = BLOCK_COUNT;
      break;
    case RunEvent::Kind::kPictures:
      line["left"] = event.leftPicture;
      line["right"] = event.rightPicture;
      break;
    case RunEvent::Kind::kRequestFailed:
      line["url"] = event.url;
      line["detail"] = event.detail;
      break;
    case RunEvent::Kind::kUnitStarted:
      line["port"] = event.port;
      line["device_id"] = event.deviceId;
      break;
    case RunEvent::Kind::kUnitEnded:
      line["port"] = event.port;
      line["device_id"] = event.deviceId;
      line["transfer_device_id"] = event.transferDeviceId;
      line["program"] = event.program;
      line["title"] = event.title;
      line["list_url"] = event.listUrl;
      line["outcome"] = run::OutcomeName(event.outcome);
      line["offered"] = event.offered;
      PutCounts(event.counts, line);
      line["detail"] = event.detail;
      line["failed_url"] = event.url;
      line["seconds"] = event.seconds;
      break;
  }
  // Text from the server went through a decoder; never let a stray byte
  // make the stream invalid.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::lock_guard lock(mutex_);
  out_ << text << '\n' << std::flush;
  if (!out_) {
    failed_ = true;
  }
}

}  // namespace brintel::cli
