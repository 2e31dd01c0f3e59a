// Feeds arbitrary bytes to the back office's request reader. It must give an operation call
// or an error text, never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "testing/backoffice/SoapCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  std::string error;
  backoffice::RequestNamespaces namespaces;
  auto call = backoffice::parseRequestEnvelope(body, &error, &namespaces);
  if (!call && error.empty()) std::abort();
  return 0;
}
