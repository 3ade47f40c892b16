#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/ModalDialog.h"
#include "engine/UpgradeHost.h"

namespace brintel::app {

// Fills a sorted combo box with `names` (UTF-8), each entry remembering the
// index of its name in `names` as item data, and selects the first entry in
// the box's order. The box does the sorting, so the order is the system's.
void FillProgramCombo(HWND combo, const std::vector<std::string>& names);

// The index into the filled names of the entry selected in the box, or none
// when nothing is selected. Text typed into the edit field is never read.
std::optional<std::size_t> SelectedProgram(HWND combo);

// The modal choice of a program (template 145): the names sorted in a
// drop-down box, the first in that order preselected.
class ProgramChoiceDialog final : public ModalDialog {
 public:
  ProgramChoiceDialog(HINSTANCE instance, std::vector<std::string> names);

  // Accepted with the selected entry on OK (with none when nothing is
  // selected); refused on Cancel, Escape, the close box, or when the dialog
  // could not be created.
  ProgramChoice Show(HWND owner);

 private:
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  std::vector<std::string> names_;
  std::optional<std::size_t> selected_;
};

}  // namespace brintel::app
