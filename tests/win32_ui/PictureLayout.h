#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Image.h"

namespace brintel::testing {

// Where the package's two pictures go in the main window's client area, in
// pixels, whatever the dialog's layout.
inline constexpr int kLeftPictureX = 0;
inline constexpr int kRightPictureX = 207;
inline constexpr int kPicturesTop = 140;

struct Picture {
  int id = 0;
  Image image;
};

// A client-area point and the colour a picture must give it there.
struct SamplePoint {
  int x = 0;
  int y = 0;
  std::uint32_t expected = 0;
  int pictureId = 0;
};

// A grid of points over the visible part of each picture, clipped to a client
// area of `clientWidth` x `clientHeight`. The right picture is drawn first, so
// where the left one is wider than 207 px its columns show the left picture:
// a few points are placed in that strip on purpose, where the two differ.
std::vector<SamplePoint> PictureSamples(const Picture& left, const Picture& right, int clientWidth,
                                        int clientHeight);

// Points over the whole of `picture` placed at `x`,`y` of the client area.
std::vector<SamplePoint> GridSamples(const Picture& picture, int x, int y, int columns, int rows);

// A rectangle in client coordinates, right and bottom excluded.
struct Area {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct SampleReport {
  int matched = 0;
  int differed = 0;
  int skipped = 0;              // under a window that covered the client area
  std::string firstDifference;  // "picture 135 at 250,200: saw #RRGGBB, want #RRGGBB"
};

// Compares the points with `screen`, a capture whose pixel 0,0 is the client
// area's `originX`,`originY`. Points in `covered` are skipped; a point outside
// the capture counts as differing. Channels may differ by `tolerance`.
SampleReport CompareSamples(const Image& screen, int originX, int originY,
                            const std::vector<SamplePoint>& points,
                            const std::vector<Area>& covered, int tolerance);

}  // namespace brintel::testing
