#pragma once

#include <optional>
#include <string>
#include <vector>

#include "run/RunEvent.h"
#include "run/RunHost.h"

namespace brintel::run {

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

  void ShowMessage(const std::string& text, const std::string& caption) override;
  ProgramChoice ChooseProgram(const std::vector<std::string>& names) override;
  void SetProgress(int position) override;
  void SetTitle(const std::string& title) override;
  void DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) override;
  void Note(const std::string& text) override;
  void RequestFailed(const std::string& url, const std::string& detail) override;

  // Forgets what the last unit was shown.
  void BeginUnit();
  const std::vector<std::string>& offered() const { return offered_; }  // names the list held
  const std::string& program() const { return program_; }               // the name chosen
  const std::string& title() const { return title_; }
  const std::string& failure() const { return failure_; }      // why the last request failed
  const std::string& failedUrl() const { return failedUrl_; }  // and what it asked
  void Emit(RunEvent event) const;

 private:
  void StatusChanged() override;

  Settings settings_;
  RunListener listener_;
  std::vector<std::string> offered_;
  std::string program_;
  std::string title_;
  std::string failure_;
  std::string failedUrl_;
};

}  // namespace brintel::run
