#include "platform/bluetooth/BlueZReplies.h"

#include <dbus/dbus.h>

#include <cstring>

namespace bluetooth::bluez {

namespace {

constexpr const char* kPropsIface = "org.freedesktop.DBus.Properties";
constexpr const char* kObjectManagerIface = "org.freedesktop.DBus.ObjectManager";

Value readVariant(DBusMessageIter* variant) {
  Value v;
  DBusMessageIter inner;
  dbus_message_iter_recurse(variant, &inner);
  v.type = dbus_message_iter_get_arg_type(&inner);
  switch (v.type) {
    case DBUS_TYPE_BOOLEAN: {
      dbus_bool_t b = 0;
      dbus_message_iter_get_basic(&inner, &b);
      v.b = b;
      break;
    }
    case DBUS_TYPE_STRING:
    case DBUS_TYPE_OBJECT_PATH: {
      const char* s = nullptr;
      dbus_message_iter_get_basic(&inner, &s);
      v.text = s ? s : "";
      break;
    }
    case DBUS_TYPE_ARRAY: {
      DBusMessageIter items;
      const int element = dbus_message_iter_get_element_type(&inner);
      dbus_message_iter_recurse(&inner, &items);
      if (element == DBUS_TYPE_BYTE) {
        const unsigned char* data = nullptr;
        int n = 0;
        dbus_message_iter_get_fixed_array(&items, &data, &n);
        if (data && n > 0) v.bytes.assign(data, data + n);
      } else if (element == DBUS_TYPE_STRING || element == DBUS_TYPE_OBJECT_PATH) {
        while (dbus_message_iter_get_arg_type(&items) == element) {
          const char* s = nullptr;
          dbus_message_iter_get_basic(&items, &s);
          if (s) v.texts.emplace_back(s);
          dbus_message_iter_next(&items);
        }
      }
      break;
    }
    default: break;
  }
  return v;
}

bool is(const char* a, const char* b) { return a && std::strcmp(a, b) == 0; }

}  // namespace

Props readProps(DBusMessageIter* dict) {
  Props props;
  if (dbus_message_iter_get_arg_type(dict) != DBUS_TYPE_ARRAY) return props;
  DBusMessageIter entries;
  dbus_message_iter_recurse(dict, &entries);
  while (dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&entries, &entry);
    const char* key = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
      dbus_message_iter_get_basic(&entry, &key);
      dbus_message_iter_next(&entry);
      if (key && dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) props[key] = readVariant(&entry);
    }
    dbus_message_iter_next(&entries);
  }
  return props;
}

Interfaces readInterfaces(DBusMessageIter* dict) {
  Interfaces out;
  if (dbus_message_iter_get_arg_type(dict) != DBUS_TYPE_ARRAY) return out;
  DBusMessageIter entries;
  dbus_message_iter_recurse(dict, &entries);
  while (dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&entries, &entry);
    const char* name = nullptr;
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
      dbus_message_iter_get_basic(&entry, &name);
      dbus_message_iter_next(&entry);
      if (name) out[name] = readProps(&entry);
    }
    dbus_message_iter_next(&entries);
  }
  return out;
}

std::map<std::string, Interfaces> readManagedObjects(DBusMessage* reply) {
  std::map<std::string, Interfaces> out;
  if (!reply || !dbus_message_has_signature(reply, "a{oa{sa{sv}}}")) return out;
  DBusMessageIter top, objects;
  if (!dbus_message_iter_init(reply, &top)) return out;
  dbus_message_iter_recurse(&top, &objects);
  while (dbus_message_iter_get_arg_type(&objects) == DBUS_TYPE_DICT_ENTRY) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&objects, &entry);
    const char* path = nullptr;
    dbus_message_iter_get_basic(&entry, &path);
    dbus_message_iter_next(&entry);
    if (path) out[path] = readInterfaces(&entry);
    dbus_message_iter_next(&objects);
  }
  return out;
}

foundation::Bytes readByteArray(DBusMessage* reply) {
  foundation::Bytes value;
  DBusMessageIter top, items;
  if (!reply || !dbus_message_has_signature(reply, "ay") || !dbus_message_iter_init(reply, &top)) return value;
  dbus_message_iter_recurse(&top, &items);
  const unsigned char* data = nullptr;
  int n = 0;
  dbus_message_iter_get_fixed_array(&items, &data, &n);
  if (data && n > 0) value.assign(data, data + n);
  return value;
}

std::optional<Signal> readSignal(DBusMessage* msg) {
  if (!msg || dbus_message_get_type(msg) != DBUS_MESSAGE_TYPE_SIGNAL) return std::nullopt;
  const char* iface = dbus_message_get_interface(msg);
  const char* member = dbus_message_get_member(msg);
  const char* path = dbus_message_get_path(msg);
  if (!iface || !member || !path) return std::nullopt;
  Signal s;
  s.path = path;
  if (is(iface, kObjectManagerIface) && is(member, "InterfacesAdded")) {
    s.kind = Signal::Kind::InterfacesAdded;
    if (!dbus_message_has_signature(msg, "oa{sa{sv}}")) return std::nullopt;
  } else if (is(iface, kObjectManagerIface) && is(member, "InterfacesRemoved")) {
    s.kind = Signal::Kind::InterfacesRemoved;
    if (!dbus_message_has_signature(msg, "oas")) return std::nullopt;
  } else if (is(iface, kPropsIface) && is(member, "PropertiesChanged")) {
    s.kind = Signal::Kind::PropertiesChanged;
    if (!dbus_message_has_signature(msg, "sa{sv}as")) return std::nullopt;
  } else {
    return std::nullopt;
  }
  DBusMessageIter it;
  if (!dbus_message_iter_init(msg, &it)) return std::nullopt;
  const char* first = nullptr;
  dbus_message_iter_get_basic(&it, &first);
  if (!first) return std::nullopt;
  dbus_message_iter_next(&it);
  switch (s.kind) {
    case Signal::Kind::InterfacesAdded:
      s.object = first;
      s.added = readInterfaces(&it);
      break;
    case Signal::Kind::InterfacesRemoved: s.object = first; break;
    case Signal::Kind::PropertiesChanged:
      s.changedIface = first;
      s.changed = readProps(&it);
      break;
  }
  return s;
}

}  // namespace bluetooth::bluez
