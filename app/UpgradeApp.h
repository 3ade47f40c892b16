#pragma once

#include <windows.h>

#include <commctrl.h>

namespace brintel::app {

// The program: one modal main dialog, no message loop of its own.
class UpgradeApp {
 public:
  explicit UpgradeApp(HINSTANCE instance) : instance_(instance) {}

  // Shows the start-up message, then the main dialog with no parent, and
  // returns when the dialog has closed. The result is the program's exit code.
  int Run();

 private:
  HINSTANCE instance_;
};

}  // namespace brintel::app
