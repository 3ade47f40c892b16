#pragma once

#include <windows.h>

#include <commctrl.h>

namespace brintel::app {

// A modal dialog on a template of the program's resources, centred over its
// owner (or on the screen). The object rides along as DialogBoxParam's
// parameter, is kept in DWLP_USER from WM_INITDIALOG on, and gets every later
// message through OnMessage.
class ModalDialog {
 public:
  ModalDialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
  virtual ~ModalDialog() = default;

  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Shows the dialog owned by `owner` (none: null) and returns when it has
  // ended: its EndDialog result, or -1 when it could not be created.
  INT_PTR ShowModal(HWND owner);

  // The dialog's window while it is shown, else null.
  HWND hwnd() const { return hwnd_; }
  HINSTANCE instance() const { return instance_; }

 protected:
  // The dialog procedure's answer: FALSE hands the message on to the default
  // dialog handling. The default ends the dialog on IDOK and IDCANCEL (Enter,
  // Escape and the close box arrive as these) and lets the system set the
  // focus on WM_INITDIALOG.
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_;
  int templateId_;
  HWND hwnd_ = nullptr;
};

}  // namespace brintel::app
