#include "sdk/sleeve/Pellan.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/MainQueue.h"
#include "sdk/sleeve/PellanFrame.h"
#include "sdk/sleeve/PellanImpl.h"
#include "sdk/sleeve/PellanModels.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {

class EAStreamLink final : public PellanLink {
 public:
  explicit EAStreamLink(std::shared_ptr<EAStream> s) : stream_(std::move(s)) {}
  bool write(int channel, const uint8_t* data, size_t length) override {
    return stream_->write(channel, data, length);
  }
  bool isOpen() const override { return stream_->connected() && stream_->isOpen(); }

 private:
  std::shared_ptr<EAStream> stream_;
};

// A stream pair has one channel; channel-1 commands are folded into it by the transport.
class CommStreamLink final : public PellanLink {
 public:
  explicit CommStreamLink(std::shared_ptr<CommStream> s) : stream_(std::move(s)) {}
  bool write(int, const uint8_t* data, size_t length) override {
    return stream_->write(data, length);
  }
  bool isOpen() const override { return stream_->connstate() == CommStream::kOpen; }

 private:
  std::shared_ptr<CommStream> stream_;
};

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

}  // namespace

// ---- Creation ---------------------------------------------------------------------------

Pellan::Pellan(EAManager& manager) : d_(std::make_unique<Impl>(manager)) {}

std::shared_ptr<Pellan> Pellan::create(EAManager& manager) {
  std::shared_ptr<Pellan> p(new Pellan(manager));
  p->d_->comm = CommStream::initWithName(pellan::kDriverName);
  p->d_->comm->setDelegate(std::weak_ptr<CommStreamDelegate>(p));
  pellanRegisterEmsrOwner(p);
  p->d_->bt301 = btBT301::create();
  p->d_->bt301->setControlDelegate(std::weak_ptr<BTModuleHost>(p));
  p->d_->btUni = btUniversal::create();
  p->d_->btUni->setControlDelegate(std::weak_ptr<BTModuleHost>(p));
  p->d_->bt = p->d_->bt301;
  return p;
}

Pellan& Pellan::sharedDevice() {
  // Lives for the whole process, like the manager it is registered with. The holder itself
  // stays reachable through this static, so leak checkers see it as in use.
  static std::shared_ptr<Pellan>* const holder =
      new std::shared_ptr<Pellan>(create(EAManager::sharedManager()));
  return **holder;
}

Pellan::~Pellan() {
  stopBT301ReadThread();
  pellanUnregisterEmsrOwner(this);
  if (d_->comm) d_->comm->setDelegate({});
}

// ---- Identity ---------------------------------------------------------------------------

int Pellan::connstate() const { return d_->transport.connState; }
int Pellan::connectionType() const { return d_->connectionType; }
void Pellan::setConnectionType(int type) { d_->connectionType = type; }
std::string Pellan::deviceName() const { return d_->name(); }
std::string Pellan::deviceModel() const { return d_->model(); }
std::string Pellan::firmwareRevision() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->firmwareRevision;
}
std::string Pellan::hardwareRevision() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->hardwareRevision;
}
std::string Pellan::serialNumber() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->serialNumber;
}
int Pellan::getFWVER() const { return d_->fwVer; }
int Pellan::getFirmwareVersion() const {
  const int v = d_->fwVer;
  return (v / 1000) * 100 + v % 100;
}

bool Pellan::isPresent() const {
  return connstate() == 2 || d_->manager.isAccessoryPresent(pellan::kDriverName);
}

// ---- Delegates ----------------------------------------------------------------------------

void Pellan::addDelegate(const std::shared_ptr<PellanDelegate>& delegate) { d_->delegates.add(delegate); }

void Pellan::removeDelegate(const std::shared_ptr<PellanDelegate>& delegate) { d_->delegates.remove(delegate); }

void Pellan::setDelegate(const std::shared_ptr<PellanDelegate>& delegate) { d_->delegates.set(delegate); }

std::shared_ptr<PellanDelegate> Pellan::delegate() { return d_->delegates.first(); }

std::vector<std::shared_ptr<PellanDelegate>> Pellan::delegates() { return d_->delegates.live(); }

bool Pellan::clientsRespondToSelector(std::string_view selector) {
  auto first = delegate();
  return first ? first->clientsRespondToSelector(selector) : false;
}

void Pellan::bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) {
  d_->fanOut(sel::bluetoothDevicePassKeySent, [&](PellanDelegate& del) {
    del.bluetoothDevicePassKeySent(address, passKey);
  });
}

// ---- Transport --------------------------------------------------------------------------

std::optional<Bytes> Pellan::sendCommand(int channel, int command, const uint8_t* data,
                                         uint64_t length, bool forced, Error* error) {
  return d_->transport.sendCommand(channel, command, data, size_t(length), forced, error);
}

std::optional<Bytes> Pellan::sendCommand(int channel, int command, const uint8_t* data,
                                         uint64_t length, Error* error) {
  return sendCommand(channel, command, data, length, false, error);
}

std::optional<Bytes> Pellan::ppadCommand(int subCommand, const uint8_t* data, uint64_t length,
                                         Error* error) {
  // The sub-command byte travels in the frame too; the length is checked before anything
  // is copied or allocated.
  if (data && length > pellan::kMaxFrameSize - pellan::kFrameHeaderSize - 1) {
    pellanFail(error, -9, "Input length is too big");
    return std::nullopt;
  }
  if (!data && length != 0) {
    pellanFail(error, -9, "Invalid parameter");
    return std::nullopt;
  }
  Bytes payload;
  payload.reserve(size_t(length) + 1);
  payload.push_back(uint8_t(subCommand));
  if (data && length) payload.insert(payload.end(), data, data + length);
  return d_->command(0, 0x42, payload, error);
}

Bytes Pellan::ppadPassThrough(const Bytes& packet) {
  Bytes answer;
  Error e;
  std::optional<Bytes> result;
  if (packet.size() >= 5) {
    // The packet's own length field is trusted only as far as the packet reaches.
    const size_t len = std::min<size_t>(foundation::readBE16(packet.data() + 3), packet.size() - 5);
    KXUNISDKGlobals::LOG("PN:ppad: %d, %d", packet[1], int(len));
    result = ppadCommand(packet[1], packet.data() + 5, len, &e);
  } else {
    e = pellanError(-9, "Invalid parameter");
  }
  answer.push_back(0x00);
  if (result) {
    const size_t n = std::min<size_t>(result->size(), 2044);
    answer.push_back(0x00);
    foundation::appendBE16(answer, uint16_t(n));
    answer.insert(answer.end(), result->begin(), result->begin() + n);
  } else {
    answer.push_back(uint8_t(e.code));
    foundation::appendBE16(answer, 0);
  }
  uint8_t lrc = 0;
  for (uint8_t b : answer) lrc ^= b;
  answer.push_back(lrc);
  return answer;
}

// ---- RF and iClass frames -----------------------------------------------------------------------

void Pellan::setModuleSink(std::shared_ptr<PellanModuleSink> sink) {
  std::lock_guard<std::mutex> lock(d_->moduleSinkMutex);
  d_->moduleSink = std::move(sink);
}

std::shared_ptr<PellanModuleSink> Pellan::moduleSink() const {
  std::lock_guard<std::mutex> lock(d_->moduleSinkMutex);
  return d_->moduleSink;
}

// ---- Features -------------------------------------------------------------------------------

int Pellan::getSupportedFeature(int feature, Error* error) {
  const std::string m = d_->model(), n = d_->name();
  return pellan::supportedFeature({m, n, d_->fwVer.load(), d_->btFeature.load()}, feature, error);
}

bool Pellan::featCheck(std::string_view code) const {
  return pellan::featCheck(d_->model(), code);
}

// ---- Demultiplexing ----------------------------------------------------------------------------

namespace {

class PellanSink final : public pellan::FrameSink {
 public:
  PellanSink(Pellan& p, Pellan::Impl& d) : pellan_(p), d_(d) {}
  void onFrame(const pellan::RoutedFrame& f) override {
    using pellan::FrameKind;
    switch (f.kind) {
      case FrameKind::Reply:
        KXUNISDKGlobals::LOG("PN:Notify");
        d_.transport.storeReply(f.frame, f.frameLength);
        break;
      case FrameKind::OversizeReply:
        KXUNISDKGlobals::LOG("PN:Oversized reply dropped, length %zu", f.dataLength);
        d_.transport.storeReply(f.frame, f.frameLength);  // the header alone
        break;
      case FrameKind::Event:
      case FrameKind::BluetoothEvent: {
        Bytes record(f.dataLength + 2);
        record[0] = uint8_t(f.channel);
        record[1] = f.code;
        std::copy(f.data(), f.data() + f.dataLength, record.begin() + 2);
        if (f.kind == FrameKind::BluetoothEvent) {
          pellan_.processBTEvents(record);
        } else {
          std::weak_ptr<Pellan> weak = pellan_.weak_from_this();
          foundation::MainQueue::post([weak, record = std::move(record)]() mutable {
            if (auto p = weak.lock()) p->processData(std::move(record));
          });
        }
        break;
      }
      case FrameKind::Generic: {
        const Bytes payload = f.dataLength >= 2 ? Bytes(f.data() + 2, f.data() + f.dataLength)
                                                : Bytes();
        d_.fanOut(sel::handleEvent, [&](PellanDelegate& del) { del.handleEvent(payload); });
        break;
      }
      case FrameKind::RfData: {
        auto sink = pellan_.moduleSink();
        if (!sink) {
          KXUNISDKGlobals::LOG("PN:Unhandled module data, code %02x", f.code);
          break;
        }
        Bytes data = f.dataLength >= 2 ? Bytes(f.data() + 2, f.data() + f.dataLength) : Bytes();
        d_.deliverRfData(std::move(sink), std::move(data));
        break;
      }
      case FrameKind::IClass: {
        if (f.dataLength < 1 || f.data()[0] != 5) break;
        const int length = int(f.dataLength - 1);
        if (length > Pellan::kIClassAnswerMax) {
          KXUNISDKGlobals::LOG("PN:Oversized iClass answer dropped, length %d", length);
          break;
        }
        KXUNISDKGlobals::LOG("PN:hidR<< %d bytes", length);
        if (auto sink = pellan_.moduleSink()) sink->iClassDataAvailable(f.data() + 1, length);
        break;
      }
    }
  }

 private:
  Pellan& pellan_;
  Pellan::Impl& d_;
};

}  // namespace

int Pellan::accessoryData(int channel, const uint8_t* buffer, int length) {
  if (!buffer || length <= 0) return 0;
  PellanSink sink(*this, *d_);
  return int(pellan::demultiplex(channel, buffer, size_t(length), d_->transport.nChannels, sink));
}

int Pellan::streamData(CommStream&, const uint8_t* buffer, int length) {
  return accessoryData(0, buffer, length);
}

// ---- Connection ------------------------------------------------------------------------------

void Pellan::connect() {
  if (connstate() != 0) return;
  setConnState(1);
  d_->manager.tryConnect();
}

void Pellan::managedConnect() {
  if (connstate() != 0) return;
  setConnState(1);
}

void Pellan::disconnect() {
  setConnState(0);
  std::shared_ptr<EAStream> stream;
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    stream = d_->eaStream;
  }
  if (d_->commStreamConnected) {
    d_->comm->disconnect();
    return;
  }
  if (d_->eaStreamConnected && stream) stream->disconnect();
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  d_->eaStream.reset();
}

bool Pellan::connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                std::shared_ptr<accessory::OutputStream> output, Error*) {
  if (connstate() == 2) return true;
  if (connstate() == 0) setConnState(1);
  d_->comm->connect(std::move(input), std::move(output));
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  // The pair opens and the sleeve is identified on other threads; poll for the result.
  const auto deadline = foundation::Clock::current().now() + kStreamConnectTimeout;
  while (connstate() != 2 && foundation::Clock::current().now() < deadline)
    foundation::Clock::current().waitFor(lock, cv, std::chrono::milliseconds(5),
                                         [] { return false; });
  if (connstate() != 2) return false;
  if (d_->connectionType != 3) d_->connectionType = 2;
  return true;
}

std::optional<std::vector<std::string>> Pellan::accessoryShouldConnect(
    const std::string& name, std::vector<std::string> channels) {
  KXUNISDKGlobals::LOG("PN:Pellan: accessoryShouldConnect");
  if (connstate() == 0) return std::nullopt;
  bool updater = false;
  for (const auto& s : channels)
    if (s.rfind(pellan::kProtocolUpdater, 0) == 0) updater = true;
  std::vector<std::string> answer = {pellan::kProtocolBarcode};
  if (channels.size() != 1) answer.push_back(pellan::kProtocolMagnetic);

  bool known = false;
  for (auto prefix : pellan::kClaimedModels)
    if (pellan::nameHasPrefix(name, prefix)) known = true;
  if (!known && channels.size() == 2 &&
      (pellan::nameHasPrefix(name, pellan::kFamilyPrefix) ||
       pellan::nameHasPrefix(name, pellan::kCardReaderPrefix)))
    known = true;
  if (!known) return std::nullopt;

  d_->transport.updaterLink = updater;
  d_->transport.nChannels = updater ? 1 : int(channels.size());
  return answer;
}

void Pellan::accessoryConnected(const std::shared_ptr<EAStream>& stream) {
  KXUNISDKGlobals::LOG("PN:Pellan: accessoryConnected");
  if (stream) {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    d_->eaStream = stream;
    d_->deviceName = stream->deviceName();
    d_->deviceModel = stream->deviceModel();
    d_->firmwareRevision = stream->firmwareRevision();
    d_->hardwareRevision = stream->hardwareRevision();
    d_->serialNumber = stream->serialNumber();
    d_->transport.setLink(std::make_shared<EAStreamLink>(stream));
  } else {
    // A stream pair is one channel whatever an earlier accessory link had: channel-1
    // commands and events travel on it folded.
    d_->transport.nChannels = 1;
    d_->transport.updaterLink = false;
    d_->transport.setLink(std::make_shared<CommStreamLink>(d_->comm));
  }
  d_->transport.firmwareUpdate = false;
  setBarReadLen(0);
  d_->fwVer = 0;
  d_->fwVerFull = 0;

  bool byCommand;
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    byCommand = d_->deviceModel == "trelmo" || d_->deviceName.empty() ||
                d_->transport.updaterLink || d_->firmwareRevision.empty();
  }
  if (byCommand && !identify()) return;

  std::string revision;
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    revision = d_->firmwareRevision;
  }
  if (!revision.empty()) {
    const auto parts = split(revision, '.');
    const size_t offset = parts.size() > 3 ? 1 : 0;
    auto part = [&](size_t i) { return i < parts.size() ? std::atoi(parts[i].c_str()) : 0; };
    d_->fwVer = part(offset) * 1000 + part(offset + 1) % 1000;
    int full = 0;
    for (size_t i = parts.size() == 4 ? 1 : 0; i < parts.size(); ++i) full = full * 100 + part(i);
    d_->fwVerFull = full;
    const std::string third = offset + 2 < parts.size() ? parts[offset + 2] : "0";
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    d_->firmwareRevision = pellanFormat("%d.%02d.%s", part(offset), part(offset + 1),
                                        third.c_str());
    KXUNISDKGlobals::LOG("PN:Computed ver: %d, string: %s", d_->fwVer.load(),
                         d_->firmwareRevision.c_str());
  }
  if (stream)
    d_->eaStreamConnected = true;
  else
    d_->commStreamConnected = true;
  setConnState(2);
}

bool Pellan::identify() {
  auto& t = d_->transport;
  t.inConnection = true;
  KXUNISDKGlobals::LOG("PN:TRELMO CONNECT TRY: %d", 0);
  const auto saved = t.responseTimeout();
  t.setResponseTimeout(kIdentResponseTimeout);
  auto ident = sysGetIdent(nullptr);
  static const Bytes kWake = foundation::bytesOf("KX@\r");
  // A link that went away ends the identification at once.
  auto gone = [&] {
    if (t.link() && connstate() != 0) return false;
    t.inConnection = false;
    return true;
  };
  for (int k = 1; k <= 6 && !ident; ++k) {
    if (gone()) return false;
    pellanPause(std::chrono::milliseconds(500));
    if (auto l = t.link()) l->write(0, kWake.data(), kWake.size());
    pellanPause(std::chrono::milliseconds(500));
    if (gone()) return false;
    t.resetReply();
    ident = sysGetIdent(nullptr);
    t.setResponseTimeout(saved);
    if (ident) break;
    if (k == 6) {
      KXUNISDKGlobals::LOG("PN:TRELMO CONNECT FAILED, GIVING UP");
      t.inConnection = false;
      return false;
    }
    pellanPause(std::chrono::seconds(1));
    if (gone()) return false;
    KXUNISDKGlobals::LOG("PN:TRELMO CONNECT TRY: %d", k);
    t.setResponseTimeout(kIdentResponseTimeout);
    ident = sysGetIdent(nullptr);
  }
  // Later commands always get the full reply wait again, whichever attempt answered.
  t.setResponseTimeout(saved);
  t.inConnection = false;
  const auto& items = *ident;
  auto item = [&](size_t i) { return i < items.size() ? items[i] : std::string(); };
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  d_->serialNumber = item(0);
  d_->deviceName = item(2);
  d_->deviceModel = item(3);
  d_->firmwareRevision = item(4);
  d_->hardwareRevision = "1.0.0";
  return true;
}

void Pellan::setConnState(int state) {
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(d_->connStateMutex);
    const int old = d_->transport.connState;
    KXUNISDKGlobals::LOG("PN:Pellan setConnState %d old %d", state, old);
    if (state == old) return;
    d_->btFeature = false;
    d_->transport.connState = state;
    generation = ++d_->stateGeneration;
  }
  // A sleeve that stops being connected ends a command waiting on it now.
  if (state != 2) d_->transport.abortWait();
  // The set-up of a connected sleeve runs without the lock, so that a disconnect (which
  // takes it, on the main thread) never waits for the sleeve's replies; the state change
  // ends the set-up instead, and only the latest state is announced.
  if (state == 2) {
    setUpConnected(generation);
    if (d_->stateGeneration.load() != generation) return;
  }
  // On the main thread the delegates are called from here, and one may connect or
  // disconnect again in its callback.
  notifyConnState();
}

void Pellan::setUpConnected(uint64_t generation) {
  // Each step is skipped once the state has moved on; a failing step is skipped too.
  auto current = [&] { return d_->stateGeneration.load() == generation; };
  chooseBluetoothModule();
  const int magnetic = d_->feature(0);
  if (magnetic && current()) {
    msSetCardDataMode(0, nullptr);
    if (current()) msEnable(nullptr);
  }
  // The encrypted head's firmware (0 without a head, or when it does not answer).
  int head = 0;
  if ((magnetic & 0x04) && current() && !emsrGetFirmwareVersion(&head, nullptr)) head = 0;
  d_->fwVerEmsr = head;
  const int engine = d_->feature(1);
  if (engine && current()) {
    {
      // Engine power on with a 30-minute limit (the limit needs firmware 2.64).
      std::lock_guard<std::mutex> bt(d_->btLock);
      Bytes power = {1};
      if (d_->fwVer >= 2064) foundation::appendBE16(power, 30);
      d_->command(0, 24, power, nullptr);
    }
    if (current())
      _barcodeSetTypeMode(engine == 1 || (engine == 4 && d_->fwVer >= 563) || engine == 5 ? 1 : 2, nullptr);
    if (engine == 5 && current()) barcodeSetScanMode(0, nullptr);
  }
  if (((magnetic & 0x08) || d_->feature(10) == 2) && current()) {
    // The sleeve's clock: read, set to now, read back.
    auto text = [](std::optional<std::chrono::system_clock::time_point> t) {
      return t ? foundation::formatDate(*t, "yyyy-MM-dd HH:mm:ss Z", true) : std::string("(null)");
    };
    KXUNISDKGlobals::LOG("PN:Current date: %s", text(rtcGetDate(nullptr)).c_str());
    if (current()) rtcSetDate(std::nullopt, nullptr);
    if (current()) KXUNISDKGlobals::LOG("PN:Set date: %s", text(rtcGetDate(nullptr)).c_str());
    KXUNISDKGlobals::LOG("PN:Current date: %s", text(foundation::Clock::current().wallNow()).c_str());
  }
  if (d_->transport.nChannels == 1 && current()) {
    double idle = 0;
    if (getAutoOffWhenIdle(&idle, static_cast<Error*>(nullptr))) d_->idleTimeout = idle;
  }
  d_->barcodeTypeMode = 1;
  d_->barScanMode = -1;
  if (!current()) return;
  // A link the AT-command module had before this connect is gone; listening resumes.
  d_->bt301->btDeviceDisconnected("");
  // The Bluetooth check: its answer reaches the delegates on the main queue.
  std::weak_ptr<Pellan> weak = weak_from_this();
  foundation::MainQueue::post([weak] {
    auto p = weak.lock();
    if (!p || p->connstate() != 2) return;
    p->d_->btFeature = p->featCheck("BL");
    const int value = p->d_->btFeature ? 3 : 0;
    p->d_->fanOut(sel::deviceFeatureSupported,
                  [&](PellanDelegate& del) { del.deviceFeatureSupported(2, value); });
  });
}

void Pellan::notifyConnState() {
  std::weak_ptr<Pellan> weak = weak_from_this();
  foundation::MainQueue::runOrPost([weak] {
    auto p = weak.lock();
    if (!p) return;
    const int state = p->connstate();
    p->d_->fanOut(sel::connectionState, [&](PellanDelegate& del) { del.connectionState(state); });
  });
}

void Pellan::accessoryDisconnected(const std::shared_ptr<EAStream>& stream) {
  KXUNISDKGlobals::LOG("PN:Pellan: accessoryDisconnected");
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    // A stream this driver no longer uses says nothing about the current link.
    if (stream && d_->eaStream && d_->eaStream != stream) return;
    d_->eaStream.reset();
    d_->deviceName.clear();
    d_->deviceModel.clear();
    d_->firmwareRevision.clear();
    d_->hardwareRevision.clear();
    d_->serialNumber.clear();
  }
  // The link goes first, so that nothing more is written to it; then the state moves to 1
  // and the module closes, and only then does a waiting command end: a caller whose
  // command failed because the sleeve went already reads the state that says so. None of
  // these steps waits for the sleeve, so a set-up in progress still fails fast.
  d_->transport.setLink(nullptr);
  d_->eaStreamConnected = false;
  d_->commStreamConnected = false;
  if (connstate() == 2) setConnState(1);
  if (auto bt = d_->module()) bt->close();
  d_->transport.abortWait();
}

void Pellan::streamConnected(CommStream&) {
  d_->commStreamConnected = true;
  // Identification waits for replies that this (the run-loop) thread reads: run it on a
  // thread of its own.
  std::weak_ptr<Pellan> weak = weak_from_this();
  GlobalQueue::async([weak] {
    if (auto p = weak.lock()) p->accessoryConnected(nullptr);
  });
}

void Pellan::streamDisconnected(CommStream&) {
  d_->commStreamConnected = false;
  accessoryDisconnected(nullptr);
}

std::optional<KXFinancialCardDictionary> Pellan::msProcessFinancialCard(
    std::optional<std::string_view> track1, std::optional<std::string_view> track2) const {
  return KXUNISDKGlobals::msProcessFinancialCard(track1, track2);
}

}  // namespace kestra
