#include "TerminalScreen.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>
#include <string_view>

namespace brintel::testing {

std::vector<RedrawnLine> RedrawnLines(const std::string& screen) {
  constexpr std::string_view kRedraw = "\r\033[K";
  std::vector<RedrawnLine> lines;
  for (std::size_t at = screen.find(kRedraw); at != std::string::npos;
       at = screen.find(kRedraw, at + 1)) {
    const std::size_t begin = at + kRedraw.size();
    lines.push_back({at, screen.substr(begin, screen.find_first_of("\r\n", begin) - begin)});
  }
  return lines;
}

int ColumnsOnTerminal(const std::string& utf8) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  std::wstring wide(utf8.size() + 1, L'\0');
  const std::size_t length = std::mbstowcs(wide.data(), utf8.c_str(), wide.size());
  EXPECT_NE(length, static_cast<std::size_t>(-1)) << "not UTF-8: " << utf8;
  return length == static_cast<std::size_t>(-1) ? 1000 : wcswidth(wide.c_str(), length);
}

}  // namespace brintel::testing
