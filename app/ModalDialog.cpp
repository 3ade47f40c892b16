#include "app/ModalDialog.h"

#include <algorithm>

namespace brintel::app {
namespace {

// The templates place every dialog at 0,0: the top-left corner of the screen
// or of the owner. Centre it over its owner, or on its monitor, kept within
// the work area.
void Centre(HWND dialog) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    return;
  }
  const RECT work = monitor.rcWork;
  RECT around = work;
  const HWND owner = ::GetWindow(dialog, GW_OWNER);
  if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &around);
  }
  RECT own{};
  ::GetWindowRect(dialog, &own);
  const LONG width = own.right - own.left;
  const LONG height = own.bottom - own.top;
  LONG x = around.left + (around.right - around.left - width) / 2;
  LONG y = around.top + (around.bottom - around.top - height) / 2;
  x = std::max(work.left, std::min(x, work.right - width));
  y = std::max(work.top, std::min(y, work.bottom - height));
  ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR ModalDialog::ShowModal(HWND owner) {
  return ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId_), owner,
                           &ModalDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR ModalDialog::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(hwnd_, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ModalDialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<ModalDialog*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->hwnd_ = window;
    Centre(window);
  } else {
    self = reinterpret_cast<ModalDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT among them) find no object yet.
  if (self == nullptr) {
    return FALSE;
  }
  const INT_PTR result = self->OnMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
  }
  return result;
}

}  // namespace brintel::app
