#pragma once
// Builds an `APElement` tree from the events of the platform's XML reader. The first
// element started becomes the root; character chunks go to the open element's value.
// Reading stops at the first malformed spot and the tree keeps what was built so far.

#include <string_view>

#include "app/core/APElement.h"
#include "platform/foundation/Error.h"

namespace orvo {

class APXMLBuilder {
 public:
  // Reads `document`; returns false (with `error` filled) when it is malformed, in which
  // case `rootElement()` holds the part built before the fault.
  bool build(std::string_view document, foundation::Error* error = nullptr);

  const APElement::Ptr& rootElement() const { return rootElement_; }

 private:
  void startElement(const std::string& name, APElement::Attributes attributes);
  void endElement();
  void characters(std::string_view text);

  APElement::Ptr rootElement_;
  APElement* openElement_ = nullptr;
  APElement* parentElement_ = nullptr;
};

}  // namespace orvo
