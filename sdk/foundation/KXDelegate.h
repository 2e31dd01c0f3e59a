#pragma once
// The base of every delegate interface of the SDK. All delegate callbacks are optional; a
// delegate states in its constructor which of them it implements, by the callback's selector
// name ("barcodeNSData:type:"), and callers ask `responds(selector)` before calling. This is
// how the SDK decides, for example, that a delegate implementing both barcode forms gets only
// the first one.
//
// The set is filled once, while the object is being built, and only read afterwards, so
// `responds` may be called from any thread. Delegate interfaces derive from this class
// virtually, so one object that implements several interfaces has one set.

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kestra {

class KXDelegate {
 public:
  virtual ~KXDelegate() = default;

  // Whether this delegate implements the optional callback named `selector`.
  bool responds(std::string_view selector) const {
    return std::find(implemented_.begin(), implemented_.end(), selector) != implemented_.end();
  }

 protected:
  KXDelegate() = default;
  KXDelegate(const KXDelegate&) = default;
  KXDelegate& operator=(const KXDelegate&) = default;

  // Declares callbacks this delegate implements. Call from the constructor only.
  void implements(std::initializer_list<std::string_view> selectors) {
    for (auto s : selectors)
      if (!responds(s)) implemented_.emplace_back(s);
  }

 private:
  std::vector<std::string> implemented_;
};

}  // namespace kestra
