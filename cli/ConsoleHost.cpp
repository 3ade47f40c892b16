#include "cli/ConsoleHost.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <istream>
#include <ostream>

#include "cli/InstructionPictures.h"
#include "cli/TerminalText.h"
#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "server/ProgramList.h"

namespace brintel::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr int kMinBarWidth = 10;
constexpr int kStatusColumns = 400;

std::string MinutesSeconds(std::chrono::steady_clock::duration d) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

ConsoleHost::ConsoleHost(Settings settings, std::ostream& out, std::ostream& err, std::istream& in,
                         std::ostream* names)
    : settings_(std::move(settings)), out_(out), err_(err), in_(in), names_(names ? *names : out) {
  address_ = settings_.address;
}

void ConsoleHost::ReadControls(std::string& statusText, std::string& serverAddress) {
  statusText = status_;
  serverAddress = address_;
}

void ConsoleHost::WriteControls(const std::string& statusText, const std::string& serverAddress) {
  address_ = serverAddress;
  if (statusText == status_) {
    return;
  }
  status_ = statusText;
  ShowStatus();
}

void ConsoleHost::SetProgress(int position) {
  if (position == progress_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (position <= 1 || !firstBlockAt_) {
    firstBlockAt_ = now;
    perBlock_ = {};
  } else {
    perBlock_ = (now - *firstBlockAt_) / (position - 1);
  }
  progress_ = position;
  if (settings_.liveLine) {
    ShowStatus();
  } else {
    out_ << "progress " << ProgressText(true) << '\n' << std::flush;
  }
}

std::string ConsoleHost::ProgressText(bool withPercent) const {
  char text[64];
  if (withPercent) {
    std::snprintf(text, sizeof text, "%d/%d %d%%", progress_, BLOCK_COUNT,
                  progress_ * 100 / BLOCK_COUNT);
  } else {
    std::snprintf(text, sizeof text, "%d/%d", progress_, BLOCK_COUNT);
  }
  std::string line = text;
  if (perBlock_ != std::chrono::steady_clock::duration{} && progress_ < BLOCK_COUNT) {
    line += ' ';
    line += MinutesSeconds(perBlock_ * (BLOCK_COUNT - progress_));
    line += " left";
  }
  return line;
}

// The status, then the bar and the block count, in one line that never wraps:
// the bar narrows first, then the status is cut. The status of a transfer
// holds the percent already.
std::string ConsoleHost::LiveLine() const {
  const int width = settings_.width && settings_.width() > 0 ? settings_.width() : 80;
  const int room = std::max(width - 1, 1);
  // The status may hold a program's name, which is the server's text.
  std::string status = ShownText(status_, kStatusColumns);
  if (progress_ == 0) {
    return CutToColumns(status, room);
  }
  // Too long, the status drops its label first, then is cut; the percent
  // moves behind the bar when the cut would take it.
  const auto fits = [&](const std::string& text, int tailColumns) {
    return TerminalColumns(text) + 2 + tailColumns <= room;
  };
  const int shortestTail = 1 + kMinBarWidth + 2 + TerminalColumns(ProgressText(true));
  if (!fits(status, shortestTail) && status.find("(sn=") != std::string::npos) {
    status.erase(status.find("(sn="));
  }
  const bool percentInStatus =
      status.find('%') != std::string::npos &&
      CutToColumns(status, room - shortestTail - 2).find('%') != std::string::npos;
  if (!percentInStatus && status.find('%') != std::string::npos) {
    std::size_t digits = status.find('%');
    while (digits > 0 && status[digits - 1] >= '0' && status[digits - 1] <= '9') {
      --digits;
    }
    status.erase(digits);  // "COM3 transferring... ": the percent follows the bar
  }
  std::string counts = "] ";
  counts += ProgressText(!percentInStatus);
  const int fixed = 2 + 1 + TerminalColumns(counts);  // "  [" ... counts
  const int bar = std::clamp(room - TerminalColumns(status) - fixed, kMinBarWidth, kBarWidth);
  const int filled = progress_ * bar / BLOCK_COUNT;
  std::string tail = "[";
  tail.append(static_cast<std::size_t>(filled), '#');
  tail.append(static_cast<std::size_t>(bar - filled), '.');
  tail += counts;
  const int tailColumns = TerminalColumns(tail);
  if (tailColumns + 2 > room) {
    return CutToColumns(tail, room);
  }
  return CutToColumns(status, room - tailColumns - 2) + "  " + tail;
}

void ConsoleHost::ShowStatus() {
  if (!settings_.liveLine) {
    if (!status_.empty()) {
      out_ << ShownText(status_, kStatusColumns) << '\n' << std::flush;
    }
    return;
  }
  out_ << "\r\033[K" << LiveLine() << std::flush;
  liveLineShown_ = true;
}

void ConsoleHost::ClearLiveLine() {
  if (liveLineShown_) {
    out_ << "\r\033[K";
    liveLineShown_ = false;
  }
}

void ConsoleHost::Note(const std::string& text) {
  ClearLiveLine();
  err_ << "brintel-cli: " << text << '\n' << std::flush;
  if (settings_.liveLine && !status_.empty()) {
    ShowStatus();
  }
}

void ConsoleHost::Redraw() {
  if (liveLineShown_) {
    ShowStatus();
  }
}

void ConsoleHost::Finish() {
  if (liveLineShown_) {
    out_ << '\n' << std::flush;
    liveLineShown_ = false;
  }
}

void ConsoleHost::ShowMessage(const std::string& text, const std::string& caption) {
  lastMessage_ = text;
  ClearLiveLine();
  out_ << '[' << caption << "] " << text << '\n' << std::flush;
  if (text == messages::kFail && !failure_.empty()) {
    err_ << "brintel-cli: " << failure_ << " (" << failedUrl_ << ")\n" << std::flush;
    failure_.clear();
  }
  if (!settings_.yes && settings_.canAsk) {
    // Typed before the prompt (during the transfer, say): no answer to it.
    if (settings_.discardTypedInput) {
      settings_.discardTypedInput();
    }
    out_ << "Press Enter to continue..." << std::flush;
    WaitForEnter();
  }
  if (settings_.liveLine && !status_.empty()) {
    ShowStatus();
  }
}

void ConsoleHost::RequestFailed(const std::string& url, const std::string& detail) {
  failedUrl_ = ShownText(url, 400);
  failure_ = ShownText(detail.empty() ? "no reply" : detail, 400);
}

std::optional<std::string> ConsoleHost::ReadLine() {
  if (settings_.readLine) {
    return settings_.readLine();
  }
  std::string line;
  if (!std::getline(in_, line)) {
    return std::nullopt;
  }
  return line;
}

bool ConsoleHost::WaitForEnter() {
  return ReadLine().has_value();
}

ProgramChoice ConsoleHost::ChooseProgram(const std::vector<std::string>& names) {
  const std::vector<std::size_t> order = SortedChoiceOrder(names);
  ClearLiveLine();
  if (settings_.list) {
    for (const std::size_t i : order) {
      names_ << ShownText(names[i]) << '\n';
    }
    names_ << std::flush;
    refusal_ = Refusal::kListPrinted;
    return {};
  }
  if (settings_.program) {
    for (const std::size_t i : order) {
      if (names[i] == *settings_.program) {
        return {true, i};
      }
    }
    std::string held;
    for (const std::size_t i : order) {
      held += "\n  " + ShownText(names[i]);
    }
    err_ << "brintel-cli: the program list holds no \"" << ShownText(*settings_.program)
         << "\"; it holds:" << held << '\n'
         << std::flush;
    refusal_ = Refusal::kUnknownProgram;
    return {};
  }
  if (settings_.yes) {
    return {true, order.empty() ? std::nullopt : std::optional<std::size_t>(order.front())};
  }
  if (!settings_.canAsk) {
    err_ << "brintel-cli: no terminal to choose a program on; give --program NAME or --yes\n"
         << std::flush;
    refusal_ = Refusal::kNoTerminal;
    return {};
  }
  const std::optional<std::size_t> chosen = Menu(names, order);
  choiceCancelled_ = !chosen.has_value();
  return {chosen.has_value(), chosen};
}

std::optional<std::size_t> ConsoleHost::Menu(const std::vector<std::string>& names,
                                             const std::vector<std::size_t>& order) {
  out_ << "Choose a program:\n";
  for (std::size_t k = 0; k < order.size(); ++k) {
    out_ << "  " << (k + 1) << ") " << ShownText(names[order[k]]) << '\n';
  }
  while (true) {
    out_ << "Program number [1], or q to cancel: " << std::flush;
    const std::optional<std::string> answer = ReadLine();
    const std::string line = answer.value_or("");
    if (!answer || line == "q" || line == "Q") {
      return std::nullopt;
    }
    if (line.empty()) {
      return order.empty() ? std::nullopt : std::optional<std::size_t>(order.front());
    }
    // A whole number in range and nothing else: "2x" or "1.5" is no answer.
    std::size_t k = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), k);
    if (error == std::errc{} && end == line.data() + line.size() && k >= 1 && k <= order.size()) {
      return order[k - 1];
    }
    out_ << "No such number.\n";
  }
}

void ConsoleHost::SetTitle(const std::string& title) {
  ClearLiveLine();
  out_ << "Program: " << ShownText(title) << '\n' << std::flush;
}

void ConsoleHost::DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) {
  ClearLiveLine();
  out_ << "Picture " << leftId << ": " << DescribePicture(leftId) << '\n'
       << "Picture " << rightId << ": " << DescribePicture(rightId) << '\n'
       << std::flush;
}

}  // namespace brintel::cli
