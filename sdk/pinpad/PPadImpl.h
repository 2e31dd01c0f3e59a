#pragma once
// The pinpad driver's state, shared by its source files. Not part of the SDK's interface.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <functional>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "sdk/foundation/KXDelegateList.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadIdentity.h"
#include "sdk/pinpad/PPadTransport.h"
#include "sdk/printer/PrinterText.h"

namespace kestra {

struct PPad::Impl {
  explicit Impl(EAManager& m) : manager(m) {}

  EAManager& manager;
  PPadTransport transport;
  std::shared_ptr<CommStream> comm;

  mutable std::mutex identityMutex;  // guards the texts, the records and the streams
  std::string deviceName, deviceModel, firmwareRevision, hardwareRevision, serialNumber;
  Bytes serialNumberCPU;
  std::shared_ptr<EAStream> eaStream;
  ppad::Identification devInfo;
  ppad::SystemInfo sysInfo;
  std::shared_ptr<BTModule> bt;
  PPad::RFDataSink rfSink;

  std::atomic<bool> eaStreamConnected{false};
  std::atomic<bool> commStreamConnected{false};
  std::atomic<bool> inConnectionRetry{false};
  std::atomic<int> connectionType{0};

  // Identification results.
  std::atomic<bool> displayAtBottom{false};
  std::atomic<int> deviceType{0};
  std::atomic<int> displayWidth{0};
  std::atomic<int> displayHeight{0};
  std::atomic<bool> uiex{false};
  std::atomic<bool> uicolor{false};
  std::atomic<int> statusHeight{0};
  std::atomic<int> topMargin{0};
  std::atomic<bool> prnRemovable{false};
  std::atomic<int> pagewidth{384};
  std::atomic<int> feedlines{0};
  std::atomic<int> idleTimeout{30};
  std::atomic<bool> emvDetected{false};
  std::atomic<int> emvKernelType{4};
  std::atomic<bool> emvInitDone{false};

  // Events and readers.
  // A background PIN entry runs (set by the start call itself, so two quick starts cannot
  // both run); its mode (asynchronous commands or the blocking one) and a cancel request.
  std::atomic<bool> pinThreadActive{false};
  std::atomic<bool> pinThreadCancelled{false};
  std::atomic<bool> pinModeAsync{false};
  std::mutex panMutex;
  std::optional<std::string> pinPan;
  // The font of the last text window opened; decides how prompt text is encoded.
  std::atomic<int> lastFont{1};
  std::atomic<bool> smartCardPresent{false};
  std::atomic<int> smartCardSlot{0};
  std::atomic<int> msEncryption{2};
  std::atomic<int> msKeyID{0};
  std::atomic<uint32_t> msUniqueID{0};
  std::atomic<uint32_t> msRandomSeed{0};
  std::atomic<bool> msIncludeSentinels{true};
  std::atomic<int> msTracks{7};
  std::atomic<int> emsrTracks{0xA7};
  std::atomic<int> msUnmaskedDigitsAtStart{4};
  std::atomic<int> msUnmaskedDigitsAtEnd{4};
  std::atomic<int> msUnmaskedDigitsAfter{4};
  std::atomic<int> barcodeScanMode{0};
  std::atomic<uint32_t> events{0};
  std::atomic<uint32_t> mifareSerial{0};
  std::atomic<int> emsrFirmwareVersion{0};

  // Printer channel: the print cache, its write thread and the pinpad's own text state.
  static constexpr size_t kPrintCacheSize = 16384;
  mutable std::mutex printCacheMutex;  // the cache, shared by writers and the write thread
  std::vector<uint8_t> printCache;
  std::mutex printTextMutex;
  printer::TextState printText;
  std::mutex writeThreadMutex;
  std::condition_variable writeThreadWake;
  std::thread writeThread;
  std::atomic<bool> writeThreadStop{false};
  std::atomic<bool> writeThreadStarted{false};

  KXDelegateList<PPadDelegate> delegates{"PPad"};

  // Calls `call` on every delegate that implements `selector`, last registered first.
  // Returns how many were called.
  template <class F>
  int fanOut(std::string_view selector, F&& call) {
    return int(delegates.fanOut(selector, std::forward<F>(call)));
  }
  std::shared_ptr<PPadDelegate> firstDelegate() { return delegates.first(); }

  std::string name() const {
    std::lock_guard<std::mutex> lock(identityMutex);
    return deviceName;
  }
  std::shared_ptr<BTModule> module() const {
    std::lock_guard<std::mutex> lock(identityMutex);
    return bt;
  }

  int command(uint8_t group, const Bytes& data, Bytes* out = nullptr, bool cached = false,
              foundation::Duration timeout = PPadTransport::kDefaultTimeout) {
    return transport.command(group, data, out, cached, timeout);
  }
};

// A command's data: the leading bytes `head` followed by `n` bytes from `p` (null only when
// `n` is 0).
inline Bytes withArgs(std::initializer_list<uint8_t> head, const uint8_t* p, size_t n) {
  Bytes out(head.size() + n);
  std::copy(head.begin(), head.end(), out.begin());
  if (p && n) std::memcpy(out.data() + head.size(), p, n);
  return out;
}
inline Bytes withArgs(std::initializer_list<uint8_t> head, const Bytes& tail) {
  return withArgs(head, tail.data(), tail.size());
}

// Runs one command and hands its reply to `out` only on success; the reply buffer, which may
// have held card or key data, is cleared either way.
inline int commandInto(PPad::Impl& d, uint8_t group, const Bytes& request, Bytes* out,
                       foundation::Duration timeout = PPadTransport::kDefaultTimeout) {
  Bytes reply;
  const int r = d.command(group, request, &reply, false, timeout);
  if (r == 0 && out) *out = reply;
  foundation::secureClear(reply);
  return r;
}

// `a` followed by `b`.
inline Bytes joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The owner under which the pinpad's calls of the encrypted-head library are made.
void* ppadEmsrOwner();

// Pauses the calling thread for `d` of the current clock's time.
void ppadPause(foundation::Duration d);

namespace ppad {
inline constexpr uint8_t kGroupIdentification = 0x01;
inline constexpr uint8_t kGroupRandom = 0x02;
inline constexpr uint8_t kGroupMasterKey = 0x10;
inline constexpr uint8_t kGroupAIK = 0x11;
inline constexpr uint8_t kGroupManagement = 0x12;
inline constexpr uint8_t kGroupCrypto = 0x31;
inline constexpr uint8_t kGroupEmv = 0x37;
inline constexpr uint8_t kGroupDukpt = 0x32;
inline constexpr uint8_t kGroupSmartCard = 0x33;
inline constexpr uint8_t kGroupMagnetic = 0x34;
inline constexpr uint8_t kGroupUI = 0x35;
inline constexpr uint8_t kGroupSystem = 0x36;
inline constexpr uint8_t kGroupBarcode = 0x38;
inline constexpr uint8_t kGroupMifare = 0x39;
inline constexpr uint8_t kGroupBluetooth = 0x3A;
inline constexpr uint8_t kGroupPrinter = 0x42;
inline constexpr uint8_t kGroupTest = 0xFF;
}  // namespace ppad

}  // namespace kestra
