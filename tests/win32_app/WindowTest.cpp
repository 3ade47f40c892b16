// The dialogs of brintel.exe shown in this process, on its resources linked
// into the test: the program choice, the main dialog as the engine's host,
// and the instruction pictures. Modal windows are worked from a ModalScript.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include "ModalScript.h"
#include "app/ProgramChoiceDialog.h"
#include "app/UpgradeDialog.h"
#include "app/WideText.h"

#include <commctrl.h>
#include "engine/Messages.h"
#include "res/resource.h"

namespace brintel::testing {
namespace {

using app::Utf8ToWide;

constexpr wchar_t kMainCaption[] = L"Varnholt Korvex";
constexpr wchar_t kChoiceCaption[] = L"请选择程序";
constexpr int kMessageBoxText = 0xFFFF;  // the static that holds a message box's text

HINSTANCE Instance() {
  return ::GetModuleHandleW(nullptr);
}

void Press(HWND dialog, int button) {
  ::PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(button), 0);
}

// ---------------------------------------------------------------------------
// The agent name of the server requests: the executable's base name.

TEST(ProgramName, IsTheFileNameWithoutFolderAndExtension) {
  EXPECT_EQ(app::BaseNameWithoutExtension(L"C:\\tools\\brintel.exe"), L"brintel");
  EXPECT_EQ(app::BaseNameWithoutExtension(L"Z:/work/v1.2/brintel"), L"brintel");
  EXPECT_EQ(app::BaseNameWithoutExtension(L"C:brintel.old.exe"), L"brintel.old");
  EXPECT_EQ(app::BaseNameWithoutExtension(L"\\\\server\\share\\升级.exe"), L"升级");
  EXPECT_EQ(app::ProgramAgentName(), "win32_app_window_tests");
}

// ---------------------------------------------------------------------------
// The sorted combo box and the mapping of its entries back to the names.

class ProgramCombo : public ::testing::Test {
 protected:
  void SetUp() override {
    combo_ = ::CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | CBS_DROPDOWN | CBS_SORT | WS_VSCROLL,
                               0, 0, 200, 200, nullptr, nullptr, Instance(), nullptr);
    ASSERT_NE(combo_, nullptr);
  }
  void TearDown() override { ::DestroyWindow(combo_); }

  std::vector<std::wstring> Entries() const {
    std::vector<std::wstring> entries;
    const LRESULT count = ::SendMessageW(combo_, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      const auto index = static_cast<WPARAM>(i);
      std::wstring text(static_cast<std::size_t>(::SendMessageW(combo_, CB_GETLBTEXTLEN, index, 0)),
                        L'\0');
      text.resize(static_cast<std::size_t>(
          ::SendMessageW(combo_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
      entries.push_back(text);
    }
    return entries;
  }

  void Select(int position) const {
    ::SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
  }

  HWND combo_ = nullptr;
};

TEST_F(ProgramCombo, ShowsTheNamesSortedAndMapsEachEntryBack) {
  app::FillProgramCombo(combo_, {"X", "Y", "Z", "W"});  // replaced by the next filling
  app::FillProgramCombo(combo_, {"B", "A", "C"});
  EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"A", L"B", L"C"}));
  EXPECT_EQ(app::SelectedProgram(combo_), 1u);  // "A", the first in the box's order
  Select(2);
  EXPECT_EQ(app::SelectedProgram(combo_), 2u);  // "C"
  Select(1);
  EXPECT_EQ(app::SelectedProgram(combo_), 0u);  // "B"
}

TEST_F(ProgramCombo, AnEmptyNameSortsFirstAndIsPreselected) {
  app::FillProgramCombo(combo_, {"A", "B", ""});
  EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"", L"A", L"B"}));
  EXPECT_EQ(app::SelectedProgram(combo_), 2u);
}

// Whatever order the system sorts Chinese text in, every entry shows the name
// it maps back to, and equal names stay two entries for two indices.
TEST_F(ProgramCombo, EveryEntryMapsBackToItsOwnName) {
  const std::vector<std::string> names = {"升级版", "b", "升级版", "A", "行车显示器 V2"};
  app::FillProgramCombo(combo_, names);
  const std::vector<std::wstring> entries = Entries();
  ASSERT_EQ(entries.size(), names.size());
  std::vector<bool> seen(names.size(), false);
  for (std::size_t position = 0; position < entries.size(); ++position) {
    Select(static_cast<int>(position));
    const std::optional<std::size_t> entry = app::SelectedProgram(combo_);
    ASSERT_TRUE(entry.has_value());
    ASSERT_LT(*entry, names.size());
    EXPECT_EQ(entries[position], Utf8ToWide(names[*entry])) << "position " << position;
    EXPECT_FALSE(seen[*entry]) << "two entries map to name " << *entry;
    seen[*entry] = true;
  }
}

TEST_F(ProgramCombo, NothingSelectedIsNoEntry) {
  app::FillProgramCombo(combo_, {});
  EXPECT_EQ(app::SelectedProgram(combo_), std::nullopt);
  app::FillProgramCombo(combo_, {"A"});
  Select(-1);
  EXPECT_EQ(app::SelectedProgram(combo_), std::nullopt);
}

// What the box was told while being filled: the message, its wParam, and for
// CB_INITSTORAGE its lParam.
using Sent = std::vector<std::tuple<UINT, WPARAM, LPARAM>>;
Sent sentToCombo;
WNDPROC comboProcedure = nullptr;

LRESULT CALLBACK RecordingComboProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETREDRAW || message == CB_ADDSTRING) {
    sentToCombo.emplace_back(message, wParam, 0);
  } else if (message == CB_INITSTORAGE) {
    sentToCombo.emplace_back(message, wParam, lParam);
  }
  return ::CallWindowProcW(comboProcedure, window, message, wParam, lParam);
}

// A sorted box repaints at every insertion unless told not to; one left with
// redraw off would never show its names again, so it must end due for a paint.
TEST_F(ProgramCombo, FillsWithRedrawOffAndStorageForAllNamesThenRepaints) {
  ::ShowWindow(combo_, SW_SHOWNOACTIVATE);
  ::UpdateWindow(combo_);
  sentToCombo.clear();
  comboProcedure = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      combo_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingComboProcedure)));
  app::FillProgramCombo(combo_, {"BB", "升级"});
  ::SetWindowLongPtrW(combo_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(comboProcedure));

  const auto textBytes =
      static_cast<LPARAM>(2 * 3 * sizeof(wchar_t));  // two names of two characters and a NUL
  EXPECT_EQ(sentToCombo, (Sent{{WM_SETREDRAW, FALSE, 0},
                               {CB_INITSTORAGE, 2, textBytes},
                               {CB_ADDSTRING, 0, 0},
                               {CB_ADDSTRING, 0, 0},
                               {WM_SETREDRAW, TRUE, 0}}));
  EXPECT_TRUE(::GetUpdateRect(combo_, nullptr, FALSE));
  EXPECT_EQ(Entries().size(), 2u);
}

// ---------------------------------------------------------------------------
// The program choice dialog, modal on its template.

class ProgramChoice : public ::testing::Test {
 protected:
  brintel::ProgramChoice Choose(const std::vector<std::string>& names, int button) {
    app::ProgramChoiceDialog dialog(Instance(), names);
    HWND window = nullptr;
    ModalScript script;
    script.WaitForDialog(kChoiceCaption, window).Do([&] {
      const HWND combo = ::GetDlgItem(window, IDC_PROGRAM);
      shown_ = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
      focusOnOk_ = ::GetFocus() == ::GetDlgItem(window, IDOK);
      if (button == IDCLOSE) {
        ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        Press(window, button);
      }
    });
    const brintel::ProgramChoice choice = dialog.Show(nullptr);
    EXPECT_TRUE(script.finished());
    return choice;
  }

  LRESULT shown_ = -1;
  bool focusOnOk_ = false;
};

TEST_F(ProgramChoice, OkReturnsThePreselectedFirstNameInSortedOrder) {
  const brintel::ProgramChoice choice = Choose({"K2", "K3", "K1"}, IDOK);
  EXPECT_EQ(shown_, 3);
  EXPECT_TRUE(focusOnOk_);
  EXPECT_TRUE(choice.accepted);
  EXPECT_EQ(choice.entry, 2u);
}

TEST_F(ProgramChoice, OkWithAnEmptyListIsAcceptedWithoutAnEntry) {
  const brintel::ProgramChoice choice = Choose({}, IDOK);
  EXPECT_TRUE(choice.accepted);
  EXPECT_EQ(choice.entry, std::nullopt);
}

TEST_F(ProgramChoice, CancelAndTheCloseBoxRefuse) {
  EXPECT_FALSE(Choose({"A"}, IDCANCEL).accepted);
  EXPECT_FALSE(Choose({"A"}, IDCLOSE).accepted);
}

// ---------------------------------------------------------------------------
// The main dialog, after the start-up message.

class MainDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
  }

  // Constructs the dialog (pressing OK on the start-up message) and shows
  // it; `steps` run once it is up, then Cancel ends it unless they did.
  INT_PTR Run(const std::function<void(ModalScript&)>& steps) {
    ModalScript startup;
    startup.WaitForDialog(Utf8ToWide(messages::kCaptionUpgrade), startupBox_).Do([&] {
      startupOwner_ = ::GetWindow(startupBox_, GW_OWNER);
      startupText_ = WindowText(::GetDlgItem(startupBox_, kMessageBoxText));
      mainBeforeStartup_ = FindThreadDialog(kMainCaption);
      Press(startupBox_, IDOK);
    });
    dialog_.emplace(Instance());
    EXPECT_TRUE(startup.finished());

    ModalScript script;
    script.WaitForDialog(kMainCaption, main_);
    steps(script);
    const std::size_t required = script.size();
    script.Do([&] { Press(main_, IDCANCEL); });
    const INT_PTR result = dialog_->ShowModal(nullptr);
    EXPECT_GE(script.done(), required) << "the dialog ended before the script";
    return result;
  }

  std::wstring ItemText(int id) const { return WindowText(::GetDlgItem(main_, id)); }

  std::optional<app::UpgradeDialog> dialog_;
  HWND main_ = nullptr;
  HWND startupBox_ = nullptr;
  HWND startupOwner_ = reinterpret_cast<HWND>(1);
  HWND mainBeforeStartup_ = nullptr;
  std::wstring startupText_;
};

TEST_F(MainDialog, OpensAfterTheStartupMessageReadyForStart) {
  std::wstring status, address, startCaption;
  PBRANGE range{-1, -1};
  LRESULT position = -1;
  HWND focus = nullptr, cancel = nullptr;
  LONG_PTR style = 0;
  Run([&](ModalScript& script) {
    script.Do([&] {
      status = ItemText(IDC_STATUS);
      address = ItemText(IDC_ADDRESS);
      const HWND progress = ::GetDlgItem(main_, IDC_PROGRESS);
      ::SendMessageW(progress, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
      position = ::SendMessageW(progress, PBM_GETPOS, 0, 0);
      focus = ::GetFocus();
      cancel = ::GetDlgItem(main_, IDCANCEL);
      style = ::GetWindowLongPtrW(main_, GWL_STYLE);
    });
  });
  EXPECT_EQ(startupOwner_, nullptr);
  EXPECT_EQ(startupText_, Utf8ToWide(messages::kStartupMessage));
  EXPECT_EQ(mainBeforeStartup_, nullptr) << "the main window came before the start-up message";
  EXPECT_EQ(status, Utf8ToWide(messages::kInitialStatus));
  EXPECT_EQ(address, L"");
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 69);
  EXPECT_EQ(position, 0);
  EXPECT_NE(cancel, nullptr);
  EXPECT_EQ(focus, cancel) << "the first tab stop takes the focus";
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
}

TEST_F(MainDialog, CarriesTheApplicationIconAndTheAboutItem) {
  HICON big = nullptr, small = nullptr, dragged = nullptr;
  UINT lastId = 0, separatorType = 0;
  std::wstring lastText;
  Run([&](ModalScript& script) {
    script.Do([&] {
      big = reinterpret_cast<HICON>(::SendMessageW(main_, WM_GETICON, ICON_BIG, 0));
      small = reinterpret_cast<HICON>(::SendMessageW(main_, WM_GETICON, ICON_SMALL, 0));
      dragged = reinterpret_cast<HICON>(::SendMessageW(main_, WM_QUERYDRAGICON, 0, 0));
      const HMENU menu = ::GetSystemMenu(main_, FALSE);
      const int count = ::GetMenuItemCount(menu);
      lastId = ::GetMenuItemID(menu, count - 1);
      wchar_t text[64] = {};
      ::GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 64, MF_BYPOSITION);
      lastText = text;
      MENUITEMINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE;
      ::GetMenuItemInfoW(menu, static_cast<UINT>(count - 2), TRUE, &info);
      separatorType = info.fType;
    });
  });
  const HICON icon = ::LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  EXPECT_EQ(big, icon);
  EXPECT_EQ(dragged, icon);
  EXPECT_NE(small, nullptr);
  EXPECT_EQ(lastId, static_cast<UINT>(IDM_ABOUTBOX));
  EXPECT_EQ(lastText, L"&About brintel...");
  EXPECT_NE(separatorType & MFT_SEPARATOR, 0u);
}

// Every tick writes the boxes back: an unchanged text is left alone, so the
// selection of a user working in the status box stays.
TEST_F(MainDialog, WritingAnUnchangedStatusKeepsTheSelection) {
  DWORD start = 0, end = 0;
  Run([&](ModalScript& script) {
    script.Do([&] {
      const HWND status = ::GetDlgItem(main_, IDC_STATUS);
      dialog_->WriteControls("COM3 found... ", "");
      ::SendMessageW(status, EM_SETSEL, 2, 6);
      dialog_->WriteControls("COM3 found... ", "");
      ::SendMessageW(status, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
    });
  });
  EXPECT_EQ(start, 2u);
  EXPECT_EQ(end, 6u);
}

// The system sets the low four bits of its commands as it likes: only the
// rest names the About item.
TEST_F(MainDialog, AboutBoxOpensFromTheSystemMenuOwnedByTheMainWindow) {
  HWND about = nullptr;
  HWND owner = nullptr;
  RECT mainRect{}, aboutRect{};
  Run([&](ModalScript& script) {
    script.Do([&] { ::PostMessageW(main_, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0); })
        .WaitForDialog(L"About brintel", about)
        .Do([&] {
          owner = ::GetWindow(about, GW_OWNER);
          ::GetWindowRect(main_, &mainRect);
          ::GetWindowRect(about, &aboutRect);
          Press(about, IDOK);
        })
        .Wait([&] { return !::IsWindow(about); });
  });
  EXPECT_EQ(owner, main_);
  // Centred over the main window, not at the corner its template names.
  EXPECT_NEAR(aboutRect.left + aboutRect.right, mainRect.left + mainRect.right, 2);
  EXPECT_NEAR(aboutRect.top + aboutRect.bottom, mainRect.top + mainRect.bottom, 2);
}

TEST_F(MainDialog, StopBeforeAnyStartEmptiesTheStatus) {
  std::wstring status;
  LRESULT position = -1;
  Run([&](ModalScript& script) {
    script.Do([&] {
      ::SendMessageW(::GetDlgItem(main_, IDC_STOP), BM_CLICK, 0, 0);
      status = ItemText(IDC_STATUS);
      position = ::SendDlgItemMessageW(main_, IDC_PROGRESS, PBM_GETPOS, 0, 0);
    });
  });
  EXPECT_EQ(status, L"");
  EXPECT_EQ(position, 0);
}

TEST_F(MainDialog, HostCallsReachTheControlsInUnicode) {
  std::string readStatus, readAddress;
  std::wstring shownStatus, shownAddress, title;
  LRESULT position = -1;
  Run([&](ModalScript& script) {
    script.Do([&] {
      dialog_->WriteControls("COM3 transferring... 40%", "");
      dialog_->WriteControls("COM3 transferring... 50%", "升级.example");
      shownStatus = ItemText(IDC_STATUS);
      shownAddress = ItemText(IDC_ADDRESS);
      // What the user typed is what the engine reads.
      ::SetDlgItemTextW(main_, IDC_STATUS, L"行车显示器");
      dialog_->ReadControls(readStatus, readAddress);
      dialog_->SetProgress(70);
      position = ::SendDlgItemMessageW(main_, IDC_PROGRESS, PBM_GETPOS, 0, 0);
      dialog_->SetTitle("里程表 V2.1");
      title = WindowText(main_);
    });
  });
  EXPECT_EQ(shownStatus, L"COM3 transferring... 50%");
  EXPECT_EQ(shownAddress, L"升级.example");
  EXPECT_EQ(readStatus, "行车显示器");
  EXPECT_EQ(readAddress, "升级.example");
  EXPECT_EQ(position, 69) << "the bar stays full past its range";
  EXPECT_EQ(title, L"里程表 V2.1");
}

TEST_F(MainDialog, MessagesAndTheChoiceAreOwnedByTheMainWindow) {
  HWND box = nullptr, choice = nullptr;
  HWND boxOwner = nullptr, choiceOwner = nullptr;
  std::wstring boxText;
  brintel::ProgramChoice chosen;
  Run([&](ModalScript& script) {
    script.Do([&] { dialog_->ShowMessage(messages::kUnplug, messages::kCaptionNoError); })
        .WaitForDialog(L"No error", box)
        .Do([&] {
          boxOwner = ::GetWindow(box, GW_OWNER);
          boxText = WindowText(::GetDlgItem(box, kMessageBoxText));
          Press(box, IDOK);
        })
        .Wait([&] { return !::IsWindow(box); })
        .Do([&] {
          chosen = dialog_->ChooseProgram({"B", "A"});
        })
        .WaitForDialog(kChoiceCaption, choice)
        .Do([&] {
          choiceOwner = ::GetWindow(choice, GW_OWNER);
          Press(choice, IDOK);
        })
        .Wait([&] { return !::IsWindow(choice); });
  });
  EXPECT_EQ(boxOwner, main_);
  EXPECT_EQ(boxText, Utf8ToWide(messages::kUnplug));
  EXPECT_EQ(choiceOwner, main_);
  EXPECT_TRUE(chosen.accepted);
  EXPECT_EQ(chosen.entry, 1u);
}

struct EndingCase {
  const char* name;
  std::function<void(HWND)> end;
  INT_PTR result;
};

void PrintTo(const EndingCase& ending, std::ostream* out) {
  *out << ending.name;
}

class MainDialogEnding : public MainDialog, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(MainDialogEnding, EndsTheDialog) {
  const INT_PTR result =
      Run([&](ModalScript& script) { script.Do([&] { GetParam().end(main_); }); });
  EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, MainDialogEnding,
    ::testing::Values(
        EndingCase{"CloseBox", [](HWND main) { ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0); },
                   IDCANCEL},
        // Escape goes to the control with the focus; the dialog's loop turns it
        // into Cancel.
        EndingCase{"Escape",
                   [](HWND) {
                     ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
                     ::PostMessageW(::GetFocus(), WM_KEYUP, VK_ESCAPE, 0);
                   },
                   IDCANCEL},
        EndingCase{"OkCommand", [](HWND main) { Press(main, IDOK); }, IDOK}),
    [](const ::testing::TestParamInfo<EndingCase>& param) {
      return std::string(param.param.name);
    });

// ---------------------------------------------------------------------------
// The instruction pictures, painted into the main dialog and read back.

class Pictures : public MainDialog {
 protected:
  // The colour of pixel x, y of a picture resource.
  static COLORREF PicturePixel(int id, int x, int y) {
    const HBITMAP bitmap = ::LoadBitmapA(Instance(), MAKEINTRESOURCEA(id));
    const HDC dc = ::CreateCompatibleDC(nullptr);
    const HGDIOBJ old = ::SelectObject(dc, bitmap);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(bitmap);
    return colour;
  }

  COLORREF WindowPixel(int x, int y) const {
    const HDC dc = ::GetDC(main_);
    const COLORREF colour = ::GetPixel(dc, x, y);
    ::ReleaseDC(main_, dc);
    return colour;
  }

  // Lets the dialog finish its own painting, so none of it lands later, and
  // checks that its client area holds the pictures whole: 140 + 236 rows.
  void Settle() const {
    ::RedrawWindow(main_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client{};
    ::GetClientRect(main_, &client);
    EXPECT_GE(client.bottom, 376) << "the dialog cuts the pictures off (under Wine: is the "
                                     "dialog font linked as scripts/test-windows does?)";
    EXPECT_GE(client.right, 207 + 256);
  }

  void Blacken(int x, int y, int width, int height) const {
    const HDC dc = ::GetDC(main_);
    const RECT area{x, y, x + width, y + height};
    ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::ReleaseDC(main_, dc);
  }
};

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

TEST_F(Pictures, BlankLeftAndConnectorRightSideBySide) {
  std::vector<COLORREF> seen;
  Run([&](ModalScript& script) {
    script.Do([&] {
      Settle();
      dialog_->DrawInstructionPictures(IDB_BLANK, IDB_CONNECTOR_DATA);
      for (const auto& [x, y] :
           {std::pair{0, 140}, std::pair{206, 140}, std::pair{0, 375}, std::pair{206, 375}}) {
        seen.push_back(WindowPixel(x, y));
      }
      for (const auto& [x, y] : {std::pair{0, 0}, std::pair{255, 0}, std::pair{128, 118},
                                 std::pair{0, 235}, std::pair{255, 235}}) {
        seen.push_back(WindowPixel(207 + x, 140 + y));
        seen.push_back(PicturePixel(IDB_CONNECTOR_DATA, x, y));
      }
    });
  });
  ASSERT_EQ(seen.size(), 14u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(seen[i], kWhite) << "blank corner " << i;
  }
  for (std::size_t i = 4; i < seen.size(); i += 2) {
    EXPECT_EQ(seen[i], seen[i + 1]) << "connector sample " << (i - 4) / 2;
  }
}

// 139 is 273 pixels wide: drawn second, it covers the first 66 columns of the
// right picture.
TEST_F(Pictures, WideLeftPictureCoversTheRightOne) {
  COLORREF covered = 0, leftThere = 0, rightThere = 0;
  COLORREF uncovered = 0, rightBeyond = 0;
  Run([&](ModalScript& script) {
    script.Do([&] {
      Settle();
      dialog_->DrawInstructionPictures(IDB_BOARD_SWITCHES_34, IDB_CONNECTOR_SPEED);
      // Column 272 of the left picture lies over column 65 of the right one.
      covered = WindowPixel(272, 140 + 118);
      leftThere = PicturePixel(IDB_BOARD_SWITCHES_34, 272, 118);
      rightThere = PicturePixel(IDB_CONNECTOR_SPEED, 65, 118);
      uncovered = WindowPixel(273, 140 + 118);
      rightBeyond = PicturePixel(IDB_CONNECTOR_SPEED, 66, 118);
    });
  });
  ASSERT_NE(leftThere, rightThere) << "pick a row where the pictures differ";
  EXPECT_EQ(covered, leftThere);
  EXPECT_EQ(uncovered, rightBeyond);
}

TEST_F(Pictures, AnIdWithoutBitmapPaintsNothingInItsPlace) {
  COLORREF left = 0, right = 0, expectedRight = 0;
  Run([&](ModalScript& script) {
    script.Do([&] {
      Settle();
      dialog_->DrawInstructionPictures(IDB_BLANK, IDB_CONNECTOR_DATA);
      Blacken(0, 140, 500, 236);
      // The left place held 134 before; it must not come back.
      dialog_->DrawInstructionPictures(999, IDB_BOARD_SWITCH_2);
      left = WindowPixel(10, 150);
      right = WindowPixel(207 + 10, 150);
      expectedRight = PicturePixel(IDB_BOARD_SWITCH_2, 10, 10);
    });
  });
  EXPECT_EQ(left, kBlack);
  EXPECT_EQ(right, expectedRight);
}

TEST_F(Pictures, ARepaintShowsTheTemplateAgain) {
  COLORREF drawn = 0, repainted = 0;
  Run([&](ModalScript& script) {
    script.Do([&] {
      Settle();
      dialog_->DrawInstructionPictures(IDB_BLANK, IDB_BLANK);
      drawn = WindowPixel(0, 140);
      ::RedrawWindow(main_, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      repainted = WindowPixel(0, 140);
    });
  });
  EXPECT_EQ(drawn, kWhite);
  EXPECT_EQ(repainted, ::GetSysColor(COLOR_3DFACE));
}

}  // namespace
}  // namespace brintel::testing
