// Feeds arbitrary bytes to the agent's readers of management-server answers (check-in and
// configuration): they must decide without crashing, and a refused check-in always says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "sdk/agent/VexaNetworkAction.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const auto answer = kestra::readCheckInAnswer(body, 200);
  if (!answer.accepted && answer.detail.empty() && !answer.message) std::abort();
  if (auto jobs = kestra::readConfigAnswer(body); jobs && !jobs->is_array()) std::abort();
  return 0;
}
