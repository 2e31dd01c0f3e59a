#include "sdk/foundation/KXTouchIdentity.h"

#include <climits>

namespace kestra {

KXTouchIdentity::KXTouchIdentity(const foundation::Bytes& response) {
  size_t i = 0;
  long long v = 0;
  while (i < response.size() && response[i] >= '0' && response[i] <= '9') {
    if (v < INT_MAX) v = v * 10 + (response[i] - '0');
    ++i;
  }
  slot = int(v > INT_MAX ? INT_MAX : v);
  if (i < response.size()) ++i;  // the separator
  identityData.assign(response.begin() + std::ptrdiff_t(i), response.end());
}

}  // namespace kestra
