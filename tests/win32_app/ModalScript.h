#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

namespace brintel::testing {

// Acts from inside the modal loops the code under test opens (a dialog's or a
// message box's) on the test's own thread: a thread timer runs the steps in
// turn. A Wait step is polled until it returns true; a Do step runs once and
// may itself open a modal window: the steps after it run inside that one.
// A Wait that times out fails the test and closes every dialog of the thread,
// so the modal call under test returns.
class ModalScript {
 public:
  ModalScript();
  ~ModalScript();
  ModalScript(const ModalScript&) = delete;
  ModalScript& operator=(const ModalScript&) = delete;

  ModalScript& Wait(std::function<bool()> ready);
  ModalScript& Do(std::function<void()> action);

  // A Wait for a visible dialog of this thread with that caption, stored
  // into `window`.
  ModalScript& WaitForDialog(const std::wstring& caption, HWND& window);

  std::size_t size() const { return steps_.size(); }
  // Steps done or, for a Do, begun.
  std::size_t done() const { return next_; }
  bool finished() const { return next_ == steps_.size(); }

 private:
  struct Step {
    std::function<bool()> ready;
    std::function<void()> action;
  };

  static void CALLBACK OnTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
  void Run();

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  std::chrono::steady_clock::time_point waitingSince_;
  bool bailingOut_ = false;
  UINT_PTR timer_ = 0;
};

// The visible top-level dialog (message boxes included) of this thread with
// that caption, or null.
HWND FindThreadDialog(const std::wstring& caption);

// The text of a window, as UTF-16.
std::wstring WindowText(HWND window);

}  // namespace brintel::testing
