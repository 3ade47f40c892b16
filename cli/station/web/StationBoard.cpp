#include "cli/station/web/StationBoard.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "cli/station/StationWords.h"
#include "cli/terminal/TerminalText.h"
#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "records/Timestamps.h"

namespace brintel::cli {
namespace {

using run::RunEvent;
using run::UnitOutcome;

constexpr std::size_t kLastUnits = 12;

const char* ToneName(int tone) {
  static constexpr const char* kNames[] = {"waiting", "plain", "done", "failed"};
  return kNames[tone];
}

}  // namespace

StationBoard::StationBoard(std::vector<std::string> ports) {
  for (std::string& port : ports) {
    Tile tile;
    tile.socket = ShortPort(port);
    tile.port = ShownText(port, 400);
    tile.state = "searching";
    tiles_.push_back(std::move(tile));
  }
}

void StationBoard::operator()(const RunEvent& event) {
  {
    const std::lock_guard lock(mutex_);
    if (ended_) {
      return;
    }
    Apply(event);
    ++version_;
  }
  changed_.notify_all();
}

void StationBoard::End(const std::string& why) {
  {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    endedWhy_ = why;
    endedAt_ = records::FormatUtc(std::chrono::system_clock::now());
    ++version_;
  }
  changed_.notify_all();
}

void StationBoard::WakeAll() {
  { const std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

StationBoard::Snapshot StationBoard::WaitNewer(std::uint64_t seen,
                                               std::chrono::milliseconds timeout,
                                               const std::atomic<bool>& giveUp) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, timeout, [&] { return version_ != seen || giveUp; }) ||
      version_ == seen) {
    return {.version = seen, .json = {}, .ended = ended_};
  }
  return Take();
}

StationBoard::Snapshot StationBoard::Now() {
  const std::lock_guard lock(mutex_);
  return Take();
}

StationBoard::Snapshot StationBoard::Take() const {
  return {.version = version_, .json = Json(), .ended = ended_};
}

void StationBoard::Apply(const RunEvent& event) {
  if (event.channel < 1 || event.channel > static_cast<int>(tiles_.size())) {
    return;
  }
  Tile& tile = tiles_[static_cast<std::size_t>(event.channel - 1)];
  // How the last unit ended stays until the next one begins.
  const auto show = [&tile](std::string state, Tone tone) {
    if (!tile.ended) {
      tile.state = std::move(state);
      tile.tone = tone;
    }
  };
  switch (event.kind) {
    case RunEvent::Kind::kStatus:
      if (!event.text.empty()) {
        const std::string state = StateOf(event.text);
        show(state, state == "searching" ? Tone::kWaiting : Tone::kPlain);
      }
      break;
    case RunEvent::Kind::kNote:
      if (event.text.starts_with("unusable: ")) {
        show("UNUSABLE", Tone::kFailed);
        tile.reason = ShownText(event.text.substr(10), 400);
        tile.ended = true;  // for good: it has no unit to come
      } else if (!tile.ended) {
        tile.cue = ShownText(event.text, 200);
      }
      break;
    case RunEvent::Kind::kMessage:
      if (event.text != messages::kCompleted && event.text != messages::kStopMidwayHint &&
          !tile.ended) {
        tile.cue = CueOf(event.text, event.caption);
        if (event.caption == messages::kCaptionError) {
          tile.tone = Tone::kFailed;
        }
      }
      break;
    case RunEvent::Kind::kRequestFailed:
      if (!tile.ended) {
        tile.cue = "request failed: " + ShownText(event.detail, 200);
      }
      break;
    case RunEvent::Kind::kProgress:
      tile.progress.Accepted(event.blocks, std::chrono::steady_clock::now());
      tile.cue.clear();
      show("transferring", Tone::kPlain);
      break;
    case RunEvent::Kind::kUnitStarted:
      tile.deviceId = ShownText(event.deviceId, 40);
      tile.progress = {};
      tile.ended = false;
      tile.cue.clear();
      tile.reason.clear();
      tile.title.clear();
      tile.leftPicture = tile.rightPicture = 0;
      show("found", Tone::kPlain);
      break;
    case RunEvent::Kind::kUnitEnded: {
      LastUnit unit;
      unit.at = records::FormatUtc(event.at);
      unit.channel = event.channel;
      unit.socket = tile.socket;
      unit.deviceId = ShownText(event.deviceId, 40);
      unit.outcome = run::OutcomeName(event.outcome);
      unit.seconds = event.seconds;
      if (event.outcome == UnitOutcome::kCompleted) {
        ++completed_;
        show("done " + MinutesSeconds(std::chrono::seconds(std::llround(event.seconds))),
             Tone::kDone);
        tile.cue = "unplug, set the jumper as the pictures show";
      } else {
        ++failed_;
        tile.reason = FailureWords(event.outcome);
        if (!event.detail.empty()) {
          tile.reason += ": " + ShownText(event.detail, 200);
        }
        unit.reason = tile.reason;
        show("FAILED", Tone::kFailed);
        tile.cue = "unplug, wait 10 s, plug in again";
      }
      tile.ended = true;
      tile.progress = {};
      last_.push_front(std::move(unit));
      if (last_.size() > kLastUnits) {
        last_.pop_back();
      }
      break;
    }
    case RunEvent::Kind::kPictures:
      tile.leftPicture = event.leftPicture;
      tile.rightPicture = event.rightPicture;
      break;
    case RunEvent::Kind::kTitle:
      tile.title = ShownText(event.text, 200);
      break;
  }
}

// Every text from the display, the server or the ports goes out as a JSON
// string; the page only ever sets it as text. Bytes that are not UTF-8 become
// U+FFFD rather than breaking the stream.
std::string StationBoard::Json() const {
  using nlohmann::json;
  json tiles = json::array();
  for (std::size_t i = 0; i < tiles_.size(); ++i) {
    const Tile& tile = tiles_[i];
    const int blocks = tile.progress.blocks();
    json pictures = json::array();
    if (tile.leftPicture != 0 || tile.rightPicture != 0) {
      pictures = {tile.leftPicture, tile.rightPicture};
    }
    const std::string left = tile.progress.LeftText();
    tiles.push_back({{"channel", i + 1},
                     {"socket", tile.socket},
                     {"port", tile.port},
                     {"display", tile.deviceId},
                     {"state", tile.state},
                     {"tone", ToneName(static_cast<int>(tile.tone))},
                     {"cue", tile.cue},
                     {"reason", tile.reason},
                     {"title", tile.title},
                     {"blocks", blocks},
                     {"of", BLOCK_COUNT},
                     {"left", left.empty() ? left : left.substr(1)},  // "1:23 left"
                     {"pictures", pictures}});
  }
  json last = json::array();
  for (const LastUnit& unit : last_) {
    last.push_back({{"at", unit.at},
                    {"channel", unit.channel},
                    {"socket", unit.socket},
                    {"display", unit.deviceId},
                    {"outcome", unit.outcome},
                    {"reason", unit.reason},
                    {"seconds", std::round(unit.seconds * 10) / 10}});
  }
  const double hours =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - steadyStart_).count() / 3600;
  const json board = {{"started", records::FormatUtc(startedAt_)},
                      {"ended", ended_},
                      {"endedWhy", endedWhy_},
                      {"endedAt", endedAt_},
                      {"completed", completed_},
                      {"failed", failed_},
                      {"perHour", hours > 0 ? std::round(completed_ / hours * 10) / 10 : 0.0},
                      {"tiles", std::move(tiles)},
                      {"last", std::move(last)}};
  return board.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace brintel::cli
