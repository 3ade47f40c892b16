// brintel-window-probe: drives brintel.exe from beside it in the same Wine
// session, for taking screenshots.
//   dismiss-startup  waits for the start-up message box and presses its OK
//   main-rect        waits for the main window, prints it as WxH+X+Y
//   close-main       closes the main window as its close box would
// Exits 1 when the window does not come within ten seconds.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <windows.h>
#include "app/WideText.h"

#include <commctrl.h>
#include "engine/Messages.h"

namespace {

using brintel::app::Utf8ToWide;

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kMainCaption[] = L"Varnholt Korvex";

HWND WaitForWindow(const std::wstring& caption) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const HWND window = ::FindWindowW(kDialogClass, caption.c_str());
    if (window != nullptr && ::IsWindowVisible(window)) {
      return window;
    }
    ::Sleep(50);
  }
  std::fprintf(stderr, "no visible window \"%s\"\n", brintel::app::WideToUtf8(caption).c_str());
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 2 ? argv[1] : "";
  if (command == "dismiss-startup") {
    const HWND box = WaitForWindow(Utf8ToWide(brintel::messages::kCaptionUpgrade));
    // Posted: a sent click would wait for the message box's own loop.
    return box != nullptr && ::PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
  }
  if (command == "main-rect") {
    const HWND main = WaitForWindow(kMainCaption);
    RECT rect{};
    if (main == nullptr || !::GetWindowRect(main, &rect)) {
      return 1;
    }
    std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
                rect.top);
    return 0;
  }
  if (command == "close-main") {
    const HWND main = WaitForWindow(kMainCaption);
    return main != nullptr && ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: brintel-window-probe dismiss-startup|main-rect|close-main\n");
  return 2;
}
