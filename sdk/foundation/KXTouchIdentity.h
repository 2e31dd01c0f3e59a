#pragma once
// An identity stored in a fingerprint module's slot, read from the module's reply: the
// leading decimal digits are the slot, the next byte separates, the rest is the identity.

#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra {

struct KXTouchIdentity {
  int slot = 0;
  foundation::Bytes identityData;

  KXTouchIdentity() = default;
  // A reply of digits only gives an empty identity; an empty reply slot 0.
  explicit KXTouchIdentity(const foundation::Bytes& response);
  static KXTouchIdentity initWithResponse(const foundation::Bytes& response) {
    return KXTouchIdentity(response);
  }

  // The identity data as ASCII text.
  std::string identityString() const { return std::string(identityData.begin(), identityData.end()); }
  std::string getIdentityString() const { return identityString(); }
};

}  // namespace kestra
