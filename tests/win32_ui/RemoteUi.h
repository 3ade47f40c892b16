#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

namespace brintel::testing {

// A difference between what the user should see and what is on screen.
struct Mismatch : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A program the driver started, seen from outside as a user sees it: its
// windows, their texts and states. Every read works across processes.
class TargetProcess {
 public:
  // Starts `exePath` with `workingFolder` as its current folder. Throws
  // std::runtime_error when it cannot start.
  TargetProcess(const std::wstring& exePath, const std::wstring& workingFolder);
  // Terminates the program if it still runs. The program also ends when the
  // driver's process ends, whatever the way.
  ~TargetProcess();
  TargetProcess(const TargetProcess&) = delete;
  TargetProcess& operator=(const TargetProcess&) = delete;

  DWORD id() const { return info_.dwProcessId; }

  // The exit code once the program has ended within `wait`, else none.
  std::optional<DWORD> ExitCode(std::chrono::milliseconds wait) const;
  void Terminate();

  // Its visible top-level dialog windows (message boxes are dialogs too), in
  // the system's z-order, topmost first.
  std::vector<HWND> VisibleDialogs() const;

 private:
  HANDLE job_ = nullptr;
  PROCESS_INFORMATION info_{};
};

std::wstring ClassName(HWND window);
// The window's text as its own window procedure gives it (WM_GETTEXT); throws
// Mismatch when the window does not answer within two seconds.
std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
// The text of a message box: its static control 0xFFFF.
std::wstring MessageBoxText(HWND box);
bool IsMessageBox(HWND dialog);

// A user's click: BM_CLICK posted, so that a handler which opens a modal
// window does not hold the driver.
void Click(HWND button);
void ClickItem(HWND dialog, int id);

std::vector<std::wstring> ComboEntries(HWND combo);
int ComboSelection(HWND combo);
int ProgressPosition(HWND progress);

// The window with the keyboard focus in `window`'s thread.
HWND FocusOf(HWND window);

// The rectangle of `window` in the client coordinates of `dialog`.
RECT RectInClient(HWND dialog, HWND window);

// How long `window`'s thread takes to answer a message, or none when it does
// not answer within `limit`.
std::optional<std::chrono::milliseconds> AnswerTime(HWND window, std::chrono::milliseconds limit);

}  // namespace brintel::testing
