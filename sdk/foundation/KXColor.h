#pragma once
// A colour handed to the SDK by applications (page-mode drawing): red, green, blue and alpha
// components from 0.0 to 1.0. A plain value; any thread.

namespace kestra {

struct KXColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
};

}  // namespace kestra
