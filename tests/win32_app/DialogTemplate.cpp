#include "DialogTemplate.h"

#include <array>
#include <string>

namespace brintel::testing {
namespace {

constexpr std::uint32_t kDsSetFont = 0x40;  // DS_SETFONT, also part of DS_SHELLFONT
constexpr std::uint16_t kOrdinalMark = 0xFFFF;

// A cursor over the resource bytes that refuses to read past their end.
class Reader {
 public:
  explicit Reader(std::span<const std::byte> data) : data_(data) {}

  bool ok() const { return ok_; }

  std::uint16_t Word() {
    if (!Has(2)) {
      return 0;
    }
    const auto value = static_cast<std::uint16_t>(std::to_integer<unsigned>(data_[pos_]) |
                                                  std::to_integer<unsigned>(data_[pos_ + 1]) << 8);
    pos_ += 2;
    return value;
  }

  std::uint32_t Dword() {
    const std::uint32_t low = Word();
    const std::uint32_t high = Word();
    return low | high << 16;
  }

  std::int16_t Short() { return static_cast<std::int16_t>(Word()); }

  std::uint8_t Byte() {
    if (!Has(1)) {
      return 0;
    }
    return std::to_integer<std::uint8_t>(data_[pos_++]);
  }

  // A zero-terminated UTF-16 string.
  std::wstring String() {
    std::wstring text;
    for (;;) {
      const std::uint16_t unit = Word();
      if (!ok_ || unit == 0) {
        return text;
      }
      text.push_back(static_cast<wchar_t>(unit));
    }
  }

  // 0x0000 (nothing), 0xFFFF followed by a number, or a string.
  TextOrOrdinal StringOrOrdinal() {
    TextOrOrdinal value;
    if (!Has(2)) {
      return value;
    }
    const auto first = static_cast<std::uint16_t>(std::to_integer<unsigned>(data_[pos_]) |
                                                  std::to_integer<unsigned>(data_[pos_ + 1]) << 8);
    if (first == kOrdinalMark) {
      Word();
      value.ordinal = Word();
    } else {
      value.text = String();
    }
    return value;
  }

  void Skip(std::size_t count) {
    if (Has(count)) {
      pos_ += count;
    }
  }

  // Items start on a 32-bit boundary of the resource.
  void AlignDword() { Skip((4 - pos_ % 4) % 4); }

 private:
  bool Has(std::size_t count) {
    if (!ok_ || data_.size() - pos_ < count) {
      ok_ = false;
    }
    return ok_;
  }

  std::span<const std::byte> data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

std::wstring ClassName(const TextOrOrdinal& windowClass) {
  static constexpr std::array<const wchar_t*, 6> kPredefined = {
      L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};
  if (!windowClass.ordinal) {
    return windowClass.text;
  }
  const unsigned atom = *windowClass.ordinal;
  if (atom >= 0x80 && atom < 0x80 + kPredefined.size()) {
    return kPredefined[atom - 0x80];
  }
  std::wstring name;
  for (const char digit : std::to_string(atom)) {
    name.push_back(static_cast<wchar_t>(digit));
  }
  return L"#" + name;
}

DialogItem ReadItem(Reader& in, bool extended) {
  DialogItem item;
  in.AlignDword();
  if (extended) {
    in.Dword();  // help id
    item.exStyle = in.Dword();
    item.style = in.Dword();
  } else {
    item.style = in.Dword();
    item.exStyle = in.Dword();
  }
  item.x = in.Short();
  item.y = in.Short();
  item.cx = in.Short();
  item.cy = in.Short();
  item.id = extended ? static_cast<std::int32_t>(in.Dword()) : in.Short();
  item.windowClass = ClassName(in.StringOrOrdinal());
  item.title = in.StringOrOrdinal();
  in.Skip(in.Word());  // creation data
  return item;
}

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::byte> data) {
  Reader in(data);
  DialogTemplate dialog;
  const std::uint16_t version = in.Word();
  const std::uint16_t signature = in.Word();
  dialog.extended = version == 1 && signature == kOrdinalMark;
  if (dialog.extended) {
    in.Dword();  // help id
    dialog.exStyle = in.Dword();
    dialog.style = in.Dword();
  } else {
    // Those four bytes were the style.
    dialog.style = static_cast<std::uint32_t>(version) | static_cast<std::uint32_t>(signature)
                                                             << 16;
    dialog.exStyle = in.Dword();
  }
  const std::uint16_t count = in.Word();
  dialog.x = in.Short();
  dialog.y = in.Short();
  dialog.cx = in.Short();
  dialog.cy = in.Short();
  dialog.menu = in.StringOrOrdinal();
  dialog.windowClass = in.StringOrOrdinal();
  dialog.caption = in.String();
  if ((dialog.style & kDsSetFont) != 0) {
    dialog.pointSize = in.Word();
    if (dialog.extended) {
      in.Word();  // weight
      in.Byte();  // italic
      in.Byte();  // character set
    }
    dialog.font = in.String();
  }
  for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
    dialog.items.push_back(ReadItem(in, dialog.extended));
  }
  if (!in.ok()) {
    return std::nullopt;
  }
  return dialog;
}

}  // namespace brintel::testing
