#include "app/core/APElement.h"

#include "platform/foundation/XmlReader.h"

namespace orvo {

APElement::Ptr APElement::elementWithName(std::string name, Attributes attributes) {
  return std::make_shared<APElement>(std::move(name), std::move(attributes));
}

APElement::APElement(std::string name, Attributes attributes)
    : name_(std::move(name)), attributes_(std::move(attributes)) {}

APElement::~APElement() {
  // Children whose last owner is this subtree are taken apart one at a time.
  std::vector<Ptr> pending = std::move(children_);
  while (!pending.empty()) {
    Ptr child = std::move(pending.back());
    pending.pop_back();
    if (child.use_count() == 1) {
      for (auto& grandchild : child->children_) pending.push_back(std::move(grandchild));
      child->children_.clear();
    }
  }
}

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

void APElement::writeStart(std::string& out, size_t depth, bool pretty) const {
  if (pretty) out.append(depth * 2, ' ');
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
  } else {
    out += xmlEncode(*value_);
    writeEnd(out, depth, false);
    if (pretty) out += '\n';
  }
}

void APElement::writeEnd(std::string& out, size_t depth, bool pretty) const {
  if (pretty) out.append(depth * 2, ' ');
  out += "</";
  out += name_;
  out += pretty ? ">\n" : ">";
}

void APElement::write(std::string& out, bool pretty) const {
  // Depth first with an explicit stack of (element, next child to write).
  std::vector<std::pair<const APElement*, size_t>> stack;
  writeStart(out, 0, pretty);
  if (!children_.empty()) stack.emplace_back(this, 0);
  while (!stack.empty()) {
    auto& [element, next] = stack.back();
    if (next == element->children_.size()) {
      const APElement* done = element;
      stack.pop_back();
      done->writeEnd(out, stack.size(), pretty);
      continue;
    }
    const APElement* child = element->children_[next++].get();
    child->writeStart(out, stack.size(), pretty);
    if (!child->children_.empty()) stack.emplace_back(child, 0);
  }
}

std::string APElement::xml() const {
  std::string out;
  write(out, false);
  return out;
}

std::string APElement::prettyXML() const {
  std::string out;
  write(out, true);
  return out;
}

}  // namespace orvo
