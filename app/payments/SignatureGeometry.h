#pragma once
// The stroke geometry of the signature pad: Douglas-Peucker simplification and uniform
// Catmull-Rom smoothing, in the pad's single-precision arithmetic. Pure functions; any
// thread.

#include <vector>

#include "platform/ui/Geometry.h"

namespace orvo {

// Distance of `p` from the line through `a` and `b`. When `a` equals `b` it is the distance
// from `a`, so a stroke that ends where it began keeps its shape.
float perpendicularDistance(ui::Point p, ui::Point a, ui::Point b);

// Keeps the points that matter by more than `epsilon`; fewer than 3 points come back as given.
std::vector<ui::Point> douglasPeucker(const std::vector<ui::Point>& points, float epsilon);

// `segments` - 1 new points between each pair of neighbours; fewer than 4 points come back
// as given. Control points are carried over exactly.
std::vector<ui::Point> catmullRomSpline(const std::vector<ui::Point>& points, int segments);

}  // namespace orvo
