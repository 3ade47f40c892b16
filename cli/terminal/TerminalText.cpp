#include "cli/terminal/TerminalText.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace brintel::cli {
namespace {

struct Character {
  char32_t code = 0;
  std::size_t length = 1;
};

// One UTF-8 character; a stray byte counts as a character of its own.
Character Decode(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0xC0 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (length == 1 || at + length > text.size()) {
    return {lead, 1};
  }
  char32_t code = lead & (0x3Fu >> (length - 1));
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) {
      return {lead, 1};
    }
    code = (code << 6) | (next & 0x3Fu);
  }
  return {code, length};
}

int Columns(char32_t c) {
  const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                    (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                    (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                    (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
  return wide ? 2 : 1;
}

bool IsControl(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

}  // namespace

int TerminalColumns(std::string_view utf8) {
  int used = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const Character c = Decode(utf8, i);
    used += Columns(c.code);
    i += c.length;
  }
  return used;
}

std::string CutToColumns(std::string_view utf8, int columns) {
  int used = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const Character c = Decode(utf8, i);
    used += Columns(c.code);
    if (used > columns) {
      return std::string(utf8.substr(0, i));
    }
    i += c.length;
  }
  return std::string(utf8);
}

std::string ShownText(std::string_view utf8, int maxColumns) {
  std::string shown;
  int used = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const Character c = Decode(utf8, i);
    std::string piece;
    if (IsControl(c.code) || (c.length == 1 && c.code >= 0x80)) {
      char escaped[8];
      for (std::size_t k = 0; k < c.length; ++k) {
        std::snprintf(escaped, sizeof escaped, "\\x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(utf8[i + k])));
        piece += escaped;
      }
    } else {
      piece.assign(utf8.substr(i, c.length));
    }
    const int width =
        IsControl(c.code) || c.length == 1 ? static_cast<int>(piece.size()) : Columns(c.code);
    if (used + width > maxColumns) {
      return shown + "...";
    }
    shown += piece;
    used += width;
    i += c.length;
  }
  return shown;
}

std::string ShortPort(std::string_view port) {
  constexpr std::size_t kKept = 19;
  std::string_view tail(port);
  if (const auto slash = tail.rfind('/');
      slash != std::string_view::npos && slash + 1 < tail.size()) {
    tail.remove_prefix(slash + 1);
  }
  std::vector<std::size_t> starts;  // of the UTF-8 characters
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if ((static_cast<unsigned char>(tail[i]) & 0xC0) != 0x80) {
      starts.push_back(i);
    }
  }
  if (starts.size() <= kKept + 1) {
    return ShownText(tail, std::numeric_limits<int>::max());
  }
  std::string shortened = "~";
  shortened +=
      ShownText(tail.substr(starts[starts.size() - kKept]), std::numeric_limits<int>::max());
  return shortened;
}

}  // namespace brintel::cli
