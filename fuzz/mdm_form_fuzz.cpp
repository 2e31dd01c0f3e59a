// Feeds arbitrary bytes to the management server fixture's form reader: it must refuse or
// give named parts whose values lie within the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "testing/mdm/MdmServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  auto parts = mdm::parseMultipart(body, "--Vexa-Boundary-X");
  if (!parts) return 0;
  size_t total = 0;
  for (const auto& p : *parts) total += p.value.size();
  if (total > size) std::abort();
  return 0;
}
