#include "app/core/APElement.h"

#include "platform/foundation/XmlReader.h"

namespace orvo {

APElement::Ptr APElement::elementWithName(std::string name, Attributes attributes) {
  return std::make_shared<APElement>(std::move(name), std::move(attributes));
}

APElement::APElement(std::string name, Attributes attributes)
    : name_(std::move(name)), attributes_(std::move(attributes)) {}

void APElement::addChild(Ptr child) {
  if (!child) return;
  child->parent_ = this;
  children_.push_back(std::move(child));
}

void APElement::appendValue(std::string_view text) {
  if (!value_) value_.emplace();
  value_->append(text);
}

void APElement::addAttributes(const Attributes& attributes) {
  for (const auto& [k, v] : attributes) attributes_[k] = v;
}

std::optional<std::string> APElement::valueForAttributeNamed(std::string_view name) const {
  auto it = attributes_.find(std::string(name));
  if (it == attributes_.end()) return std::nullopt;
  return it->second;
}

std::vector<APElement::Ptr> APElement::childElements(std::string_view name) const {
  std::vector<Ptr> out;
  for (const auto& c : children_)
    if (c->name_ == name) out.push_back(c);
  return out;
}

APElement* APElement::firstChildElement() const {
  return children_.empty() ? nullptr : children_.front().get();
}

APElement* APElement::firstChildElementNamed(std::string_view name) const {
  for (const auto& c : children_)
    if (c->name_ == name) return c.get();
  return nullptr;
}

std::string xmlEncode(std::string_view text) { return foundation::xmlEscape(text, true); }

void APElement::write(std::string& out, int depth, bool pretty) const {
  if (pretty) out.append(size_t(depth) * 2, ' ');
  out += '<';
  out += name_;
  for (const auto& [k, v] : attributes_) {
    out += ' ';
    out += k;
    out += "=\"";
    out += xmlEncode(v);
    out += '"';
  }
  if (children_.empty() && !value_) {
    out += pretty ? "/>\n" : "/>";
    return;
  }
  out += '>';
  if (!children_.empty()) {
    if (pretty) out += '\n';
    for (const auto& c : children_) c->write(out, depth + 1, pretty);
    if (pretty) out.append(size_t(depth) * 2, ' ');
  } else if (value_) {
    out += xmlEncode(*value_);
  }
  out += "</";
  out += name_;
  out += pretty ? ">\n" : ">";
}

std::string APElement::xml() const {
  std::string out;
  write(out, 0, false);
  return out;
}

std::string APElement::prettyXML() const {
  std::string out;
  write(out, 0, true);
  return out;
}

}  // namespace orvo
