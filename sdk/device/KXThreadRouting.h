#pragma once
// Routing of one thread's device API calls to one device type, for work the SDK does on its
// own behalf (the management agent's configuration jobs). While a `KXThreadRouting` lives,
// the calls its constructing thread makes through `devices` are routed as if `type` were the
// active device type (an unconnected device then answers with its own error); every other
// thread, and this one afterwards, keeps the active type as it is, automatic routing
// included. Scopes nest; each must end on the thread that made it.

#include <optional>

namespace kestra {

class KXDevices;

class KXThreadRouting {
 public:
  KXThreadRouting(const KXDevices& devices, int type);
  ~KXThreadRouting();
  KXThreadRouting(const KXThreadRouting&) = delete;
  KXThreadRouting& operator=(const KXThreadRouting&) = delete;

  // The type routed for `devices` on the calling thread, if a scope is open for it.
  static std::optional<int> routedType(const KXDevices& devices);

 private:
  const KXDevices* previousDevices_;
  int previousType_;
};

}  // namespace kestra
