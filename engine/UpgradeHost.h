#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brintel {

// What the user answered in the program choice. `entry` indexes the names
// handed to ChooseProgram; an accepted choice with no entry selected means an
// empty program name.
struct ProgramChoice {
  bool accepted = false;
  std::optional<std::size_t> entry;
};

// What a front end gives the engine: the window's controls, its modal windows,
// timer 1 and the pictures. All text is UTF-8. Every call returns promptly,
// except the modal ones, which return when the user has closed the window.
class UpgradeHost {
 public:
  virtual ~UpgradeHost() = default;

  // The status box and the hidden address box, read and written together.
  virtual void ReadControls(std::string& statusText, std::string& serverAddress) = 0;
  virtual void WriteControls(const std::string& statusText, const std::string& serverAddress) = 0;

  // A modal message box with the information icon and one OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;

  // The modal program choice. `names` are in the list's order; the front end
  // shows them sorted with the first in that order preselected.
  virtual ProgramChoice ChooseProgram(const std::vector<std::string>& names) = 0;

  // Timer 1: one tick every 5 ms while it runs. Starting it again restarts it.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;

  // Progress bar position; its range is 0..69.
  virtual void SetProgress(int position) = 0;

  virtual void SetTitle(const std::string& title) = 0;

  // Draws the right picture at 207,140 first, then the left one at 0,140.
  virtual void DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) = 0;
};

}  // namespace brintel
