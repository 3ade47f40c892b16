#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>
#include "PictureLayout.h"
#include "RemoteUi.h"
#include "Transcript.h"

#include <commctrl.h>

namespace brintel::testing {

// A message box as the user must see it (UTF-8).
struct ExpectedMessage {
  std::string caption;
  std::string text;
};

// One brintel.exe, played as a user would: reads what is on screen, presses
// buttons, answers its windows. Every step writes the transcript and throws
// Mismatch when the program shows something else than it must.
class Driver {
 public:
  // Starts the program; `shotsFolder` empty: no screenshots.
  Driver(Transcript& transcript, const std::wstring& exePath, std::wstring shotsFolder);

  // The start-up message box (owned by no window), then the main window.
  void DismissStartup();
  // The main window as it opens: caption, controls, focus on Cancel; with a
  // picture folder, picture 146 on screen.
  void CheckMainWindow(const std::wstring& pictureFolder);
  // The About box from the system menu, opened and closed.
  void OpenAndCloseAbout();
  void SetAddress(const std::wstring& address);

  void PressStart();
  void PressStop();

  // The next modal window must be this message box, owned by the main window,
  // which is disabled meanwhile; pressed OK. `check` runs before OK.
  void Answer(const ExpectedMessage& message, const std::function<void(HWND)>& check = {},
              std::chrono::milliseconds limit = std::chrono::seconds(20));
  // The program choice: entries sorted, the first preselected, each of
  // `expectedNames` (UTF-8) present exactly; picks `program` and presses OK,
  // or Cancel when `program` is empty. Saves a screenshot as `shot`, if named.
  void Choose(const std::string& program, const std::vector<std::string>& expectedNames,
              const std::string& shot = {});

  // Waits until `ready` holds, polling and logging the main window meanwhile;
  // a modal window appearing first is a mismatch.
  void AwaitMainWindow(const std::string& what, const std::function<bool()>& ready,
                       std::chrono::milliseconds limit);
  // For `duration`: no modal window, and the status box keeps its text.
  void ExpectSteady(std::chrono::milliseconds duration);
  // Idle after a run: the status box empty, and it stays so (timer stopped).
  void ExpectIdle();

  // Cancel on the main window: the program must end, with exit code 0,
  // within `limit`.
  void PressCancelAndExpectExit(std::chrono::milliseconds limit);

  // Client-area checks of the package's pictures against the screen; points
  // under `covered` are skipped.
  SampleReport ComparePictures(const std::vector<SamplePoint>& points,
                               const std::vector<Area>& covered);
  // Saves the main window, with whatever covers it, as `name`.png.
  void Shot(const std::string& name);

  // What the main window shows now.
  std::wstring Status() { return status_; }
  int Progress() const { return progress_; }
  std::wstring Title() const;
  HWND main() const { return main_; }
  SIZE ClientSize() const;
  // The modal window now open over the main window, if any.
  HWND OpenModal() const;
  // Polls the main window once, logging changes.
  void Poll();

 private:
  HWND AwaitModal(std::chrono::milliseconds limit);
  void AwaitGone(HWND window, const std::string& what);
  void Log(std::string_view what, std::string_view text) { transcript_.Line(what, text); }

  Transcript& transcript_;
  TargetProcess process_;
  std::wstring shotsFolder_;
  HWND main_ = nullptr;
  std::wstring status_;
  int progress_ = -1;
  std::wstring title_;
};

// The modal-window checks shared by the scenarios.
void ExpectEqual(const std::string& what, const std::string& want, const std::wstring& saw);

}  // namespace brintel::testing
