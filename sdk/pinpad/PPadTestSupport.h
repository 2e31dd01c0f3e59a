#pragma once
// Helpers shared by the pinpad driver's tests.

#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "testing/devices/pinpad/PinpadTestBench.h"

namespace kestra::testsupport {

using foundation::Bytes;

// The data (sub-command and arguments) of every frame of `group` the host sent, in order.
inline std::vector<Bytes> sentData(devices::SimulatedPinpad& device, uint8_t group) {
  std::vector<Bytes> out;
  for (const auto& f : device.frames().hostFrames())
    if (f.command == group) out.emplace_back(f.bytes.begin() + 5, f.bytes.end() - 1);
  return out;
}

// Sent frames of `group` whose data starts with `prefix`.
inline std::vector<Bytes> sentWith(devices::SimulatedPinpad& device, uint8_t group, const Bytes& prefix) {
  std::vector<Bytes> out;
  for (auto& d : sentData(device, group))
    if (d.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), d.begin())) out.push_back(d);
  return out;
}

// Lines of `log` that start with `prefix`.
inline std::vector<std::string> linesStarting(const devices::CallRecorder& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : log.lines())
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

}  // namespace kestra::testsupport
