// BlueZ's messages read as the radio reads them, built in the process: the documented
// signatures are read, and a stray message of another signature on the bus is refused before
// any value is taken from it (a number read as an object path would crash the radio).
#include "platform/bluetooth/BlueZReplies.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <memory>

namespace bluetooth::bluez {
namespace {

using Message = std::unique_ptr<DBusMessage, decltype(&dbus_message_unref)>;

Message signal(const char* iface, const char* member) {
  return Message(dbus_message_new_signal("/org/bluez/hci0", iface, member), &dbus_message_unref);
}

void appendDeviceInterfaces(DBusMessageIter* it, const char* address) {
  DBusMessageIter ifs, ie, props, e, v;
  const char* iface = "org.bluez.Device1";
  const char* key = "Address";
  dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "{sa{sv}}", &ifs);
  dbus_message_iter_open_container(&ifs, DBUS_TYPE_DICT_ENTRY, nullptr, &ie);
  dbus_message_iter_append_basic(&ie, DBUS_TYPE_STRING, &iface);
  dbus_message_iter_open_container(&ie, DBUS_TYPE_ARRAY, "{sv}", &props);
  dbus_message_iter_open_container(&props, DBUS_TYPE_DICT_ENTRY, nullptr, &e);
  dbus_message_iter_append_basic(&e, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&e, DBUS_TYPE_VARIANT, "s", &v);
  dbus_message_iter_append_basic(&v, DBUS_TYPE_STRING, &address);
  dbus_message_iter_close_container(&e, &v);
  dbus_message_iter_close_container(&props, &e);
  dbus_message_iter_close_container(&ie, &props);
  dbus_message_iter_close_container(&ifs, &ie);
  dbus_message_iter_close_container(it, &ifs);
}

TEST(BlueZReplies, InterfacesAddedIsReadWithItsObjectAndProperties) {
  auto m = signal("org.freedesktop.DBus.ObjectManager", "InterfacesAdded");
  DBusMessageIter it;
  dbus_message_iter_init_append(m.get(), &it);
  const char* path = "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF";
  dbus_message_iter_append_basic(&it, DBUS_TYPE_OBJECT_PATH, &path);
  appendDeviceInterfaces(&it, "AA:BB:CC:DD:EE:FF");
  auto s = readSignal(m.get());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->kind, Signal::Kind::InterfacesAdded);
  EXPECT_EQ(s->object, path);
  EXPECT_EQ(s->added["org.bluez.Device1"]["Address"].text, "AA:BB:CC:DD:EE:FF");
}

TEST(BlueZReplies, SignalsOfAnotherSignatureAreRefusedBeforeAnythingIsRead) {
  // Each carries a number where the radio expects an object path or a name.
  struct Case {
    const char* iface;
    const char* member;
  } cases[] = {{"org.freedesktop.DBus.ObjectManager", "InterfacesAdded"},
               {"org.freedesktop.DBus.ObjectManager", "InterfacesRemoved"},
               {"org.freedesktop.DBus.Properties", "PropertiesChanged"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.member);
    auto m = signal(c.iface, c.member);
    DBusMessageIter it;
    dbus_message_iter_init_append(m.get(), &it);
    const dbus_uint32_t number = 0x41414141;
    dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &number);
    appendDeviceInterfaces(&it, "AA:BB:CC:DD:EE:FF");
    EXPECT_FALSE(readSignal(m.get()));
  }
  // A PropertiesChanged without its list of invalidated names is not the signal either.
  auto m = signal("org.freedesktop.DBus.Properties", "PropertiesChanged");
  const char* iface = "org.bluez.Device1";
  dbus_message_append_args(m.get(), DBUS_TYPE_STRING, &iface, DBUS_TYPE_INVALID);
  EXPECT_FALSE(readSignal(m.get()));
}

TEST(BlueZReplies, RepliesOfAnotherSignatureAreEmpty) {
  std::unique_ptr<DBusMessage, decltype(&dbus_message_unref)> call(
      dbus_message_new_method_call("org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects"),
      &dbus_message_unref);
  dbus_message_set_serial(call.get(), 1);
  Message reply(dbus_message_new_method_return(call.get()), &dbus_message_unref);
  // An array of 32-bit numbers: not a list of objects, and not the bytes of a value.
  const dbus_uint32_t numbers[] = {1, 2, 3};
  const dbus_uint32_t* p = numbers;
  dbus_message_append_args(reply.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_UINT32, &p, 3, DBUS_TYPE_INVALID);
  EXPECT_TRUE(readManagedObjects(reply.get()).empty());
  EXPECT_TRUE(readByteArray(reply.get()).empty());

  Message bytes(dbus_message_new_method_return(call.get()), &dbus_message_unref);
  const unsigned char value[] = {0x02, 0x00, 0x03};
  const unsigned char* v = value;
  dbus_message_append_args(bytes.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &v, 3, DBUS_TYPE_INVALID);
  EXPECT_EQ(readByteArray(bytes.get()), (foundation::Bytes{0x02, 0x00, 0x03}));
}

}  // namespace
}  // namespace bluetooth::bluez
