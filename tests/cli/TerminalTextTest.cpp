// What the command line prints of the server's texts, and how wide it is.

#include "cli/terminal/TerminalText.h"

#include <gtest/gtest.h>

namespace brintel::cli {
namespace {

TEST(ShownText, ControlCharactersCannotDriveTheTerminal) {
  EXPECT_EQ(ShownText("\x1b[31mred"), "\\x1B[31mred");
  EXPECT_EQ(ShownText(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(ShownText("\x7f\t"), "\\x7F\\x09");
  EXPECT_EQ(ShownText("\xc2\x9b"
                      "2J"),
            "\\xC2\\x9B2J");              // the one-character CSI
  EXPECT_EQ(ShownText("\xff"), "\\xFF");  // not UTF-8
  EXPECT_EQ(ShownText("标准版 City & Highway"), "标准版 City & Highway");
}

TEST(ShownText, LongTextIsCutWithinItsColumns) {
  EXPECT_EQ(ShownText(std::string(5'000'000, 'x'), 10), "xxxxxxxxxx...");
  EXPECT_EQ(ShownText("标准版标准版", 5), "标准...");  // two columns a character
  EXPECT_EQ(ShownText("\x1b\x1b\x1b", 8), "\\x1B\\x1B...");
}

TEST(TerminalColumns, WideCharactersTakeTwo) {
  EXPECT_EQ(TerminalColumns("COM3 found... "), 14);
  EXPECT_EQ(TerminalColumns("正在搜索行车显示器..."), 21);
  EXPECT_EQ(CutToColumns("正在搜索", 5), "正在");
  EXPECT_EQ(CutToColumns("ab", 5), "ab");
}

}  // namespace
}  // namespace brintel::cli
