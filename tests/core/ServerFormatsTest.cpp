// The program server's two formats: the list (key, names, separator search
// under GBK), the URLs, and the package header.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ProgramList.h"
#include "server/ProgramPackage.h"
#include "server/Separator.h"

namespace brintel {
namespace {

using Names = std::vector<std::string>;

TEST(FindSeparator, TrailByte0x5FOfADoubleByteCharacterIsNoSeparator) {
  const std::string text =
      "AB\x81\x5F"
      "CD_E";  // 0x81 0x5F is one GBK character
  EXPECT_EQ(FindSeparator(text), 6u);
  EXPECT_EQ(FindSeparator("\x81\x5F"), std::string::npos);
  EXPECT_EQ(FindSeparator("\xC9\xFD_"), 2u);
  EXPECT_EQ(FindSeparator("_x"), 0u);
  EXPECT_EQ(FindSeparator("\x80_A"), 1u);      // 0x80 stands alone in code page 936
  EXPECT_EQ(FindSeparator("\xFE_\xFF_"), 3u);  // 0xFE leads, 0xFF does not
  EXPECT_EQ(FindSeparator("a_b_c", 2), 3u);
  // A lead byte at the very end has no trail; nothing is skipped past the end.
  EXPECT_EQ(FindSeparator("ab\x81"), std::string::npos);
}

TEST(ProgramList, KeyAndNames) {
  EXPECT_EQ(ListKey("K_A_B"), "K");
  EXPECT_EQ(SplitProgramNames("K_A_B"), (Names{"A", "B"}));
  EXPECT_EQ(SplitProgramNames("K_"), (Names{""}));
  EXPECT_EQ(SplitProgramNames("K_A_B_"), (Names{"A", "B", ""}));
  EXPECT_EQ(SplitProgramNames("K_A__B"), (Names{"A", "", "B"}));
  EXPECT_EQ(SplitProgramNames("K__A"), (Names{"", "A"}));
  EXPECT_EQ(ListKey("no separator"), std::nullopt);
  EXPECT_TRUE(SplitProgramNames("no separator").empty());
  // A name whose GBK character ends in 0x5F stays whole.
  EXPECT_EQ(SplitProgramNames("K_\xB3\x5F"
                              "A_B"),
            (Names{"\xB3\x5F"
                   "A",
                   "B"}));
  EXPECT_EQ(ListKey("\x81\x5F_A"), "\x81\x5F");
}

TEST(ProgramList, UsableKeysHoldOneTo32Bytes) {
  EXPECT_FALSE(IsUsableListKey(""));
  EXPECT_TRUE(IsUsableListKey("K"));
  EXPECT_TRUE(IsUsableListKey(std::string(32, 'k')));
  EXPECT_FALSE(IsUsableListKey(std::string(33, 'k')));
}

TEST(ProgramList, SortedChoiceOrder) {
  const Names names = {"B", "A", "C"};
  EXPECT_EQ(SortedChoiceOrder(names), (std::vector<std::size_t>{1, 0, 2}));
  EXPECT_EQ(SortedChoiceOrder({"A", "B", ""}), (std::vector<std::size_t>{2, 0, 1}));
  EXPECT_EQ(SortedChoiceOrder({"beta", "Alpha", "alpha"}), (std::vector<std::size_t>{1, 2, 0}));
  EXPECT_EQ(SortedChoiceOrder({"x", "x"}), (std::vector<std::size_t>{0, 1}));
}

TEST(ProgramUrls, DefaultAndOverrideForms) {
  EXPECT_EQ(ListUrl("", "server.example:8080", "0123456789ABCDEF"),
            "http://server.example:8080/cargetnameplovix.asp?id=0123456789ABCDEF");
  EXPECT_EQ(ListUrl("10.0.0.5", "unused", "0123456789ABCDEF"),
            "http://10.0.0.5:82/getnameplovix.asp?id=0123456789ABCDEF");
  EXPECT_EQ(ListUrl(" ", "unused", "ID"), "http:// :82/getnameplovix.asp?id=ID");
}

TEST(ProgramUrls, NamesArePercentEncodedByteForByte) {
  EXPECT_EQ(PackageUrl("http://h/x?id=1", "A"), "http://h/x?id=1&type=A");
  EXPECT_EQ(PackageUrl("http://h/x?id=1", ""), "http://h/x?id=1&type=");
  EXPECT_EQ(PercentEncode("a b&c#d%e+f"), "a%20b%26c%23d%25e%2Bf");
  EXPECT_EQ(PercentEncode("\xC9\xFD\xBC\xB6"), "%C9%FD%BC%B6");
  EXPECT_EQ(PercentEncode("Az09-._~"), "Az09-._~");
  EXPECT_EQ(PercentEncode(std::string("\0/?=", 4)), "%00%2F%3F%3D");
}

TEST(PackageHeader, TitleAndPictures) {
  const PackageHeader header = ReadPackageHeader("0123456789ABCDEFabc_139140rest");
  EXPECT_EQ(header.separator, 19);
  EXPECT_EQ(header.title, "abc");
  EXPECT_EQ(header.leftPicture, 139);
  EXPECT_EQ(header.rightPicture, 140);

  const PackageHeader gbkTitle = ReadPackageHeader("0123456789ABCDEF\xB3\x5F\xC9\xFD_134135");
  EXPECT_EQ(gbkTitle.title, "\xB3\x5F\xC9\xFD");
  EXPECT_EQ(gbkTitle.leftPicture, 134);

  const PackageHeader emptyTitle = ReadPackageHeader("0123456789ABCDEF_146146");
  EXPECT_EQ(emptyTitle.separator, 16);
  EXPECT_EQ(emptyTitle.title, "");
}

TEST(PackageHeader, WithoutSeparatorPicturesComeFromTheIdentityDigits) {
  const PackageHeader header = ReadPackageHeader("1234567890ABCDEFxyz");
  EXPECT_EQ(header.separator, -1);
  EXPECT_EQ(header.title, "");
  EXPECT_EQ(header.leftPicture, 123);
  EXPECT_EQ(header.rightPicture, 456);
}

TEST(PackageHeader, PictureIdsReadLikeAtoi) {
  EXPECT_EQ(ReadPictureId("07x", 0), 7);
  EXPECT_EQ(ReadPictureId(" 42", 0), 42);
  EXPECT_EQ(ReadPictureId("\t\v7", 0), 7);  // every blank atoi skips
  EXPECT_EQ(ReadPictureId("\f 5", 0), 5);
  EXPECT_EQ(ReadPictureId("+13", 0), 13);
  EXPECT_EQ(ReadPictureId("-1x", 0), 0xFFFF);
  EXPECT_EQ(ReadPictureId("x12", 0), 0);
  EXPECT_EQ(ReadPictureId("1234", 0), 123);  // only three bytes belong to the field
  EXPECT_EQ(ReadPictureId("12", 0), 12);
  EXPECT_EQ(ReadPictureId("12", 5), 0);
}

// Only a package whose every payload position holds a hex digit may be written.
TEST(PackageHeader, ValidPayloadNeedsItsSeparatorAndAHexDigitAtEveryPosition) {
  const std::string head = "0123456789ABCDEFabc_139140";  // u = 19
  std::string text = head + std::string(72099, 'a') + "F";
  EXPECT_EQ(text.size(), 19u + 72107u);
  EXPECT_TRUE(HoldsValidPayload(text));
  EXPECT_TRUE(HoldsValidPayload(text + "trailer: anything"));
  text.pop_back();
  EXPECT_FALSE(HoldsValidPayload(text)) << "one digit short";
  text += "0";
  for (const std::size_t position : {std::size_t{26}, std::size_t{40000}, std::size_t{72125}}) {
    std::string spoiled = text;
    spoiled[position] = 'G';
    EXPECT_FALSE(HoldsValidPayload(spoiled)) << position;
  }
  EXPECT_FALSE(HoldsValidPayload(std::string(80000, '0'))) << "no separator";
  EXPECT_FALSE(HoldsValidPayload("0123456789ABCDEF" + std::string(80000, 'X')));
}

}  // namespace
}  // namespace brintel
