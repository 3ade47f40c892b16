#include "Driver.h"

#include <algorithm>
#include <thread>

#include "Screen.h"
#include "UserTexts.h"
#include "app/WideText.h"

namespace brintel::testing {
namespace {

using namespace std::chrono_literals;
using app::Utf8ToWide;
using app::WideToUtf8;

constexpr auto kPollPeriod = 10ms;
constexpr auto kModalLimit = 20s;
constexpr auto kGoneLimit = 5s;
constexpr int kStaticId = 0xFFFF;  // IDC_STATIC (-1) as the template stores it
constexpr int kCancel = IDCANCEL;
constexpr int kStart = 1000;
constexpr int kStop = 1001;
constexpr int kStatus = 1002;
constexpr int kProgress = 1003;
constexpr int kAddress = 1007;
constexpr int kProgramBox = 1005;
constexpr int kLastProgressPosition = 69;
constexpr int kJumperPicture = 146;
constexpr int kPixelTolerance = 4;

std::string Quoted(const std::wstring& text) {
  return "\"" + WideToUtf8(text) + "\"";
}

std::string Describe(HWND window) {
  return "[" + WideToUtf8(::IsWindow(window) ? Text(window) : L"?") + "]" +
         (IsMessageBox(window) ? " " + WideToUtf8(MessageBoxText(window)) : std::string());
}

void Pause(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

// The control in template order: what a user must find at each place.
struct ExpectedControl {
  int id;
  const wchar_t* className;
  std::string text;  // UTF-8; checked unless `anyText`
  bool visible;
  bool enabled;
  bool anyText = false;
};

int ControlId(HWND control) {
  return ::GetDlgCtrlID(control) & 0xFFFF;
}

}  // namespace

void ExpectEqual(const std::string& what, const std::string& want, const std::wstring& saw) {
  if (Utf8ToWide(want) != saw) {
    throw Mismatch(what + ": saw " + Quoted(saw) + ", want " + Quoted(Utf8ToWide(want)));
  }
}

Driver::Driver(Transcript& transcript, const std::wstring& exePath, std::wstring shotsFolder)
    : transcript_(transcript), process_(exePath, L""), shotsFolder_(std::move(shotsFolder)) {
  Log("start", WideToUtf8(exePath) + ", process " + std::to_string(process_.id()));
}

void Driver::DismissStartup() {
  const HWND box = AwaitModal(kModalLimit);
  if (::GetWindow(box, GW_OWNER) != nullptr) {
    throw Mismatch("the start-up message box has an owner window");
  }
  if (!IsMessageBox(box)) {
    throw Mismatch("the first window is " + Describe(box) + ", not the start-up message box");
  }
  ExpectEqual("start-up caption", texts::kCaptionUpgrade, Text(box));
  ExpectEqual("start-up message", texts::kStartup, MessageBoxText(box));
  if (process_.VisibleDialogs().size() != 1) {
    throw Mismatch("another window is open beside the start-up message box");
  }
  Log("message", Describe(box) + " (no owner) -> OK");
  ClickItem(box, IDOK);
  AwaitGone(box, "the start-up message box");

  const auto deadline = std::chrono::steady_clock::now() + kModalLimit;
  while (main_ == nullptr) {
    for (const HWND window : process_.VisibleDialogs()) {
      if (::GetWindow(window, GW_OWNER) == nullptr) {
        main_ = window;
      }
    }
    if (std::chrono::steady_clock::now() > deadline) {
      throw Mismatch("no main window after the start-up message box");
    }
    Pause(kPollPeriod);
  }
  Poll();
}

void Driver::CheckMainWindow(const std::wstring& pictureFolder) {
  ExpectEqual("main window caption", texts::kMainCaption, Title());
  const auto style = static_cast<DWORD>(::GetWindowLongW(main_, GWL_STYLE));
  if ((style & WS_SYSMENU) == 0 || (style & WS_CAPTION) != WS_CAPTION ||
      (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0) {
    throw Mismatch("main window style " + std::to_string(style) +
                   ": want a caption and system menu, no minimise or maximise box");
  }

  const std::vector<ExpectedControl> expected = {
      {kCancel, L"Button", "Cancel", true, true},
      {kStaticId, L"Static", "COM state:", true, true},
      {kStart, L"Button", "Start", true, true},
      {kStop, L"Button", "Stop", true, true},
      {kStatus, L"Edit", texts::kInitialStatus, true, true},
      {kProgress, L"msctls_progress32", "", true, true, true},
      {kAddress, L"Edit", "", false, false},
      {kStaticId, L"Static", "IP:", false, false},
      {kStaticId, L"Static", "", true, true, true},
  };
  std::vector<HWND> controls;
  for (HWND child = ::GetWindow(main_, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    controls.push_back(child);
  }
  if (controls.size() != expected.size()) {
    throw Mismatch("the main window holds " + std::to_string(controls.size()) + " controls, want " +
                   std::to_string(expected.size()));
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ExpectedControl& want = expected[i];
    const HWND control = controls[i];
    const std::string where =
        "control " + std::to_string(i + 1) + " (id " + std::to_string(ControlId(control)) + ")";
    if (ControlId(control) != want.id || ClassName(control) != want.className) {
      throw Mismatch(where + " is a " + WideToUtf8(ClassName(control)) + ", want id " +
                     std::to_string(want.id) + ", a " + WideToUtf8(want.className));
    }
    if (!want.anyText) {
      ExpectEqual(where + " text", want.text, Text(control));
    }
    if ((::IsWindowVisible(control) != FALSE) != want.visible ||
        (::IsWindowEnabled(control) != FALSE) != want.enabled) {
      throw Mismatch(where + (want.visible ? " is hidden or disabled" : " is shown or enabled"));
    }
  }
  const HWND progress = ::GetDlgItem(main_, kProgress);
  const auto low = ::SendMessageW(progress, PBM_GETRANGE, TRUE, 0);
  const auto high = ::SendMessageW(progress, PBM_GETRANGE, FALSE, 0);
  if (low != 0 || high != kLastProgressPosition || ProgressPosition(progress) != 0) {
    throw Mismatch("progress bar " + std::to_string(low) + ".." + std::to_string(high) + " at " +
                   std::to_string(ProgressPosition(progress)) + ", want 0..69 at 0");
  }
  if ((::GetWindowLongW(controls.back(), GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) {
    throw Mismatch("the last control is no bitmap picture");
  }
  const HWND focus = FocusOf(main_);
  if (focus != ::GetDlgItem(main_, kCancel)) {
    throw Mismatch("the keyboard focus is on " +
                   (focus ? Quoted(Text(focus)) : std::string("no window")) + ", want Cancel");
  }
  Log("window", "Varnholt Korvex: 9 controls in order, progress 0..69 at 0, focus on Cancel");

  if (!pictureFolder.empty()) {
    const Picture jumpers{
        kJumperPicture,
        LoadBitmapFile(pictureFolder + L"/" + std::to_wstring(kJumperPicture) + L".bmp")};
    const RECT place = RectInClient(main_, controls.back());
    if (place.right - place.left != jumpers.image.width ||
        place.bottom - place.top != jumpers.image.height) {
      throw Mismatch("picture 146 is " + std::to_string(place.right - place.left) + "x" +
                     std::to_string(place.bottom - place.top) + ", want its bitmap's size");
    }
    const std::vector<SamplePoint> points = GridSamples(jumpers, place.left, place.top, 6, 4);
    const SampleReport report = ComparePictures(points, {});
    if (report.differed != 0) {
      throw Mismatch("picture 146 is not on screen: " + report.firstDifference);
    }
    Log("picture", "146 at " + std::to_string(place.left) + "," + std::to_string(place.top) + ": " +
                       std::to_string(report.matched) + " of " + std::to_string(points.size()) +
                       " points match");
  }
  Shot("main-window");
}

void Driver::OpenAndCloseAbout() {
  // What the system menu's item sends.
  ::PostMessageW(main_, WM_SYSCOMMAND, 16, 0);
  const HWND about = AwaitModal(kModalLimit);
  ExpectEqual("About box caption", texts::kAboutCaption, Text(about));
  if (::GetWindow(about, GW_OWNER) != main_ || ::IsWindowEnabled(main_)) {
    throw Mismatch("the About box is not modal over the main window");
  }
  bool versionShown = false;
  for (HWND child = ::GetWindow(about, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    versionShown = versionShown || Text(child) == Utf8ToWide(texts::kAboutText);
  }
  if (!versionShown) {
    throw Mismatch("the About box does not show \"brintel Version 1.0\"");
  }
  Shot("about");
  Log("about", Describe(about) + " brintel Version 1.0 -> OK");
  ClickItem(about, IDOK);
  AwaitGone(about, "the About box");
  if (!::IsWindowEnabled(main_)) {
    throw Mismatch("the main window stays disabled after the About box");
  }
}

void Driver::SetAddress(const std::wstring& address) {
  const HWND box = ::GetDlgItem(main_, kAddress);
  ::SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(address.c_str()));
  if (Text(box) != address) {
    throw Mismatch("the IP box does not take the address");
  }
  Log("address", WideToUtf8(address));
}

void Driver::PressStart() {
  Log("press", "Start");
  ClickItem(main_, kStart);
}

void Driver::PressStop() {
  Log("press", "Stop");
  ClickItem(main_, kStop);
}

void Driver::Answer(const ExpectedMessage& message, const std::function<void(HWND)>& check,
                    std::chrono::milliseconds limit) {
  const HWND box = AwaitModal(limit);
  const std::string want = "[" + message.caption + "] " + message.text;
  if (!IsMessageBox(box) || Text(box) != Utf8ToWide(message.caption) ||
      MessageBoxText(box) != Utf8ToWide(message.text)) {
    throw Mismatch("saw " + Describe(box) + ", want " + want);
  }
  if (::GetWindow(box, GW_OWNER) != main_ || ::IsWindowEnabled(main_)) {
    throw Mismatch(want + " is not modal over the main window");
  }
  if (check) {
    check(box);
  }
  Log("message", Describe(box) + " -> OK");
  ClickItem(box, IDOK);
  AwaitGone(box, want);
}

void Driver::Choose(const std::string& program, const std::vector<std::string>& expectedNames,
                    const std::string& shot) {
  const HWND dialog = AwaitModal(kModalLimit);
  if (Text(dialog) != Utf8ToWide(texts::kChoiceCaption) || ::GetWindow(dialog, GW_OWNER) != main_) {
    throw Mismatch("saw " + Describe(dialog) + ", want the program choice over the main window");
  }
  const HWND combo = ::GetDlgItem(dialog, kProgramBox);
  const std::vector<std::wstring> entries = ComboEntries(combo);
  std::string shown;
  for (const std::wstring& entry : entries) {
    shown += (shown.empty() ? "" : " | ") + WideToUtf8(entry);
  }
  Log("choice", "[" + WideToUtf8(Text(dialog)) + "] " + shown);
  for (std::size_t i = 1; i < entries.size(); ++i) {
    // The order of the system's sorted boxes.
    if (::lstrcmpiW(entries[i - 1].c_str(), entries[i].c_str()) > 0) {
      throw Mismatch("the entries are not sorted: " + Quoted(entries[i - 1]) + " before " +
                     Quoted(entries[i]));
    }
  }
  if (!expectedNames.empty()) {
    std::vector<std::wstring> want;
    for (const std::string& name : expectedNames) {
      want.push_back(Utf8ToWide(name));
    }
    std::vector<std::wstring> saw = entries;
    std::sort(want.begin(), want.end());
    std::sort(saw.begin(), saw.end());
    if (saw != want) {
      throw Mismatch("the entries are not the server's " + std::to_string(want.size()) +
                     " programs: " + shown);
    }
  }
  if (!entries.empty() && ComboSelection(combo) != 0) {
    throw Mismatch("entry " + std::to_string(ComboSelection(combo)) +
                   " is preselected, want the first");
  }
  if (FocusOf(dialog) != ::GetDlgItem(dialog, IDOK)) {
    throw Mismatch("the focus in the program choice is not on OK");
  }
  if (!shot.empty()) {
    Shot(shot);
  }
  if (program.empty()) {
    Log("choice", "Cancel");
    ClickItem(dialog, IDCANCEL);
    AwaitGone(dialog, "the program choice");
    return;
  }
  const auto chosen = std::find(entries.begin(), entries.end(), Utf8ToWide(program));
  if (chosen == entries.end()) {
    throw Mismatch("the program choice offers no \"" + program + "\"");
  }
  const auto index = static_cast<WPARAM>(chosen - entries.begin());
  ::SendMessageW(combo, CB_SETCURSEL, index, 0);
  if (ComboSelection(combo) != static_cast<int>(index)) {
    throw Mismatch("cannot select \"" + program + "\"");
  }
  Log("choice", program + " (entry " + std::to_string(index) + ") -> OK");
  ClickItem(dialog, IDOK);
  AwaitGone(dialog, "the program choice");
}

void Driver::AwaitMainWindow(const std::string& what, const std::function<bool()>& ready,
                             std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Poll();
    if (ready()) {
      return;
    }
    if (const HWND modal = OpenModal(); modal != nullptr) {
      throw Mismatch("waiting for " + what + ", saw " + Describe(modal));
    }
    if (std::chrono::steady_clock::now() > deadline) {
      throw Mismatch("no " + what + " within " + std::to_string(limit.count()) + " ms; status " +
                     Quoted(status_) + ", progress " + std::to_string(progress_));
    }
    Pause(kPollPeriod);
  }
}

void Driver::ExpectSteady(std::chrono::milliseconds duration) {
  const std::wstring status = status_;
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    Poll();
    if (const HWND modal = OpenModal(); modal != nullptr) {
      throw Mismatch("unexpected " + Describe(modal));
    }
    if (status_ != status) {
      throw Mismatch("the status changed from " + Quoted(status) + " to " + Quoted(status_));
    }
    Pause(kPollPeriod);
  }
}

void Driver::ExpectIdle() {
  AwaitMainWindow(
      "empty status", [this] { return status_.empty(); }, 2000ms);
  ExpectSteady(500ms);
  Log("idle", "status empty and steady, no window open");
}

void Driver::PressCancelAndExpectExit(std::chrono::milliseconds limit) {
  Log("press", "Cancel");
  const auto pressed = std::chrono::steady_clock::now();
  ClickItem(main_, kCancel);
  const std::optional<DWORD> code = process_.ExitCode(limit);
  if (!code) {
    throw Mismatch("the program did not end within " + std::to_string(limit.count()) +
                   " ms of Cancel");
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - pressed);
  Log("exit", "code " + std::to_string(*code) + " after " + std::to_string(took.count()) + " ms");
  if (*code != 0) {
    throw Mismatch("exit code " + std::to_string(*code) + ", want 0");
  }
}

SampleReport Driver::ComparePictures(const std::vector<SamplePoint>& points,
                                     const std::vector<Area>& covered) {
  POINT origin{0, 0};
  ::ClientToScreen(main_, &origin);
  const SIZE client = ClientSize();
  const RECT area{origin.x, origin.y, origin.x + client.cx, origin.y + client.cy};
  return CompareSamples(CaptureScreen(area), 0, 0, points, covered, kPixelTolerance);
}

void Driver::Shot(const std::string& name) {
  if (shotsFolder_.empty()) {
    return;
  }
  RECT area{};
  ::GetWindowRect(main_, &area);
  if (const HWND modal = OpenModal(); modal != nullptr) {
    RECT over{};
    ::GetWindowRect(modal, &over);
    ::UnionRect(&area, &area, &over);
  }
  const std::wstring path = shotsFolder_ + L"/" + Utf8ToWide(name) + L".png";
  SavePng(CaptureScreen(area), path);
  Log("shot", WideToUtf8(path));
}

std::wstring Driver::Title() const {
  std::wstring text(512, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(main_, text.data(), 512)));
  return text;
}

SIZE Driver::ClientSize() const {
  RECT client{};
  ::GetClientRect(main_, &client);
  return {client.right, client.bottom};
}

HWND Driver::OpenModal() const {
  for (const HWND window : process_.VisibleDialogs()) {
    if (window != main_) {
      return window;
    }
  }
  return nullptr;
}

void Driver::Poll() {
  if (main_ == nullptr || !::IsWindow(main_)) {
    return;
  }
  const std::wstring title = Title();
  if (title != title_) {
    title_ = title;
    Log("title", WideToUtf8(title_));
  }
  const std::wstring status = ItemText(main_, kStatus);
  if (status != status_) {
    status_ = status;
    Log("status", WideToUtf8(status_));
  }
  const int progress = ProgressPosition(::GetDlgItem(main_, kProgress));
  if (progress != progress_) {
    progress_ = progress;
    Log("progress", std::to_string(progress_));
  }
}

HWND Driver::AwaitModal(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Poll();
    if (const HWND modal = OpenModal(); modal != nullptr) {
      Poll();  // what the main window showed when the modal window came
      return modal;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      throw Mismatch("no window opened within " + std::to_string(limit.count()) + " ms; status " +
                     Quoted(status_));
    }
    if (process_.ExitCode(0ms)) {
      throw Mismatch("the program ended while a window was awaited");
    }
    Pause(kPollPeriod);
  }
}

void Driver::AwaitGone(HWND window, const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + kGoneLimit;
  while (::IsWindow(window) && ::IsWindowVisible(window)) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw Mismatch(what + " stays open after its button was pressed");
    }
    Pause(kPollPeriod);
  }
}

}  // namespace brintel::testing
