#include "RemoteUi.h"

#include <algorithm>

#include "app/WideText.h"

namespace brintel::testing {
namespace {

constexpr UINT kAnswerLimitMs = 2000;
constexpr int kMessageBoxTextId = 0xFFFF;

struct WindowSearch {
  DWORD processId = 0;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<WindowSearch*>(parameter);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == search.processId && ::IsWindowVisible(window) && ClassName(window) == L"#32770") {
    search.found.push_back(window);
  }
  return TRUE;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerLimitMs,
                            &result) == 0) {
    throw Mismatch("the window of class \"" + app::WideToUtf8(ClassName(window)) +
                   "\" did not answer message " + std::to_string(message) + " within " +
                   std::to_string(kAnswerLimitMs) + " ms");
  }
  return static_cast<LRESULT>(result);
}

}  // namespace

TargetProcess::TargetProcess(const std::wstring& exePath, const std::wstring& workingFolder) {
  // The program goes with the driver's last handle on its job, however the
  // driver ends.
  job_ = ::CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job_ == nullptr ||
      !::SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    throw std::runtime_error("cannot make a job object: error " + std::to_string(::GetLastError()));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring commandLine = L"\"" + exePath + L"\"";
  if (!::CreateProcessW(
          exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
          workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info_)) {
    throw std::runtime_error("cannot start " + app::WideToUtf8(exePath) + ": error " +
                             std::to_string(::GetLastError()));
  }
  if (!::AssignProcessToJobObject(job_, info_.hProcess)) {
    ::TerminateProcess(info_.hProcess, 99);
    throw std::runtime_error("cannot put the program in a job: error " +
                             std::to_string(::GetLastError()));
  }
  ::ResumeThread(info_.hThread);
  // Returns once the program waits for input: its first window is on its way.
  ::WaitForInputIdle(info_.hProcess, 10000);
}

TargetProcess::~TargetProcess() {
  Terminate();
  ::CloseHandle(info_.hThread);
  ::CloseHandle(info_.hProcess);
  ::CloseHandle(job_);
}

std::optional<DWORD> TargetProcess::ExitCode(std::chrono::milliseconds wait) const {
  if (::WaitForSingleObject(info_.hProcess, static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void TargetProcess::Terminate() {
  if (!ExitCode(std::chrono::milliseconds(0))) {
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, 5000);
  }
}

std::vector<HWND> TargetProcess::VisibleDialogs() const {
  WindowSearch search{info_.dwProcessId, {}};
  ::EnumWindows(&CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

std::wstring Text(HWND window) {
  // One message, not a length and then the text: the program may change the
  // text in between. A text that fills the buffer is read again, larger.
  for (std::size_t size = 512;; size *= 2) {
    std::wstring text(size, L'\0');
    const auto copied = static_cast<std::size_t>(
        Send(window, WM_GETTEXT, size, reinterpret_cast<LPARAM>(text.data())));
    if (copied + 1 < size) {
      text.resize(copied);
      return text;
    }
  }
}

std::wstring ItemText(HWND dialog, int id) {
  const HWND item = ::GetDlgItem(dialog, id);
  if (item == nullptr) {
    throw Mismatch("no control " + std::to_string(id));
  }
  return Text(item);
}

bool IsMessageBox(HWND dialog) {
  return ::GetDlgItem(dialog, kMessageBoxTextId) != nullptr;
}

std::wstring MessageBoxText(HWND box) {
  return ItemText(box, kMessageBoxTextId);
}

void Click(HWND button) {
  if (button == nullptr || !::PostMessageW(button, BM_CLICK, 0, 0)) {
    throw Mismatch("cannot click: no such button");
  }
}

void ClickItem(HWND dialog, int id) {
  const HWND button = ::GetDlgItem(dialog, id);
  if (button == nullptr) {
    throw Mismatch("no button " + std::to_string(id) + " to click");
  }
  Click(button);
}

std::vector<std::wstring> ComboEntries(HWND combo) {
  std::vector<std::wstring> entries;
  const LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const auto index = static_cast<WPARAM>(i);
    const LRESULT length = Send(combo, CB_GETLBTEXTLEN, index, 0);
    if (length < 0) {
      throw Mismatch("combo box entry " + std::to_string(i) + " has no text");
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = Send(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(0, copied)));
    entries.push_back(text);
  }
  return entries;
}

int ComboSelection(HWND combo) {
  return static_cast<int>(Send(combo, CB_GETCURSEL, 0, 0));
}

int ProgressPosition(HWND progress) {
  return static_cast<int>(Send(progress, PBM_GETPOS, 0, 0));
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) {
    return nullptr;
  }
  return info.hwndFocus;
}

RECT RectInClient(HWND dialog, HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::optional<std::chrono::milliseconds> AnswerTime(HWND window, std::chrono::milliseconds limit) {
  const auto start = std::chrono::steady_clock::now();
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(limit.count()),
                            &result) == 0) {
    return std::nullopt;
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

}  // namespace brintel::testing
