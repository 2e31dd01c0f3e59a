#include "app/core/APDocument.h"

#include "app/core/APXMLBuilder.h"

namespace orvo {

APDocument::APDocument(std::string_view text) {
  APXMLBuilder builder;
  builder.build(text, &parseError_);
  rootElement_ = builder.rootElement();
}

}  // namespace orvo
