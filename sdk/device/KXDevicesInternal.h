#pragma once
// Helpers shared by the source files of KXDevices; not part of the SDK's interface.

#include <functional>

namespace kestra {

class KXDevices;

// Runs an encrypted-head library call on behalf of `api`: `call` receives the owner to pass
// to the library, whose commands then travel through `api`'s routed transport.
int emsrCall(KXDevices* api, const std::function<int(void*)>& call);

}  // namespace kestra
