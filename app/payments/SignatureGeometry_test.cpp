// The pad's stroke geometry: simplification and smoothing on known shapes.
#include "app/payments/SignatureGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvo {
namespace {

using ui::Point;

TEST(SignatureGeometry, SimplifyThenSmoothKnownStrokes) {
  struct Case {
    const char* name;
    std::vector<Point> stroke;
    size_t simplified;
    size_t smoothed;
  };
  std::vector<Point> straight;
  for (int i = 0; i < 50; ++i) straight.push_back({10.0 + i * 2, 40.0 + i});
  const std::vector<Point> zigzag = {{0, 0}, {30, 40}, {60, 0}, {90, 40}};
  std::vector<Point> loop;  // a circle that ends where it began
  for (int i = 0; i <= 36; ++i)
    loop.push_back({100 + 40 * std::cos(i * M_PI / 18), 100 + 40 * std::sin(i * M_PI / 18)});
  const std::vector<Case> cases = {
      {"two points", {{1, 1}, {5, 9}}, 2, 2},
      {"straight line of 50 points", straight, 2, 2},
      {"three kept points are not smoothed", {{0, 0}, {20, 30}, {40, 0}}, 3, 3},
      {"four kept points become 13", zigzag, 4, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto kept = douglasPeucker(c.stroke, 2.0f);
    EXPECT_EQ(kept.size(), c.simplified);
    EXPECT_EQ(kept.front(), c.stroke.front());
    EXPECT_EQ(kept.back(), c.stroke.back());
    auto curve = catmullRomSpline(kept, 4);
    ASSERT_EQ(curve.size(), c.smoothed);
    if (kept.size() >= 4) {
      for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(curve[i * 4], kept[i]) << "control point " << i;
    }
  }
  // The closed loop keeps its shape instead of shrinking to its two equal end points.
  auto kept = douglasPeucker(loop, 2.0f);
  EXPECT_GT(kept.size(), 8u);
  double farthest = 0;
  for (const auto& p : kept) farthest = std::max(farthest, std::hypot(p.x - loop[0].x, p.y - loop[0].y));
  EXPECT_NEAR(farthest, 80, 1);
}

TEST(SignatureGeometry, SmoothedPointsFollowTheWeights) {
  const std::vector<Point> p = {{0, 0}, {10, 0}, {20, 10}, {30, 10}};
  auto curve = catmullRomSpline(p, 4);
  // Midway between p1 and p2 (t = 0.5): weights -1/16, 9/16, 9/16, -1/16.
  EXPECT_FLOAT_EQ(float(curve[6].x), 15.0f);
  EXPECT_FLOAT_EQ(float(curve[6].y), 5.0f);
  // The first span treats the point before p0 as p0 itself.
  EXPECT_FLOAT_EQ(float(curve[2].x), float((-1.0 / 16 + 9.0 / 16) * 0 + 9.0 / 16 * 10 - 1.0 / 16 * 20));
}

TEST(SignatureGeometry, DistanceFromDegenerateLineIsFromItsPoint) {
  EXPECT_FLOAT_EQ(perpendicularDistance({3, 4}, {0, 0}, {0, 0}), 5.0f);
  EXPECT_FLOAT_EQ(perpendicularDistance({0, 0}, {0, 0}, {10, 0}), 0.0f);
  EXPECT_NEAR(perpendicularDistance({5, 3}, {0, 0}, {10, 0}), 3.0f, 1e-5);
}

}  // namespace
}  // namespace orvo
