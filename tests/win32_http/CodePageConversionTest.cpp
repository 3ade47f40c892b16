#include "server/win32/CodePageConversion.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

namespace brintel::testing {
namespace {

TEST(CodePageConversion, Utf8RoundTripsThroughUtf16) {
  const std::string utf8 = "升级 V1.2 €";
  const std::wstring wide = WideFromCodePage(CP_UTF8, utf8);
  EXPECT_EQ(wide, L"\x5347\x7EA7 V1.2 \x20AC");
  EXPECT_EQ(CodePageFromWide(CP_UTF8, wide), utf8);
}

TEST(CodePageConversion, InvalidBytesAreReplacedOrFailTheWholeText) {
  const std::string invalid{'a', '\xFF', 'b'};
  EXPECT_EQ(WideFromCodePage(CP_UTF8, invalid), (std::wstring{L'a', L'\xFFFD', L'b'}));
  EXPECT_EQ(WideFromCodePage(CP_UTF8, invalid, InvalidBytes::kFail), L"");
  EXPECT_EQ(WideFromCodePage(936, "\xC9\xFD\xFF", InvalidBytes::kFail), L"");
  EXPECT_EQ(WideFromCodePage(936, "\xC9\xFD", InvalidBytes::kFail), L"\x5347");
}

TEST(CodePageConversion, EmptyTextStaysEmpty) {
  EXPECT_EQ(WideFromCodePage(CP_UTF8, ""), L"");
  EXPECT_EQ(CodePageFromWide(CP_UTF8, L""), "");
}

}  // namespace
}  // namespace brintel::testing
