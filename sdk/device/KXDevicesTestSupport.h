#pragma once
// Test fixtures for the device API and the facade: scriptable fake drivers, a factory that
// hands them out, a fake charging case and a recording delegate. Header-only; used by the
// tests of this folder.
//
// The fakes record every command as one line ("playSound", "barStart", ...) and answer with
// their scripted results. Changing a fake's state does not report it: call the device API's
// driver callback (`api->connectionState(0)`) as the real driver would.

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sdk/device/KXChargingCase.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/OKTKXDevices.h"
#include "testing/devices/base/RecordingDelegate.h"

namespace kestra::testing {

// Lines recorded by fakes and delegates, shared so tests can see the order across them.
using CallLog = devices::CallRecorder;

template <class Base>
class FakeManaged : public Base {
 public:
  explicit FakeManaged(std::string name) : name_(std::move(name)) {}
  std::atomic<int> state{0};
  std::atomic<int> connType{0};
  std::atomic<bool> present{false};
  std::map<int, int> features;
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  std::weak_ptr<KXDevices> api;

  void attach(std::weak_ptr<KXDevices> a) override { api = std::move(a); }
  std::string deviceName() override { return name_; }
  std::string deviceModel() override { return name_ + " model"; }
  std::string firmwareRevision() override { return firmware; }
  int getSupportedFeature(int feature, Error*) override {
    auto it = features.find(feature);
    return it == features.end() ? 0 : it->second;
  }
  int connstate() override { return state.load(); }
  void managedConnect() override {
    log->add(name_ + ".managedConnect");
    int expected = 0;
    if (state.compare_exchange_strong(expected, 1))
      if (auto a = api.lock()) report(*a);
  }
  void disconnect() override {
    log->add(name_ + ".disconnect");
    state = 0;
  }
  bool isPresent() override { return present.load(); }
  int connectionType() override { return connType.load(); }
  virtual void report(KXDevices& a) = 0;

  std::string firmware = "1.25";

 protected:
  std::string name_;
};

class FakeSleeve final : public FakeManaged<KXSleeveDriver> {
 public:
  FakeSleeve() : FakeManaged("sleeve") {}
  // System settings of the sleeve as a whole.
  bool sysPowerOff(Error* e) override { return cmd("sysPowerOff", e); }
  bool sysSaveSettingsToFlash(Error* e) override { return cmd("sysSaveSettingsToFlash", e); }
  bool sysEnterPassThrough(Error* e) override { return cmd("sysEnterPassThrough", e); }
  bool sysMute(Error* e) override { return cmd("sysMute", e); }
  bool getTimeRemainingToPowerOff(double* s, Error* e) override {
    if (s) *s = 120.5;
    return cmd("getTimeRemainingToPowerOff", e);
  }
  bool ok = true;  // result of every command
  int emsrResult = -1;
  void report(KXDevices& a) override { a.connectionState(state); }
  bool cmd(const std::string& what, Error* error) {
    log->add("sleeve." + what);
    if (!ok) foundation::fail(error, Error("com.sabrel.errors", -11, "sleeve refused"));
    return ok;
  }
  int emsrCommand(const uint8_t*, int, uint8_t*, int) override {
    log->add("sleeve.emsrCommand");
    return emsrResult;
  }
  bool msEnable(Error* e) override { return cmd("msEnable", e); }
  bool msDisable(Error* e) override { return cmd("msDisable", e); }
  bool msSetCardDataMode(int, Error* e) override { return cmd("msSetCardDataMode", e); }
  bool barcodeStartScan(Error* e) override { return cmd("barcodeStartScan", e); }
  bool barcodeStopScan(Error* e) override { return cmd("barcodeStopScan", e); }
  bool barcodeGetScanMode(int* m, Error* e) override {
    if (m) *m = 1;
    return cmd("barcodeGetScanMode", e);
  }
  bool barcodeSetScanMode(int, Error* e) override { return cmd("barcodeSetScanMode", e); }
  bool barcodeGetScanButtonMode(int* m, Error* e) override {
    if (m) *m = 1;
    return cmd("barcodeGetScanButtonMode", e);
  }
  bool barcodeSetScanButtonMode(int mode, Error* e) override {
    return cmd("barcodeSetScanButtonMode:" + std::to_string(mode), e);
  }
  bool barcodeSetScanBeep(bool, int, const int*, int, Error* e) override { return cmd("barcodeSetScanBeep", e); }
  bool barcodeGetBeepOnReady(bool*, Error* e) override { return cmd("barcodeGetBeepOnReady", e); }
  bool barcodeSetBeepOnReady(bool, Error* e) override { return cmd("barcodeSetBeepOnReady", e); }
  bool barcodeGetUVLights(bool*, Error* e) override { return cmd("barcodeGetUVLights", e); }
  bool barcodeSetUVLights(bool, Error* e) override { return cmd("barcodeSetUVLights", e); }
  bool playSound(int, const int*, int, Error* e) override { return cmd("playSound", e); }
  bool getCharging(bool* c, Error* e) override {
    if (c) *c = true;
    return cmd("getCharging", e);
  }
  bool setCharging(bool on, Error* e) override { return cmd(std::string("setCharging:") + (on ? "1" : "0"), e); }
  bool getSyncButtonMode(int* m, Error* e) override {
    if (m) *m = syncMode;
    return cmd("getSyncButtonMode", e);
  }
  bool setSyncButtonMode(int m, Error* e) override { return cmd("setSyncButtonMode:" + std::to_string(m), e); }
  bool getKioskMode(bool* on, Error* e) override {
    if (on) *on = kiosk;
    return cmd("getKioskMode", e);
  }
  bool getBatteryCapacity(int* p, float* v, Error* e) override {
    if (p) *p = 77;
    if (v) *v = 3.9f;
    return cmd("getBatteryCapacity", e);
  }
  std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* e) override {
    cmd("getBatteryInfo", e);
    return std::make_shared<KXBatteryInfo>();
  }
  bool getUSBChargeCurrent(int* c, Error* e) override {
    if (c) *c = 500;
    return cmd("getUSBChargeCurrent", e);
  }
  bool setUSBChargeCurrent(int, Error* e) override { return cmd("setUSBChargeCurrent", e); }
  bool uiControlLEDsWithBitMask(uint32_t, Error* e) override { return cmd("uiControlLEDsWithBitMask", e); }
  bool uiEnableVibrationForTime(float, Error* e) override { return cmd("uiEnableVibrationForTime", e); }
  // The EMV kernel behind the sleeve (KXDevicesEmv2Fixture.h); none without it.
  std::function<std::optional<Bytes>(const Bytes&, Error*)> kernel;
  std::optional<Bytes> emv2Command(const uint8_t* d, int n, Error* e) override {
    if (!kernel) return KXSleeveDriver::emv2Command(d, n, e);
    return kernel(Bytes(d, d + n), e);
  }
  bool vasInitWIthData(const Bytes&, Error* e) override { return cmd("vasInitWIthData", e); }
  bool vasClose(Error* e) override { return cmd("vasClose", e); }
  bool emsrSetActiveHead(int head, Error* e) override { return cmd("emsrSetActiveHead:" + std::to_string(head), e); }
  int syncMode = 0;
  bool kiosk = false;
};

class FakePrinter final : public FakeManaged<KXPrinterDriver> {
 public:
  explicit FakePrinter(int index) : FakeManaged("printer" + std::to_string(index)) {}
  bool turnOff(Error*) override {
    log->add(name_ + ".turnOff");
    return true;
  }
  void report(KXDevices& a) override { a.prnConnectionState(state); }
  int emsrResult = -1;
  int emsrCommand(const uint8_t*, int, uint8_t*, int) override {
    log->add(name_ + ".emsrCommand");
    return emsrResult;
  }
  bool beep(Error*) override {
    log->add(name_ + ".beep");
    return false;
  }
  bool printText(const std::string& text, Error*) override {
    log->add(name_ + ".printText:" + text);
    return true;
  }
  int status = -1;
  int getPrinterStatus(Error*) override { return status; }
  bool pageFillRectangle(int color, Error*) override {
    log->add(name_ + ".pageFillRectangle:" + std::to_string(color));
    return true;
  }
  void prnStartTransaction() override { log->add(name_ + ".prnStartTransaction"); }
  bool loadLogo(const KXImage& image, int align, Error*) override {
    log->add(name_ + ".loadLogo:" + std::to_string(image.width) + ":" + std::to_string(align));
    return true;
  }
  // Scripted scan answers, taken one per call; the loop blocks while `hold` is set.
  std::vector<std::string> scans;
  std::atomic<bool> hold{false};
  std::atomic<int> scanCalls{0};
  std::optional<std::string> scanBarcode(double, int* type, Error*) override {
    while (hold.load()) std::this_thread::yield();
    std::lock_guard l(m_);
    ++scanCalls;
    if (scans.empty()) return std::nullopt;
    std::string s = scans.front();
    scans.erase(scans.begin());
    if (type) *type = 13;
    return s;
  }
  std::mutex m_;
};

class FakePinpad final : public FakeManaged<KXPinpadDriver> {
 public:
  FakePinpad() : FakeManaged("pinpad") {}
  // System settings, clock and identity.
  bool developmentUnit = false;
  int commTest(int n, int size) override { return st("commTest:" + std::to_string(n) + ":" + std::to_string(size)); }
  int sysSetBatteryWarningLevelPercent(int p) override { return st("sysSetBatteryWarningLevelPercent:" + std::to_string(p)); }
  int getTimeRemainingToPowerOff(double* s) override {
    if (s) *s = 30.0;
    return st("getTimeRemainingToPowerOff");
  }
  int sysTurnOff() override { return st("sysTurnOff"); }
  bool sysIsDevelopmentUnit() override { return developmentUnit; }
  std::chrono::system_clock::time_point date{};
  int sysGetDate(std::chrono::system_clock::time_point* d) override {
    if (d) *d = date;
    return st("sysGetDate");
  }
  int sysSetDate(std::chrono::system_clock::time_point d) override {
    date = d;
    return st("sysSetDate");
  }
  Bytes serialNumberCPU() override { return {0xC0, 0xFF, 0xEE}; }
  int status = 0;
  uint32_t events = 0;
  void report(KXDevices& a) override { a.ppadConnectionState(state); }
  int st(const std::string& what) {
    log->add("pinpad." + what);
    return status;
  }
  int msStart() override { return st("msStart"); }
  int msStop() override { return st("msStop"); }
  int msSimulateCardData(const OptText&, const OptText&, const OptText&) override { return st("msSimulateCardData"); }
  int msGetLoyaltyNumber(int, Bytes* d) override {
    if (d) *d = Bytes{1, 2};
    return st("msGetLoyaltyNumber");
  }
  std::optional<nlohmann::json> msGetLastCardMaskedData(Error*) override {
    st("msGetLastCardMaskedData");
    return nlohmann::json::object();
  }
  int msUniversalGetEncryptedCardData(int, int, const Bytes&, Bytes*) override { return st("msUniversal"); }
  int barStart() override { return st("barStart"); }
  int barStop() override { return st("barStop"); }
  int barGetScanMode(int* m) override {
    if (m) *m = 4;
    return st("barGetScanMode");
  }
  int barSetScanMode(int m) override { return st("barSetScanMode:" + std::to_string(m)); }
  int barSetScanBeep(bool, int, const int*, int) override { return st("barSetScanBeep"); }
  int sysGetEnabledEvents(uint32_t* m) override {
    if (m) *m = events;
    return st("sysGetEnabledEvents");
  }
  int sysEnableEvents(uint32_t m) override {
    events = m;
    return st("sysEnableEvents");
  }
  int sysPlaySound(const int*, int, int) override { return st("sysPlaySound"); }
  bool prnPrintText(const std::string& text, Error*) override { return st("prnPrintText:" + text) == 0; }
  // The EMV kernel behind the pinpad (KXDevicesEmv2Fixture.h): a status and the reply.
  std::function<int(const Bytes&, Bytes*)> kernel;
  int emv2Command(const uint8_t* d, int n, Bytes* r) override {
    return kernel ? kernel(Bytes(d, d + n), r) : KXPinpadDriver::emv2Command(d, n, r);
  }
  int dukptGenerateKeyOnline(int keyID, Bytes* ksn) override {
    if (ksn) *ksn = Bytes{0xFF, 0xFF, 0x98, 0x76, 0x54, 0x32, 0x10, 0xE0, 0x00, uint8_t(keyID)};
    return st("dukptGenerateKeyOnline:" + std::to_string(keyID));
  }
};

class FakeStream final : public KXSerialAdapterDriver {
 public:
  explicit FakeStream(std::string name) : name_(std::move(name)) {}
  // A port device's USB descriptor, when it has one.
  std::optional<TrelmoUSBDeviceDescriptor> descriptor;
  std::optional<TrelmoUSBDeviceDescriptor> usbDeviceDescriptor() override { return descriptor; }
  std::atomic<bool> up{false};
  std::atomic<bool> present{false};
  std::map<int, int> features;
  // Runs after each answer to `connected()`: a device that connects while it is being read.
  std::function<void()> afterConnectedRead;
  void attach(std::weak_ptr<KXDevices>) override {}
  bool connected() override {
    const bool answer = up.load();
    if (afterConnectedRead) afterConnectedRead();
    return answer;
  }
  bool isPresent() override { return present.load(); }
  std::string deviceName() override { return name_; }
  int getSupportedFeature(int feature, Error*) override {
    auto it = features.find(feature);
    return it == features.end() ? 0 : it->second;
  }

 private:
  std::string name_;
};

class FakeBLE final : public KXBLEStreamDriver {
 public:
  std::atomic<bool> open{false};
  std::atomic<int> closes{0};
  void attach(std::weak_ptr<KXDevices>) override {}
  bool linkOpen() override { return open.load(); }
  void close() override {
    open = false;
    ++closes;
  }
};

struct FakeDrivers {
  std::shared_ptr<FakeSleeve> sleeve = std::make_shared<FakeSleeve>();
  std::shared_ptr<FakePrinter> printer0 = std::make_shared<FakePrinter>(0);
  std::shared_ptr<FakePrinter> printer1 = std::make_shared<FakePrinter>(1);
  std::shared_ptr<FakePinpad> pinpad = std::make_shared<FakePinpad>();
  std::shared_ptr<FakeStream> adapter = std::make_shared<FakeStream>("adapter");
  std::shared_ptr<FakeStream> hub = std::make_shared<FakeStream>("hub");
  std::shared_ptr<FakeStream> barcodeHID = std::make_shared<FakeStream>("hid");
  std::shared_ptr<FakeStream> keyboard = std::make_shared<FakeStream>("keyboard");
  std::shared_ptr<FakeStream> magtek = std::make_shared<FakeStream>("msr");
  std::shared_ptr<FakeBLE> ble = std::make_shared<FakeBLE>();
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();

  FakeDrivers() {
    sleeve->log = printer0->log = printer1->log = pinpad->log = log;
  }
};

class FakeFactory final : public KXDriverFactory {
 public:
  explicit FakeFactory(FakeDrivers& d) : d_(d) {}
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return d_.sleeve; }
  std::shared_ptr<KXPrinterDriver> makePrinter(int i) override {
    return i == 0 ? d_.printer0 : d_.printer1;
  }
  std::shared_ptr<KXPinpadDriver> makePinpad() override { return d_.pinpad; }
  std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapter() override { return d_.adapter; }
  std::shared_ptr<KXStreamDriver> makeHub() override { return d_.hub; }
  std::shared_ptr<KXStreamDriver> makeBarcodeHID() override { return d_.barcodeHID; }
  std::shared_ptr<KXStreamDriver> makeKeyboardHID() override { return d_.keyboard; }
  std::shared_ptr<KXStreamDriver> makeMagtek() override { return d_.magtek; }
  std::shared_ptr<KXBLEStreamDriver> makeBLEStream() override { return d_.ble; }
  void tryConnect() override { d_.log->add("tryConnect"); }

 private:
  FakeDrivers& d_;
};

class FakeCase final : public KXChargingCase {
 public:
  std::atomic<int> state{0};
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  std::weak_ptr<OKTCDDelegate> delegate;
  bool sharing = false;
  int current = 1000;
  void setDelegate(std::weak_ptr<OKTCDDelegate> d) override { delegate = std::move(d); }
  void connect() override { log->add("case.connect"); }
  void disconnect() override { log->add("case.disconnect"); }
  int connState() override { return state.load(); }
  // Changes the state and reports it, as the case does.
  void move(int s) {
    state = s;
    if (auto d = delegate.lock()) d->toravelConnectionState(s);
  }
  std::string getAccessoryName() override { return "Case One"; }
  std::string getAccessoryModel() override { return "CD-1"; }
  std::string getAccessorySerialNumber() override { return "C123"; }
  std::string getAccessoryHardwareRevision() override { return "2"; }
  std::string getAccessoryFirmwareRevision() override { return "1.0.14"; }
  int getBatteryCapacity() override { return 64; }
  float getBatteryVoltage() override { return 4.1f; }
  int getBatteryHealth() override { return 98; }
  int getBatteryMaxCapacity() override { return 2500; }
  bool isCharging() override { return true; }
  nlohmann::json getBatteryInfo() override { return {{"Serial", "C123"}}; }
  bool isBackupCharge() override { return true; }
  bool enableBatterySharing(bool on) override {
    log->add(std::string("case.enableBatterySharing:") + (on ? "1" : "0"));
    sharing = on;
    return true;
  }
  int getToravelCurrent() override { return current; }
  bool setToravelCurrent(int mA) override {
    if (mA != 500 && mA != 1000 && mA != 1500) return false;
    current = mA;
    return true;
  }
  void turnOffLED() override { log->add("case.turnOffLED"); }
  void turnOnLEDColor(int c) override { log->add("case.turnOnLEDColor:" + std::to_string(c)); }
};

// A delegate that records the callbacks it declares, as "tag:selector args".
class RecordingDelegate : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  RecordingDelegate(std::shared_ptr<CallLog> log, const std::string& tag, std::vector<std::string_view> selectors)
      : devices::RecordingDelegate<KXDeviceDelegate>(std::move(log), tag + ":", std::move(selectors)) {}

  void connectionState(int s) override { rec("connectionState:" + std::to_string(s)); }
  void deviceButtonPressed(int b) override { rec("deviceButtonPressed:" + std::to_string(b)); }
  void deviceButtonReleased(int b) override { rec("deviceButtonReleased:" + std::to_string(b)); }
  void barcodeData(const std::string& b, int t) override { rec("barcodeData:" + b + ":" + std::to_string(t)); }
  void barcodeNSData(const Bytes& b, int t) override {
    rec("barcodeNSData:" + std::string(b.begin(), b.end()) + ":" + std::to_string(t));
  }
  void magneticCardData(const OptText& a, const OptText& b, const OptText& c) override {
    rec("magneticCardData:" + t(a) + "|" + t(b) + "|" + t(c));
  }
  void magneticCardData(const OptText& a, const OptText& b, const OptText& c, int source) override {
    rec("magneticCardData+source:" + t(a) + "|" + t(b) + "|" + t(c) + "|" + std::to_string(source));
  }
  void magneticCardEncryptedData(int e, int tr, const Bytes& d) override {
    rec("encrypted3:" + std::to_string(e) + ":" + std::to_string(tr) + ":" + foundation::toHex(d));
  }
  void magneticCardEncryptedData(int e, int tr, const Bytes& d, const OptText&, const OptText&,
                                 const OptText&) override {
    rec("encrypted6:" + std::to_string(e) + ":" + std::to_string(tr) + ":" + foundation::toHex(d));
  }
  void magneticCardEncryptedData(int e, int tr, const Bytes& d, const OptText&, const OptText&, const OptText&,
                                 int source) override {
    rec("encrypted7:" + std::to_string(e) + ":" + std::to_string(tr) + ":" + foundation::toHex(d) + ":" +
        std::to_string(source));
  }
  void magneticCardReadFailed(int s) override { rec("readFailed:" + std::to_string(s)); }
  void magneticCardReadFailed(int s, int r) override {
    rec("readFailed:" + std::to_string(s) + ":" + std::to_string(r));
  }
  void magneticJISCardData(const std::string& d) override { rec("JIS:" + d); }
  void magneticPassbookData(const std::optional<Bytes>& d) override {
    rec("passbook:" + (d ? std::to_string(d->size()) : std::string("nil")));
  }
  void magneticCardDetected() override { rec("magneticCardDetected"); }
  void deviceFeatureSupported(int f, int v) override {
    rec("feature:" + std::to_string(f) + "=" + std::to_string(v));
  }
  void smartCardInserted(int s) override { rec("smartCardInserted:" + std::to_string(s)); }
  void smartCardRemoved(int s) override { rec("smartCardRemoved:" + std::to_string(s)); }
  void PINEntryCompleteWithError(const std::optional<Error>& e) override {
    rec("PINEntryComplete:" + (e ? std::to_string(e->code) + ":" + e->text : std::string("nil")));
  }
  void emv2OnTransactionFinished(const Bytes& d) override { rec("emv2OnTransactionFinished:" + foundation::toHex(d)); }
  void sdkDebug(const std::string& text, int source) override { rec("sdkDebug:" + text + ":" + std::to_string(source)); }
  bool bluetoothDeviceRequestedConnection(const std::string&, const std::string&) override {
    rec("bluetoothDeviceRequestedConnection");
    return answer;
  }
  bool answer = false;

  static std::string t(const OptText& o) { return o ? *o : "nil"; }

 private:
  void rec(const std::string& line) { record(line, false); }
};

// A device API over fakes, with fake drivers reachable.
struct ApiFixture {
  FakeDrivers drivers;
  std::shared_ptr<KXDevices> api = KXDevices::create(std::make_shared<FakeFactory>(drivers));
  std::shared_ptr<CallLog> events = std::make_shared<CallLog>();

  std::shared_ptr<RecordingDelegate> delegate(std::string tag, std::vector<std::string_view> selectors) {
    auto d = std::make_shared<RecordingDelegate>(events, std::move(tag), std::move(selectors));
    api->addDelegate(d);
    return d;
  }
  // Moves the sleeve to `state` and reports it.
  void sleeveState(int state) {
    drivers.sleeve->state = state;
    api->connectionState(state);
  }
  void pinpadState(int state) {
    drivers.pinpad->state = state;
    api->ppadConnectionState(state);
  }
  void printerState(int index, int state) {
    (index == 0 ? drivers.printer0 : drivers.printer1)->state = state;
    api->prnConnectionState(state);
  }
  void hubConnected(bool up) {
    drivers.hub->up = up;
    api->connectionState(0);
  }
};

}  // namespace kestra::testing
