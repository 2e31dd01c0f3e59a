#pragma once
// Plain geometry of the screen model: points, sizes, rectangles and insets in points
// (one point is one pixel at scale 1), and text ranges in UTF-16 code units as the
// text-input delegates see them. Value types; any thread.

#include <algorithm>
#include <cstddef>

namespace ui {

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  Rect() = default;
  Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
  Rect(Point o, Size s) : origin(o), size(s) {}

  double x() const { return origin.x; }
  double y() const { return origin.y; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  double midX() const { return origin.x + size.width / 2; }
  double midY() const { return origin.y + size.height / 2; }
  Point center() const { return {midX(), midY()}; }
  bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
  // Half-open on the right and bottom edges, as the platform's hit testing is.
  bool contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  bool intersects(const Rect& r) const {
    return !isEmpty() && !r.isEmpty() && r.minX() < maxX() && minX() < r.maxX() &&
           r.minY() < maxY() && minY() < r.maxY();
  }
  Rect offsetBy(double dx, double dy) const { return {origin.x + dx, origin.y + dy, size.width, size.height}; }
  Rect insetBy(double dx, double dy) const {
    return {origin.x + dx, origin.y + dy, std::max(0.0, size.width - 2 * dx),
            std::max(0.0, size.height - 2 * dy)};
  }
  bool operator==(const Rect&) const = default;
};

struct EdgeInsets {
  double top = 0, left = 0, bottom = 0, right = 0;
  bool operator==(const EdgeInsets&) const = default;
};

// A range of text in UTF-16 code units (what the text delegates receive).
struct Range {
  size_t location = 0;
  size_t length = 0;
  bool operator==(const Range&) const = default;
};

}  // namespace ui
