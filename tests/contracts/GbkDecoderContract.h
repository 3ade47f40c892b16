#pragma once

// What every GbkDecoder promises, whatever converts underneath (glibc iconv,
// Windows' code page 936): instantiate with the decoder type.

#include <gtest/gtest.h>

#include <string>

namespace brintel::testing {

template <typename Decoder>
class GbkDecoderContract : public ::testing::Test {
 protected:
  const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  const Decoder decoder;
};

TYPED_TEST_SUITE_P(GbkDecoderContract);

TYPED_TEST_P(GbkDecoderContract, DecodesGbkText) {
  EXPECT_EQ(this->decoder.ToUtf8("\xC9\xFD\xBC\xB6"), "升级");
  EXPECT_EQ(this->decoder.ToUtf8("V1.2 \xC9\xFD\xBC\xB6 OK"), "V1.2 升级 OK");
  EXPECT_EQ(this->decoder.ToUtf8("\xD0\xD0\xB3\xB5\xCF\xD4\xCA\xBE\xC6\xF7"), "行车显示器");
  // Code page 936 has the euro sign as the single byte 0x80.
  EXPECT_EQ(this->decoder.ToUtf8("\x80"), "€");
  EXPECT_EQ(this->decoder.ToUtf8(""), "");
}

TYPED_TEST_P(GbkDecoderContract, AsciiPassesThroughIncludingNul) {
  std::string ascii;
  for (int byte = 0; byte < 0x80; ++byte) {
    ascii += static_cast<char>(byte);
  }
  EXPECT_EQ(this->decoder.ToUtf8(ascii), ascii);
}

// 0x5F is "_" on its own but a trail byte after a lead byte: one character.
TYPED_TEST_P(GbkDecoderContract, UnderscoreAsTrailByteIsPartOfTheCharacter) {
  EXPECT_EQ(this->decoder.ToUtf8("\x81\x5F"), "乢");
  EXPECT_EQ(this->decoder.ToUtf8("K_\x81\x5F_B"), "K_乢_B");
}

TYPED_TEST_P(GbkDecoderContract, InvalidBytesBecomeReplacementAndDecodingGoesOn) {
  const std::string& bad = this->kReplacement;
  EXPECT_EQ(this->decoder.ToUtf8("\xFF"), bad);
  EXPECT_EQ(this->decoder.ToUtf8("\xC9\xFD\xFF\xBC\xB6"), "升" + bad + "级");
  // A lead byte with a trail that cannot follow it: only the lead is lost.
  EXPECT_EQ(this->decoder.ToUtf8("\x81\x20x"), bad + " x");
  EXPECT_EQ(this->decoder.ToUtf8(std::string("\x81\x7F") + "A"), bad + "\x7F" + "A");
  // A lead byte cut off at the end of the text.
  EXPECT_EQ(this->decoder.ToUtf8("ab\x81"), "ab" + bad);
  EXPECT_EQ(this->decoder.ToUtf8("\xC9\xFD\xBC"), "升" + bad);
}

TYPED_TEST_P(GbkDecoderContract, CallsAreIndependentOfEachOther) {
  // A cut-off lead byte in one call must not pair with the next call's bytes.
  EXPECT_EQ(this->decoder.ToUtf8("ab\xBC"), "ab" + this->kReplacement);
  EXPECT_EQ(this->decoder.ToUtf8("\xB6"), this->kReplacement);
  EXPECT_EQ(this->decoder.ToUtf8("\xBC\xB6"), "级");
}

// A bad last byte may send a decoder down a slower, byte-by-byte path;
// everything before it must survive that path.
TYPED_TEST_P(GbkDecoderContract, LongTextIsDecodedWhole) {
  std::string gbk;
  std::string utf8;
  for (int i = 0; i < 1000; ++i) {
    gbk += std::string("\xC9\xFD") + "a";
    utf8 += "升a";
  }
  EXPECT_EQ(this->decoder.ToUtf8(gbk), utf8);
  gbk += "\xFF";
  utf8 += this->kReplacement;
  EXPECT_EQ(this->decoder.ToUtf8(gbk), utf8);
}

REGISTER_TYPED_TEST_SUITE_P(GbkDecoderContract, DecodesGbkText, AsciiPassesThroughIncludingNul,
                            UnderscoreAsTrailByteIsPartOfTheCharacter,
                            InvalidBytesBecomeReplacementAndDecodingGoesOn,
                            CallsAreIndependentOfEachOther, LongTextIsDecodedWhole);

}  // namespace brintel::testing
