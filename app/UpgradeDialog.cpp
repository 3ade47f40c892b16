#include "app/UpgradeDialog.h"

#include <array>

#include "app/AboutDialog.h"
#include "app/ProgramChoiceDialog.h"
#include "app/WideText.h"
#include "engine/Messages.h"
#include "res/resource.h"

namespace brintel::app {
namespace {

constexpr UINT_PTR kEngineTimer = 1;
constexpr UINT kEngineTimerPeriodMs = 5;
constexpr UINT kMessageStyle = MB_ICONINFORMATION | MB_OK;
constexpr int kLastProgressPosition = 69;  // 70 blocks, yet the bar is full at 69

WinInetHttpClient::Options HttpOptions() {
  WinInetHttpClient::Options options;
  options.userAgent = ProgramAgentName();
  return options;
}

void PauseMilliseconds(int milliseconds) {
  ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

std::wstring ItemText(HWND dialog, int id) {
  const int length = ::GetWindowTextLengthW(::GetDlgItem(dialog, id));
  if (length <= 0) {
    return {};
  }
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(::GetDlgItemTextW(dialog, id, text.data(), length + 1));
  return text;
}

// Leaves an unchanged box alone: every tick writes both boxes, and setting
// the same text again would move the caret of a user typing into it.
void SetItemText(HWND dialog, int id, const std::string& utf8) {
  const std::wstring text = Utf8ToWide(utf8);
  if (ItemText(dialog, id) != text) {
    ::SetDlgItemTextW(dialog, id, text.c_str());
  }
}

}  // namespace

UpgradeDialog::UpgradeDialog(HINSTANCE instance)
    : ModalDialog(instance, IDD_UPGRADE_DIALOG),
      http_(HttpOptions()),
      engine_(*this, port_, http_, gbk_, &PauseMilliseconds) {
  ::MessageBoxW(nullptr, Utf8ToWide(messages::kStartupMessage).c_str(),
                Utf8ToWide(messages::kCaptionUpgrade).c_str(), kMessageStyle);
  icon_ = ::LoadIconW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  smallIcon_.reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                   IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0)));
}

void UpgradeDialog::ReadControls(std::string& statusText, std::string& serverAddress) {
  statusText = WideToUtf8(ItemText(hwnd(), IDC_STATUS));
  serverAddress = WideToUtf8(ItemText(hwnd(), IDC_ADDRESS));
}

void UpgradeDialog::WriteControls(const std::string& statusText, const std::string& serverAddress) {
  SetItemText(hwnd(), IDC_STATUS, statusText);
  SetItemText(hwnd(), IDC_ADDRESS, serverAddress);
}

void UpgradeDialog::ShowMessage(const std::string& text, const std::string& caption) {
  ::MessageBoxW(hwnd(), Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), kMessageStyle);
}

ProgramChoice UpgradeDialog::ChooseProgram(const std::vector<std::string>& names) {
  ProgramChoiceDialog choice(instance(), names);
  return choice.Show(hwnd());
}

void UpgradeDialog::StartTimer() {
  ::SetTimer(hwnd(), kEngineTimer, kEngineTimerPeriodMs, nullptr);
}

void UpgradeDialog::StopTimer() {
  ::KillTimer(hwnd(), kEngineTimer);
}

void UpgradeDialog::SetProgress(int position) {
  ::SendDlgItemMessageW(hwnd(), IDC_PROGRESS, PBM_SETPOS,
                        static_cast<WPARAM>(static_cast<INT_PTR>(position)), 0);
}

void UpgradeDialog::SetTitle(const std::string& title) {
  ::SetWindowTextW(hwnd(), Utf8ToWide(title).c_str());
}

void UpgradeDialog::DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) {
  pictures_.Draw(hwnd(), instance(), leftId, rightId);
}

INT_PTR UpgradeDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      return TRUE;  // the system puts the focus on the first tab stop, Cancel
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam) ? TRUE : FALSE;
    case WM_PAINT:
      return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_TIMER:
      engine_.tick();
      return FALSE;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_START) {
        engine_.OnStart();
        return TRUE;
      }
      if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDC_STOP) {
        engine_.OnStop();
        return TRUE;
      }
      return ModalDialog::OnMessage(message, wParam, lParam);
    default:
      return ModalDialog::OnMessage(message, wParam, lParam);
  }
}

void UpgradeDialog::OnInitDialog() {
  WriteControls(messages::kInitialStatus, std::string());

  if (HMENU systemMenu = ::GetSystemMenu(hwnd(), FALSE); systemMenu != nullptr) {
    std::array<wchar_t, 128> about{};
    if (::LoadStringW(instance(), IDS_ABOUTBOX, about.data(), static_cast<int>(about.size())) > 0) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.data());
    }
  }

  ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_.get() : icon_));

  const HWND progress = ::GetDlgItem(hwnd(), IDC_PROGRESS);
  ::SendMessageW(progress, PBM_SETRANGE32, 0, kLastProgressPosition);
  ::SendMessageW(progress, PBM_SETSTEP, 1, 0);
  ::SendMessageW(progress, PBM_SETPOS, 0, 0);
}

bool UpgradeDialog::OnSysCommand(WPARAM command) {
  // The system uses the low four bits of its own commands.
  if ((command & 0xFFF0) != IDM_ABOUTBOX) {
    return false;
  }
  AboutDialog about(instance());
  about.ShowModal(hwnd());
  return true;
}

bool UpgradeDialog::OnPaint() {
  if (!::IsIconic(hwnd())) {
    return false;  // the template's own painting; the instruction pictures stay unpainted
  }
  const PaintDc paint(hwnd());
  ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.get()), 0);
  RECT client{};
  ::GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(paint.get(), x, y, icon_);
  return true;
}

}  // namespace brintel::app
