#pragma once
// Helpers shared by the device API's contactless source files (KXDevicesRF.cpp,
// KXDevicesRFCards.cpp); not part of the SDK's interface.

#include <functional>
#include <string>

#include "platform/foundation/Error.h"

namespace kestra {

// Fills `error` with `code` and `text` (the error table's text for `code` when `text` is
// empty), logs it as "ERROR: ..." and returns false.
bool rfFail(foundation::Error* error, int code, const std::string& text = {});
// An RF layer result: 0 or a count is success; a negative code becomes that error.
bool rfResult(int code, foundation::Error* error);
// An argument error: -9 with `text`.
bool rfInvalid(foundation::Error* error, const std::string& text);
// The BOOL form of a call that returns the bytes it wrote: `bytesWritten` (when given) is
// zeroed, then set to a positive count; true only when something was written and the call
// reported no failure (a write that stopped part-way gives false with its error, and the
// count of what did reach the card).
bool rfWrittenTwin(int* bytesWritten, foundation::Error* error, const std::function<int(foundation::Error*)>& write);

}  // namespace kestra
