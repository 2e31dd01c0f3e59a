#pragma once
// An XML document read into the small element model (see APElement.h). Reading never
// throws: a malformed document keeps the elements built before the fault, and an empty or
// unreadable one has no root.

#include <string_view>

#include "app/core/APElement.h"
#include "platform/foundation/Error.h"

namespace orvo {

class APDocument {
 public:
  static APDocument documentWithXMLString(std::string_view text) { return APDocument(text); }
  // Reads `text` (UTF-8) with the platform's event-driven reader.
  explicit APDocument(std::string_view text);
  explicit APDocument(APElement::Ptr root) : rootElement_(std::move(root)) {}

  const APElement::Ptr& rootElement() const { return rootElement_; }
  // Whether the whole text was well-formed, and what stopped the reading when not.
  bool wellFormed() const { return !parseError_.isError(); }
  const foundation::Error& parseError() const { return parseError_; }

 private:
  APElement::Ptr rootElement_;
  foundation::Error parseError_;
};

}  // namespace orvo
