// The parts of brintel-ui-driver that decide pass or fail: where the
// package's pictures must show, the comparison with a capture, the options,
// and the PNG files of the screenshots.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "PictureLayout.h"
#include "Scenarios.h"
#include "Screen.h"
#include "app/WideText.h"

namespace brintel::testing {
namespace {

constexpr std::uint32_t kDialogGrey = 0xF0F0F0;
constexpr int kClientWidth = 500;
constexpr int kClientHeight = 405;

// A picture whose every pixel is distinct from its neighbours and from the
// other picture's (`salt`), so a shifted or swapped picture cannot match.
Picture Pattern(int id, int width, int height, std::uint32_t salt) {
  Picture picture{id, {width, height, {}}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      picture.image.pixels.push_back((static_cast<std::uint32_t>(x) * 0x010305U +
                                      static_cast<std::uint32_t>(y) * 0x030501U + salt) &
                                     0xFFFFFF);
    }
  }
  return picture;
}

void Blit(Image& target, const Image& source, int left, int top) {
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) {
      if (target.Contains(left + x, top + y)) {
        target.pixels[static_cast<std::size_t>((top + y) * target.width + left + x)] =
            source.At(x, y);
      }
    }
  }
}

Image Client() {
  return {kClientWidth, kClientHeight,
          std::vector<std::uint32_t>(kClientWidth * kClientHeight, kDialogGrey)};
}

// The client area as the program must paint it: right picture first.
Image Painted(const Picture& left, const Picture& right) {
  Image client = Client();
  Blit(client, right.image, kRightPictureX, kPicturesTop);
  Blit(client, left.image, kLeftPictureX, kPicturesTop);
  return client;
}

TEST(PictureSamples, ABlankLeftPictureLeavesTheRightOneWhole) {
  const Picture left = Pattern(134, 207, 236, 0x100000);
  const Picture right = Pattern(135, 294, 236, 0x000077);
  const std::vector<SamplePoint> points = PictureSamples(left, right, kClientWidth, kClientHeight);
  int rightPoints = 0;
  for (const SamplePoint& point : points) {
    ASSERT_LT(point.x, kClientWidth);
    ASSERT_GE(point.y, kPicturesTop);
    ASSERT_LT(point.y, kPicturesTop + 236);
    EXPECT_EQ(point.pictureId, point.x < kRightPictureX ? 134 : 135) << point.x;
    rightPoints += point.pictureId == 135 ? 1 : 0;
  }
  EXPECT_GE(rightPoints, 20);
  EXPECT_EQ(CompareSamples(Painted(left, right), 0, 0, points, {}, 0).differed, 0);
}

TEST(PictureSamples, AWideLeftPictureCoversTheRightOnesFirstColumns) {
  const Picture left = Pattern(139, 273, 236, 0x100000);
  const Picture right = Pattern(144, 256, 236, 0x000077);
  const std::vector<SamplePoint> points = PictureSamples(left, right, kClientWidth, kClientHeight);
  int inStrip = 0;
  for (const SamplePoint& point : points) {
    if (point.x >= kRightPictureX && point.x < 273) {
      EXPECT_EQ(point.pictureId, 139) << "the left picture lies on top at " << point.x;
      ++inStrip;
    }
    if (point.pictureId == 144) {
      EXPECT_GE(point.x, 273);
    }
  }
  EXPECT_GE(inStrip, 4);

  const Image painted = Painted(left, right);
  EXPECT_EQ(CompareSamples(painted, 0, 0, points, {}, 0).differed, 0);
  // Drawn in the other order, the strip shows the right picture.
  Image swapped = Client();
  Blit(swapped, left.image, kLeftPictureX, kPicturesTop);
  Blit(swapped, right.image, kRightPictureX, kPicturesTop);
  const SampleReport report = CompareSamples(swapped, 0, 0, points, {}, 0);
  EXPECT_GE(report.differed, 4);
  EXPECT_NE(report.firstDifference.find("picture 139"), std::string::npos)
      << report.firstDifference;
}

// Photographs on white share most of the strip: only where they differ can
// the order of drawing show.
TEST(PictureSamples, TheCoveredStripIsSampledWhereThePicturesDiffer) {
  Picture left{140, {256, 236, std::vector<std::uint32_t>(256 * 236, 0xFFFFFF)}};
  Picture right{139, {273, 236, std::vector<std::uint32_t>(273 * 236, 0xFFFFFF)}};
  for (int y = 100; y < 110; ++y) {
    left.image.pixels[static_cast<std::size_t>(y * 256 + 240)] = 0x112233;
  }
  const std::vector<SamplePoint> points = PictureSamples(left, right, kClientWidth, kClientHeight);
  int inStrip = 0;
  for (const SamplePoint& point : points) {
    if (point.x >= kRightPictureX && point.x < 256 && point.expected == 0x112233) {
      EXPECT_EQ(point.x, 240);
      ++inStrip;
    }
  }
  EXPECT_GE(inStrip, 4);

  Image swapped = Client();
  Blit(swapped, left.image, kLeftPictureX, kPicturesTop);
  Blit(swapped, right.image, kRightPictureX, kPicturesTop);
  EXPECT_GE(CompareSamples(swapped, 0, 0, points, {}, 0).differed, 4);
  EXPECT_EQ(CompareSamples(Painted(left, right), 0, 0, points, {}, 0).differed, 0);
}

TEST(PictureSamples, AreClippedToTheClientArea) {
  const Picture left = Pattern(140, 256, 236, 1);
  const Picture right = Pattern(135, 294, 236, 2);
  for (const SamplePoint& point : PictureSamples(left, right, 400, 300)) {
    EXPECT_LT(point.x, 400);
    EXPECT_LT(point.y, 300);
  }
}

TEST(CompareSamples, FindsAMissingOrMisplacedPicture) {
  const Picture left = Pattern(134, 207, 236, 0x100000);
  const Picture right = Pattern(140, 256, 236, 0x000077);
  const std::vector<SamplePoint> points = PictureSamples(left, right, kClientWidth, kClientHeight);

  const SampleReport nothing = CompareSamples(Client(), 0, 0, points, {}, 4);
  EXPECT_EQ(nothing.matched, 0);
  EXPECT_EQ(nothing.differed, static_cast<int>(points.size()));

  Image shifted = Client();
  Blit(shifted, right.image, kRightPictureX + 1, kPicturesTop);
  Blit(shifted, left.image, kLeftPictureX, kPicturesTop);
  const SampleReport report = CompareSamples(shifted, 0, 0, points, {}, 4);
  EXPECT_GT(report.differed, 0);
  EXPECT_NE(report.firstDifference.find("picture 140"), std::string::npos)
      << report.firstDifference;
}

TEST(CompareSamples, ReadsTheCaptureAtTheClientOriginAndSkipsCoveredPoints) {
  const Picture left = Pattern(134, 207, 236, 0x100000);
  const Picture right = Pattern(140, 256, 236, 0x000077);
  const std::vector<SamplePoint> points = PictureSamples(left, right, kClientWidth, kClientHeight);
  const Image client = Painted(left, right);
  // The client area at 30,50 of a larger capture.
  Image screen{kClientWidth + 60, kClientHeight + 80,
               std::vector<std::uint32_t>((kClientWidth + 60) * (kClientHeight + 80), 0)};
  Blit(screen, client, 30, 50);
  EXPECT_EQ(CompareSamples(screen, 30, 50, points, {}, 0).differed, 0);
  EXPECT_GT(CompareSamples(screen, 0, 0, points, {}, 0).differed, 0);

  // A message box over the middle: what it hides is skipped, not failed.
  const Area box{100, 200, 400, 330};
  Image covered = screen;
  Blit(covered, Image{300, 130, std::vector<std::uint32_t>(300 * 130, 0x123456)}, 130, 250);
  const SampleReport report = CompareSamples(covered, 30, 50, points, {box}, 0);
  EXPECT_EQ(report.differed, 0);
  EXPECT_GT(report.skipped, 0);
  EXPECT_EQ(report.matched + report.skipped, static_cast<int>(points.size()));
  EXPECT_GT(CompareSamples(covered, 30, 50, points, {}, 0).differed, 0);
}

TEST(CompareSamples, AllowsTheToleranceOnEachChannel) {
  const Picture picture{146, {1, 1, {0x804020}}};
  const std::vector<SamplePoint> points = GridSamples(picture, 0, 0, 1, 1);
  const Image within{1, 1, {0x844424}};
  const Image beyond{1, 1, {0x804025}};
  EXPECT_EQ(CompareSamples(within, 0, 0, points, {}, 4).matched, 1);
  EXPECT_EQ(CompareSamples(beyond, 0, 0, points, {}, 4).differed, 1);
  EXPECT_EQ(CompareSamples(within, 0, 0, points, {}, 3).differed, 1);
}

TEST(Options, FailureCases) {
  FailureCase parsed;
  ASSERT_TRUE(ParseFailureCase(L"list-error=127.0.0.9", parsed));
  EXPECT_EQ(parsed.kind, FailureKind::kListError);
  EXPECT_EQ(parsed.address, L"127.0.0.9");
  ASSERT_TRUE(ParseFailureCase(L"list=127.0.0.8", parsed));
  EXPECT_EQ(parsed.kind, FailureKind::kList);
  ASSERT_TRUE(ParseFailureCase(L"other-device=h", parsed));
  EXPECT_EQ(parsed.kind, FailureKind::kOtherDevice);
  EXPECT_FALSE(ParseFailureCase(L"listx=127.0.0.8", parsed));
  EXPECT_FALSE(ParseFailureCase(L"package=", parsed));
  EXPECT_FALSE(ParseFailureCase(L"package", parsed));
}

TEST(Options, DeviceLabelGroupsTheIdentityByFour) {
  EXPECT_EQ(DeviceLabel("1027262514131211"), "(sn=1027-2625-1413-1211)");
}

std::wstring PictureFolder() {
  const char* folder = std::getenv("BRINTEL_PICTURES");
  if (folder == nullptr) {
    return {};
  }
  // A Linux path, under Wine: its drive Z: is the root.
  return (folder[0] == '/' ? L"Z:" : L"") + app::Utf8ToWide(folder);
}

TEST(Files, TheBitmapsLoadAtTheirSizes) {
  const std::wstring folder = PictureFolder();
  if (folder.empty()) {
    GTEST_SKIP() << "BRINTEL_PICTURES names no picture folder";
  }
  const Image blank = LoadBitmapFile(folder + L"/134.bmp");
  EXPECT_EQ(blank.width, 207);
  EXPECT_EQ(blank.height, 236);
  for (const std::uint32_t pixel : blank.pixels) {
    ASSERT_EQ(pixel, 0xFFFFFFU);
  }
  const Image jumpers = LoadBitmapFile(folder + L"/146.bmp");
  EXPECT_EQ(jumpers.width, 497);
  EXPECT_EQ(jumpers.height, 200);
  EXPECT_THROW(LoadBitmapFile(folder + L"/999.bmp"), std::runtime_error);
}

TEST(Files, APngReadsBackPixelForPixel) {
  const Picture picture = Pattern(1, 37, 23, 0x5A5A5A);
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"brintel-ui-driver-test.png";
  SavePng(picture.image, path);
  const Image back = LoadPng(path);
  ::DeleteFileW(path.c_str());
  EXPECT_EQ(back.width, 37);
  EXPECT_EQ(back.height, 23);
  EXPECT_EQ(back.pixels, picture.image.pixels);
}

}  // namespace
}  // namespace brintel::testing
