#pragma once
// A name/value pair of an XML attribute. Elements keep their attributes in a map; this
// pair is what callers hand to `APElement::addAttribute`.

#include <string>

namespace orvo {

struct APAttribute {
  std::string name;
  std::string value;
};

}  // namespace orvo
