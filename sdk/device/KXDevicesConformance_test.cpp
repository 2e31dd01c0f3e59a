// Every call of the facade's lists (KXDevicesAPI.inc, with KXPrinterAPI.inc inside it) walked
// through the real road, once for every production adapter: OKTKXDevices -> KXDevices -> the
// adapter (PPadPinpad, PellanSleeve, PrinterDevice, the hub's and the serial adapter's
// drivers, BTLELink with the sleeve behind it) -> the driver -> the simulated device over
// the accessory layer, a pseudo-terminal or the simulated radio; and the facade with the
// charging case alone. For each call, what the device does with it is read off the
// simulator and compared with that device's column of the support table
// (KXDeviceSupport.inc). A call without a row, a row without a call, and a call that ends in
// a "no device" body (-20 "No device connected", or the pinpad's "not connected" status 16)
// while its device is connected all fail.
//
// Each call gets sample arguments: zero values, empty data, out-places to write into, and an
// error slot. The table's "Quiet" rows are calls that the SDK answers without a command with
// those arguments (pure functions, the driver's own state, or arguments refused first).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/bluetooth/BluetoothUuid.h"
#include "platform/bluetooth/SimulatedRadio.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/BTLELink.h"
#include "sdk/device/KXDevicesAdapterBench.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/OKTCD.h"
#include "sdk/device/OKTEADSessionController.h"
#include "sdk/device/PrinterDevice.h"
#include "sdk/printer/Printer.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/PellanModels.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/transport/BTLEStream.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"
#include "testing/devices/hub/SimulatedHub.h"
#include "testing/devices/hub/SimulatedSerialAdapter.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SimulatedBleSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

using foundation::Bytes;

// ---- Sample arguments ----------------------------------------------------------------------

Error& sampleError() {
  static Error e;
  return e;
}

const void* zeros() {
  alignas(16) static const uint8_t buffer[512] = {};
  return buffer;
}

template <class T>
T sample() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, Error*>) {
    sampleError() = Error{};
    return &sampleError();
  } else if constexpr (std::is_pointer_v<U>) {
    using P = std::remove_pointer_t<U>;
    if constexpr (std::is_const_v<P>) {
      return static_cast<U>(zeros());
    } else {
      static std::remove_cv_t<P> place{};
      place = {};
      return &place;
    }
  } else if constexpr (std::is_lvalue_reference_v<T>) {
    static U value{};
    value = U{};
    return value;
  } else {
    return U{};
  }
}

// Calls a forwarder with sample arguments.
template <class R, class... Args>
void callWithSamples(R (*forward)(OKTKXDevices&, Args...), OKTKXDevices& facade) {
  (void)forward(facade, sample<Args>()...);
}

// ---- The calls of the lists ----------------------------------------------------------------

struct Call {
  std::string name;
  std::function<void(OKTKXDevices&)> run;
};

#define KX_CAT2(a, b) a##b
#define KX_CAT(a, b) KX_CAT2(a, b)
#define KX_WITH_FACADE(...) (OKTKXDevices & kxf __VA_OPT__(, ) __VA_ARGS__)
#define KX_API_AT(K, R, N, P, A)                                              \
  struct KX_CAT(Forward, K) {                                                 \
    static R forward KX_WITH_FACADE P { return kxf.N A; }                     \
  };                                                                          \
  calls.push_back({#N, [](OKTKXDevices& f) { callWithSamples(&KX_CAT(Forward, K)::forward, f); }});
#define KX_API(R, N, P, A) KX_API_AT(__COUNTER__, R, N, P, A)
#define KX_OWN(R, N, P, A)

std::vector<Call> facadeCalls() {
  std::vector<Call> calls;
#include "sdk/device/KXDevicesAPI.inc"
  return calls;
}

#undef KX_OWN
#undef KX_API

// ---- The table -----------------------------------------------------------------------------

enum class On { Sent, Quiet, NotHere, Skip };

struct Row {
  std::string call;
  On pinpad, sleeve, card, printer, hub, adapter, ble, case_;
};

std::vector<Row> supportTable() {
  std::vector<Row> rows;
#define KX_SUPPORT(call, pinpad, sleeve, card, printer, hub, adapter, ble, case_) \
  rows.push_back(                                                                  \
      {#call, On::pinpad, On::sleeve, On::card, On::printer, On::hub, On::adapter, On::ble, On::case_});
#include "sdk/device/KXDeviceSupport.inc"
#undef KX_SUPPORT
  return rows;
}

const char* nameOf(On on) {
  switch (on) {
    case On::Sent: return "Sent";
    case On::Quiet: return "Quiet";
    case On::NotHere: return "NotHere";
    case On::Skip: return "Skip";
  }
  return "?";
}

TEST(KXDevicesConformance, EveryCallHasOneRowAndEveryRowACall) {
  std::map<std::string, int> calls, rows;
  for (const auto& c : facadeCalls()) ++calls[c.name];
  for (const auto& r : supportTable()) ++rows[r.call];
  for (const auto& [name, n] : calls) {
    EXPECT_EQ(rows.count(name), 1u) << name << " has no row in KXDeviceSupport.inc";
    (void)n;
  }
  for (const auto& [name, n] : rows) {
    EXPECT_EQ(calls.count(name), 1u) << "the row " << name << " names no call of the lists";
    EXPECT_EQ(n, 1) << name << " has " << n << " rows";
  }
}

// ---- The walk ------------------------------------------------------------------------------

// One connected device and how to read what it was sent.
struct Walk {
  OKTKXDevices* facade = nullptr;
  On Row::*column = nullptr;
  // What the device has seen so far (frames or bytes), once everything the SDK queued or
  // wrote has reached it.
  std::function<size_t()> seen;
  // Whether the device is still connected.
  std::function<bool()> connected;
  // Waits for what a call started in the background to end on its own, so that its bytes
  // count for that call.
  std::function<void()> settle = [] {};
  // Ends what a call may have started in the background (a PIN entry, a scan).
  std::function<void()> afterCall = [] {};
  // The error that says "not on this device".
  int notHereCode = -7;
  // Whether a "no device" answer means a forward left out (not when the device API has no
  // device of its own, as with the charging case alone).
  bool noDeviceIsAForwardLeftOut = true;
};

bool noDeviceBody(const Error& error) {
  return (error.code == -20 && error.text == "No device connected") || error.code == -16516;
}

// Every call of the lists with a row that is not Skip: what the device did with it, against
// the column. Returns one line per mismatch.
std::vector<std::string> walk(const Walk& w) {
  std::map<std::string, On> table;
  for (const auto& r : supportTable()) table[r.call] = r.*(w.column);
  std::vector<std::string> mismatches;
  for (const auto& c : facadeCalls()) {
    const auto row = table.find(c.name);
    if (row == table.end() || row->second == On::Skip) continue;
    SCOPED_TRACE(c.name);
    const size_t before = w.seen();
    sampleError() = Error{};
    c.run(*w.facade);
    const Error error = sampleError();
    w.settle();
    const size_t after = w.seen();
    w.afterCall();
    const On seen = after > before ? On::Sent : error.code == w.notHereCode ? On::NotHere : On::Quiet;
    // A forward left out shows as a "no device" body although the device is connected.
    if (w.noDeviceIsAForwardLeftOut && seen != On::Sent && noDeviceBody(error))
      mismatches.push_back(c.name + ": no device (" + std::to_string(error.code) + " " + error.text + ")");
    else if (seen != row->second)
      mismatches.push_back(c.name + ": " + nameOf(seen) + ", the table says " + nameOf(row->second) + " (" +
                           std::to_string(error.code) + " " + error.text + ")");
    if (!w.connected()) {
      mismatches.push_back(c.name + " lost the device");
      break;
    }
  }
  return mismatches;
}

// Bytes the host sent on every channel of `device`, once it has read all of them.
size_t bytesSeen(devices::SimulatedAccessory& device) {
  foundation::RunLoop::main().runUntil([&] { return !device.busy(); }, std::chrono::milliseconds(20000));
  size_t n = 0;
  for (int channel = 0; channel < 4; ++channel) n += device.received(channel).size();
  return n;
}

// ---- The pinpad ----------------------------------------------------------------------------

TEST(KXDevicesConformance, ThePinpadServesWhatItsColumnSays) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  PPad* pad = f.api->pinpad().securePad();
  ASSERT_NE(pad, nullptr);
  Walk w;
  w.facade = f.facade.get();
  w.column = &Row::pinpad;
  // Commands the driver queues (the command cache, the printer channel's buffer) are sent
  // before the count is read.
  w.seen = [&] {
    pad->prnFlushCache();
    pad->transport().flushCache();
    f.bench.runUntil([&] { return pad->transport().cachedResponsesOutstanding() == 0; });
    return f.bench.device->frames().hostFrames().size();
  };
  w.connected = [&] { return f.api->connstate() == 2; };
  w.afterCall = [&] { pad->uiEnterPINCancel(); };  // a background PIN entry started by the call ends here
  for (const auto& m : walk(w)) ADD_FAILURE() << m;
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
}

// ---- The sleeve ----------------------------------------------------------------------------

// The device API and the facade over the production drivers, on one accessory bench: the
// sleeve, both printers, the pinpad slot, the serial adapter and the hub all wait for their
// accessories.
struct Bench {
  explicit Bench(devices::SimulatedSleeve::Options sleeve = {}) : bench(std::move(sleeve)) {}
  devices::SleeveTestBench bench;
  std::shared_ptr<KXDevices> api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
};

devices::SimulatedSleeve::Options sleeveModel(const std::string& name) {
  devices::SimulatedSleeve::Options o;
  o.config.name = name;
  return o;
}

void walkTheSleeve(const std::string& model, On Row::*column) {
  Bench b(sleeveModel(model));
  ASSERT_TRUE(b.bench.sleeve->attach());
  b.facade->connect();
  ASSERT_TRUE(b.bench.runUntil([&] { return b.api->connstate() == 2; }));
  Walk w;
  w.facade = b.facade.get();
  w.column = column;
  w.seen = [&] { return bytesSeen(*b.bench.sleeve); };
  w.connected = [&] { return b.api->connstate() == 2; };
  for (const auto& m : walk(w)) ADD_FAILURE() << model << ": " << m;
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
}

TEST(KXDevicesConformance, TheBarcodeSleeveServesWhatItsColumnSays) { walkTheSleeve("Pellan Pro", &Row::sleeve); }

TEST(KXDevicesConformance, TheCardReaderSleeveServesWhatItsColumnSays) {
  walkTheSleeve(std::string(pellan::kCardReaderDisplayName), &Row::card);
}

// ---- The printer ---------------------------------------------------------------------------

TEST(KXDevicesConformance, ThePrinterServesWhatItsColumnSays) {
  Bench b;
  const auto persona = devices::PrinterPersona::receipt();
  devices::SimulatedPrinter printer(devices::SimulatedPrinter::identityFor(persona), b.bench.folder, persona);
  ASSERT_TRUE(printer.attach());
  ASSERT_TRUE(b.bench.runUntil([&] { return b.bench.registry->connectedAccessories().size() == 1; }));
  b.facade->connect();
  ASSERT_TRUE(b.bench.runUntil([&] { return b.api->connstate() == 2; }));
  auto* device = dynamic_cast<PrinterDevice*>(&b.api->printer());
  ASSERT_NE(device, nullptr);
  // The connection's feature announcements ask the printer which modules it has, from the
  // main queue: they must be done before the walk, or their bytes count for whichever call
  // runs the main queue first.
  bool drained = false;
  foundation::MainQueue::post([&] { drained = true; });
  ASSERT_TRUE(b.bench.runUntil([&] { return drained; }));
  Walk w;
  w.facade = b.facade.get();
  w.column = &Row::printer;
  // Text the driver keeps in its cache goes out before the count is read.
  w.seen = [&] {
    device->driver()->flushCache();
    return bytesSeen(printer);
  };
  w.connected = [&] { return b.api->connstate() == 2; };
  for (const auto& m : walk(w)) ADD_FAILURE() << m;
  b.api->disconnect();
  b.bench.runUntil([&] { return b.api->connstate() == 0; });
}

// ---- The hub and its ports -----------------------------------------------------------------

TEST(KXDevicesConformance, TheHubAndItsPortsServeWhatTheirColumnSays) {
  Bench b;
  devices::SimulatedHub hub(devices::SimulatedHub::identity(), b.bench.folder, 4);
  ASSERT_TRUE(hub.attach());
  ASSERT_TRUE(b.bench.runUntil([&] { return b.bench.registry->connectedAccessories().size() == 1; }));
  b.facade->connect();
  auto listed = [&](int type) {
    for (const auto& info : b.api->getConnectedDevicesInfo())
      if (info && info->deviceType == type) return true;
    return false;
  };
  ASSERT_TRUE(b.bench.runUntil([&] { return listed(DEVICE_TYPE_HUB); }));
  hub.plugIn(2, "Barcode Scanner|USB|hid.barcode");
  hub.plugIn(3, "USB Swipe Reader|USB|com.magtek.msr");
  ASSERT_TRUE(b.bench.runUntil([&] { return listed(DEVICE_TYPE_HID_BARCODE) && listed(DEVICE_TYPE_USB_MSR); }));
  Walk w;
  w.facade = b.facade.get();
  w.column = &Row::hub;
  w.seen = [&] { return bytesSeen(hub); };
  w.connected = [&] { return listed(DEVICE_TYPE_HUB); };
  for (const auto& m : walk(w)) ADD_FAILURE() << m;
  hub.detach();
  b.bench.runUntil([&] { return !listed(DEVICE_TYPE_HUB); });
  b.bench.runUntil([] { return GlobalQueue::running() == 0; });
}

// ---- The charging case ---------------------------------------------------------------------

// A phone that is not charging, so the facade's automatic charging stays still.
class PhoneOnBattery final : public KXPhoneBattery {
 public:
  int batteryState() override { return kUnplugged; }
  float batteryLevel() override { return 0.5f; }
};

TEST(KXDevicesConformance, TheChargingCaseServesWhatItsColumnSays) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto chargingCase = OKTCD::create(OKTEADSessionController::create(*bench.registry), std::make_shared<PhoneOnBattery>());
  auto facade = OKTKXDevices::create(api, chargingCase, std::make_shared<KXDeviceAgentStandIn>());
  devices::SimulatedChargingCase sim(devices::SimulatedChargingCase::defaultIdentity(), bench.folder);
  ASSERT_TRUE(sim.attach());
  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return chargingCase->connState() == 2 && facade->connstate() == 2; }));
  Walk w;
  w.facade = facade.get();
  w.column = &Row::case_;
  w.seen = [&] { return bytesSeen(sim); };
  w.connected = [&] { return chargingCase->connState() == 2; };
  // The case is not a device of the device API: what the facade passes on finds none there.
  w.notHereCode = -20;
  w.noDeviceIsAForwardLeftOut = false;
  for (const auto& m : walk(w)) ADD_FAILURE() << m;
  sim.detach();
  bench.runUntil([&] { return chargingCase->connState() == 0; });
}

// ---- The serial adapter --------------------------------------------------------------------

// The adapter's discoveries end in the background: the radio goes off from a worker once the
// adapter reports the end, and only then is the completion told. A discovery's bytes all
// belong to its call, so the walk waits for that completion before it counts.
TEST(KXDevicesConformance, TheSerialAdapterServesWhatItsColumnSays) {
  AdapterBench b;
  ASSERT_TRUE(b.connect());
  auto inquiries = [&] {
    size_t n = 0;
    for (const auto& command : b.sim.bluetoothCommands()) n += !command.empty() && command[0] == 0x0A;
    return n;
  };
  auto completions = [&] { return b.log->count("api:complete:yes") + b.log->count("api:complete:no"); };
  Walk w;
  w.facade = b.facade.get();
  w.column = &Row::adapter;
  w.settle = [&] { EXPECT_TRUE(b.pump([&] { return completions() == inquiries(); })) << "a discovery never completed"; };
  w.seen = [&] { return b.sim.bytesSeen(); };
  w.connected = [&] { return b.listed(); };
  for (const auto& m : walk(w)) ADD_FAILURE() << m;
  EXPECT_GT(inquiries(), 0u);
}

// ---- A sleeve over Bluetooth Low Energy ----------------------------------------------------

TEST(KXDevicesConformance, ASleeveOverBluetoothLEServesWhatItsColumnSays) {
  devices::SleeveTestBench bench;
  auto radio = bluetooth::SimulatedRadio::create();
  devices::SimulatedBleSleeve sleeve(radio, {.name = "Pellan BLE 0042"});
  auto stream = BTLEStream::create(radio);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get(), nullptr, makeBTLELink(stream)));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  Error e;
  auto found = facade->btleDiscoverSupportedDevices(0, true, &e);
  ASSERT_TRUE(found) << e.text;
  ASSERT_EQ(found->size(), 1u);
  ASSERT_TRUE(facade->btleConnectToDevice(found->front(), &e)) << e.text;
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }));
  Walk w;
  w.facade = facade.get();
  w.column = &Row::ble;
  w.seen = [&] {
    radio->waitIdle();
    return sleeve.received().size();
  };
  w.connected = [&] { return api->connstate() == 2 && bench.pellan->connectionType() == 3; };
  for (const auto& m : walk(w)) ADD_FAILURE() << m;
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
  bench.pellan->disconnect();
  GlobalQueue::waitIdle();
}

}  // namespace
}  // namespace kestra::testing
