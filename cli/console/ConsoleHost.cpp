#include "cli/console/ConsoleHost.h"

#include <istream>
#include <ostream>

#include "cli/console/InstructionPictures.h"
#include "cli/console/LiveLine.h"
#include "cli/console/ProgramMenu.h"
#include "cli/terminal/TerminalText.h"
#include "device/SendBlock.h"
#include "engine/Messages.h"
#include "run/ProgramByName.h"
#include "server/ProgramList.h"

namespace brintel::cli {
namespace {

constexpr int kStatusColumns = 400;

int Tenths(int blocks) {
  return blocks * 10 / BLOCK_COUNT;
}

}  // namespace

ConsoleHost::ConsoleHost(Settings settings, std::ostream& out, std::ostream& err, std::istream& in,
                         std::ostream* names)
    : RunHost(settings.address),
      settings_(std::move(settings)),
      out_(out),
      err_(err),
      in_(in),
      names_(names ? *names : out) {}

void ConsoleHost::SetProgress(int position) {
  if (position == progress_.blocks()) {
    return;
  }
  progress_.Accepted(position, std::chrono::steady_clock::now());
  // Off a terminal the transfer's status that follows says it, once a tenth.
  if (settings_.liveLine && !settings_.quiet) {
    ShowStatus();
  }
}

void ConsoleHost::ShowStatus() {
  if (settings_.quiet) {
    return;
  }
  if (!settings_.liveLine) {
    if (status().empty()) {
      return;
    }
    const bool transferring =
        status().find(messages::kTransferring) != std::string::npos && progress_.blocks() > 0;
    if (!transferring) {
      out_ << ShownText(status(), kStatusColumns) << '\n' << std::flush;
    } else if (Tenths(progress_.blocks()) != tenthsShown_) {
      // One line a tenth: a log or a pipe gets ten, not one a block.
      tenthsShown_ = Tenths(progress_.blocks());
      out_ << ShownText(status(), kStatusColumns) << "  " << BlockCount(progress_, false) << '\n'
           << std::flush;
    }
    return;
  }
  const int width = settings_.width ? settings_.width() : 80;
  out_ << "\r\033[K" << LiveLine(status(), progress_, width > 0 ? width : 80) << std::flush;
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
  if (settings_.liveLine && !status().empty()) {
    ShowStatus();
  }
}

void ConsoleHost::Redraw() {
  if (liveLineShown_) {
    ShowStatus();
  }
}

void ConsoleHost::AfterTick() {
  if (redrawPending_ && timerRunning()) {
    redrawPending_ = false;
    if (!status().empty()) {
      ShowStatus();
    }
  }
}

void ConsoleHost::LastLine(const std::string& text, bool completed) {
  Finish();
  (completed ? out_ : err_) << text << '\n' << std::flush;
}

void ConsoleHost::Finish() {
  if (liveLineShown_) {
    out_ << '\n' << std::flush;
    liveLineShown_ = false;
  }
}

void ConsoleHost::ShowMessage(const std::string& text, const std::string& caption) {
  MessageShown(text);
  if (stoppedAtPrompt_) {
    return;  // what the engine says on its way out after Stop is no news
  }
  ClearLiveLine();
  std::ostream& shown = caption == messages::kCaptionError ? err_ : out_;
  shown << '[' << caption << "] " << text << '\n' << std::flush;
  if (text == messages::kFail && !failure_.empty()) {
    err_ << "brintel-cli: " << failure_ << " (" << failedUrl_ << ")\n" << std::flush;
    failure_.clear();
  }
  if (!settings_.yes && settings_.canAsk) {
    // Typed before the prompt (during the transfer, say): no answer to it.
    if (settings_.discardTypedInput) {
      settings_.discardTypedInput();
    }
    shown << "Press Enter to continue..." << std::flush;
    Answer();
  }
  // Drawn again at the next tick, if there is one: after the run's last
  // message a status would only repeat what is over.
  redrawPending_ = settings_.liveLine;
}

void ConsoleHost::RequestFailed(const std::string& url, const std::string& detail) {
  failedUrl_ = ShownText(url, 400);
  failure_ = ShownText(detail, 400);
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

std::optional<std::string> ConsoleHost::Answer() {
  std::optional<std::string> line = ReadLine();
  if (!line && settings_.interrupted && settings_.interrupted()) {
    stoppedAtPrompt_ = true;
  }
  return line;
}

ProgramChoice ConsoleHost::ChooseProgram(const std::vector<std::string>& names) {
  if (stoppedAtPrompt_) {
    return {};
  }
  ClearLiveLine();
  if (settings_.list) {
    for (const std::string& name : run::SortedNames(names)) {
      names_ << ShownText(name) << '\n';
    }
    names_ << std::flush;
    Refuse(Refusal::kListPrinted);
    return {};
  }
  if (settings_.program || settings_.yes) {
    const std::optional<std::size_t> chosen = run::ProgramByName(names, settings_.program);
    if (chosen || !settings_.program) {
      chosenName_ = chosen ? ShownText(names[*chosen]) : std::string();
      return {true, chosen};
    }
    std::string held;
    for (const std::string& name : run::SortedNames(names)) {
      held += "\n  " + ShownText(name);
    }
    err_ << "brintel-cli: the program list holds no \"" << ShownText(*settings_.program)
         << "\"; it holds:" << held << '\n'
         << std::flush;
    Refuse(Refusal::kUnknownProgram);
    return {};
  }
  if (!settings_.canAsk) {
    err_ << "brintel-cli: no terminal to choose a program on; give --program NAME or --yes\n"
         << std::flush;
    Refuse(Refusal::kNoTerminal);
    return {};
  }
  const std::optional<std::size_t> chosen =
      ProgramMenu(names, SortedChoiceOrder(names), out_, [this] { return Answer(); });
  if (chosen) {
    chosenName_ = ShownText(names[*chosen]);
  }
  return {chosen.has_value(), chosen};
}

void ConsoleHost::SetTitle(const std::string& title) {
  if (settings_.quiet) {
    return;
  }
  ClearLiveLine();
  out_ << "Program: " << ShownText(title) << '\n' << std::flush;
}

void ConsoleHost::DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) {
  if (settings_.quiet) {
    return;
  }
  ClearLiveLine();
  out_ << "Picture " << leftId << ": " << DescribePicture(leftId) << '\n'
       << "Picture " << rightId << ": " << DescribePicture(rightId) << '\n'
       << std::flush;
}

}  // namespace brintel::cli
