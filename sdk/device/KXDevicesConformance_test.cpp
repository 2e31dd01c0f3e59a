// Every call of the facade's lists (KXDevicesAPI.inc, with KXPrinterAPI.inc inside it) walked
// through the real road: OKTKXDevices -> KXDevices -> PPadPinpad -> PPad -> the simulated
// pinpad over the accessory layer. For each call, what the pinpad does with it is read off
// the simulator and compared with the row of the support table (KXDeviceSupport.inc).
// A call without a row, a row without a call, and a call that ends in a "no device" body
// (-20 "No device connected", or the pinpad's "not connected" status 16) while the pinpad is
// connected all fail.
//
// Each call gets sample arguments: zero values, empty data, out-places to write into, and an
// error slot. The table's "Quiet" rows are calls that the SDK answers without a command with
// those arguments (pure functions, the driver's own state, or arguments refused first).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <type_traits>

#include "platform/bluetooth/BluetoothUuid.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/rf/RFWrapper.h"

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
  On pinpad;
};

std::vector<Row> supportTable() {
  std::vector<Row> rows;
#define KX_SUPPORT(call, pinpad) rows.push_back({#call, On::pinpad});
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

TEST(KXDevicesConformance, ThePinpadServesWhatItsColumnSays) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  PPad* pad = f.api->pinpad().securePad();
  ASSERT_NE(pad, nullptr);
  std::map<std::string, On> table;
  for (const auto& r : supportTable()) table[r.call] = r.pinpad;

  // Commands the driver queues (the command cache, the printer channel's buffer) are sent
  // before the count is read.
  auto frames = [&] {
    pad->prnFlushCache();
    pad->transport().flushCache();
    f.bench.runUntil([&] { return pad->transport().cachedResponsesOutstanding() == 0; });
    return f.bench.device->frames().hostFrames().size();
  };
  std::vector<std::string> mismatches;
  for (const auto& c : facadeCalls()) {
    const auto row = table.find(c.name);
    if (row == table.end() || row->second == On::Skip) continue;
    SCOPED_TRACE(c.name);
    const size_t before = frames();
    sampleError() = Error{};
    c.run(*f.facade);
    const Error error = sampleError();
    const size_t after = frames();
    pad->uiEnterPINCancel();  // a background PIN entry started by the call ends here
    On seen = after > before ? On::Sent : error.code == -7 ? On::NotHere : On::Quiet;
    // A forward left out shows as a "no device" body although the pinpad is connected.
    if (seen != On::Sent && ((error.code == -20 && error.text == "No device connected") || error.code == -16516))
      mismatches.push_back(c.name + ": no device (" + std::to_string(error.code) + " " + error.text + ")");
    else if (seen != row->second)
      mismatches.push_back(c.name + ": " + nameOf(seen) + ", the table says " + nameOf(row->second) + " (" +
                           std::to_string(error.code) + " " + error.text + ")");
    ASSERT_EQ(f.api->connstate(), 2) << c.name << " lost the pinpad";
  }
  RFWrapper::setDelegate(nullptr);
  RFWrapper::setCommDelegate(nullptr);
  for (const auto& m : mismatches) ADD_FAILURE() << m;
}

}  // namespace
}  // namespace kestra::testing
