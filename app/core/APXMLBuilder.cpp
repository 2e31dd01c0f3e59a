#include "app/core/APXMLBuilder.h"

#include "platform/foundation/XmlReader.h"

namespace orvo {

void APXMLBuilder::startElement(const std::string& name, APElement::Attributes attributes) {
  auto element = APElement::elementWithName(name, std::move(attributes));
  APElement* raw = element.get();
  if (!rootElement_) rootElement_ = element;
  if (openElement_) parentElement_ = openElement_;
  if (parentElement_) parentElement_->addChild(std::move(element));
  openElement_ = raw;
}

void APXMLBuilder::endElement() {
  if (!openElement_) return;
  openElement_ = parentElement_;
  parentElement_ = parentElement_ ? parentElement_->parent() : nullptr;
}

void APXMLBuilder::characters(std::string_view text) {
  if (openElement_) openElement_->appendValue(text);
}

bool APXMLBuilder::build(std::string_view document, foundation::Error* error) {
  foundation::XmlReader reader;
  reader.onStartElement = [this](const std::string& name,
                                 const foundation::XmlReader::Attributes& attrs) {
    APElement::Attributes map;
    for (const auto& [k, v] : attrs) map[k] = v;
    startElement(name, std::move(map));
  };
  reader.onEndElement = [this](const std::string&) { endElement(); };
  reader.onCharacters = [this](std::string_view text) { characters(text); };
  return reader.parse(document, error);
}

}  // namespace orvo
