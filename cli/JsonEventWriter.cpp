#include "cli/JsonEventWriter.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "device/SendBlock.h"

namespace brintel::cli {
namespace {

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
    case RunEvent::Kind::kUnitStarted:
      return "unit-started";
    case RunEvent::Kind::kUnitEnded:
      return "unit-ended";
  }
  return "?";
}

nlohmann::json Counts(const BlockCounts& counts) {
  return {{"accepted", counts.accepted},
          {"sent_again", counts.sentAgain()},
          {"retry_acknowledgements", counts.retryAcknowledgements},
          {"wrong_echoes", counts.wrongEchoes},
          {"echo_silences", counts.echoSilences},
          {"acknowledgement_silences", counts.acknowledgementSilences},
          {"identification_failures", counts.identificationFailures},
          {"ports_lost", counts.portsLost}};
}

}  // namespace

void JsonEventWriter::operator()(const RunEvent& event) {
  nlohmann::json line = {
      {"channel", event.channel}, {"time", IsoTime(event.at)}, {"event", KindName(event.kind)}};
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
    case RunEvent::Kind::kUnitStarted:
      line["port"] = event.port;
      line["device_id"] = event.deviceId;
      break;
    case RunEvent::Kind::kUnitEnded:
      line["port"] = event.port;
      line["outcome"] = event.outcome;
      line["counts"] = Counts(event.counts);
      line["seconds"] = event.seconds;
      line["transfer_device_id"] = event.transferDeviceId;
      line["program"] = event.program;
      line["title"] = event.title;
      break;
  }
  // Text from the server went through a decoder; never let a stray byte
  // make the stream invalid.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::lock_guard lock(mutex_);
  out_ << text << '\n' << std::flush;
}

}  // namespace brintel::cli
