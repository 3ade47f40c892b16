#include "app/ProgramChoiceDialog.h"

#include <utility>

#include "app/WideText.h"
#include "res/resource.h"

namespace brintel::app {

void FillProgramCombo(HWND combo, const std::vector<std::string>& names) {
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  for (std::size_t entry = 0; entry < names.size(); ++entry) {
    const std::wstring text = Utf8ToWide(names[entry]);
    // A sorted box inserts where the name belongs: the returned position is
    // only good until the next insertion, the item data moves with the item.
    const LRESULT position =
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (position >= 0) {
      ::SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(position),
                     static_cast<LPARAM>(entry));
    }
  }
  ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
}

std::optional<std::size_t> SelectedProgram(HWND combo) {
  const LRESULT position = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (position == CB_ERR) {
    return std::nullopt;
  }
  const LRESULT entry = ::SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(position), 0);
  if (entry == CB_ERR) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(entry);
}

ProgramChoiceDialog::ProgramChoiceDialog(HINSTANCE instance, std::vector<std::string> names)
    : ModalDialog(instance, IDD_PROGRAM_CHOICE), names_(std::move(names)) {}

ProgramChoice ProgramChoiceDialog::Show(HWND owner) {
  selected_.reset();
  if (ShowModal(owner) != IDOK) {
    return ProgramChoice{};
  }
  return ProgramChoice{true, selected_};
}

INT_PTR ProgramChoiceDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    FillProgramCombo(::GetDlgItem(hwnd(), IDC_PROGRAM), names_);
    return TRUE;  // the focus goes to the first tab stop, OK
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    selected_ = SelectedProgram(::GetDlgItem(hwnd(), IDC_PROGRAM));
  }
  return ModalDialog::OnMessage(message, wParam, lParam);
}

}  // namespace brintel::app
