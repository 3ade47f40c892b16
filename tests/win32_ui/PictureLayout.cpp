#include "PictureLayout.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace brintel::testing {
namespace {

constexpr int kColumns = 6;
constexpr int kRows = 5;
constexpr int kOverlapPoints = 8;

// Points at the centres of a columns x rows grid over [x0,x1) x [y0,y1) of
// the client area, coloured from `picture` drawn at `pictureX`,`kPicturesTop`.
void AddGrid(std::vector<SamplePoint>& points, const Picture& picture, int pictureX, int x0, int x1,
             int y0, int y1, int columns, int rows) {
  if (x1 <= x0 || y1 <= y0) {
    return;
  }
  for (int row = 0; row < rows; ++row) {
    const int y = y0 + (2 * row + 1) * (y1 - y0) / (2 * rows);
    for (int column = 0; column < columns; ++column) {
      const int x = x0 + (2 * column + 1) * (x1 - x0) / (2 * columns);
      points.push_back({x, y, picture.image.At(x - pictureX, y - kPicturesTop), picture.id});
    }
  }
}

int Channel(std::uint32_t colour, int shift) {
  return static_cast<int>((colour >> shift) & 0xFF);
}

bool Close(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (const int shift : {0, 8, 16}) {
    if (std::abs(Channel(a, shift) - Channel(b, shift)) > tolerance) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<SamplePoint> PictureSamples(const Picture& left, const Picture& right, int clientWidth,
                                        int clientHeight) {
  std::vector<SamplePoint> points;
  const int leftRight = std::min(kLeftPictureX + left.image.width, clientWidth);
  const int leftBottom = std::min(kPicturesTop + left.image.height, clientHeight);
  AddGrid(points, left, kLeftPictureX, kLeftPictureX, leftRight, kPicturesTop, leftBottom, kColumns,
          kRows);

  // The right picture shows only where the left one does not reach.
  const int rightFrom = std::max(kRightPictureX, kLeftPictureX + left.image.width);
  const int rightTo = std::min(kRightPictureX + right.image.width, clientWidth);
  const int rightBottom = std::min(kPicturesTop + right.image.height, clientHeight);
  AddGrid(points, right, kRightPictureX, rightFrom, rightTo, kPicturesTop, rightBottom, kColumns,
          kRows);

  // The strip where the left picture covers the right one, at pixels where
  // the two differ: elsewhere either order of drawing would pass.
  const int overlapTo = std::min(leftRight, kRightPictureX + right.image.width);
  std::vector<SamplePoint> telling;
  for (int y = kPicturesTop; y < std::min(leftBottom, rightBottom); ++y) {
    for (int x = kRightPictureX; x < overlapTo; ++x) {
      const std::uint32_t shown = left.image.At(x - kLeftPictureX, y - kPicturesTop);
      if (shown != right.image.At(x - kRightPictureX, y - kPicturesTop)) {
        telling.push_back({x, y, shown, left.id});
      }
    }
  }
  const std::size_t count = std::min<std::size_t>(telling.size(), kOverlapPoints);
  for (std::size_t i = 0; i < count; ++i) {
    points.push_back(telling[(2 * i + 1) * telling.size() / (2 * count)]);
  }
  return points;
}

std::vector<SamplePoint> GridSamples(const Picture& picture, int x, int y, int columns, int rows) {
  std::vector<SamplePoint> points;
  for (int row = 0; row < rows; ++row) {
    const int py = (2 * row + 1) * picture.image.height / (2 * rows);
    for (int column = 0; column < columns; ++column) {
      const int px = (2 * column + 1) * picture.image.width / (2 * columns);
      points.push_back({x + px, y + py, picture.image.At(px, py), picture.id});
    }
  }
  return points;
}

SampleReport CompareSamples(const Image& screen, int originX, int originY,
                            const std::vector<SamplePoint>& points,
                            const std::vector<Area>& covered, int tolerance) {
  SampleReport report;
  for (const SamplePoint& point : points) {
    if (std::any_of(covered.begin(), covered.end(),
                    [&](const Area& area) { return area.Contains(point.x, point.y); })) {
      ++report.skipped;
      continue;
    }
    const int sx = originX + point.x;
    const int sy = originY + point.y;
    const bool inside = screen.Contains(sx, sy);
    if (inside && Close(screen.At(sx, sy), point.expected, tolerance)) {
      ++report.matched;
      continue;
    }
    ++report.differed;
    if (report.firstDifference.empty()) {
      char text[128];
      if (inside) {
        std::snprintf(text, sizeof text, "picture %d at %d,%d: saw #%06X, want #%06X",
                      point.pictureId, point.x, point.y, screen.At(sx, sy), point.expected);
      } else {
        std::snprintf(text, sizeof text, "picture %d at %d,%d: outside the capture",
                      point.pictureId, point.x, point.y);
      }
      report.firstDifference = text;
    }
  }
  return report;
}

}  // namespace brintel::testing
