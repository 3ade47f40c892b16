#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/terminal/ProgressText.h"
#include "run/RunHost.h"

namespace brintel::cli {

// The window of the command line: the status and progress on the terminal
// (a redrawn line) or as one line per change, message boxes printed with their
// caption, and the program choice by option, by the first entry, or by a menu.
class ConsoleHost : public run::RunHost {
 public:
  struct Settings {
    bool liveLine = false;  // stdout is a terminal: redraw one status line
    bool canAsk = false;    // stdin is a terminal: wait for Enter, offer a menu
    bool yes = false;
    bool list = false;
    bool quiet = false;  // only the messages (and notes): no status, no progress
    std::optional<std::string> program;
    std::string address;
    // The terminal's columns now (it may be resized); empty: 80.
    std::function<int()> width = {};
    // Drops what was typed ahead, before a prompt waits for Enter.
    std::function<void()> discardTypedInput = {};
    // Reads one line of the answer; nothing at the end of the input or when
    // interrupted. Empty: std::getline on the input stream.
    std::function<std::optional<std::string>()> readLine = {};
    // Ctrl-C came: a prompt that read nothing was interrupted, not ended.
    std::function<bool()> interrupted = {};
  };

  // Status, messages and menus go to `out`, notes to `err`; the names of
  // --list go to `names` (out when null), so that they can be data alone.
  ConsoleHost(Settings settings, std::ostream& out, std::ostream& err, std::istream& in,
              std::ostream* names = nullptr);

  void ShowMessage(const std::string& text, const std::string& caption) override;
  ProgramChoice ChooseProgram(const std::vector<std::string>& names) override;
  void SetProgress(int position) override;
  void SetTitle(const std::string& title) override;
  void DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) override;
  void Note(const std::string& text) override;
  // Said after the designed messages, which tell only that a request failed.
  void RequestFailed(const std::string& url, const std::string& detail) override;

  // Ends the live line so the shell prompt starts on a line of its own.
  void Finish();
  // The terminal changed its size: the live line is drawn again to fit it.
  void Redraw();
  // Between ticks: the live line a message cleared comes back while the run
  // goes on, never after its end.
  void AfterTick();
  // The run's one last line, on stdout (completed) or stderr.
  void LastLine(const std::string& text, bool completed);

  // Ctrl-C at a prompt: no further message is shown and no choice accepted.
  bool stoppedAtPrompt() const { return stoppedAtPrompt_; }
  // The program chosen, as shown; empty before a choice.
  const std::string& chosenName() const { return chosenName_; }

 private:
  void StatusChanged() override { ShowStatus(); }
  void ShowStatus();
  void ClearLiveLine();
  std::optional<std::string> ReadLine();
  // A prompt's answer; notes an interrupt.
  std::optional<std::string> Answer();

  Settings settings_;
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  std::ostream& names_;
  std::string failedUrl_;
  std::string failure_;
  BlockEstimate progress_;
  bool liveLineShown_ = false;
  bool redrawPending_ = false;
  bool stoppedAtPrompt_ = false;
  int tenthsShown_ = 0;
  std::string chosenName_;
};

}  // namespace brintel::cli
