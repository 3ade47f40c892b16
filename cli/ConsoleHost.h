#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/RunHost.h"

namespace brintel::cli {

// The window of the command line: the status and progress on the terminal
// (a redrawn line) or as one line per change, message boxes printed with their
// caption, and the program choice by option, by the first entry, or by a menu.
class ConsoleHost : public RunHost {
 public:
  struct Settings {
    bool liveLine = false;  // stdout is a terminal: redraw one status line
    bool canAsk = false;    // stdin is a terminal: wait for Enter, offer a menu
    bool yes = false;
    bool list = false;
    std::optional<std::string> program;
    std::string address;
  };

  ConsoleHost(Settings settings, std::ostream& out, std::ostream& err, std::istream& in);

  void ReadControls(std::string& statusText, std::string& serverAddress) override;
  void WriteControls(const std::string& statusText, const std::string& serverAddress) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  ProgramChoice ChooseProgram(const std::vector<std::string>& names) override;
  void StartTimer() override { timerRunning_ = true; }
  void StopTimer() override { timerRunning_ = false; }
  void SetProgress(int position) override;
  void SetTitle(const std::string& title) override;
  void DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) override;

  bool timerRunning() const override { return timerRunning_; }
  Refusal refusal() const override { return refusal_; }
  const std::string& lastMessage() const override { return lastMessage_; }
  void Note(const std::string& text) override;

  // Ends the live line so the shell prompt starts on a line of its own.
  void Finish();

 private:
  void ShowStatus();
  void ClearLiveLine();
  std::string ProgressText() const;
  bool WaitForEnter();
  std::optional<std::size_t> Menu(const std::vector<std::string>& names,
                                  const std::vector<std::size_t>& order);

  Settings settings_;
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  std::string status_;
  std::string address_;
  int progress_ = 0;
  bool timerRunning_ = false;
  bool liveLineShown_ = false;
  Refusal refusal_ = Refusal::kNone;
  std::string lastMessage_;
  std::optional<std::chrono::steady_clock::time_point> firstBlockAt_;
  std::chrono::steady_clock::duration perBlock_{};
};

}  // namespace brintel::cli
