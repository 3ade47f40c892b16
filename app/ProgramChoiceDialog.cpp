#include "app/ProgramChoiceDialog.h"

#include <string>
#include <utility>
#include <vector>

#include "app/WideText.h"
#include "res/resource.h"

namespace brintel::app {

void FillProgramCombo(HWND combo, const std::vector<std::string>& names) {
  std::vector<std::wstring> texts;
  texts.reserve(names.size());
  std::size_t textBytes = 0;
  for (const std::string& name : names) {
    texts.push_back(Utf8ToWide(name));
    textBytes += (texts.back().size() + 1) * sizeof(wchar_t);
  }
  // With redraw on, a sorted box repaints and may grow its storage at every
  // insertion: thousands of names took most of a second.
  ::SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ::SendMessageW(combo, CB_INITSTORAGE, static_cast<WPARAM>(texts.size()),
                 static_cast<LPARAM>(textBytes));
  for (std::size_t entry = 0; entry < texts.size(); ++entry) {
    // A sorted box inserts where the name belongs: the returned position is
    // only good until the next insertion, the item data moves with the item.
    const LRESULT position =
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[entry].c_str()));
    if (position >= 0) {
      ::SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(position),
                     static_cast<LPARAM>(entry));
    }
  }
  ::SendMessageW(combo, CB_SETCURSEL, 0, 0);
  ::SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
  // Redraw back on paints nothing by itself; the edit field is a child.
  ::RedrawWindow(combo, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
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
