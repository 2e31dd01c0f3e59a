#pragma once
// The reader of an org.freedesktop.DBus.Properties.Get reply (one variant) for the property
// types the machine facts use: u, s, o, ay and ao. A reply of another signature or type is
// nothing ("not there"), never read as something else.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DBusMessage;

namespace system_info {

struct DBusPropertyValue {
  int type = 0;                    // the D-Bus type code of the variant's value
  uint32_t u = 0;                  // u
  std::string text;                // s or o
  std::string bytes;               // ay
  std::vector<std::string> paths;  // ao
};

std::optional<DBusPropertyValue> readPropertyReply(DBusMessage* reply);

}  // namespace system_info
