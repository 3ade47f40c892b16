#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brintel::testing {

// A text of a template that may be a resource number instead (a control's
// bitmap or icon, a class given by its atom).
struct TextOrOrdinal {
  std::wstring text;
  std::optional<std::uint16_t> ordinal;
};

struct DialogItem {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::int32_t id = 0;  // -1 for the usual static without an id
  // The predefined classes (given by atom) under their names: "Button",
  // "Edit", "Static", "ListBox", "ScrollBar", "ComboBox".
  std::wstring windowClass;
  TextOrOrdinal title;
};

struct DialogTemplate {
  bool extended = false;  // DLGTEMPLATEEX rather than DLGTEMPLATE
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  TextOrOrdinal menu;
  TextOrOrdinal windowClass;
  std::wstring caption;
  // Present with DS_SETFONT (DS_SHELLFONT includes it).
  std::uint16_t pointSize = 0;
  std::wstring font;
  std::vector<DialogItem> items;
};

// Reads a dialog resource in either layout. None when the data ends early or
// a count does not fit; the items are checked against their declared count.
std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::byte> data);

}  // namespace brintel::testing
