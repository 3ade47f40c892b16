// The resources of the built brintel.exe, read as data: the dialog templates,
// the About string, the icon, the instruction pictures and the version.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DialogTemplate.h"
#include "res/resource.h"

#include <windows.h>

#include <commctrl.h>

namespace brintel::testing {
namespace {

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr WORD kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
constexpr std::int16_t kAnySize = -1;

// The resource types by number: RT_DIALOG and the others are narrow strings
// unless UNICODE is defined.
constexpr WORD kBitmapType = 2;
constexpr WORD kDialogType = 5;
constexpr WORD kIconGroupType = 14;

struct ModuleCloser {
  void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using ModuleHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleCloser>;

// brintel.exe lies beside the test executable in the build tree.
std::wstring ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  path.resize(length);
  path.resize(path.find_last_of(L"\\/") + 1);
  return path + L"brintel.exe";
}

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
  return text;
}

struct ExpectedItem {
  std::int32_t id;
  std::wstring windowClass;
  std::wstring text;                     // when the control's text is a string
  std::optional<std::uint16_t> picture;  // when it is a resource number
  std::int16_t x, y, cx, cy;             // kAnySize: the control sizes itself
  std::uint32_t style;
};

void ExpectItems(const DialogTemplate& dialog, const std::vector<ExpectedItem>& expected) {
  ASSERT_EQ(dialog.items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const DialogItem& item = dialog.items[i];
    const ExpectedItem& want = expected[i];
    SCOPED_TRACE(::testing::Message() << "item " << i << ", id " << want.id);
    EXPECT_EQ(item.id, want.id);
    EXPECT_EQ(Lower(item.windowClass), Lower(want.windowClass));
    if (want.picture) {
      EXPECT_EQ(item.title.ordinal, want.picture);
    } else {
      EXPECT_FALSE(item.title.ordinal.has_value());
      EXPECT_EQ(item.title.text, want.text);
    }
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    if (want.cx != kAnySize) {
      EXPECT_EQ(item.cx, want.cx);
      EXPECT_EQ(item.cy, want.cy);
    }
    EXPECT_EQ(item.style, want.style) << std::hex << item.style << " instead of " << want.style;
    EXPECT_EQ(item.exStyle, 0u);
  }
}

class ProgramResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_.reset(::LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  }
  static void TearDownTestSuite() { module_.reset(); }

  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "cannot open brintel.exe as data, error " << ::GetLastError();
  }

  // The bytes of a resource in the given language, empty if there is none.
  static std::span<const std::byte> Data(WORD type, int id, WORD language) {
    HRSRC found =
        ::FindResourceExW(module_.get(), MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language);
    if (found == nullptr) {
      return {};
    }
    const void* data = ::LockResource(::LoadResource(module_.get(), found));
    return {static_cast<const std::byte*>(data), ::SizeofResource(module_.get(), found)};
  }

  static std::optional<DialogTemplate> Dialog(int id, WORD language) {
    const std::span<const std::byte> data = Data(kDialogType, id, language);
    if (data.empty()) {
      return std::nullopt;
    }
    return ParseDialogTemplate(data);
  }

  static ModuleHandle module_;
};

ModuleHandle ProgramResources::module_;

TEST_F(ProgramResources, MainDialogTemplate) {
  const std::optional<DialogTemplate> dialog = Dialog(IDD_UPGRADE_DIALOG, kEnglishUs);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_TRUE(dialog->extended);  // an extended style needs the extended layout
  EXPECT_EQ(dialog->caption, L"Varnholt Korvex");
  EXPECT_EQ(dialog->cx, 333);
  EXPECT_EQ(dialog->cy, 250);
  EXPECT_EQ(dialog->font, L"MS Sans Serif");
  EXPECT_EQ(dialog->pointSize, 8);
  // No minimise or maximise box; a task-bar button although it may get an owner.
  EXPECT_EQ(dialog->style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                              WS_VISIBLE | DS_SETFONT));
  EXPECT_EQ(dialog->exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_FALSE(dialog->menu.ordinal.has_value());
  EXPECT_TRUE(dialog->menu.text.empty());

  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
  constexpr DWORD kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
  constexpr DWORD kLabel = kChild | WS_GROUP | SS_LEFT;
  constexpr DWORD kEdit = WS_CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  ExpectItems(
      *dialog,
      {
          {IDCANCEL, L"Button", L"Cancel", {}, 276, 71, 50, 14, kButton},
          {-1, L"Static", L"COM state:", {}, 7, 7, 41, 14, kLabel},
          {IDC_START, L"Button", L"Start", {}, 276, 7, 50, 14, kButton},
          {IDC_STOP, L"Button", L"Stop", {}, 276, 39, 50, 14, kButton},
          {IDC_STATUS, L"Edit", L"", {}, 56, 7, 206, 14, kEdit | WS_VISIBLE},
          {IDC_PROGRESS, PROGRESS_CLASSW, L"", {}, 56, 39, 206, 14, kChild | WS_BORDER},
          {IDC_ADDRESS, L"Edit", L"", {}, 56, 71, 206, 14, kEdit | WS_DISABLED},
          {-1, L"Static", L"IP:", {}, 7, 71, 41, 14, WS_CHILD | WS_DISABLED | WS_GROUP | SS_LEFT},
          {-1, L"Static", L"", IDB_UPDATE_JUMPERS, 0, 115, kAnySize, kAnySize, kChild | SS_BITMAP},
      });
}

TEST_F(ProgramResources, AboutDialogTemplate) {
  const std::optional<DialogTemplate> dialog = Dialog(IDD_ABOUTBOX, kEnglishUs);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_EQ(dialog->caption, L"About brintel");
  EXPECT_EQ(dialog->cx, 217);
  EXPECT_EQ(dialog->cy, 55);
  EXPECT_EQ(dialog->font, L"MS Sans Serif");
  EXPECT_EQ(dialog->pointSize, 8);
  EXPECT_EQ(dialog->style,
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
  ExpectItems(
      *dialog,
      {
          {-1, L"Static", L"", IDR_MAINFRAME, 11, 17, kAnySize, kAnySize, kChild | SS_ICON},
          {-1, L"Static", L"brintel Version 1.0", {}, 40, 10, 119, 8, kChild | WS_GROUP | SS_LEFT},
          {IDOK, L"Button", L"OK", {}, 178, 7, 32, 14, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON},
      });
}

TEST_F(ProgramResources, ProgramChoiceTemplateInChinese) {
  EXPECT_FALSE(Dialog(IDD_PROGRAM_CHOICE, kEnglishUs).has_value());
  const std::optional<DialogTemplate> dialog = Dialog(IDD_PROGRAM_CHOICE, kChineseSimplified);
  ASSERT_TRUE(dialog.has_value());
  EXPECT_FALSE(dialog->extended);
  EXPECT_EQ(dialog->caption, L"请选择程序");
  EXPECT_EQ(dialog->cx, 187);
  EXPECT_EQ(dialog->cy, 116);
  EXPECT_EQ(dialog->font, L"System");
  EXPECT_EQ(dialog->pointSize, 10);
  EXPECT_EQ(dialog->style,
            static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  constexpr DWORD kChild = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  // A drop-down with an edit field: the sorting is the box's own.
  ExpectItems(*dialog,
              {
                  {IDOK, L"Button", L"OK", {}, 29, 68, 50, 14, kChild | BS_DEFPUSHBUTTON},
                  {IDCANCEL, L"Button", L"Cancel", {}, 108, 68, 50, 14, kChild | BS_PUSHBUTTON},
                  {IDC_PROGRAM,
                   L"ComboBox",
                   L"",
                   {},
                   33,
                   31,
                   121,
                   102,
                   kChild | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT},
              });
}

TEST_F(ProgramResources, AboutMenuText) {
  wchar_t text[64] = {};
  ASSERT_GT(::LoadStringW(module_.get(), IDS_ABOUTBOX, text, 64), 0);
  EXPECT_STREQ(text, L"&About brintel...");
}

// The group lists the icon's images: the 16 and 32 pixel ones the window
// and the About box use.
TEST_F(ProgramResources, ApplicationIconHasSmallAndLargeImages) {
  const std::span<const std::byte> group = Data(kIconGroupType, IDR_MAINFRAME, kEnglishUs);
  ASSERT_GE(group.size(), 6u);
  const auto word = [&](std::size_t at) {
    return std::to_integer<unsigned>(group[at]) | std::to_integer<unsigned>(group[at + 1]) << 8;
  };
  EXPECT_EQ(word(2), 1u);  // icons, not cursors
  const unsigned count = word(4);
  constexpr std::size_t kEntrySize = 14;  // GRPICONDIRENTRY
  ASSERT_EQ(group.size(), 6 + count * kEntrySize);
  std::vector<unsigned> widths;
  for (unsigned i = 0; i < count; ++i) {
    widths.push_back(std::to_integer<unsigned>(group[6 + i * kEntrySize]));
  }
  EXPECT_NE(std::find(widths.begin(), widths.end(), 16u), widths.end());
  EXPECT_NE(std::find(widths.begin(), widths.end(), 32u), widths.end());
}

struct PictureSize {
  int id;
  LONG width;
  LONG height;
};

TEST_F(ProgramResources, InstructionPicturesAre24BitAtTheirSizes) {
  const PictureSize pictures[] = {
      {IDB_BLANK, 207, 236},
      {IDB_JUMPER_MODES, 294, 236},
      {IDB_BOARD_SWITCHES_34, 273, 236},
      {IDB_CONNECTOR_DATA, 256, 236},
      {IDB_BOARD_SWITCH_2, 265, 236},
      {IDB_BOARD_SWITCHES_14, 252, 236},
      {IDB_CONNECTOR_INJECTOR, 256, 236},
      {IDB_CONNECTOR_SPEED, 256, 236},
      {IDB_UPDATE_JUMPERS, 497, 200},
  };
  for (const PictureSize& picture : pictures) {
    SCOPED_TRACE(::testing::Message() << "bitmap " << picture.id);
    const std::span<const std::byte> data = Data(kBitmapType, picture.id, kChineseSimplified);
    ASSERT_GE(data.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header{};
    std::memcpy(&header, data.data(), sizeof header);
    EXPECT_EQ(header.biSize, sizeof header);
    EXPECT_EQ(header.biWidth, picture.width);
    EXPECT_EQ(header.biHeight, picture.height);  // bottom-up
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * 3 + 3) / 4 * 4;
    EXPECT_GE(data.size(), sizeof header + stride * static_cast<std::size_t>(picture.height));
  }
}

// The numbers of a version text, "1.0" as 1, 0, 0, 0.
std::array<unsigned, 4> VersionNumbers(const std::string& text) {
  std::array<unsigned, 4> numbers{};
  std::size_t at = 0;
  for (unsigned& number : numbers) {
    if (at >= text.size()) {
      break;
    }
    const std::size_t dot = std::min(text.find('.', at), text.size());
    number = static_cast<unsigned>(std::stoul(text.substr(at, dot - at)));
    at = dot + 1;
  }
  return numbers;
}

// The file version Explorer shows and installers compare follows project()
// in CMakeLists.txt.
TEST_F(ProgramResources, VersionInfoCarriesTheProjectVersion) {
  const std::wstring path = ProgramPath();
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  ASSERT_GT(size, 0u) << "no version resource, error " << ::GetLastError();
  std::vector<std::byte> info(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &value, &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed{};
  std::memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
  const std::array<unsigned, 4> want = VersionNumbers(BRINTEL_EXPECTED_VERSION);
  const std::array<unsigned, 4> file = {
      HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS), HIWORD(fixed.dwFileVersionLS),
      LOWORD(fixed.dwFileVersionLS)};
  const std::array<unsigned, 4> product = {
      HIWORD(fixed.dwProductVersionMS), LOWORD(fixed.dwProductVersionMS),
      HIWORD(fixed.dwProductVersionLS), LOWORD(fixed.dwProductVersionLS)};
  EXPECT_EQ(file, want);
  EXPECT_EQ(product, want);

  // The strings sit in the block the translation names.
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_GE(length, 4u);
  WORD translation[2] = {};
  std::memcpy(translation, value, sizeof translation);
  EXPECT_EQ(translation[0], kEnglishUs);
  EXPECT_EQ(translation[1], 1200);  // Unicode
  const auto text = [&](const std::wstring& name) {
    void* found = nullptr;
    UINT chars = 0;
    const std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
    if (!::VerQueryValueW(info.data(), key.c_str(), &found, &chars) || found == nullptr) {
      return std::wstring();
    }
    return std::wstring(static_cast<const wchar_t*>(found));
  };
  const std::string expected = BRINTEL_EXPECTED_VERSION;
  const std::wstring expectedText(expected.begin(), expected.end());
  EXPECT_EQ(text(L"FileVersion"), expectedText);
  EXPECT_EQ(text(L"ProductVersion"), expectedText);
  EXPECT_EQ(text(L"OriginalFilename"), L"brintel.exe");
  EXPECT_EQ(text(L"ProductName"), L"brintel");
}

// Every cut of a template must be refused, not read past its end.
TEST_F(ProgramResources, ParserRefusesTruncatedTemplates) {
  for (const auto& [id, language] : {std::pair{IDD_UPGRADE_DIALOG, kEnglishUs},
                                     std::pair{IDD_PROGRAM_CHOICE, kChineseSimplified}}) {
    const std::span<const std::byte> data = Data(kDialogType, id, language);
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(ParseDialogTemplate(data).has_value());
    // The compiler may pad a resource to a 32-bit boundary.
    for (std::size_t size = 0; size + 3 < data.size(); ++size) {
      EXPECT_FALSE(ParseDialogTemplate(data.first(size)).has_value())
          << "template " << id << " cut to " << size << " of " << data.size() << " bytes";
    }
  }
}

}  // namespace
}  // namespace brintel::testing
