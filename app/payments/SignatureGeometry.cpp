#include "app/payments/SignatureGeometry.h"

#include <cmath>

namespace orvo {

float perpendicularDistance(ui::Point p, ui::Point a, ui::Point b) {
  const double vx = b.x - a.x, vy = b.y - a.y;
  const double wx = p.x - a.x, wy = p.y - a.y;
  const float w = float(std::sqrt(wx * wx + wy * wy));
  const float v = float(std::sqrt(vx * vx + vy * vy));
  // A degenerate line (a closed stroke) measures from its one point.
  if (v == 0.0f) return w;
  if (w == 0.0f) return 0.0f;
  const float lengths = v * w;
  const float angle = float(std::acos((vx * wx + vy * wy) / double(lengths)));
  return float(std::sin(double(angle)) * double(w));
}

std::vector<ui::Point> douglasPeucker(const std::vector<ui::Point>& points, float epsilon) {
  if (points.size() < 3) return points;
  const size_t last = points.size() - 1;
  float farthest = 0.0f;
  size_t index = 0;
  for (size_t i = 1; i < last; ++i) {
    const float d = perpendicularDistance(points[i], points[0], points[last]);
    if (d > farthest) {  // NaN never wins
      farthest = d;
      index = i;
    }
  }
  if (farthest > epsilon) {
    auto first = douglasPeucker(std::vector<ui::Point>(points.begin(), points.begin() + long(index) + 1), epsilon);
    auto second = douglasPeucker(std::vector<ui::Point>(points.begin() + long(index), points.end()), epsilon);
    first.pop_back();
    first.insert(first.end(), second.begin(), second.end());
    return first;
  }
  return {points.front(), points.back()};
}

std::vector<ui::Point> catmullRomSpline(const std::vector<ui::Point>& points, int segments) {
  const size_t n = points.size();
  if (n < 4 || segments < 1) return points;
  struct Row { float w0, w1, w2, w3; };
  std::vector<Row> table;
  float t = 0.0f;
  const float step = 1.0f / float(segments);
  for (int i = 0; i < segments; ++i) {
    const float t2 = t * t, t3 = t2 * t;
    table.push_back({0.5f * (-t3 + 2 * t2 - t), 0.5f * (3 * t3 - 5 * t2 + 2), 0.5f * (-3 * t3 + 4 * t2 + t),
                     0.5f * (t3 - t2)});
    t += step;
  }
  auto mix = [](double a, double b, double c, double d, ui::Point p0, ui::Point p1, ui::Point p2, ui::Point p3) {
    return ui::Point{double(float(a * p0.x + b * p1.x + c * p2.x + d * p3.x)),
                     double(float(a * p0.y + b * p1.y + c * p2.y + d * p3.y))};
  };
  std::vector<ui::Point> out;
  out.reserve((n - 1) * size_t(segments) + 1);
  out.push_back(points[0]);
  for (int r = 1; r < segments; ++r) {
    const Row& w = table[size_t(r)];
    out.push_back(mix(double(w.w0) + double(w.w1), w.w2, w.w3, 0, points[0], points[1], points[2], points[2]));
  }
  for (size_t i = 1; i + 2 < n; ++i) {
    out.push_back(points[i]);
    for (int r = 1; r < segments; ++r) {
      const Row& w = table[size_t(r)];
      out.push_back(mix(w.w0, w.w1, w.w2, w.w3, points[i - 1], points[i], points[i + 1], points[i + 2]));
    }
  }
  out.push_back(points[n - 2]);
  for (int r = 1; r < segments; ++r) {
    const Row& w = table[size_t(r)];
    out.push_back(mix(w.w0, w.w1, double(w.w2) + double(w.w3), 0, points[n - 3], points[n - 2], points[n - 1],
                      points[n - 1]));
  }
  out.push_back(points[n - 1]);
  return out;
}

}  // namespace orvo
