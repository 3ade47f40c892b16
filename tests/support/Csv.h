#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace brintel::testing {

using Rows = std::vector<std::vector<std::string>>;

// RFC 4180 as a strict reader takes it: every record ends in CRLF, a quote
// only opens a field, and "" inside quotes is one quote.
inline Rows ParseCsv(const std::string& text) {
  Rows rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      EXPECT_TRUE(field.empty()) << "a quote inside an unquoted field at " << i;
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::exchange(field, {}));
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(std::exchange(field, {}));
      rows.push_back(std::exchange(row, {}));
      ++i;
    } else {
      EXPECT_TRUE(c != '\r' && c != '\n') << "a bare line end at " << i;
      field += c;
    }
  }
  EXPECT_TRUE(!quoted && row.empty() && field.empty()) << "the last record ends without CRLF";
  return rows;
}

}  // namespace brintel::testing
