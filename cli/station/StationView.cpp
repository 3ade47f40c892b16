#include "cli/station/StationView.h"

#include <cstdio>
#include <ostream>

#include "cli/terminal/TerminalText.h"
#include "device/SendBlock.h"
#include "records/Timestamps.h"

namespace brintel::cli {
namespace {

using run::RunEvent;
using run::UnitOutcome;

constexpr int kBarWidth = 20;

// By-path names are long and alike up to their end: the end tells the hub's
// sockets apart.
std::string ShortPort(const std::string& port) {
  constexpr std::size_t kMost = 20;
  const std::string name = port.substr(port.find_last_of('/') + 1);
  return name.size() <= kMost ? name : "~" + name.substr(name.size() - (kMost - 1));
}

}  // namespace

StationView::StationView(std::ostream& out, std::vector<std::string> ports, bool terminal,
                         int width)
    : out_(out), terminal_(terminal), width_(width) {
  for (std::string& port : ports) {
    channels_.push_back({std::move(port), {}, {}, {}});
  }
}

void StationView::operator()(const run::RunEvent& event) {
  std::lock_guard lock(mutex_);
  Apply(event);
  if (terminal_) {
    Redraw();
  } else {
    PrintEvent(event);
  }
  if (!out_) {
    unwritable_ = true;
  }
}

void StationView::Apply(const RunEvent& event) {
  if (event.channel < 1 || event.channel > static_cast<int>(channels_.size())) {
    return;
  }
  Channel& channel = channels_[static_cast<std::size_t>(event.channel - 1)];
  switch (event.kind) {
    case RunEvent::Kind::kStatus:
    case RunEvent::Kind::kNote:
      if (!event.text.empty()) {
        channel.text = ShownText(event.text, 400);
      }
      break;
    case RunEvent::Kind::kMessage:
      channel.text = "[" + event.caption + "] " + event.text;
      break;
    case RunEvent::Kind::kProgress:
      channel.progress.Accepted(event.blocks, std::chrono::steady_clock::now());
      break;
    case RunEvent::Kind::kRequestFailed:
      channel.text = "request failed: " + ShownText(event.detail, 400);
      break;
    case RunEvent::Kind::kUnitStarted:
      channel.deviceId = event.deviceId;
      channel.progress = {};
      break;
    case RunEvent::Kind::kUnitEnded:
      ++(event.outcome == UnitOutcome::kCompleted ? completed_ : failed_);
      channel.text = run::OutcomeName(event.outcome);
      break;
    case RunEvent::Kind::kTitle:
    case RunEvent::Kind::kPictures:
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
    text += "\r\033[K" + Fit(ChannelLine(channel)) + "\n";
  }
  text += "\r\033[K" + Fit(TotalsLine()) + "\n";
  out_ << text << std::flush;
  drawn_ = true;
}

std::string StationView::ChannelLine(const Channel& channel) const {
  const int blocks = channel.progress.blocks();
  return ShortPort(channel.port) + " " + (channel.deviceId.empty() ? "-" : channel.deviceId) +
         " [" + ProgressBar(blocks, kBarWidth) + "] " + std::to_string(blocks * 100 / BLOCK_COUNT) +
         "%" + channel.progress.LeftText() + "  " + channel.text;
}

std::string StationView::TotalsLine() const {
  const double hours =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt_).count() / 3600;
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f", hours > 0 ? (completed_ + failed_) / hours : 0.0);
  return "units: " + std::to_string(completed_) + " completed, " + std::to_string(failed_) +
         " failed, " + rate + " per hour";
}

std::string StationView::Fit(std::string line) const {
  return width_ > 1 ? CutToColumns(line, width_ - 1) : line;
}

void StationView::Finish() {
  std::lock_guard lock(mutex_);
  if (terminal_ && !drawn_) {
    Redraw();
  }
  out_ << std::flush;
}

}  // namespace brintel::cli
