#include "platform/system/NetworkManagerWifi.h"

#include <dbus/dbus.h>

#include <mutex>
#include <vector>

#include "platform/system/DBusPropertyReply.h"
#include "platform/system/NetworkInfo.h"

namespace system_info {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kManagerIface = "org.freedesktop.NetworkManager";
constexpr const char* kDeviceIface = "org.freedesktop.NetworkManager.Device";
constexpr const char* kWirelessIface = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char* kActiveIface = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kApIface = "org.freedesktop.NetworkManager.AccessPoint";
constexpr uint32_t kDeviceTypeWifi = 2;

using Value = DBusPropertyValue;

class Session {
 public:
  Session(const std::string& bus, Clock::time_point deadline) : deadline_(deadline) {
    static std::once_flag threads;
    std::call_once(threads, [] { dbus_threads_init_default(); });
    DBusError err;
    dbus_error_init(&err);
    if (bus.empty()) {
      conn_ = dbus_bus_get_private(DBUS_BUS_SYSTEM, &err);
    } else {
      conn_ = dbus_connection_open_private(bus.c_str(), &err);
      if (conn_ && !dbus_bus_register(conn_, &err)) close();
    }
    if (conn_) dbus_connection_set_exit_on_disconnect(conn_, FALSE);
    if (dbus_error_is_set(&err)) {
      error_ = err.message ? err.message : "The bus could not be reached.";
      dbus_error_free(&err);
    }
  }
  ~Session() { close(); }

  bool ok() const { return conn_ != nullptr; }
  const std::string& error() const { return error_; }
  bool timedOut() const { return timedOut_; }

  // The property `name` of `iface` on `path`; nothing when it is not there or the call fails.
  std::optional<Value> get(const std::string& path, const char* iface, const char* name) {
    if (!conn_ || !error_.empty()) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    if (left <= 0) {
      timedOut_ = true;
      error_ = "NetworkManager did not answer in time.";
      return std::nullopt;
    }
    DBusMessage* call = dbus_message_new_method_call(kService, path.c_str(), "org.freedesktop.DBus.Properties", "Get");
    if (!call) return std::nullopt;
    dbus_message_append_args(call, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    DBusError err;
    dbus_error_init(&err);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(conn_, call, int(left), &err);
    dbus_message_unref(call);
    if (!reply) {
      const std::string errName = err.name ? err.name : "";
      if (errName == DBUS_ERROR_NO_REPLY || errName == DBUS_ERROR_TIMEOUT) {
        timedOut_ = true;
        error_ = "NetworkManager did not answer in time.";
      } else if (errName == DBUS_ERROR_SERVICE_UNKNOWN || errName == DBUS_ERROR_NAME_HAS_NO_OWNER ||
                 errName == DBUS_ERROR_DISCONNECTED) {
        error_ = err.message ? err.message : "NetworkManager is not running.";
      }
      // Other errors (an unknown property or object) only mean "not there".
      dbus_error_free(&err);
      return std::nullopt;
    }
    std::optional<Value> value = readPropertyReply(reply);
    dbus_message_unref(reply);
    return value;
  }

 private:
  void close() {
    if (!conn_) return;
    dbus_connection_close(conn_);
    dbus_connection_unref(conn_);
    conn_ = nullptr;
  }

  DBusConnection* conn_ = nullptr;
  Clock::time_point deadline_;
  std::string error_;
  bool timedOut_ = false;
};

std::string objectPath(const std::optional<Value>& v) {
  if (!v || v->type != DBUS_TYPE_OBJECT_PATH || v->text == "/") return {};
  return v->text;
}

}  // namespace

std::optional<WifiNetwork> queryNetworkManagerWifi(const std::string& bus, std::chrono::milliseconds timeout,
                                                   foundation::Error* error) {
  Session s(bus, Clock::now() + timeout);
  auto fail = [&]() -> std::optional<WifiNetwork> {
    foundation::fail(error, foundation::Error(kNetworkManagerErrorDomain, s.timedOut() ? -1001 : -1,
                                              s.error().empty() ? "NetworkManager could not be asked." : s.error()));
    return std::nullopt;
  };
  if (!s.ok()) return fail();
  auto devices = s.get(kManagerPath, kManagerIface, "Devices");
  if (!s.error().empty()) return fail();
  if (!devices || devices->type != DBUS_TYPE_ARRAY) return std::nullopt;
  for (const auto& device : devices->paths) {
    auto type = s.get(device, kDeviceIface, "DeviceType");
    if (!type || type->type != DBUS_TYPE_UINT32 || type->u != kDeviceTypeWifi) {
      if (!s.error().empty()) return fail();
      continue;
    }
    std::string ap = objectPath(s.get(device, kWirelessIface, "ActiveAccessPoint"));
    if (ap.empty()) {
      if (std::string active = objectPath(s.get(device, kDeviceIface, "ActiveConnection")); !active.empty())
        ap = objectPath(s.get(active, kActiveIface, "SpecificObject"));
    }
    if (!s.error().empty()) return fail();
    if (ap.empty()) continue;
    auto ssid = s.get(ap, kApIface, "Ssid");
    auto bssid = s.get(ap, kApIface, "HwAddress");
    if (!s.error().empty()) return fail();
    WifiNetwork w;
    if (ssid && ssid->type == DBUS_TYPE_ARRAY && !ssid->bytes.empty()) w.ssid = ssid->bytes;
    if (bssid && bssid->type == DBUS_TYPE_STRING && !bssid->text.empty()) w.bssid = bssid->text;
    return w;
  }
  return std::nullopt;
}

std::optional<DBusPropertyValue> readPropertyReply(DBusMessage* reply) {
  if (!reply || !dbus_message_has_signature(reply, "v")) return std::nullopt;
  DBusMessageIter top, variant;
  if (!dbus_message_iter_init(reply, &top) || dbus_message_iter_get_arg_type(&top) != DBUS_TYPE_VARIANT)
    return std::nullopt;
  dbus_message_iter_recurse(&top, &variant);
  DBusPropertyValue v;
  v.type = dbus_message_iter_get_arg_type(&variant);
  switch (v.type) {
    case DBUS_TYPE_UINT32: dbus_message_iter_get_basic(&variant, &v.u); return v;
    case DBUS_TYPE_STRING:
    case DBUS_TYPE_OBJECT_PATH: {
      const char* s = nullptr;
      dbus_message_iter_get_basic(&variant, &s);
      v.text = s ? s : "";
      return v;
    }
    case DBUS_TYPE_ARRAY: {
      DBusMessageIter items;
      const int element = dbus_message_iter_get_element_type(&variant);
      dbus_message_iter_recurse(&variant, &items);
      if (element == DBUS_TYPE_BYTE) {
        const unsigned char* data = nullptr;
        int n = 0;
        dbus_message_iter_get_fixed_array(&items, &data, &n);
        if (data && n > 0) v.bytes.assign(reinterpret_cast<const char*>(data), size_t(n));
        return v;
      }
      if (element == DBUS_TYPE_OBJECT_PATH) {
        while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_OBJECT_PATH) {
          const char* s = nullptr;
          dbus_message_iter_get_basic(&items, &s);
          if (s) v.paths.emplace_back(s);
          dbus_message_iter_next(&items);
        }
        return v;
      }
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

}  // namespace system_info
