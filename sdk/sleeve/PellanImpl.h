#pragma once

// The sleeve driver's state, shared by its source files (connection, events, commands).
// Not part of the SDK's interface.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/OperationQueue.h"
#include "sdk/foundation/KXDelegateList.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanEngineCodec.h"
#include "sdk/sleeve/PellanFeatures.h"
#include "sdk/sleeve/PellanTransport.h"
#include "sdk/transport/bluetooth/btBT301.h"
#include "sdk/transport/bluetooth/btUniversal.h"

namespace kestra {

namespace pellan {
// One transaction's EMV tags (the start's, the online request's and the finish's) are kept up
// to this many bytes; an event whose tags do not fit any more is left out of them.
inline constexpr size_t kMaxEmvTagBytes = 16384;
}  // namespace pellan

struct Pellan::Impl {
  explicit Impl(EAManager& m) : manager(m) {}

  EAManager& manager;
  PellanTransport transport;
  std::shared_ptr<CommStream> comm;

  mutable std::mutex identityMutex;  // guards the strings and eaStream
  std::string deviceName, deviceModel, firmwareRevision, hardwareRevision, serialNumber;
  std::shared_ptr<EAStream> eaStream;

  std::atomic<bool> eaStreamConnected{false};
  std::atomic<bool> commStreamConnected{false};
  std::atomic<int> connectionType{0};
  std::atomic<int> fwVer{0};
  std::atomic<int> fwVerFull{0};
  std::atomic<int> fwVerEmsr{0};
  std::atomic<bool> btFeature{false};
  std::atomic<int> barcodeTypeMode{0};
  std::atomic<int> barScanMode{-1};
  std::atomic<int> buttonState{0};
  std::atomic<double> idleTimeout{30.0};

  std::mutex connStateMutex;  // one state change at a time (never held during the set-up)
  std::atomic<uint64_t> stateGeneration{0};  // counts state changes
  std::mutex btLock;          // start and stop scan do not interleave

  KXDelegateList<PellanDelegate> delegates{"PN"};

  // Encrypted head: 0 the real head (command 33), 1 the emulated one (command 62).
  std::atomic<int> activeHead{0};
  // EMV kernel: the next transaction's parameters, the magnetic-card emulation and the
  // current transaction's TLV data (guarded by emvMutex; it holds card data and is cleared
  // when replaced).
  std::atomic<int> transactionType{0};
  std::atomic<int> transactionAmount{0};
  std::atomic<int> transactionCurrency{0};
  std::atomic<bool> emvMSEmulation{false};
  std::atomic<int> emvAlgorithm{2};
  std::atomic<int> emvKeyID{1};
  mutable std::mutex emvMutex;
  std::optional<Bytes> emvTags;
  // Bytes from the barcode engine and the external serial port not yet read (PellanPassThrough.cpp).
  std::mutex passThroughMutex;
  pellan::EngineBuffer barRead{4112};
  pellan::EngineBuffer extSerial{512};
  std::atomic<bool> codeConfirm{false};

  // The Bluetooth modules (PellanBluetooth.cpp): the AT-command module, the sleeve's own
  // module, and the one in use (chosen when a sleeve connects).
  mutable std::mutex btModuleMutex;
  std::shared_ptr<btModule> bt;
  std::shared_ptr<btBT301> bt301;
  std::shared_ptr<btUniversal> btUni;
  std::shared_ptr<btModule> module() const {
    std::lock_guard<std::mutex> lock(btModuleMutex);
    return bt;
  }
  // The read thread of the AT-command module on firmware that does not push its bytes.
  std::mutex bt301ThreadMutex;  // the thread object; the pause's wake-up
  std::condition_variable bt301ThreadWake;
  std::thread bt301Thread;
  std::atomic<bool> bt301ThreadActive{false};
  std::atomic<bool> bt301ThreadShouldClose{false};

  mutable std::mutex moduleSinkMutex;
  std::shared_ptr<PellanModuleSink> moduleSink;
  // RF reader bytes go to the sink off the caller's thread, one delivery at a time in the
  // order the sleeve sent them: a reader frame split over two events is joined in order.
  foundation::OperationQueue rfDelivery{1};
  void deliverRfData(std::shared_ptr<PellanModuleSink> sink, Bytes data) {
    rfDelivery.addOperation([sink = std::move(sink), data = std::move(data)] { sink->rfDataAvailable(data); });
  }

  // Calls `call` on every delegate that implements `selector`, last registered first; an
  // exception thrown by a delegate is dropped. Returns how many were called.
  int fanOut(std::string_view selector, const std::function<void(PellanDelegate&)>& call) {
    return int(delegates.fanOut(selector, call));
  }

  std::string model() const {
    std::lock_guard<std::mutex> lock(identityMutex);
    return deviceModel;
  }
  std::string name() const {
    std::lock_guard<std::mutex> lock(identityMutex);
    return deviceName;
  }

  int feature(int f) {
    const std::string m = model(), n = name();
    return pellan::supportedFeature({m, n, fwVer.load(), btFeature.load()}, f, nullptr);
  }

  // A command on channel `channel` with `data`.
  std::optional<Bytes> command(int channel, int code, const Bytes& data, Error* error) {
    return transport.sendCommand(channel, code, data.empty() ? nullptr : data.data(),
                                 data.size(), false, error);
  }
};

// Makes `pellan` an owner of the encrypted head's command library, so that library calls
// with it as owner reach its head; the destructor undoes it.
void pellanRegisterEmsrOwner(const std::shared_ptr<Pellan>& pellan);
void pellanUnregisterEmsrOwner(const Pellan* pellan);

// Reads one answer byte; an empty answer is "Invalid data length received".
bool pellanFirstByte(const std::optional<Bytes>& answer, uint8_t* out, Error* error);

}  // namespace kestra
