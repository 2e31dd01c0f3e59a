#pragma once
// Readers of what BlueZ sends over D-Bus: method replies (GetManagedObjects, ReadValue) and
// the signals the radio follows (InterfacesAdded, InterfacesRemoved, PropertiesChanged).
//
// Bad input: a message whose signature is not the one BlueZ documents is refused whole
// (nothing, or an empty result) before a value is read, so a stray or forged message on
// the bus can never make a reader take a number for a string; values of types the radio
// does not use are kept as their type only.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

struct DBusMessage;
struct DBusMessageIter;

namespace bluetooth::bluez {

// A property value of the types BlueZ uses here (`type` is the D-Bus type code).
struct Value {
  int type = 0;
  bool b = false;
  std::string text;
  std::vector<std::string> texts;
  foundation::Bytes bytes;
};
using Props = std::map<std::string, Value>;
using Interfaces = std::map<std::string, Props>;

// a{sv} and a{sa{sv}} at the iterator; empty when it stands on anything else.
Props readProps(DBusMessageIter* dict);
Interfaces readInterfaces(DBusMessageIter* dict);

// GetManagedObjects' reply, a{oa{sa{sv}}}: path -> interfaces.
std::map<std::string, Interfaces> readManagedObjects(DBusMessage* reply);
// ReadValue's reply, ay.
foundation::Bytes readByteArray(DBusMessage* reply);

struct Signal {
  enum class Kind { InterfacesAdded, InterfacesRemoved, PropertiesChanged };
  Kind kind = Kind::PropertiesChanged;
  std::string path;        // the sender's object path
  std::string object;      // InterfacesAdded/Removed: the object
  Interfaces added;        // InterfacesAdded
  std::string changedIface;  // PropertiesChanged: the interface whose properties changed
  Props changed;           // PropertiesChanged
};
// Nothing for a message that is not one of the three signals with its documented signature.
std::optional<Signal> readSignal(DBusMessage* message);

}  // namespace bluetooth::bluez
