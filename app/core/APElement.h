#pragma once
// One element of the small XML document model that reads server answers: a name, the
// attributes, the text collected inside it and the child elements in document order.
//
// An element owns its children; `parent()` is a plain back pointer that stays valid while
// the parent lives. The text of an element is the concatenation of every character chunk
// reported while it was the open element, so a parent also collects the white space between
// its children. Not thread-safe; one document is read on one thread. Nothing here recurses
// over the tree (freeing, writing), so any depth the reader accepts is safe.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/APAttribute.h"

namespace orvo {

class APElement {
 public:
  using Attributes = std::map<std::string, std::string>;
  using Ptr = std::shared_ptr<APElement>;

  static Ptr elementWithName(std::string name, Attributes attributes = {});
  explicit APElement(std::string name, Attributes attributes = {});
  // Frees the subtree without recursion, so a document nested a million levels deep is
  // freed as safely as a flat one.
  ~APElement();
  APElement(const APElement&) = delete;
  APElement& operator=(const APElement&) = delete;

  const std::string& name() const { return name_; }
  // The text added so far, or nothing when no text was ever added.
  const std::optional<std::string>& value() const { return value_; }
  APElement* parent() const { return parent_; }
  const Attributes& attributes() const { return attributes_; }

  // Makes `child` the last child of this element and this element its parent.
  void addChild(Ptr child);
  // Creates the value on first use, then appends.
  void appendValue(std::string_view text);
  void changeValue(std::string text) { value_ = std::move(text); }

  void addAttribute(const APAttribute& attribute) { attributes_[attribute.name] = attribute.value; }
  void addAttributeNamed(std::string name, std::string value) { attributes_[std::move(name)] = std::move(value); }
  void addAttributes(const Attributes& attributes);
  std::optional<std::string> valueForAttributeNamed(std::string_view name) const;
  size_t attributeCount() const { return attributes_.size(); }

  const std::vector<Ptr>& childElements() const { return children_; }
  // The direct children named exactly `name` (prefix included), in document order.
  std::vector<Ptr> childElements(std::string_view name) const;
  APElement* firstChildElement() const;
  APElement* firstChildElementNamed(std::string_view name) const;
  size_t childCount() const { return children_.size(); }

  // The element written back as XML with "&", "<", ">", "'" and '"' encoded; `prettyXML`
  // puts each element on its own line, indented by two spaces per level.
  std::string xml() const;
  std::string prettyXML() const;

 private:
  void write(std::string& out, bool pretty) const;
  void writeStart(std::string& out, size_t depth, bool pretty) const;
  void writeEnd(std::string& out, size_t depth, bool pretty) const;

  std::string name_;
  std::optional<std::string> value_;
  APElement* parent_ = nullptr;
  Attributes attributes_;
  std::vector<Ptr> children_;
};

// XML entity encoding of the five special characters.
std::string xmlEncode(std::string_view text);

}  // namespace orvo
