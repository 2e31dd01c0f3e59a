// The pinpad driver's life, delegates, links and packet routing.
#include "sdk/pinpad/PPad.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <thread>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/pinpad/PPadFrame.h"
#include "sdk/pinpad/PPadImpl.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/bluetooth/btBT301.h"

namespace kestra {

namespace {

class EAStreamLink final : public PPadLink {
 public:
  explicit EAStreamLink(std::shared_ptr<EAStream> s) : stream_(std::move(s)) {}
  bool write(const uint8_t* data, size_t length) override { return stream_->write(0, data, length); }
  bool isOpen() const override { return stream_->connected() && stream_->isOpen(); }

 private:
  std::shared_ptr<EAStream> stream_;
};

class CommStreamLink final : public PPadLink {
 public:
  explicit CommStreamLink(std::shared_ptr<CommStream> s) : stream_(std::move(s)) {}
  bool write(const uint8_t* data, size_t length) override { return stream_->write(data, length); }
  bool isOpen() const override { return stream_->connstate() == CommStream::kOpen; }

 private:
  std::shared_ptr<CommStream> stream_;
};

constexpr foundation::Duration kStreamOpenTimeout = std::chrono::seconds(10);
// The wait for the end of the accessory search before the one retry (real time: the search
// ends on its own thread as soon as the failed identification returns).
constexpr std::chrono::milliseconds kRetrySearchCheck{5};
constexpr int kRetrySearchChecks = 2000;

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool endsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The encrypted-head library's owner for the pinpad: one token for the process (the
// library's table of owners is small and never shrinks), standing for the pinpad driver
// made last - there is one per process; tests make one after another.
const int kEmsrOwnerToken = 0;
std::mutex gHeadMutex;
std::weak_ptr<PPad> gHeadPad;

int emsrTransport(void*, const uint8_t* request, int requestLength, uint8_t* reply, int replyCapacity, int) {
  std::shared_ptr<PPad> pad;
  {
    std::lock_guard<std::mutex> lock(gHeadMutex);
    pad = gHeadPad.lock();
  }
  if (!pad) return -6;
  int length = 0;
  const int r = pad->emsrCommand(request, requestLength, reply, replyCapacity, &length);
  return r == 0 ? length : -6;
}

}  // namespace

void* ppadEmsrOwner() { return const_cast<int*>(&kEmsrOwnerToken); }

void ppadPause(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  foundation::Clock::current().waitFor(lock, cv, d, [] { return false; });
}

// ---- Creation ---------------------------------------------------------------------------

PPad::PPad(EAManager& manager) : d_(std::make_unique<Impl>(manager)) {}

std::shared_ptr<PPad> PPad::create(EAManager& manager) {
  std::shared_ptr<PPad> p(new PPad(manager));
  p->d_->comm = CommStream::initWithName("PPad");
  p->d_->comm->setDelegate(std::weak_ptr<CommStreamDelegate>(p));
  // The pinpad's own Bluetooth module; it reaches the module through this driver.
  p->setBluetoothModule(btBT301::create());
  static std::once_flag registered;
  std::call_once(registered, [] { emsrSetCallbacks(ppadEmsrOwner(), &emsrTransport); });
  {
    std::lock_guard<std::mutex> lock(gHeadMutex);
    gHeadPad = p;
  }
  return p;
}

PPad& PPad::sharedDevice() {
  // Lives for the whole process, like the manager it is registered with.
  // Lives for the whole process; the holder stays reachable through this static.
  static std::shared_ptr<PPad>* const holder = new std::shared_ptr<PPad>(create(EAManager::sharedManager()));
  return **holder;
}

PPad::~PPad() {
  prnStopWriteThread();
  d_->transport.stopCacheWriteThread();
  if (d_->comm) d_->comm->setDelegate({});
}

PPadTransport& PPad::transport() { return d_->transport; }

int PPad::sendCommand(uint8_t group, const Bytes& data, Bytes* out, bool cached,
                      foundation::Duration timeout) {
  return d_->command(group, data, out, cached, timeout);
}

// ---- Identity ---------------------------------------------------------------------------

int PPad::connstate() const { return d_->transport.connState; }
int PPad::connectionType() const { return d_->connectionType; }
void PPad::setConnectionType(int type) { d_->connectionType = type; }
bool PPad::displayAtBottom() const { return d_->displayAtBottom; }
int PPad::deviceType() const { return d_->deviceType; }
int PPad::displayWidth() const { return d_->displayWidth; }
int PPad::displayHeight() const { return d_->displayHeight; }
std::string PPad::deviceName() const { return d_->name(); }
std::string PPad::deviceModel() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->deviceModel;
}
std::string PPad::firmwareRevision() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->firmwareRevision;
}
std::string PPad::hardwareRevision() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->hardwareRevision;
}
std::string PPad::serialNumber() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->serialNumber;
}
Bytes PPad::serialNumberCPU() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->serialNumberCPU;
}
std::shared_ptr<BTModule> PPad::btInputStream() const { return d_->module(); }

void PPad::setBluetoothModule(std::shared_ptr<BTModule> module) {
  if (module) module->setControlDelegate(std::weak_ptr<BTModuleHost>(shared_from_this()));
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  d_->bt = std::move(module);
}

void PPad::setRFDataSink(RFDataSink sink) {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  d_->rfSink = std::move(sink);
}

void PPad::rfDataAvailable(const Bytes& data) {
  RFDataSink sink;
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    sink = d_->rfSink;
  }
  if (sink) sink(data);
}

bool PPad::isPresent() const {
  return connstate() == 2 || d_->manager.isAccessoryPresent("FW PPAD");
}

void PPad::enablePassThrough(std::shared_ptr<PPadTunnel> tunnel) {
  d_->transport.setTunnel(std::move(tunnel));
}

// ---- Delegates ----------------------------------------------------------------------------

void PPad::addDelegate(const std::shared_ptr<PPadDelegate>& delegate) { d_->delegates.add(delegate); }
void PPad::removeDelegate(const std::shared_ptr<PPadDelegate>& delegate) { d_->delegates.remove(delegate); }
void PPad::setDelegate(const std::shared_ptr<PPadDelegate>& delegate) { d_->delegates.set(delegate); }
std::shared_ptr<PPadDelegate> PPad::delegate() { return d_->delegates.first(); }
std::vector<std::shared_ptr<PPadDelegate>> PPad::delegates() { return d_->delegates.live(); }

// ---- Connection state -----------------------------------------------------------------------

void PPad::setConnState(int state) {
  // No lock is held across what follows: the set-up of state 2 sends commands.
  const int old = d_->transport.connState.exchange(state);
  KXUNISDKGlobals::LOG("PPAd: setConnState: %d", old);
  if (old == state) return;
  if (state == 2) {
    d_->msEncryption = 2;
    int version = 0;
    d_->emsrFirmwareVersion = ::kestra::emsrGetFirmwareVersion(ppadEmsrOwner(), &version) >= 0 ? version : 0;
    if (auto module = d_->module()) module->setEnabled(false);
    if (getSupportedFeature(7) != 0) prnStartWriteThread();
  } else {
    d_->barcodeScanMode = 0;
    // Commands no longer go out on a link that is not up; a waiting one gives up now.
    d_->transport.fakeConnected = false;
    d_->transport.abortWait();
    prnStopWriteThread();
  }
  notifyConnState();
}

void PPad::notifyConnState() {
  std::weak_ptr<PPad> weak = weak_from_this();
  foundation::MainQueue::runOrPost([weak] {
    auto self = weak.lock();
    if (!self) return;
    const int state = self->connstate();
    KXUNISDKGlobals::LOG("PPAd: notifyConnState: %d", state);
    self->d_->fanOut(ppsel::ppadConnectionState,
                     [state](PPadDelegate& del) { del.ppadConnectionState(state); });
  });
}

void PPad::connect() {
  if (connstate() != 0) return;
  setConnState(1);
  d_->manager.tryConnect();
}

void PPad::managedConnect() {
  if (connstate() != 0) return;
  setConnState(1);
}

void PPad::disconnect() {
  setConnState(0);
  d_->transport.fakeConnected = false;
  d_->transport.abortWait();
  if (d_->commStreamConnected) {
    d_->comm->disconnect();
  } else if (d_->eaStreamConnected) {
    std::shared_ptr<EAStream> s;
    {
      std::lock_guard<std::mutex> lock(d_->identityMutex);
      s = d_->eaStream;
    }
    if (s) s->disconnect();
  }
}

int PPad::connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                             std::shared_ptr<accessory::OutputStream> output) {
  if (connstate() == 2) return ppad::kFailed;
  d_->comm->connect(std::move(input), std::move(output));
  {
    // The pair opens on the run-loop thread.
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock<std::mutex> lock(m);
    const auto deadline = foundation::Clock::current().now() + kStreamOpenTimeout;
    while (!d_->commStreamConnected && foundation::Clock::current().now() < deadline)
      foundation::Clock::current().waitFor(lock, cv, std::chrono::milliseconds(5), [] { return false; });
  }
  if (!d_->commStreamConnected) {
    setConnState(0);
    return ppad::kFailed;
  }
  d_->transport.setLink(std::make_shared<CommStreamLink>(d_->comm));
  if (initCheck()) return ppad::kOK;
  setConnState(0);
  return ppad::kFailed;
}

// ---- Accessory and stream contracts ----------------------------------------------------------

std::optional<std::vector<std::string>> PPad::accessoryShouldConnect(const std::string& name,
                                                                     std::vector<std::string> channels) {
  if (connstate() == 0) return std::nullopt;
  if (endsWith(name, "PPAD1")) return std::nullopt;
  if (channels.empty()) return std::nullopt;
  const std::string first = lower(channels.front());
  for (auto p : kProtocols)
    if (first == p) return channels;
  return std::nullopt;
}

void PPad::accessoryConnected(const std::shared_ptr<EAStream>& stream) {
  KXUNISDKGlobals::LOG("PPad: accessoryConnected");
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    d_->eaStream = stream;
    d_->deviceName = stream->deviceName();
    d_->deviceModel = stream->deviceModel();
    d_->firmwareRevision = stream->firmwareRevision();
    d_->hardwareRevision = stream->hardwareRevision();
    d_->serialNumber = stream->serialNumber();
  }
  d_->eaStreamConnected = true;
  d_->transport.setLink(std::make_shared<EAStreamLink>(stream));

  // Identification, with one fresh attempt through the accessory manager on failure.
  if (initCheck()) {
    d_->inConnectionRetry = false;
    return;
  }
  if (connstate() == 0) return;  // disconnected meanwhile: no second attempt
  if (d_->inConnectionRetry) {
    setConnState(1);
    return;
  }
  d_->inConnectionRetry = true;
  const bool enabled = stream->connectEnabled;
  disconnect();
  stream->connectEnabled = enabled;
  setConnState(1);
  stream->connectEnabled = true;
  EAManager* manager = &d_->manager;
  GlobalQueue::async([manager] {
    // This runs while the manager's search that offered the accessory is still returning
    // from here, and a search request made during a search is dropped: ask once it ended.
    for (int i = 0; i < kRetrySearchChecks && manager->searchInProgress(); ++i)
      std::this_thread::sleep_for(kRetrySearchCheck);
    manager->tryConnect();
  });
}

int PPad::accessoryData(int, const uint8_t* buffer, int length) {
  return streamData(*d_->comm, buffer, length);
}

void PPad::accessoryDisconnected(const std::shared_ptr<EAStream>&) {
  KXUNISDKGlobals::LOG("PPad: accessoryDisconnected");
  d_->eaStreamConnected = false;
  if (auto module = d_->module(); module && !module->btConnectedDevices().empty()) {
    _bt301SetEnabled(false, nullptr);
    // The links went with the pinpad: the module driver forgets them and reports each one.
    if (auto driver = std::dynamic_pointer_cast<btModule>(module)) driver->btDeviceDisconnected("");
  }
  streamDisconnected(*d_->comm);
  KXUNISDKGlobals::LOG("PPad: accessoryDisconnected end");
  d_->transport.abortWait();
}

void PPad::streamConnected(CommStream&) {
  // Identification of a stream pair runs in connectWithStreams, on the caller's thread.
  d_->commStreamConnected = true;
}

void PPad::streamDisconnected(CommStream&) {
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    d_->deviceName.clear();
    d_->deviceModel.clear();
    d_->firmwareRevision.clear();
    d_->hardwareRevision.clear();
    d_->serialNumber.clear();
  }
  d_->commStreamConnected = false;
  if (connstate() == 2) setConnState(1);
  d_->transport.fakeConnected = false;
  d_->transport.abortWait();
}

// ---- Packet routing (common run-loop thread) --------------------------------------------------

namespace {

class Router final : public ppad::PacketSink {
 public:
  Router(PPad& pad, PPad::Impl& d) : pad_(pad), d_(d) {}
  void onPacket(const ppad::Packet& p) override;

 private:
  PPad& pad_;
  PPad::Impl& d_;
};

void Router::onPacket(const ppad::Packet& p) {
  const uint8_t type = p.type();
  const size_t n = p.dataLength;
  std::weak_ptr<PPad> weak = pad_.weak_from_this();
  switch (type) {
    case ppad::kTypeResponse:
      d_.transport.storeResponse(p.body(), p.bodyLength());
      return;
    case ppad::kTypeDebug: {
      if (n == 0) return;
      const std::string text(reinterpret_cast<const char*>(p.data()), n);
      KXUNISDKGlobals::LOG("PPDEBUG: %s", text.c_str());
      d_.fanOut(ppsel::kxdev_debug, [&](PPadDelegate& del) { del.kxdev_debug(text, 0); });
      return;
    }
    case ppad::kTypeBluetooth:
      if (auto module = d_.module()) {
        if (n == 0)
          GlobalQueue::async([weak] {
            if (auto self = weak.lock()) self->btReadPacket();
          });
        else
          module->btAppendData(p.data(), n);
        return;
      }
      break;  // no module: an event
    case ppad::kTypeRfData: {
      Bytes data(p.data(), p.data() + n);
      GlobalQueue::async([weak, data = std::move(data)] {
        KXUNISDKGlobals::LOG("PPad: EVENT_RFDATA");
        if (auto self = weak.lock()) self->rfDataAvailable(data);
      });
      return;
    }
    case ppad::kTypePog: {
      if (n < 2) {
        KXUNISDKGlobals::LOG("PPad: POG packet too short, dropped");
        return;
      }
      const int solution = p.data()[0], command = p.data()[1];
      Bytes data(p.data() + 2, p.data() + n);
      PPad::Impl* d = &d_;
      GlobalQueue::async([weak, d, solution, command, data = std::move(data)] {
        if (auto self = weak.lock())
          d->fanOut(ppsel::kxdev_pogdata, [&](PPadDelegate& del) {
            del.kxdev_pogdata(solution, command, data);
          });
      });
      return;
    }
    case ppad::kTypeBorica:
    case ppad::kTypeBoricaInternet: {
      Bytes data(p.data(), p.data() + n);
      const bool internet = type == ppad::kTypeBoricaInternet;
      PPad::Impl* d = &d_;
      GlobalQueue::async([weak, d, internet, data = std::move(data)] {
        auto self = weak.lock();
        if (!self) return;
        if (internet)
          d->fanOut(ppsel::boricaInternetData, [&](PPadDelegate& del) { del.boricaInternetData(data); });
        else
          d->fanOut(ppsel::boricaData, [&](PPadDelegate& del) { del.boricaData(data); });
      });
      return;
    }
    default:
      break;
  }
  Bytes packet(p.body(), p.body() + p.bodyLength());
  foundation::MainQueue::post([weak, packet = std::move(packet)]() mutable {
    if (auto self = weak.lock()) self->processData(std::move(packet));
  });
}

}  // namespace

int PPad::streamData(CommStream&, const uint8_t* buffer, int length) {
  if (length <= 0) return 0;
  Router router(*this, *d_);
  return int(ppad::demultiplex(buffer, size_t(length), router));
}

}  // namespace kestra
