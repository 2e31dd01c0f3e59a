#pragma once
// The SDK's table of standard error texts. Drivers use it when a device or a lower layer
// hands back a bare numeric code: device status codes (-16501 to -16549, a device status n
// reported as -(16500 + n)), the SDK's generic codes (0 to -23) and the encrypted magnetic
// head's codes (-11001 to -11023, a head status s reported as -(11000 + s)).
//
// Stateless; any thread.

namespace kestra {

class KXErrors {
 public:
  // The standard English text of `code`; "Unknown error" for every code without one. The
  // result is a constant text with static lifetime, never null.
  static const char* getErrorDescription(int code);
};

}  // namespace kestra
