// The device API's core: life cycle, delegates, connection state, routing, identity and
// features.

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXThreadRouting.h"
#include "sdk/device/KXDevicesInternal.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/foundation/KXTLV.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

namespace {

constexpr const char* kNoDeviceText = "No device connected";
constexpr const char* kNotSupportedText = "Function not supported on the connected device";

// The encrypted-head library keeps a small table of transports keyed by owner. Each device
// API registers itself as an owner while it lives, and names itself as the owner of its head
// commands, so the library hands the command back to the device API that issued it.
int emsrTransport(void* owner, const uint8_t* request, int length, uint8_t* reply, int capacity,
                  int /*timeoutMs*/) {
  if (!owner) return -7;
  return static_cast<KXDevices*>(owner)->emsrCommand(request, length, reply, capacity);
}

}  // namespace

Error ppadError(int status) {
  const int code = status == 41 ? -16508 : -16500 - status;
  return KXUNISDKGlobals::makeError(code, std::string(KXErrors::getErrorDescription(code)));
}

// ---- Life cycle -------------------------------------------------------------------------

KXDevices& KXDevices::sharedDevice() {
  // Lives for the whole process, like the drivers it routes to; the holder stays reachable.
  static std::shared_ptr<KXDevices>* const holder = new std::shared_ptr<KXDevices>(create(KXDriverFactory::standard()));
  return **holder;
}

std::shared_ptr<KXDevices> KXDevices::create(std::shared_ptr<KXDriverFactory> factory) {
  std::shared_ptr<KXDevices> api(new KXDevices(std::move(factory)));
  api->init();
  return api;
}

KXDevices::KXDevices(std::shared_ptr<KXDriverFactory> factory) : factory_(std::move(factory)) {
  supportedFeaturesDirty_.fill(true);
}

void KXDevices::init() {
  KXUNISDKGlobals::LOG("%s", "");
  KXDriverSet set = factory_->makeDrivers();
  sleeve_ = std::move(set.sleeve);
  printers_[0] = std::move(set.printers[0]);
  printers_[1] = std::move(set.printers[1]);
  pinpad_ = std::move(set.pinpad);
  barcodeHID_ = std::move(set.barcodeHID);
  keyboardHID_ = std::move(set.keyboardHID);
  magtek_ = std::move(set.magtek);
  adapter_ = std::move(set.adapter);
  hub_ = std::move(set.hub);
  ble_ = std::move(set.ble);
  const std::weak_ptr<KXDevices> self = weak_from_this();
  for (KXDriverBase* d : std::initializer_list<KXDriverBase*>{
           sleeve_.get(), printers_[0].get(), printers_[1].get(), pinpad_.get(), barcodeHID_.get(),
           keyboardHID_.get(), magtek_.get(), adapter_.get(), hub_.get()})
    d->attach(self);
  ble_->attach(self);
  emsrSetCallbacks(this, &emsrTransport);
  observeApplication();
}

KXDevices::~KXDevices() {
  emsrRemoveCallbacks(this);
  if (backgroundObserver_) foundation::NotificationCenter::defaultCenter().removeToken(backgroundObserver_);
}

void KXDevices::observeApplication() {
  std::weak_ptr<KXDevices> self = weak_from_this();
  backgroundObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
      this, kApplicationDidEnterBackgroundNotification, nullptr,
      [self](const foundation::Notification&) {
        if (auto api = self.lock()) api->applicationDidEnterBackground();
      });
}

void KXDevices::applicationDidEnterBackground() {
  // Network printer links end; the Bluetooth Low Energy link is dropped unless the
  // application keeps it in the background.
  tcpDisconnect("", nullptr);
  if (!bleBackground_.load() && ble_->linkOpen()) btleDisconnect(nullptr);
}

KXPrinterDriver& KXDevices::printer() const { return *printers_[size_t(activePrinter_.load())]; }

// ---- Delegates ----------------------------------------------------------------------------

void KXDevices::addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) { delegates_.add(delegate); }

void KXDevices::removeDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) { delegates_.remove(delegate); }

void KXDevices::setDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) { delegates_.set(delegate); }

std::shared_ptr<KXDeviceDelegate> KXDevices::delegate() { return delegates_.first(); }

std::vector<std::shared_ptr<KXDeviceDelegate>> KXDevices::delegates() const { return delegates_.live(); }

std::vector<std::shared_ptr<KXDeviceDelegate>> KXDevices::snapshot() const { return delegates_.snapshot(); }

std::vector<std::weak_ptr<KXBarcodeDelegate>> KXDevices::barcodeSnapshot() const {
  return delegates_.weakSnapshot<KXBarcodeDelegate>();
}

size_t KXDevices::fanOut(std::string_view selector,
                         const std::function<void(KXDeviceDelegate&)>& call) const {
  return delegates_.forEach(selector, [&](KXDeviceDelegate& d) { return d.respondsNow(selector); }, call);
}

bool KXDevices::clientsRespondToSelector(std::string_view selector) const {
  for (const auto& d : snapshot())
    if (d && d->respondsNow(selector)) return true;
  return false;
}

// ---- Routing ----------------------------------------------------------------------------

bool KXDevices::kindConnected(Kind kind) const {
  switch (kind) {
    case Kind::Sleeve: return sleeve_->connstate() == CONN_CONNECTED;
    case Kind::Printer: return printer().connstate() == CONN_CONNECTED;
    case Kind::Pinpad: return pinpad_->connstate() == CONN_CONNECTED;
    case Kind::Adapter: return adapter_->connected();
    case Kind::Hub: return hub_->connected();
    case Kind::HidBarcode: return barcodeHID_->connected();
    case Kind::Magtek: return magtek_->connected();
    case Kind::Keyboard: return keyboardHID_->connected();
  }
  return false;
}

namespace {
// The calling thread's routing of one device API, set by `KXThreadRouting`.
thread_local const KXDevices* tRoutedDevices = nullptr;
thread_local int tRoutedType = DEVICE_TYPE_AUTOMATIC;
}  // namespace

KXThreadRouting::KXThreadRouting(const KXDevices& devices, int type)
    : previousDevices_(tRoutedDevices), previousType_(tRoutedType) {
  tRoutedDevices = &devices;
  tRoutedType = type;
}

KXThreadRouting::~KXThreadRouting() {
  tRoutedDevices = previousDevices_;
  tRoutedType = previousType_;
}

std::optional<int> KXThreadRouting::routedType(const KXDevices& devices) {
  if (tRoutedDevices != &devices) return std::nullopt;
  return tRoutedType;
}

std::optional<KXDevices::Kind> KXDevices::route(std::initializer_list<Kind> candidates) const {
  const int type = KXThreadRouting::routedType(*this).value_or(activeDeviceType_.load());
  if (type == DEVICE_TYPE_AUTOMATIC) {
    for (Kind k : candidates)
      if (kindConnected(k)) return k;
    return std::nullopt;
  }
  // Type 4 is accepted like 1 when it is made active and by isPresent, but names no driver
  // here: with it active, calls find no candidate (nor does type 9).
  std::optional<Kind> explicitKind;
  switch (type) {
    case DEVICE_TYPE_SLEEVE: explicitKind = Kind::Sleeve; break;
    case DEVICE_TYPE_PRINTER: explicitKind = Kind::Printer; break;
    case DEVICE_TYPE_PINPAD: explicitKind = Kind::Pinpad; break;
    case DEVICE_TYPE_SERIAL_ADAPTER: explicitKind = Kind::Adapter; break;
    case DEVICE_TYPE_HUB: explicitKind = Kind::Hub; break;
    case DEVICE_TYPE_HID_BARCODE: explicitKind = Kind::HidBarcode; break;
    case DEVICE_TYPE_USB_MSR: explicitKind = Kind::Magtek; break;
    case DEVICE_TYPE_USB_KEYBOARD: explicitKind = Kind::Keyboard; break;
    default: return std::nullopt;
  }
  if (std::find(candidates.begin(), candidates.end(), *explicitKind) != candidates.end())
    return explicitKind;
  return std::nullopt;
}

bool KXDevices::routeError(Error* error) const {
  const Error e = connstate_.load() != CONN_CONNECTED
                      ? KXUNISDKGlobals::makeError(-20, std::string(kNoDeviceText))
                      : KXUNISDKGlobals::makeError(-7, std::string(kNotSupportedText));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

bool KXDevices::ppadResult(int status, Error* error) const {
  if (status == 0) return true;
  return foundation::fail(error, ppadError(status));
}

// ---- Connection ----------------------------------------------------------------------------

void KXDevices::connect() {
  sleeve_->managedConnect();
  printers_[0]->managedConnect();
  printers_[1]->managedConnect();
  pinpad_->managedConnect();
  adapter_->connect();
  hub_->connect();
  factory_->tryConnect();
}

void KXDevices::disconnect() {
  if (!foundation::MainQueue::isMainThread()) {
    std::weak_ptr<KXDevices> self = weak_from_this();
    foundation::MainQueue::post([self] {
      if (auto api = self.lock()) api->disconnect();
    });
    return;
  }
  disableConnState_ = true;
  sleeve_->disconnect();
  printers_[0]->disconnect();
  printers_[1]->disconnect();
  pinpad_->disconnect();
  adapter_->disconnect();
  hub_->disconnect();
  disableConnState_ = false;
  setConnState();
}

bool KXDevices::isPresent(int type) {
  switch (type) {
    case DEVICE_TYPE_SLEEVE: return sleeve_->isPresent();
    case DEVICE_TYPE_PRINTER:
    case DEVICE_TYPE_PRINTER_ALIAS: return printer().isPresent();
    case DEVICE_TYPE_PINPAD: return pinpad_->isPresent();
    case DEVICE_TYPE_SERIAL_ADAPTER:
    case DEVICE_TYPE_HUB: return adapter_->isPresent();
    default: return false;
  }
}

bool KXDevices::canActivate(int type) const {
  switch (type) {
    case DEVICE_TYPE_SLEEVE: return kindConnected(Kind::Sleeve);
    case DEVICE_TYPE_PRINTER:
    case DEVICE_TYPE_PRINTER_ALIAS: return kindConnected(Kind::Printer);
    case DEVICE_TYPE_PINPAD: return kindConnected(Kind::Pinpad);
    case DEVICE_TYPE_SERIAL_ADAPTER: return kindConnected(Kind::Adapter);
    case DEVICE_TYPE_HUB: return kindConnected(Kind::Hub);
    case DEVICE_TYPE_HID_BARCODE: return kindConnected(Kind::HidBarcode);
    case DEVICE_TYPE_USB_MSR: return kindConnected(Kind::Magtek);
    case DEVICE_TYPE_USB_KEYBOARD: return kindConnected(Kind::Keyboard);
    case DEVICE_TYPE_UNCHECKED: return true;
    default: return false;
  }
}

int KXDevices::getDeviceConnectionState(int type) {
  if (connstate_.load() == CONN_DISCONNECTED) return CONN_DISCONNECTED;
  // Whether the type could be made active, answered without touching the active type.
  return canActivate(type) ? CONN_CONNECTED : CONN_CONNECTING;
}

bool KXDevices::setActiveDeviceType(int type, Error* error) {
  auto refuse = [&](const char* text) {
    Error e = KXUNISDKGlobals::makeError(-9, std::string(text));
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    return foundation::fail(error, e);
  };
  if (type == DEVICE_TYPE_AUTOMATIC) return refuse("Device is not supported");
  if (type < DEVICE_TYPE_SLEEVE || type > DEVICE_TYPE_UNCHECKED) return refuse("Device type is invalid");
  if (!canActivate(type)) return refuse("Device is not connected");
  activeDeviceType_ = type;
  return true;
}

bool KXDevices::setActiveDeviceIndexForType(int type, int index, Error* error) {
  auto refuse = [&](const char* text) {
    Error e = KXUNISDKGlobals::makeError(-9, std::string(text));
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    return foundation::fail(error, e);
  };
  if (type < DEVICE_TYPE_AUTOMATIC || type > DEVICE_TYPE_UNCHECKED) return refuse("Device type is invalid");
  if (type != DEVICE_TYPE_PRINTER) return refuse("Device type is not supported");
  if (index < 0 || index > 1) return refuse("Device index is invalid");
  if (getDeviceConnectionState(DEVICE_TYPE_PRINTER) != CONN_CONNECTED) return false;
  activePrinterIndex_ = index;
  updateActivePrinter();
  return true;
}

std::string KXDevices::buildConnState(int sleeveState, int printersUp, int pinpadState, bool hub, bool adapter,
                                      bool barcodeHID, bool magtek, bool keyboardHID) {
  std::string key;
  key += sleeveState == CONN_CONNECTED ? '1' : '0';
  key += std::to_string(printersUp);
  for (bool on : {pinpadState == CONN_CONNECTED, hub, adapter, barcodeHID, magtek, keyboardHID}) key += on ? '1' : '0';
  return key;
}

void KXDevices::setConnState() {
  // A Bluetooth Low Energy link that no driver uses is dropped. The sleeve counts as a user
  // too: it may be reached over that link.
  const bool bleInUse = pinpad_->connectionType() == 3 || printer().connectionType() == 3 ||
                        sleeve_->connectionType() == 3;
  if (!bleInUse && ble_->linkOpen()) btleDisconnect(nullptr);
  if (disableConnState_.load()) return;

  int state = CONN_DISCONNECTED;
  int pinpadState = CONN_DISCONNECTED;
  bool announce = false;
  bool emvEnd = false;
  {
    // The driver states, the merged state and the key are read in one step, so that two
    // callbacks racing each other never store one call's state under the other's key.
    // Each driver is asked once: the merged state and the key come from the same answers, so
    // a device connecting between two reads cannot leave a key that says connected beside a
    // state that says disconnected (the next call would see an unchanged key and keep it).
    std::lock_guard lock(connStateMutex_);
    const int sleeveState = sleeve_->connstate();
    const int printer0 = printers_[0]->connstate();
    const int printer1 = printers_[1]->connstate();
    const int printerState = std::max(printer0, printer1);
    const int printersUp = (printer0 == CONN_CONNECTED ? 1 : 0) + (printer1 == CONN_CONNECTED ? 1 : 0);
    pinpadState = pinpad_->connstate();
    const bool hub = hub_->connected();
    const bool adapter = adapter_->connected();
    const bool barcodeHID = barcodeHID_->connected();
    const bool magtek = magtek_->connected();
    const bool keyboardHID = keyboardHID_->connected();
    if (sleeveState == CONN_CONNECTED || printerState == CONN_CONNECTED || pinpadState == CONN_CONNECTED || hub ||
        adapter || barcodeHID || keyboardHID || magtek)
      state = CONN_CONNECTED;
    else if (sleeveState == CONN_CONNECTING || printerState == CONN_CONNECTING ||
             pinpadState == CONN_CONNECTING)
      state = CONN_CONNECTING;

    // The active type falls back to automatic when its device is gone. The check and the
    // change are one step, so a concurrent setActiveDeviceType is either kept (its device is
    // connected) or replaced.
    int active = activeDeviceType_.load();
    auto gone = [&](int t) {
      switch (t) {
        case DEVICE_TYPE_SLEEVE: return sleeveState != CONN_CONNECTED;
        case DEVICE_TYPE_PRINTER: return printerState != CONN_CONNECTED;
        case DEVICE_TYPE_PINPAD: return pinpadState != CONN_CONNECTED;
        case DEVICE_TYPE_HUB: return !hub;
        case DEVICE_TYPE_SERIAL_ADAPTER: return !adapter;
        default: return false;
      }
    };
    while (gone(active) && !activeDeviceType_.compare_exchange_weak(active, DEVICE_TYPE_AUTOMATIC)) {
    }

    const std::string key =
        buildConnState(sleeveState, printersUp, pinpadState, hub, adapter, barcodeHID, magtek, keyboardHID);
    if (key != currentConnState_) {
      currentConnState_ = key;
      connstate_ = state;
      emvInit_ = false;
      announce = true;
      if (state != CONN_CONNECTED) {
        supportedFeaturesDirty_.fill(true);
        activeDeviceType_ = DEVICE_TYPE_AUTOMATIC;
        emvEnd = emvActive_.load();
      }
    }
  }
  if (announce) {
    const int active = activeDeviceType_.load();
    if (state == CONN_CONNECTED &&
        (active == DEVICE_TYPE_PINPAD || (active == DEVICE_TYPE_AUTOMATIC && pinpadState == CONN_CONNECTED))) {
      uiDisplayWidth_ = pinpad_->displayWidth();
      uiDisplayHeight_ = pinpad_->displayHeight();
      uiDisplayAtBottom_ = pinpad_->displayAtBottom();
    }
    fanOut(kxsel::connectionState, [state](KXDeviceDelegate& d) { d.connectionState(state); });
    if (emvEnd) {
      // The transaction cannot finish on a device that is gone: report its end.
      Bytes event{0x83, 0x00};
      const Bytes tlv = KXTLV::encodeTags({KXTLV::tlvWithInt(0x1000, 2, 0xC1), KXTLV::tlvWithInt(2, 1, 0xC4)});
      event.insert(event.end(), tlv.begin(), tlv.end());
      kxdev_emv2Event(event);
    }
  }
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self] {
    if (auto api = self.lock()) api->notifySupportedFeatures();
  });
}

void KXDevices::connectionState(int /*state*/) { setConnState(); }

void KXDevices::prnConnectionState(int /*state*/) {
  updateActivePrinter();
  setConnState();
}

void KXDevices::ppadConnectionState(int /*state*/) { setConnState(); }

void KXDevices::carvikConnected() {
  if (adapter_->serialSupported()) {
    adapter_->serialSetSettings(115200, 0, 0, 0, 0, nullptr);
    adapter_->serialConnect(nullptr);
  }
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self] {
    if (auto api = self.lock()) api->setConnState();
  });
}

void KXDevices::carvikDisconnected() {
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self] {
    if (auto api = self.lock()) api->setConnState();
  });
}

void KXDevices::TrelmoConnected() { carvikDisconnected(); }
void KXDevices::TrelmoDisconnected() { carvikDisconnected(); }

// ---- Identity ---------------------------------------------------------------------------

std::optional<KXDevices::Kind> KXDevices::identityKind() {
  return route({Kind::Sleeve, Kind::Printer, Kind::Pinpad, Kind::Adapter, Kind::Hub,
                Kind::HidBarcode, Kind::Magtek});
}

std::optional<std::string> KXDevices::identityText(std::string (KXDriverBase::*getter)(),
                                                    const char* hid, const char* msr) {
  const auto kind = identityKind();
  if (!kind) return std::nullopt;
  switch (*kind) {
    case Kind::Sleeve: return ((*sleeve_).*getter)();
    case Kind::Printer: return (printer().*getter)();
    case Kind::Pinpad: return ((*pinpad_).*getter)();
    case Kind::Adapter: return ((*adapter_).*getter)();
    case Kind::Hub: return ((*hub_).*getter)();
    case Kind::HidBarcode: return std::string(hid);
    case Kind::Magtek: return std::string(msr);
    default: return std::nullopt;
  }
}

std::optional<std::string> KXDevices::deviceName() {
  return identityText(&KXDriverBase::deviceName, "HID Barcode", "USB MSR");
}
std::optional<std::string> KXDevices::deviceModel() {
  return identityText(&KXDriverBase::deviceModel, "", "");
}
std::optional<std::string> KXDevices::firmwareRevision() {
  return identityText(&KXDriverBase::firmwareRevision, "", "");
}
std::optional<std::string> KXDevices::hardwareRevision() {
  return identityText(&KXDriverBase::hardwareRevision, "", "");
}
std::optional<std::string> KXDevices::serialNumber() {
  return identityText(&KXDriverBase::serialNumber, "", "");
}

int KXDevices::deviceType() {
  const auto kind = identityKind();
  if (!kind) return 0;
  switch (*kind) {
    case Kind::Sleeve: return DEVICE_TYPE_SLEEVE;
    case Kind::Printer: return DEVICE_TYPE_PRINTER;
    case Kind::Pinpad: return DEVICE_TYPE_PINPAD;
    case Kind::Adapter: return DEVICE_TYPE_SERIAL_ADAPTER;
    case Kind::Hub: return DEVICE_TYPE_HUB;
    case Kind::HidBarcode: return DEVICE_TYPE_HID_BARCODE;
    case Kind::Magtek: return DEVICE_TYPE_USB_MSR;
    default: return 0;
  }
}

int KXDevices::connectionType() {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return 0;
  switch (*kind) {
    case Kind::Sleeve: return sleeve_->connectionType();
    case Kind::Printer: return printer().connectionType();
    case Kind::Pinpad: return pinpad_->connectionType();
    default: return 0;
  }
}

int KXDevices::firmwareRevisionNumber() {
  std::string text = firmwareRevision().value_or("");
  std::erase(text, '.');
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
    return 0;
  try {
    return std::stoi(text);
  } catch (...) {
    return 0;
  }
}

std::chrono::system_clock::time_point KXDevices::sdkBuildDate() const {
  std::tm tm{};
  std::istringstream in(kSdkBuildDate);
  in.imbue(std::locale::classic());
  in >> std::get_time(&tm, "%b %d %Y");
  return std::chrono::system_clock::from_time_t(timegm(&tm));
}

// ---- Features -------------------------------------------------------------------------------

int KXDevices::computeSupportedFeature(int feature) {
  // Every connected driver answers; the active type is not consulted (nor changed).
  int value = 0;
  if (kindConnected(Kind::Sleeve)) value |= sleeve_->getSupportedFeature(feature, nullptr);
  if (kindConnected(Kind::Printer)) value |= printer().getSupportedFeature(feature, nullptr);
  if (kindConnected(Kind::Pinpad)) value |= pinpad_->getSupportedFeature(feature, nullptr);
  for (KXStreamDriver* d : {static_cast<KXStreamDriver*>(adapter_.get()), barcodeHID_.get(),
                            keyboardHID_.get(), magtek_.get(), hub_.get()})
    if (d->connected()) value |= d->getSupportedFeature(feature, nullptr);
  return value;
}

int KXDevices::getSupportedFeature(int feature, Error* /*error*/) { return computeSupportedFeature(feature); }

void KXDevices::notifySupportedFeatures() {
  for (int f = 0; f < kFeatureCount; ++f) {
    const int value = computeSupportedFeature(f);
    bool announce = false;
    {
      std::lock_guard lock(connStateMutex_);
      const bool changed = value != supportedFeatures_[size_t(f)];
      if (changed) supportedFeatures_[size_t(f)] = value;
      if (changed || supportedFeaturesDirty_[size_t(f)]) {
        supportedFeaturesDirty_[size_t(f)] = false;
        announce = true;
      }
    }
    if (announce)
      fanOut(kxsel::deviceFeatureSupported, [f, value](KXDeviceDelegate& d) { d.deviceFeatureSupported(f, value); });
  }
}

void KXDevices::deviceFeatureSupported(int /*feature*/, int /*value*/) {
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self] {
    if (auto api = self.lock()) api->notifySupportedFeatures();
  });
}

// ---- Encrypted head ---------------------------------------------------------------------------

int KXDevices::emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) {
  // Only the command byte and the size: the data may be a key block or card data.
  if (packet && length >= 4)
    KXUNISDKGlobals::LOG("EMSR command %02X, %d data bytes", packet[0], foundation::readBE16(packet + 2));
  const int type = activeDeviceType_.load();
  const bool automatic = type == DEVICE_TYPE_AUTOMATIC;
  if (type == DEVICE_TYPE_SLEEVE || (automatic && kindConnected(Kind::Sleeve)))
    return sleeve_->emsrCommand(packet, length, reply, capacity);
  if (type == DEVICE_TYPE_PINPAD || (automatic && kindConnected(Kind::Pinpad)))
    return pinpad_->emsrCommand(packet, length, reply, capacity);
  if (type == DEVICE_TYPE_PRINTER || (automatic && kindConnected(Kind::Printer)))
    return printer().emsrCommand(packet, length, reply, capacity);
  return -7;
}

// Runs an encrypted-head library call on behalf of `api` (see emsrTransport).
int emsrCall(KXDevices* api, const std::function<int(void*)>& call) { return call(api); }

}  // namespace kestra
