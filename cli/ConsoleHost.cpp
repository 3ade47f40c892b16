#include "cli/ConsoleHost.h"

#include <cstdio>
#include <istream>
#include <ostream>

#include "cli/InstructionPictures.h"
#include "device/SendBlock.h"
#include "server/ProgramList.h"

namespace brintel::cli {
namespace {

constexpr int kBarWidth = 30;

std::string MinutesSeconds(std::chrono::steady_clock::duration d) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

ConsoleHost::ConsoleHost(Settings settings, std::ostream& out, std::ostream& err, std::istream& in)
    : settings_(std::move(settings)), out_(out), err_(err), in_(in) {
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
    out_ << "progress " << ProgressText() << '\n' << std::flush;
  }
}

std::string ConsoleHost::ProgressText() const {
  char text[64];
  std::snprintf(text, sizeof text, "%d/%d %d%%", progress_, BLOCK_COUNT,
                progress_ * 100 / BLOCK_COUNT);
  std::string line = text;
  if (perBlock_ != std::chrono::steady_clock::duration{} && progress_ < BLOCK_COUNT) {
    line += ' ';
    line += MinutesSeconds(perBlock_ * (BLOCK_COUNT - progress_));
    line += " left";
  }
  return line;
}

void ConsoleHost::ShowStatus() {
  if (!settings_.liveLine) {
    if (!status_.empty()) {
      out_ << status_ << '\n' << std::flush;
    }
    return;
  }
  std::string line = "\r\033[K" + status_;
  if (progress_ > 0) {
    const int filled = progress_ * kBarWidth / BLOCK_COUNT;
    line += "  [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " + ProgressText();
  }
  out_ << line << std::flush;
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
  if (!settings_.yes && settings_.canAsk) {
    out_ << "Press Enter to continue..." << std::flush;
    WaitForEnter();
  }
  if (settings_.liveLine && !status_.empty()) {
    ShowStatus();
  }
}

bool ConsoleHost::WaitForEnter() {
  std::string line;
  return static_cast<bool>(std::getline(in_, line));
}

ProgramChoice ConsoleHost::ChooseProgram(const std::vector<std::string>& names) {
  const std::vector<std::size_t> order = SortedChoiceOrder(names);
  ClearLiveLine();
  if (settings_.list) {
    for (const std::size_t i : order) {
      out_ << names[i] << '\n';
    }
    out_ << std::flush;
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
      held += "\n  " + names[i];
    }
    err_ << "brintel-cli: the program list holds no \"" << *settings_.program
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
  return {chosen.has_value(), chosen};
}

std::optional<std::size_t> ConsoleHost::Menu(const std::vector<std::string>& names,
                                             const std::vector<std::size_t>& order) {
  out_ << "Choose a program:\n";
  for (std::size_t k = 0; k < order.size(); ++k) {
    out_ << "  " << (k + 1) << ") " << names[order[k]] << '\n';
  }
  while (true) {
    out_ << "Program number [1], or q to cancel: " << std::flush;
    std::string line;
    if (!std::getline(in_, line) || line == "q" || line == "Q") {
      return std::nullopt;
    }
    if (line.empty()) {
      return order.empty() ? std::nullopt : std::optional<std::size_t>(order.front());
    }
    try {
      const unsigned long k = std::stoul(line);
      if (k >= 1 && k <= order.size()) {
        return order[k - 1];
      }
    } catch (const std::exception&) {
    }
    out_ << "No such number.\n";
  }
}

void ConsoleHost::SetTitle(const std::string& title) {
  ClearLiveLine();
  out_ << "Program: " << title << '\n' << std::flush;
}

void ConsoleHost::DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) {
  ClearLiveLine();
  out_ << "Picture " << leftId << ": " << DescribePicture(leftId) << '\n'
       << "Picture " << rightId << ": " << DescribePicture(rightId) << '\n'
       << std::flush;
}

}  // namespace brintel::cli
