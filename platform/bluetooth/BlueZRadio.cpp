#include "platform/bluetooth/BlueZRadio.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "platform/bluetooth/BlueZReplies.h"

namespace bluetooth {

namespace {

constexpr const char* kBluez = "org.bluez";
constexpr const char* kAdapterIface = "org.bluez.Adapter1";
constexpr const char* kDeviceIface = "org.bluez.Device1";
constexpr const char* kServiceIface = "org.bluez.GattService1";
constexpr const char* kCharIface = "org.bluez.GattCharacteristic1";
constexpr const char* kObjectManagerIface = "org.freedesktop.DBus.ObjectManager";
constexpr int kCallTimeoutMs = 25000;

using bluez::Interfaces;
using bluez::Props;
using bluez::Value;

void appendVariantString(DBusMessageIter* dict, const char* key, const char* value) {
  DBusMessageIter entry, variant;
  dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant);
  dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &value);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(dict, &entry);
}

std::string lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

struct BlueZRadio::Impl {
  struct Device {
    std::string path;
    std::string address;
    std::string name;
    std::vector<Uuid> uuids;
    bool connected = false;
    bool servicesResolved = false;
    bool servicesWanted = false;
  };

  BlueZRadio* radio = nullptr;
  DBusConnection* conn = nullptr;
  std::string adapter;  // object path
  std::map<std::string, Device> devices;  // by path
  bool scanning = false;
  std::vector<Uuid> scanServices;
  std::set<std::string> reported;  // paths reported by the running scan

  ~Impl() {
    if (conn) {
      dbus_connection_close(conn);
      dbus_connection_unref(conn);
    }
  }

  bool open(const std::string& bus) {
    static std::once_flag threads;
    std::call_once(threads, [] { dbus_threads_init_default(); });
    DBusError err;
    dbus_error_init(&err);
    if (bus.empty()) {
      conn = dbus_bus_get_private(DBUS_BUS_SYSTEM, &err);
    } else {
      conn = dbus_connection_open_private(bus.c_str(), &err);
      if (conn && !dbus_bus_register(conn, &err)) {
        dbus_connection_close(conn);
        dbus_connection_unref(conn);
        conn = nullptr;
      }
    }
    dbus_error_free(&err);
    if (!conn) return false;
    dbus_connection_set_exit_on_disconnect(conn, FALSE);
    dbus_bus_add_match(conn, "type='signal',sender='org.bluez'", nullptr);
    return true;
  }

  // A method call; the reply (to unref) or nullptr with `error` set.
  DBusMessage* call(DBusMessage* msg, std::optional<Error>* error = nullptr) {
    DBusError err;
    dbus_error_init(&err);
    DBusMessage* reply = conn ? dbus_connection_send_with_reply_and_block(conn, msg, kCallTimeoutMs, &err) : nullptr;
    dbus_message_unref(msg);
    if (!reply && error)
      *error = Error(kBluetoothErrorDomain, -1,
                     err.message ? err.message : std::string("Bluetooth is not available."));
    dbus_error_free(&err);
    return reply;
  }

  DBusMessage* method(const std::string& path, const char* iface, const char* name) {
    return dbus_message_new_method_call(kBluez, path.c_str(), iface, name);
  }

  bool simple(const std::string& path, const char* iface, const char* name, std::optional<Error>* error = nullptr) {
    DBusMessage* reply = call(method(path, iface, name), error);
    if (reply) dbus_message_unref(reply);
    return reply != nullptr;
  }

  // Every object BlueZ has: path -> interfaces.
  std::map<std::string, Interfaces> managedObjects() {
    std::map<std::string, Interfaces> out;
    DBusMessage* reply =
        call(dbus_message_new_method_call(kBluez, "/", kObjectManagerIface, "GetManagedObjects"));
    if (!reply) return out;
    out = bluez::readManagedObjects(reply);
    dbus_message_unref(reply);
    return out;
  }

  void refresh() {
    auto objects = managedObjects();
    bool powered = false;
    adapter.clear();
    for (auto& [path, ifaces] : objects) {
      if (auto a = ifaces.find(kAdapterIface); a != ifaces.end() && adapter.empty()) {
        adapter = path;
        powered = a->second.count("Powered") ? a->second["Powered"].b : false;
      }
      if (auto d = ifaces.find(kDeviceIface); d != ifaces.end()) updateDevice(path, d->second);
    }
    setState(adapter.empty() ? CentralState::Unsupported : powered ? CentralState::PoweredOn : CentralState::PoweredOff);
  }

  void setState(CentralState s) {
    if (radio->state_.exchange(s) == s) return;
    for (auto& l : radio->listeners()) l->radioStateChanged(s);
  }

  Device& updateDevice(const std::string& path, const Props& p) {
    Device& d = devices[path];
    d.path = path;
    if (auto it = p.find("Address"); it != p.end()) d.address = it->second.text;
    if (auto it = p.find("Alias"); it != p.end() && d.name.empty()) d.name = it->second.text;
    if (auto it = p.find("Name"); it != p.end()) d.name = it->second.text;
    if (auto it = p.find("UUIDs"); it != p.end()) {
      d.uuids.clear();
      for (const auto& t : it->second.texts)
        if (auto u = Uuid::parse(t)) d.uuids.push_back(*u);
    }
    if (auto it = p.find("Connected"); it != p.end()) d.connected = it->second.b;
    if (auto it = p.find("ServicesResolved"); it != p.end()) d.servicesResolved = it->second.b;
    return d;
  }

  Device* device(const Uuid& id) {
    for (auto& [path, d] : devices)
      if (!d.address.empty() && identifierForAddress(d.address) == id) return &d;
    return nullptr;
  }

  void maybeReport(const Device& d) {
    if (!scanning || d.address.empty() || reported.count(d.path)) return;
    bool match = scanServices.empty() || d.uuids.empty();
    for (const auto& u : d.uuids)
      match = match || std::find(scanServices.begin(), scanServices.end(), u) != scanServices.end();
    if (!match) return;
    reported.insert(d.path);
    Advertisement ad{identifierForAddress(d.address), d.name, d.uuids, -60};
    for (auto& l : radio->listeners()) l->radioDiscovered(ad);
  }

  // ---- GATT objects below a device ----
  std::vector<std::pair<std::string, Uuid>> services(const std::string& devicePath) {
    std::vector<std::pair<std::string, Uuid>> out;
    for (auto& [path, ifaces] : managedObjects()) {
      auto s = ifaces.find(kServiceIface);
      if (s == ifaces.end() || s->second["Device"].text != devicePath) continue;
      if (auto u = Uuid::parse(s->second["UUID"].text)) out.emplace_back(path, *u);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::vector<std::pair<std::string, Uuid>> characteristics(const std::string& servicePath) {
    std::vector<std::pair<std::string, Uuid>> out;
    for (auto& [path, ifaces] : managedObjects()) {
      auto c = ifaces.find(kCharIface);
      if (c == ifaces.end() || c->second["Service"].text != servicePath) continue;
      if (auto u = Uuid::parse(c->second["UUID"].text)) out.emplace_back(path, *u);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string servicePath(const Device& d, const Uuid& service) {
    for (auto& [path, u] : services(d.path))
      if (u == service) return path;
    return {};
  }

  std::string charPath(const Device& d, const Uuid& service, const Uuid& ch) {
    const std::string s = servicePath(d, service);
    if (s.empty()) return {};
    for (auto& [path, u] : characteristics(s))
      if (u == ch) return path;
    return {};
  }

  // The device, service and characteristic of a characteristic path.
  bool locate(const std::string& chPath, Uuid* id, Uuid* service, Uuid* ch) {
    for (auto& [path, d] : devices) {
      if (chPath.rfind(path + "/", 0) != 0 || d.address.empty()) continue;
      for (auto& [sPath, sUuid] : services(path))
        if (chPath.rfind(sPath + "/", 0) == 0)
          for (auto& [cPath, cUuid] : characteristics(sPath))
            if (cPath == chPath) {
              *id = identifierForAddress(d.address);
              *service = sUuid;
              *ch = cUuid;
              return true;
            }
    }
    return false;
  }

  void reportServices(Device& d) {
    d.servicesWanted = false;
    std::vector<Uuid> list;
    for (auto& [path, u] : services(d.path)) list.push_back(u);
    const Uuid id = identifierForAddress(d.address);
    for (auto& l : radio->listeners()) l->radioServicesDiscovered(id, list, std::nullopt);
  }

  // ---- Signals ----
  void handle(DBusMessage* msg) {
    auto signal = bluez::readSignal(msg);
    if (!signal) return;
    const std::string& path = signal->path;
    if (signal->kind == bluez::Signal::Kind::InterfacesAdded) {
      const std::string& obj = signal->object;
      const Interfaces& ifaces = signal->added;
      if (ifaces.count(kAdapterIface) && adapter.empty()) refresh();
      if (auto d = ifaces.find(kDeviceIface); d != ifaces.end()) maybeReport(updateDevice(obj, d->second));
      return;
    }
    if (signal->kind == bluez::Signal::Kind::InterfacesRemoved) {
      const std::string& obj = signal->object;
      if (adapter == obj) refresh();
      if (auto d = devices.find(obj); d != devices.end()) {
        if (d->second.connected) lost(d->second);
        devices.erase(d);
      }
      return;
    }
    const std::string& changedIface = signal->changedIface;
    const Props& changed = signal->changed;
    if (changedIface == kAdapterIface && path == adapter) {
      if (auto p = changed.find("Powered"); p != changed.end())
        setState(p->second.b ? CentralState::PoweredOn : CentralState::PoweredOff);
    } else if (changedIface == kDeviceIface) {
      const bool wasConnected = devices[path].connected;
      Device& d = updateDevice(path, changed);
      if (changed.count("Connected") && d.connected != wasConnected && !d.address.empty()) {
        const Uuid id = identifierForAddress(d.address);
        if (d.connected) {
          for (auto& l : radio->listeners()) l->radioConnected(id);
        } else {
          d.servicesResolved = false;
          for (auto& l : radio->listeners()) l->radioDisconnected(id, std::nullopt);
        }
      }
      if (d.servicesResolved && d.servicesWanted) reportServices(d);
      maybeReport(d);
    } else if (changedIface == kCharIface) {
      if (auto v = changed.find("Value"); v != changed.end()) {
        Uuid id, service, ch;
        if (locate(path, &id, &service, &ch))
          for (auto& l : radio->listeners()) l->radioValueUpdated(id, service, ch, v->second.bytes, std::nullopt);
      }
    }
  }

  void lost(Device& d) {
    d.connected = false;
    d.servicesResolved = false;
    const Uuid id = identifierForAddress(d.address);
    for (auto& l : radio->listeners())
      l->radioDisconnected(id, Error(kBluetoothErrorDomain, 6, "The connection has timed out unexpectedly."));
  }
};

std::shared_ptr<BlueZRadio> BlueZRadio::create(std::string busAddress) {
  return std::shared_ptr<BlueZRadio>(new BlueZRadio(std::move(busAddress)));
}

BlueZRadio::BlueZRadio(std::string busAddress) : busAddress_(std::move(busAddress)), impl_(std::make_unique<Impl>()) {
  impl_->radio = this;
  // The first state is known before the constructor returns, so a central made now reports it.
  if (impl_->open(busAddress_)) impl_->refresh();
  else state_ = CentralState::Unsupported;
  thread_ = std::thread([this] { threadMain(); });
}

BlueZRadio::~BlueZRadio() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

Uuid BlueZRadio::identifierForAddress(const std::string& address) {
  std::string hex;
  for (char c : address)
    if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
  if (hex.size() != 12) return Uuid();
  return Uuid::fromString("00000000-0000-0000-0000-" + hex);
}

void BlueZRadio::post(std::function<void(Impl&)> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  cv_.notify_all();
}

bool BlueZRadio::waitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, timeout, [this] { return jobs_.empty() && running_ == 0; });
}

void BlueZRadio::threadMain() {
  for (;;) {
    std::function<void(Impl&)> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (stop_) return;
      if (!jobs_.empty()) {
        job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
      }
    }
    if (job) {
      try {
        job(*impl_);
      } catch (...) {
      }
    }
    if (impl_->conn) {
      dbus_connection_read_write(impl_->conn, job ? 0 : 10);
      while (DBusMessage* msg = dbus_connection_pop_message(impl_->conn)) {
        try {
          impl_->handle(msg);
        } catch (...) {
        }
        dbus_message_unref(msg);
      }
    } else if (!job) {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stop_ || !jobs_.empty(); });
    }
    if (job) {
      std::lock_guard<std::mutex> lock(mutex_);
      --running_;
    }
    cv_.notify_all();
  }
}

void BlueZRadio::startScan(const std::vector<Uuid>& services) {
  post([services](Impl& m) {
    if (m.adapter.empty()) return;
    m.scanning = true;
    m.scanServices = services;
    m.reported.clear();
    DBusMessage* msg = m.method(m.adapter, kAdapterIface, "SetDiscoveryFilter");
    DBusMessageIter args, dict;
    dbus_message_iter_init_append(msg, &args);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict);
    {
      DBusMessageIter entry, variant, array;
      const char* key = "UUIDs";
      dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
      dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
      dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "as", &variant);
      dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "s", &array);
      for (const auto& u : services) {
        const std::string text = lower(u.string());
        const char* t = text.c_str();
        dbus_message_iter_append_basic(&array, DBUS_TYPE_STRING, &t);
      }
      dbus_message_iter_close_container(&variant, &array);
      dbus_message_iter_close_container(&entry, &variant);
      dbus_message_iter_close_container(&dict, &entry);
    }
    appendVariantString(&dict, "Transport", "le");
    dbus_message_iter_close_container(&args, &dict);
    m.simple(m.adapter, kAdapterIface, "StopDiscovery");  // a filter takes effect on a new discovery
    if (DBusMessage* reply = m.call(msg)) dbus_message_unref(reply);
    m.simple(m.adapter, kAdapterIface, "StartDiscovery");
    for (auto& [path, d] : m.devices) m.maybeReport(d);
  });
}

void BlueZRadio::stopScan() {
  post([](Impl& m) {
    if (!m.scanning) return;
    m.scanning = false;
    if (!m.adapter.empty()) m.simple(m.adapter, kAdapterIface, "StopDiscovery");
  });
}

std::optional<Advertisement> BlueZRadio::knownPeripheral(const Uuid& identifier) {
  std::optional<Advertisement> found;
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  post([&](Impl& impl) {
    if (Impl::Device* d = impl.device(identifier)) found = Advertisement{identifier, d->name, d->uuids, -60};
    std::lock_guard<std::mutex> lock(m);
    done = true;
    cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(m);
  cv.wait_for(lock, std::chrono::milliseconds(kCallTimeoutMs), [&] { return done; });
  if (!done) return std::nullopt;
  return found;
}

void BlueZRadio::connect(const Uuid& peripheral) {
  post([this, peripheral](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    if (!d) return;  // unknown: never answered, as out of range
    if (d->connected) {
      for (auto& l : listeners()) l->radioConnected(peripheral);
      return;
    }
    std::optional<Error> error;
    const std::string path = d->path;
    if (!m.simple(path, kDeviceIface, "Connect", &error)) {
      for (auto& l : listeners()) l->radioConnectFailed(peripheral, *error);
      return;
    }
    // The Connected property change reports the link; a BlueZ that sends none is covered here.
    if (auto it = m.devices.find(path); it != m.devices.end() && !it->second.connected) {
      it->second.connected = true;
      for (auto& l : listeners()) l->radioConnected(peripheral);
    }
  });
}

void BlueZRadio::cancelConnection(const Uuid& peripheral) {
  post([this, peripheral](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    if (!d || !d->connected) return;
    const std::string path = d->path;
    m.simple(path, kDeviceIface, "Disconnect");
    if (auto it = m.devices.find(path); it != m.devices.end() && it->second.connected) {
      it->second.connected = false;
      it->second.servicesResolved = false;
      for (auto& l : listeners()) l->radioDisconnected(peripheral, std::nullopt);
    }
  });
}

void BlueZRadio::discoverServices(const Uuid& peripheral, const std::vector<Uuid>&) {
  post([this, peripheral](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    if (!d || !d->connected) {
      for (auto& l : listeners())
        l->radioServicesDiscovered(peripheral, {}, Error(kBluetoothErrorDomain, 7, "The specified device has disconnected from us."));
      return;
    }
    if (d->servicesResolved)
      m.reportServices(*d);
    else
      d->servicesWanted = true;  // reported when BlueZ has resolved them
  });
}

void BlueZRadio::discoverCharacteristics(const Uuid& peripheral, const Uuid& service, const std::vector<Uuid>& filter) {
  post([this, peripheral, service, filter](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    std::vector<Uuid> found;
    if (d)
      if (const std::string s = m.servicePath(*d, service); !s.empty())
        for (auto& [path, u] : m.characteristics(s))
          if (filter.empty() || std::find(filter.begin(), filter.end(), u) != filter.end()) found.push_back(u);
    std::optional<Error> error;
    if (!d || !d->connected) error = Error(kBluetoothErrorDomain, 7, "The specified device has disconnected from us.");
    for (auto& l : listeners()) l->radioCharacteristicsDiscovered(peripheral, service, found, error);
  });
}

void BlueZRadio::setNotify(const Uuid& peripheral, const Uuid& service, const Uuid& ch, bool on) {
  post([this, peripheral, service, ch, on](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    const std::string path = d ? m.charPath(*d, service, ch) : std::string();
    std::optional<Error> error;
    if (path.empty())
      error = Error(kBluetoothErrorDomain, 7, "The specified device has disconnected from us.");
    else
      m.simple(path, kCharIface, on ? "StartNotify" : "StopNotify", &error);
    for (auto& l : listeners()) l->radioNotifyStateChanged(peripheral, service, ch, on, error);
  });
}

void BlueZRadio::readValue(const Uuid& peripheral, const Uuid& service, const Uuid& ch) {
  post([this, peripheral, service, ch](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    const std::string path = d ? m.charPath(*d, service, ch) : std::string();
    std::optional<Error> error;
    Bytes value;
    if (path.empty()) {
      error = Error(kBluetoothErrorDomain, 7, "The specified device has disconnected from us.");
    } else {
      DBusMessage* msg = m.method(path, kCharIface, "ReadValue");
      DBusMessageIter args, dict;
      dbus_message_iter_init_append(msg, &args);
      dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict);
      dbus_message_iter_close_container(&args, &dict);
      if (DBusMessage* reply = m.call(msg, &error)) {
        value = bluez::readByteArray(reply);
        dbus_message_unref(reply);
      }
    }
    for (auto& l : listeners()) l->radioValueUpdated(peripheral, service, ch, value, error);
  });
}

bool BlueZRadio::writeValue(const Uuid& peripheral, const Uuid& service, const Uuid& ch, const Bytes& value,
                            bool withResponse) {
  post([this, peripheral, service, ch, value, withResponse](Impl& m) {
    Impl::Device* d = m.device(peripheral);
    const std::string path = d ? m.charPath(*d, service, ch) : std::string();
    std::optional<Error> error;
    if (path.empty()) {
      error = Error(kBluetoothErrorDomain, 7, "The specified device has disconnected from us.");
    } else {
      DBusMessage* msg = m.method(path, kCharIface, "WriteValue");
      DBusMessageIter args, array, dict;
      dbus_message_iter_init_append(msg, &args);
      dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "y", &array);
      const unsigned char* data = value.data();
      dbus_message_iter_append_fixed_array(&array, DBUS_TYPE_BYTE, &data, int(value.size()));
      dbus_message_iter_close_container(&args, &array);
      dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &dict);
      appendVariantString(&dict, "type", withResponse ? "request" : "command");
      dbus_message_iter_close_container(&args, &dict);
      if (DBusMessage* reply = m.call(msg, &error)) dbus_message_unref(reply);
    }
    if (withResponse)
      for (auto& l : listeners()) l->radioValueWritten(peripheral, service, ch, error);
  });
  return true;
}

// ---- The default radio -------------------------------------------------------------------------------

namespace {
std::mutex gDefaultMutex;
std::shared_ptr<Radio> gDefault;
}  // namespace

std::shared_ptr<Radio> defaultRadio() {
  std::lock_guard<std::mutex> lock(gDefaultMutex);
  if (!gDefault) gDefault = BlueZRadio::create();
  return gDefault;
}

void setDefaultRadio(std::shared_ptr<Radio> radio) {
  std::lock_guard<std::mutex> lock(gDefaultMutex);
  gDefault = std::move(radio);
}

}  // namespace bluetooth
