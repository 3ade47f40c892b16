#include "ModalScript.h"

#include <gtest/gtest.h>

namespace brintel::testing {
namespace {

constexpr UINT kPeriodMs = 10;
constexpr auto kWaitLimit = std::chrono::seconds(10);

ModalScript* running = nullptr;  // a TIMERPROC carries no pointer of ours

struct DialogSearch {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<DialogSearch*>(parameter);
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (std::wstring(className) == L"#32770" && ::IsWindowVisible(window) &&
      WindowText(window) == search.caption) {
    search.found = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CancelDialog(HWND window, LPARAM /*parameter*/) {
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (std::wstring(className) == L"#32770") {
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  }
  return TRUE;
}

}  // namespace

HWND FindThreadDialog(const std::wstring& caption) {
  DialogSearch search{caption};
  ::EnumThreadWindows(::GetCurrentThreadId(), &MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

ModalScript::ModalScript() {
  running = this;
  waitingSince_ = std::chrono::steady_clock::now();
  timer_ = ::SetTimer(nullptr, 0, kPeriodMs, &ModalScript::OnTimer);
}

ModalScript::~ModalScript() {
  ::KillTimer(nullptr, timer_);
  running = nullptr;
}

ModalScript& ModalScript::Wait(std::function<bool()> ready) {
  steps_.push_back({std::move(ready), nullptr});
  return *this;
}

ModalScript& ModalScript::Do(std::function<void()> action) {
  steps_.push_back({nullptr, std::move(action)});
  return *this;
}

ModalScript& ModalScript::WaitForDialog(const std::wstring& caption, HWND& window) {
  return Wait([caption, &window] {
    window = FindThreadDialog(caption);
    return window != nullptr;
  });
}

void CALLBACK ModalScript::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (running != nullptr) {
    running->Run();
  }
}

void ModalScript::Run() {
  if (bailingOut_) {
    ::EnumThreadWindows(::GetCurrentThreadId(), &CancelDialog, 0);
    return;
  }
  while (next_ < steps_.size()) {
    Step& step = steps_[next_];
    if (step.action) {
      // Moved on first: the action may open a modal loop that runs this
      // timer again, and the steps after it belong inside that loop.
      ++next_;
      waitingSince_ = std::chrono::steady_clock::now();
      const std::function<void()> action = step.action;
      action();
      return;
    }
    if (!step.ready()) {
      if (std::chrono::steady_clock::now() - waitingSince_ > kWaitLimit) {
        ADD_FAILURE() << "step " << next_ << " of the modal script never became ready";
        bailingOut_ = true;
      }
      return;
    }
    ++next_;
    waitingSince_ = std::chrono::steady_clock::now();
  }
}

}  // namespace brintel::testing
