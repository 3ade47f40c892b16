#pragma once

#include <chrono>
#include <functional>
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
    // The terminal's columns now (it may be resized); empty or 0: 80.
    std::function<int()> width = {};
    // Drops what was typed ahead, before a prompt waits for Enter.
    std::function<void()> discardTypedInput = {};
    // Reads one line of the answer; nothing at the end of the input or when
    // interrupted. Empty: std::getline on the input stream.
    std::function<std::optional<std::string>()> readLine = {};
  };

  // Status, messages and menus go to `out`, notes to `err`; the names of
  // --list go to `names` (out when null), so that they can be data alone.
  ConsoleHost(Settings settings, std::ostream& out, std::ostream& err, std::istream& in,
              std::ostream* names = nullptr);

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
  // The terminal changed its size: the live line is drawn again to fit it.
  void Redraw();

  // A server request failed: why, and what was asked, for the note after the
  // designed messages.
  void RequestFailed(const std::string& url, const std::string& detail);
  // The choice was left without a program (q, or the end of the input).
  bool choiceCancelled() const { return choiceCancelled_; }

 private:
  void ShowStatus();
  void ClearLiveLine();
  std::string ProgressText(bool withPercent) const;
  std::string LiveLine() const;
  bool WaitForEnter();
  std::optional<std::string> ReadLine();
  std::optional<std::size_t> Menu(const std::vector<std::string>& names,
                                  const std::vector<std::size_t>& order);

  Settings settings_;
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  std::ostream& names_;
  std::string failedUrl_;
  std::string failure_;
  bool choiceCancelled_ = false;
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
