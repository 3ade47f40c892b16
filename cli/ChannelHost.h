#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/RunEvent.h"
#include "cli/RunHost.h"

namespace brintel::cli {

// The window of one station channel (or of a run with --json): nobody sits
// at it, so every message box is reported and answered at once, and the
// program is chosen by name. Everything it is asked to show becomes an event.
class ChannelHost : public RunHost {
 public:
  struct Settings {
    int channel = 1;
    std::optional<std::string> program;  // UTF-8; none: the first in sorted order
    std::string address;                 // the hidden address box
  };

  ChannelHost(Settings settings, RunListener listener);

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

  // Forgets what the last unit was shown.
  void BeginUnit();
  const std::vector<std::string>& messages() const { return messages_; }  // texts, in order
  const std::vector<std::string>& offered() const { return offered_; }    // names the list held
  const std::string& program() const { return program_; }                 // the name chosen
  const std::string& title() const { return title_; }
  void Emit(RunEvent event) const;

 private:
  Settings settings_;
  RunListener listener_;
  std::string status_;
  std::string address_;
  bool timerRunning_ = false;
  Refusal refusal_ = Refusal::kNone;
  std::string lastMessage_;
  std::vector<std::string> messages_;
  std::vector<std::string> offered_;
  std::string program_;
  std::string title_;
};

}  // namespace brintel::cli
