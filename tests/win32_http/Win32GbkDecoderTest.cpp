#include "server/win32/Win32GbkDecoder.h"

#include <string>

#include <gtest/gtest.h>

namespace brintel {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(Win32GbkDecoder, DecodesGbkText) {
  const Win32GbkDecoder decoder;
  EXPECT_EQ(decoder.ToUtf8("\xC9\xFD\xBC\xB6"), "升级");
  EXPECT_EQ(decoder.ToUtf8("V1.2 \xC9\xFD\xBC\xB6 OK"), "V1.2 升级 OK");
  EXPECT_EQ(decoder.ToUtf8("\xD0\xD0\xB3\xB5\xCF\xD4\xCA\xBE\xC6\xF7"), "行车显示器");
  // Code page 936 has the euro sign as the single byte 0x80.
  EXPECT_EQ(decoder.ToUtf8("\x80"), "€");
  EXPECT_EQ(decoder.ToUtf8(""), "");
}

TEST(Win32GbkDecoder, AsciiPassesThroughIncludingNul) {
  std::string ascii;
  for (int byte = 0; byte < 0x80; ++byte) {
    ascii += static_cast<char>(byte);
  }
  EXPECT_EQ(Win32GbkDecoder().ToUtf8(ascii), ascii);
}

// 0x5F is "_" on its own but a trail byte after a lead byte: one character.
TEST(Win32GbkDecoder, UnderscoreAsTrailByteIsPartOfTheCharacter) {
  const Win32GbkDecoder decoder;
  EXPECT_EQ(decoder.ToUtf8("\x81\x5F"), "乢");
  EXPECT_EQ(decoder.ToUtf8("K_\x81\x5F_B"), "K_乢_B");
}

TEST(Win32GbkDecoder, InvalidBytesBecomeReplacementAndDecodingGoesOn) {
  const Win32GbkDecoder decoder;
  EXPECT_EQ(decoder.ToUtf8("\xFF"), kReplacement);
  EXPECT_EQ(decoder.ToUtf8("\xC9\xFD\xFF\xBC\xB6"), "升" + kReplacement + "级");
  // A lead byte with a trail that cannot follow it: only the lead is lost.
  EXPECT_EQ(decoder.ToUtf8("\x81\x20x"), kReplacement + " x");
  EXPECT_EQ(decoder.ToUtf8("\x81\x7F"
                           "A"),
            kReplacement +
                "\x7F"
                "A");
  // A lead byte cut off at the end of the text.
  EXPECT_EQ(decoder.ToUtf8("ab\x81"), "ab" + kReplacement);
  EXPECT_EQ(decoder.ToUtf8("\xC9\xFD\xBC"), "升" + kReplacement);
}

TEST(Win32GbkDecoder, CallsAreIndependentOfEachOther) {
  const Win32GbkDecoder decoder;
  EXPECT_EQ(decoder.ToUtf8("ab\xBC"), "ab" + kReplacement);
  EXPECT_EQ(decoder.ToUtf8("\xB6"), kReplacement);
  EXPECT_EQ(decoder.ToUtf8("\xBC\xB6"), "级");
}

// The long text takes the character-by-character path because of its last
// byte; everything before it must survive that path.
TEST(Win32GbkDecoder, LongTextIsDecodedWhole) {
  std::string gbk;
  std::string utf8;
  for (int i = 0; i < 1000; ++i) {
    gbk +=
        "\xC9\xFD"
        "a";
    utf8 += "升a";
  }
  EXPECT_EQ(Win32GbkDecoder().ToUtf8(gbk), utf8);
  gbk += "\xFF";
  utf8 += kReplacement;
  EXPECT_EQ(Win32GbkDecoder().ToUtf8(gbk), utf8);
}

}  // namespace
}  // namespace brintel
