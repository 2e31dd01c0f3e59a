// Feeds arbitrary bytes, read as one D-Bus message in its wire format, to the readers of
// what BlueZ and NetworkManager answer and signal: GetManagedObjects, ReadValue, the three
// signals the radio follows, and a property's Get reply. libdbus refuses a malformed
// message; a well-formed one of any signature must be read or refused without a wrong read.
#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/bluetooth/BlueZReplies.h"
#include "platform/system/DBusPropertyReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* message = dbus_message_demarshal(reinterpret_cast<const char*>(data), int(size), &error);
  if (!message) {
    dbus_error_free(&error);
    return 0;
  }
  const auto objects = bluetooth::bluez::readManagedObjects(message);
  const auto bytes = bluetooth::bluez::readByteArray(message);
  if (bytes.size() > size) std::abort();
  if (auto signal = bluetooth::bluez::readSignal(message)) {
    if (signal->path.empty()) std::abort();
  }
  if (auto value = system_info::readPropertyReply(message)) {
    if (value->bytes.size() > size || value->text.size() > size) std::abort();
  }
  dbus_message_unref(message);
  return 0;
}
