#include "platform/foundation/Error.h"

namespace foundation {

std::string Error::description() const {
  return domain + " " + std::to_string(code) + ": " + text;
}

}  // namespace foundation
