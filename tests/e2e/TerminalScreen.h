#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace brintel::testing {

// A line drawn in place on a terminal: the text after a carriage return and
// an erase-line, up to the next line end; `at` is where it began.
struct RedrawnLine {
  std::size_t at = 0;
  std::string text;
};
std::vector<RedrawnLine> RedrawnLines(const std::string& screen);

// The columns a line takes on the terminal, as the C library counts them; a
// test failure (and 1000) when the text is not UTF-8.
int ColumnsOnTerminal(const std::string& utf8);

}  // namespace brintel::testing
