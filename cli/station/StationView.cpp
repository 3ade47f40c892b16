#include "cli/station/StationView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "cli/station/StationWords.h"
#include "cli/terminal/TerminalText.h"
#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "records/Timestamps.h"

namespace brintel::cli {
namespace {

using run::RunEvent;
using run::UnitOutcome;

constexpr int kBarWidth = 20;
constexpr int kMinBarWidth = 8;

std::string Padded(std::string text, std::size_t columns) {
  const auto shown = static_cast<std::size_t>(TerminalColumns(text));
  if (shown < columns) {
    text.append(columns - shown, ' ');
  }
  return text;
}

}  // namespace

StationView::StationView(std::ostream& out, std::vector<std::string> ports, Settings settings)
    : out_(out), settings_(settings), width_(settings.width) {
  for (std::string& port : ports) {
    Channel channel;
    channel.socket = ShortPort(port);
    channel.port = std::move(port);
    channel.state = "searching";
    socketWidth_ =
        std::max(socketWidth_, static_cast<std::size_t>(TerminalColumns(channel.socket)));
    channels_.push_back(std::move(channel));
  }
}

void StationView::operator()(const run::RunEvent& event) {
  std::lock_guard lock(mutex_);
  Apply(event);
  if (settings_.terminal) {
    Redraw();
  } else {
    PrintEvent(event);
  }
  if (!out_) {
    unwritable_ = true;
  }
}

void StationView::Resize(int width) {
  std::lock_guard lock(mutex_);
  width_ = width;
  if (settings_.terminal && drawn_) {
    out_ << "\033[" << channels_.size() + 1 << "A\033[J";  // the old frame may have wrapped
    drawn_ = false;
    Redraw();
  }
}

void StationView::Apply(const RunEvent& event) {
  if (event.channel < 1 || event.channel > static_cast<int>(channels_.size())) {
    return;
  }
  Channel& channel = channels_[static_cast<std::size_t>(event.channel - 1)];
  // How the last unit ended stays until the next one begins.
  const auto show = [&channel](std::string state, Tone tone) {
    if (!channel.ended) {
      channel.state = std::move(state);
      channel.tone = tone;
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
        show("UNUSABLE: " + ShownText(event.text.substr(10), 200), Tone::kFailed);
        channel.ended = true;  // for good: it has no unit to come
      } else {
        show(ShownText(event.text, 200), Tone::kWaiting);
      }
      break;
    case RunEvent::Kind::kMessage:
      if (event.text != messages::kCompleted && event.text != messages::kStopMidwayHint) {
        show(CueOf(event.text, event.caption),
             event.caption == messages::kCaptionError ? Tone::kFailed : Tone::kWaiting);
      }
      break;
    case RunEvent::Kind::kRequestFailed:
      show("request failed: " + ShownText(event.detail, 200), Tone::kFailed);
      break;
    case RunEvent::Kind::kProgress:
      channel.progress.Accepted(event.blocks, std::chrono::steady_clock::now());
      show("transferring", Tone::kPlain);
      break;
    case RunEvent::Kind::kUnitStarted:
      channel.deviceId = event.deviceId;
      channel.progress = {};
      channel.ended = false;
      channel.startedAt = std::chrono::steady_clock::now();
      show("found", Tone::kPlain);
      break;
    case RunEvent::Kind::kUnitEnded:
      if (event.outcome == UnitOutcome::kCompleted) {
        ++completed_;
        show("done " + MinutesSeconds(std::chrono::seconds(std::llround(event.seconds))) +
                 ": unplug, set the jumper as pictures " + channel.pictures + " show",
             Tone::kDone);
      } else {
        ++failed_;
        show(std::string("FAILED: ") + FailureWords(event.outcome) +
                 " - unplug, wait 10 s, plug in again",
             Tone::kFailed);
      }
      channel.ended = true;
      channel.progress = {};
      break;
    case RunEvent::Kind::kPictures:
      channel.pictures =
          std::to_string(event.leftPicture) + " and " + std::to_string(event.rightPicture);
      break;
    case RunEvent::Kind::kTitle:
      break;
  }
}

void StationView::PrintEvent(const RunEvent& event) {
  std::string line = records::FormatUtc(event.at) + " ch" + std::to_string(event.channel) + " ";
  switch (event.kind) {
    case RunEvent::Kind::kStatus:
      if (event.text.empty()) {
        return;
      }
      line += ShownText(event.text, 400);
      break;
    case RunEvent::Kind::kNote:
      line += "note: " + ShownText(event.text, 400);
      break;
    case RunEvent::Kind::kRequestFailed:
      line += "request failed: " + ShownText(event.detail, 400) + " (" + ShownText(event.url, 400) +
              ")";
      break;
    case RunEvent::Kind::kMessage:
      line += "[" + event.caption + "] " + event.text;
      break;
    case RunEvent::Kind::kProgress:
      line += "progress " + std::to_string(event.blocks) + "/" + std::to_string(BLOCK_COUNT);
      break;
    case RunEvent::Kind::kTitle:
      line += "Program: " + ShownText(event.text);
      break;
    case RunEvent::Kind::kPictures:
      line += "pictures " + std::to_string(event.leftPicture) + " " +
              std::to_string(event.rightPicture);
      break;
    case RunEvent::Kind::kUnitStarted:
      line += "unit on " + event.port + " " + event.deviceId;
      break;
    case RunEvent::Kind::kUnitEnded: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f", event.seconds);
      line += std::string("unit ") + run::OutcomeName(event.outcome) + ": " +
              std::to_string(event.counts.accepted) + " blocks, " +
              std::to_string(event.counts.sentAgain()) + " sent again, " + seconds + " s";
      break;
    }
  }
  out_ << line << '\n' << std::flush;
}

void StationView::Redraw() {
  std::string text;
  if (drawn_) {
    text += "\033[" + std::to_string(channels_.size() + 1) + "A";
  }
  for (const Channel& channel : channels_) {
    text += "\r\033[K" + ChannelLine(channel) + "\n";
  }
  text += "\r\033[K" + Fit(TotalsLine()) + "\n";
  out_ << text << std::flush;
  drawn_ = true;
}

std::string StationView::Coloured(const std::string& text, Tone tone) const {
  if (!settings_.colour || tone == Tone::kPlain) {
    return text;
  }
  const char* colour = tone == Tone::kDone     ? "\033[32m"
                       : tone == Tone::kFailed ? "\033[31m"
                                               : "\033[33m";
  return colour + text + "\033[0m";
}

// "1  port0  1027262514131301  transferring  [####....]  42%  0:51 left": the
// state comes before the bar and is the last to give way: the bar narrows
// first, then goes with the time left, then the state is cut.
std::string StationView::ChannelLine(const Channel& channel) const {
  const int room = width_ > 1 ? width_ - 1 : 1 << 20;
  const int number = static_cast<int>(&channel - channels_.data()) + 1;
  std::string head = std::to_string(number) + "  " + Padded(channel.socket, socketWidth_) + "  " +
                     Padded(channel.deviceId.empty() ? "-" : channel.deviceId, 16) + "  ";
  const int blocks = channel.progress.blocks();
  std::string percent;
  if (blocks > 0) {
    percent = std::to_string(blocks * 100 / BLOCK_COUNT) + "%" + channel.progress.LeftText();
  }
  const int fixed = TerminalColumns(head) + TerminalColumns(channel.state);
  std::string tail;
  if (blocks > 0) {
    const int spare = room - fixed - 2 - 3 - TerminalColumns(percent);  // "  [" "] "
    const int bar = std::min(kBarWidth, spare);
    if (bar >= kMinBarWidth) {
      tail = "  [";
      tail += ProgressBar(blocks, bar);
      tail += "] ";
      tail += percent;
    } else if (room - fixed - 2 >= TerminalColumns(percent)) {
      tail = "  ";
      tail += percent;
    }
  }
  const int stateRoom = std::max(room - TerminalColumns(head) - TerminalColumns(tail), 1);
  const std::string state = CutToColumns(channel.state, stateRoom);
  if (TerminalColumns(head) >= room) {
    return CutToColumns(head, room);
  }
  return head + Coloured(state, channel.tone) + tail;
}

std::string StationView::TotalsLine() const {
  const double hours =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count() / 3600;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f", hours > 0 ? completed_ / hours : 0.0);
  return "units: " + std::to_string(completed_) + " completed, " + std::to_string(failed_) +
         " failed, " + rate + " completed per hour";
}

std::string StationView::Fit(std::string line) const {
  return width_ > 1 ? CutToColumns(line, width_ - 1) : line;
}

void StationView::Finish() {
  std::lock_guard lock(mutex_);
  if (settings_.terminal && !drawn_) {
    Redraw();
  }
  out_ << std::flush;
}

}  // namespace brintel::cli
