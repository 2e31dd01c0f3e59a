#pragma once
// The phone's identity as the agent reports it: its name (the host name), its model (the
// machine's product name, or "Linux"), the operating system's name and version (uname), and
// the machine type (uname's machine, "x86_64"). Tests replace them with `setOverride`.
//
// Thread-safe; read fresh on every call unless overridden.

#include <optional>
#include <string>

namespace system_info {

struct PhoneFacts {
  std::string name;
  std::string model;
  std::string systemName;
  std::string systemVersion;
  std::string deviceType;
};

PhoneFacts phoneFacts();
void setPhoneFactsOverride(std::optional<PhoneFacts> facts);

}  // namespace system_info
