// The printer's link, connection state, receive path, write cache and framed command layer.
#include "sdk/printer/Printer.h"

#include <pthread.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/ThreadName.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/printer/PrinterImpl.h"
#include "sdk/printer/PrinterModels.h"

namespace kestra {

using foundation::Bytes;
using foundation::Duration;

PrinterShared& PrinterShared::get() {
  static PrinterShared s;
  return s;
}

// ---- Helpers ------------------------------------------------------------------------------

bool Printer::Impl::fail(Error* error, int code, const std::string& text) {
  Error e = KXUNISDKGlobals::makeError(code, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, std::move(e));
}

std::string Printer::Impl::format(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

void Printer::Impl::pause(Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  foundation::Clock::current().waitFor(lock, cv, d, [] { return false; });
}

namespace {

// The encrypted-head library's owner tokens, one per printer index, and the live printer
// each stands for.
constexpr int kPrinterSlots = 2;
int gEmsrTokens[kPrinterSlots];
std::mutex gRegistryMutex;
std::weak_ptr<Printer> gRegistry[kPrinterSlots];

int emsrTransport(void* owner, const uint8_t* request, int requestLength, uint8_t* reply, int replyCapacity,
                  int timeoutMs) {
  const int slot = int(static_cast<int*>(owner) - gEmsrTokens);
  if (slot < 0 || slot >= kPrinterSlots) return -7;
  std::shared_ptr<Printer> p;
  {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    p = gRegistry[slot].lock();
  }
  if (!p) return -7;
  return p->emsrCommand(request, requestLength, reply, replyCapacity, timeoutMs);
}

}  // namespace

void* printerEmsrOwner(int index) { return &gEmsrTokens[index == 1 ? 1 : 0]; }

// ---- Construction and delegates ------------------------------------------------------------

Printer::Printer(int index, EAManager& manager) : d_(std::make_unique<Impl>(index, manager)) {}

std::shared_ptr<Printer> Printer::create(int index, EAManager& manager) {
  std::shared_ptr<Printer> p(new Printer(index, manager));
  p->d_->comm = CommStream::initWithName("Printer");
  p->d_->comm->setDelegate(p);
  const int slot = index == 1 ? 1 : 0;
  {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    gRegistry[slot] = p;
  }
  static std::once_flag registered[kPrinterSlots];
  std::call_once(registered[slot], [slot] { emsrSetCallbacks(&gEmsrTokens[slot], &emsrTransport); });
  return p;
}

Printer::~Printer() {
  d_->writeThreadStop = true;
  stopWriteThread();
  d_->eaStreamConnected = false;
  d_->commStreamConnected = false;
  d_->received.notify_all();
  if (d_->comm) d_->comm->closeStreams();
}

int Printer::sdkIndex() const { return d_->index; }

void Printer::addDelegate(const std::shared_ptr<PrinterDelegate>& d) { d_->delegates.add(d); }
void Printer::removeDelegate(const std::shared_ptr<PrinterDelegate>& d) { d_->delegates.remove(d); }
void Printer::setDelegate(const std::shared_ptr<PrinterDelegate>& d) { d_->delegates.set(d); }
std::shared_ptr<PrinterDelegate> Printer::delegate() { return d_->delegates.first(); }
std::vector<std::shared_ptr<PrinterDelegate>> Printer::delegates() const { return d_->delegates.live(); }
bool Printer::containsDelegate(const std::shared_ptr<PrinterDelegate>& d) const {
  for (const auto& x : d_->delegates.live())
    if (x == d) return true;
  return false;
}
void Printer::cleanDelegates() { d_->delegates.clean(); }

// ---- Connection ---------------------------------------------------------------------------

int Printer::connstate() const { return d_->connstate; }
int Printer::connectionType() const { return d_->connectionType; }
void Printer::setConnectionType(int type) { d_->connectionType = type; }
int Printer::modelClass() const { return d_->printer; }
int Printer::firmwareVersion() const { return d_->fwver; }
bool Printer::protocolMode() const { return d_->packetmode; }
bool Printer::isLabelPrinter() const { return d_->zpl; }
bool Printer::isGenericESCPOS() const { return d_->escpos; }

#define PRINTER_IDENTITY(field)                          \
  std::string Printer::field() const {                   \
    std::lock_guard<std::mutex> lock(d_->linkMutex);     \
    return d_->field;                                    \
  }
PRINTER_IDENTITY(deviceName)
PRINTER_IDENTITY(deviceModel)
PRINTER_IDENTITY(firmwareRevision)
PRINTER_IDENTITY(hardwareRevision)
PRINTER_IDENTITY(serialNumber)
#undef PRINTER_IDENTITY

void Printer::setConnState(int state) {
  {
    std::lock_guard<std::mutex> lock(d_->connStateMutex);
    if (d_->connstate == state) return;
    d_->connstate = state;
  }
  KXUNISDKGlobals::LOG("PRN(%d):connection state %d", d_->index, state);
  if (state == 2)
    startWriteThread();
  else
    stopWriteThread();
  d_->delegates.fanOutOnMain(weak_from_this(), prnsel::prnConnectionState,
                             [state](PrinterDelegate& d) { d.prnConnectionState(state); });
}

void Printer::connect() {
  if (d_->connstate != 0) return;
  setConnState(1);
  d_->manager.tryConnect();
}

void Printer::managedConnect() {
  if (d_->connstate != 0) return;
  setConnState(1);
}

void Printer::disconnect() {
  d_->flushOrNote();
  setConnState(0);
  if (d_->commStreamConnected) {
    d_->comm->disconnect();
  } else if (d_->eaStreamConnected) {
    std::shared_ptr<EAStream> s;
    {
      std::lock_guard<std::mutex> lock(d_->linkMutex);
      s = d_->eaStream;
    }
    if (s) s->disconnect();
  }
}

bool Printer::isPresent() {
  if (d_->connstate == 2) return true;
  return d_->manager.isAccessoryPresent(printer::kPresenceModelName);
}

std::optional<std::vector<std::string>> Printer::accessoryShouldConnect(
    const std::string& name, std::vector<std::string> channels) {
  (void)name;
  if (d_->connstate != 1 || channels.empty()) return std::nullopt;
  const std::string& first = channels.front();
  if (first == kPrinterProtocolESCPOS) {
    d_->zpl = false;
    d_->escpos = false;
  } else if (first == kPrinterProtocolGeneric) {
    d_->escpos = true;
    d_->zpl = false;
  } else if (first == kPrinterProtocolLabel) {
    d_->zpl = true;
    d_->escpos = false;
  } else {
    return std::nullopt;
  }
  return channels;
}

void Printer::accessoryConnected(const std::shared_ptr<EAStream>& stream) {
  d_->connectionType = 0;
  {
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    d_->eaStream = stream;
    d_->deviceName = stream->deviceName();
    d_->deviceModel = stream->deviceModel();
    d_->firmwareRevision = stream->firmwareRevision();
    d_->hardwareRevision = stream->hardwareRevision();
    d_->serialNumber = stream->serialNumber();
  }
  d_->eaStreamConnected = true;
  linkUp();
}

void Printer::accessoryDisconnected(const std::shared_ptr<EAStream>& stream) {
  {
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    if (d_->eaStream != stream) return;
  }
  d_->eaStreamConnected = false;
  streamDisconnected(*d_->comm);
}

int Printer::accessoryData(int channel, const uint8_t* buffer, int length) {
  (void)channel;
  return streamData(*d_->comm, buffer, length);
}

void Printer::streamConnected(CommStream&) {
  if (!d_->eaStreamConnected) {
    {
      std::lock_guard<std::mutex> lock(d_->receiveLock);
      d_->commStreamConnected = true;
    }
    d_->received.notify_all();
    return;
  }
  linkUp();
}

// An accessory session is up: identify the printer on this (the search's) thread.
void Printer::linkUp() {
  d_->initVariables(*this);
  if (d_->escpos) {
    setConnState(2);
    return;
  }
  d_->commWaitData(1024, std::chrono::milliseconds(100));
  d_->clearReadBuffer();
  Error error;
  const bool ok = d_->zpl ? initCheckZPL(&error) : initCheck(&error);
  if (ok) {
    setConnState(2);
    return;
  }
  std::shared_ptr<EAStream> s;
  {
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    s = d_->eaStream;
  }
  const bool enabled = s ? s->connectEnabled.load() : false;
  disconnect();
  if (s) s->connectEnabled = enabled;
  setConnState(1);
}

void Printer::streamDisconnected(CommStream&) {
  {
    std::lock_guard<std::mutex> lock(d_->linkMutex);
    d_->deviceName.clear();
    d_->deviceModel.clear();
    d_->firmwareRevision.clear();
    d_->hardwareRevision.clear();
    d_->serialNumber.clear();
  }
  {
    std::lock_guard<std::mutex> lock(d_->receiveLock);
    d_->commStreamConnected = false;
  }
  d_->received.notify_all();
  if (d_->connstate == 2) setConnState(1);
}

bool Printer::connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                 std::shared_ptr<accessory::OutputStream> output, Error* error) {
  if (d_->connstate == 2) return true;
  d_->comm->connect(std::move(input), std::move(output));
  {
    std::unique_lock<std::mutex> lock(d_->receiveLock);
    if (!foundation::Clock::current().waitFor(lock, d_->received, kStreamConnectTimeout,
                                              [this] { return d_->commStreamConnected.load(); })) {
      lock.unlock();
      d_->comm->closeStreams();
      return false;
    }
  }
  if (d_->connectionType != 3) d_->connectionType = 2;
  d_->zpl = false;
  d_->escpos = false;
  d_->initVariables(*this);
  if (initCheck(error)) {
    setConnState(2);
    return true;
  }
  if (error) *error = Error();
  d_->zpl = true;
  if (initCheckZPL(error)) {
    setConnState(2);
    return true;
  }
  setConnState(0);
  // A printer that answers neither way keeps no link open.
  d_->commStreamConnected = false;
  d_->comm->closeStreams();
  return false;
}

// ---- The write thread -------------------------------------------------------------------------

void Printer::startWriteThread() {
  std::lock_guard<std::mutex> lock(d_->threadMutex);
  if (d_->writeThread.joinable()) return;
  d_->writeThreadStop = false;
  std::weak_ptr<Printer> weak = weak_from_this();
  d_->writeThread = std::thread([weak] {
    foundation::setCurrentThreadName("PrinterWrite");
    if (auto p = weak.lock()) p->writeThreadMain();
  });
}

void Printer::stopWriteThread() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(d_->threadMutex);
    d_->writeThreadStop = true;
    t = std::move(d_->writeThread);
  }
  d_->threadWake.notify_all();
  if (!t.joinable()) return;
  if (t.get_id() == std::this_thread::get_id())
    t.detach();
  else
    t.join();
}

void Printer::writeThreadMain() {
  while (!d_->writeThreadStop) {
    {
      std::unique_lock<std::mutex> lock(d_->threadMutex);
      if (foundation::Clock::current().waitFor(lock, d_->threadWake, kWriteThreadPeriod,
                                               [this] { return d_->writeThreadStop.load(); }))
        break;
    }
    bool due;
    {
      std::lock_guard<std::mutex> lock(d_->cacheLock);
      due = foundation::Clock::current().now() - d_->cacheTime > kCacheQuiet;
    }
    if (!due || d_->inCommand || !d_->cached) continue;
    {
      std::lock_guard<std::mutex> lock(d_->dataLock);
      if (d_->cache.empty()) continue;
    }
    // A command in progress owns the link; the next round tries again.
    if (!d_->cmdLock.tryAcquire()) continue;
    KXUNISDKGlobals::LOG("PRN(%d):Flushing cache", d_->index);
    Error error;
    if (!d_->flushLocked(&error)) d_->noteLostPrintData(error);
    d_->cmdLock.release();
  }
}

// ---- Receive path -----------------------------------------------------------------------------

namespace {

class ReceiveSink : public printer::StreamSink {
 public:
  ReceiveSink(Printer::Impl& d, std::weak_ptr<Printer> owner) : d_(d), owner_(std::move(owner)) {}
  void onReply(const uint8_t* reply, size_t length) override {
    std::lock_guard<std::mutex> lock(d_.receiveLock);
    // Replies are answers to the exchange in flight; one that finds the buffer full
    // replaces what nobody took.
    if (d_.readBuffer.size() + length > printer::kReceiveBufferSize) d_.readBuffer.clear();
    d_.readBuffer.insert(d_.readBuffer.end(), reply, reply + length);
    notified_ = true;
  }
  void onOversizeReply(const uint8_t* header) override {
    std::lock_guard<std::mutex> lock(d_.receiveLock);
    d_.readBuffer.assign(header, header + printer::kHeaderSize);
    d_.oversizeReply = true;
    notified_ = true;
  }
  void onEvent(const uint8_t* event) override {
    Bytes e(event, event + printer::kEventSize);
    std::weak_ptr<Printer> owner = owner_;
    foundation::MainQueue::post([owner, e] {
      if (auto p = owner.lock()) p->processData(e);
    });
  }
  bool notified_ = false;

 private:
  Printer::Impl& d_;
  std::weak_ptr<Printer> owner_;
};

}  // namespace

int Printer::streamData(CommStream&, const uint8_t* buffer, int length) {
  if (length <= 0) return 0;
  KXUNISDKGlobals::LOG("PRNR(%d): %d bytes", d_->index, length);
  if (!d_->packetmode) {
    size_t taken;
    {
      std::lock_guard<std::mutex> lock(d_->receiveLock);
      const size_t room = printer::kReceiveBufferSize - d_->readBuffer.size();
      taken = std::min(room, size_t(length));
      d_->readBuffer.insert(d_->readBuffer.end(), buffer, buffer + taken);
    }
    d_->received.notify_all();
    return int(taken);
  }
  ReceiveSink sink(*d_, weak_from_this());
  const size_t used = printer::splitProtocolStream(buffer, size_t(length), sink);
  if (sink.notified_) d_->received.notify_all();
  return int(used);
}

int Printer::Impl::commWaitData(int count, Duration timeout) {
  if (count < 1) return 0;
  std::unique_lock<std::mutex> lock(receiveLock);
  foundation::Clock::current().waitFor(lock, received, timeout, [&] {
    return readBuffer.size() >= size_t(count) || !linked();
  });
  return int(std::min(readBuffer.size(), size_t(count)));
}

void Printer::Impl::clearReadBuffer() {
  std::lock_guard<std::mutex> lock(receiveLock);
  readBuffer.clear();
  oversizeReply = false;
}

bool Printer::Impl::transportWrite(const uint8_t* data, size_t length) {
  KXUNISDKGlobals::LOG("PRNW(%d): %zu bytes", index, length);
  if (eaStreamConnected) {
    std::shared_ptr<EAStream> s;
    {
      std::lock_guard<std::mutex> lock(linkMutex);
      s = eaStream;
    }
    return s && s->write(0, data, length);
  }
  if (commStreamConnected) return comm->write(data, length);
  return false;
}

bool Printer::write(const uint8_t* data, size_t length) { return d_->transportWrite(data, length); }

void Printer::Impl::initVariables(Printer& p) {
  (void)p;
  {
    std::lock_guard<std::mutex> lock(dataLock);
    cache.clear();
  }
  {
    std::lock_guard<std::mutex> lock(receiveLock);
    readBuffer.clear();
    oversizeReply = false;
    for (auto& c : rcache) c.clear();
  }
  laststatus = 0;
  packetmode = false;
  emsrDetected = false;
  scDetected = false;
  pause(std::chrono::milliseconds(400));
  commWaitData(128, std::chrono::milliseconds(100));
  clearReadBuffer();
}

// ---- The command layer ------------------------------------------------------------------------

int Printer::Impl::sendCommandRaw(int channel, int op, const uint8_t* data, size_t length,
                                  Bytes* out, Duration timeout, Error* error) {
  if (!data) length = 0;
  if (!packetmode) {
    if (length && !transportWrite(data, length)) {
      fail(error, -6, "Timeout writing data");
      return -1;
    }
    return 0;
  }
  const auto& clock = foundation::Clock::current();
  int total = 0;
  size_t offset = 0;
  do {
    const size_t chunk = std::min(length - offset, printer::kMaxPayload);
    Bytes frame;
    printer::appendFrame(frame, uint8_t(channel), uint8_t(op), data ? data + offset : nullptr, chunk);
    auto start = clock.now();
    while (true) {
      if (clock.now() - start >= timeout || !linked()) {
        fail(error, -6, "Timeout waiting for packet to be sent");
        return -1;
      }
      clearReadBuffer();
      const auto sent = clock.now();
      if (!transportWrite(frame.data(), frame.size())) {
        fail(error, -6, "Timeout writing packet header");
        return -1;
      }
      const int got = commWaitData(int(printer::kHeaderSize), kReplyHeaderTimeout);
      if (got < int(printer::kHeaderSize)) {
        int held;
        {
          std::lock_guard<std::mutex> lock(receiveLock);
          held = int(readBuffer.size());
        }
        fail(error, -6, format("Timeout waiting for packet header: %d, %d", got, held));
        return -1;
      }
      KXUNISDKGlobals::LOG("PRN(%d):Command took: %.02f", index,
                           std::chrono::duration<double>(clock.now() - sent).count());
      Bytes reply;
      bool oversize;
      {
        std::lock_guard<std::mutex> lock(receiveLock);
        reply = readBuffer;
        oversize = oversizeReply;
        readBuffer.clear();
        oversizeReply = false;
      }
      const uint8_t status = reply[1];
      const auto verdict = printer::judgeReply(uint8_t(channel), reply.data());
      if (verdict == printer::ReplyVerdict::Busy) {
        pause(kBusyRetryPause);
        start = clock.now();
        continue;
      }
      if (verdict == printer::ReplyVerdict::WrongChannel) {
        fail(error, -20, format("Command failed with error: %d", status));
        return -1;
      }
      const size_t n = printer::replyDataLength(reply.data());
      if (oversize || reply.size() < printer::kHeaderSize + n) {
        fail(error, -20, "Command failed");
        return -1;
      }
      if (out) out->insert(out->end(), reply.begin() + printer::kHeaderSize,
                           reply.begin() + long(printer::kHeaderSize + n));
      if (verdict == printer::ReplyVerdict::Failed) {
        fail(error, -20, "Command failed");
        return -1;
      }
      laststatus = status;
      total += int(n);
      break;
    }
    offset += chunk;
  } while (offset < length);
  return total;
}

bool Printer::Impl::cacheData(const uint8_t* data, size_t length) {
  if (!cached) return false;
  std::lock_guard<std::mutex> lock(dataLock);
  if (!cache.empty() && cache.size() + length > kCacheSize) {
    const Bytes pending = std::move(cache);
    cache.clear();
    // A flush that fails is not hidden behind a cached success: the caller sends its bytes
    // at once and hears the link's answer; the earlier bytes' loss is kept for the next report.
    Error flushError;
    if (sendCommandRaw(printer::kChannelPrint, printer::kOpWrite, pending.data(), pending.size(),
                       nullptr, kFlushTimeout, &flushError) < 0) {
      noteLostPrintData(flushError);
      return false;
    }
  }
  if (cache.size() + length > kCacheSize) return false;
  cache.insert(cache.end(), data, data + length);
  std::lock_guard<std::mutex> t(cacheLock);
  cacheTime = foundation::Clock::current().now();
  return true;
}

bool Printer::Impl::flushLocked(Error* error) {
  std::lock_guard<std::mutex> lock(dataLock);
  if (!cached || cache.empty()) return true;
  const Bytes pending = std::move(cache);
  cache.clear();
  return sendCommandRaw(printer::kChannelPrint, printer::kOpWrite, pending.data(), pending.size(),
                        nullptr, kFlushTimeout, error) >= 0;
}

int Printer::Impl::sendCommandCached(int channel, int op, const uint8_t* data, size_t length,
                                     Bytes* out, Duration timeout, Error* error) {
  if (channel == printer::kChannelPrint && op == printer::kOpWrite && length > 0 && data &&
      cacheData(data, length))
    return 0;
  return sendCommandRaw(channel, op, data, length, out, timeout, error);
}

int Printer::sendCommand(int channel, int operation, const uint8_t* data, size_t length, Bytes* out,
                         double timeoutSeconds, Error* error) {
  if (!d_->cmdLock.acquire(kLockTimeout)) {
    Impl::fail(error, -6, "Timeout aquiring lock");
    return -1;
  }
  d_->inCommand = true;
  const int r = d_->sendCommandCached(channel, operation, data, length, out,
                                      Impl::seconds(timeoutSeconds), error);
  d_->inCommand = false;
  d_->cmdLock.release();
  return r;
}

bool Printer::prnWrite(const uint8_t* data, int channel, uint64_t length, double timeoutSeconds,
                       Error* error) {
  if (length == UINT64_MAX) return true;
  if (channel != -1) {
    if (d_->zpl && channel != printer::kChannelLabel)
      return Impl::fail(error, -7, "ZPL data channel supported only");
    if (!d_->zpl && channel == printer::kChannelLabel)
      return Impl::fail(error, -7, "No ZPL channel supported on connected device");
  }
  if (!d_->writeLock.acquire(kLockTimeout))
    return Impl::fail(error, -6, "Timeout aquiring lock: prnWrite");
  const int ch = (channel == -1 || channel == printer::kChannelLabel) ? printer::kChannelPrint : channel;
  bool ok = true;
  if (length == 0) {
    sendCommand(ch, printer::kOpWrite, nullptr, 0, nullptr, timeoutSeconds, nullptr);
  } else if (!data) {
    ok = Impl::fail(error, -9, "Data cannot be nil");
  } else {
    for (uint64_t off = 0; off < length && ok; off += printer::kMaxPayload) {
      const size_t n = size_t(std::min<uint64_t>(length - off, printer::kMaxPayload));
      ok = sendCommand(ch, printer::kOpWrite, data + off, n, nullptr, timeoutSeconds, error) >= 0;
    }
  }
  d_->writeLock.release();
  return ok;
}

bool Printer::prnWrite(const uint8_t* data, uint64_t length, Error* error) {
  return prnWrite(data, printer::kChannelPrint, length, 10, error);
}
bool Printer::prnWrite(const uint8_t* data, uint64_t length, double timeoutSeconds, Error* error) {
  return prnWrite(data, printer::kChannelPrint, length, timeoutSeconds, error);
}
bool Printer::prnWrite(const std::string& text, int channel, Error* error) {
  return prnWrite(reinterpret_cast<const uint8_t*>(text.data()), channel, text.size(), 10, error);
}
bool Printer::prnWriteDataToChannel(int channel, const Bytes& data, Error* error) {
  return prnWrite(data.data(), channel, data.size(), 10, error);
}

bool Printer::Impl::statusPoll(Error* error) {
  if (!writeLock.acquire(kLockTimeout)) return fail(error, -6, "Timeout aquiring lock: prnWrite");
  bool ok = false;
  if (cmdLock.acquire(kLockTimeout)) {
    inCommand = true;
    ok = sendCommandRaw(printer::kChannelPrint, printer::kOpWrite, nullptr, 0, nullptr,
                        kCommandTimeout, error) >= 0;
    inCommand = false;
    cmdLock.release();
  } else {
    fail(error, -6, "Timeout aquiring lock");
  }
  writeLock.release();
  return ok;
}

int Printer::prnRead(uint8_t* out, int channel, int length, double timeoutSeconds, int stop,
                     Error* error) {
  if (length < 0) return 0;
  if (channel == printer::kChannelLabel) channel = printer::kChannelPrint;
  if (channel < 0 || channel >= printer::kChannelCount) {
    Impl::fail(error, -9, "Invalid channel");
    return -1;
  }
  if (!flushCache(error)) return -1;
  const auto& clock = foundation::Clock::current();
  const auto deadline = clock.now() + Impl::seconds(timeoutSeconds);
  Bytes& rc = d_->rcache[size_t(channel)];
  while (true) {
    {
      std::unique_lock<std::mutex> lock(d_->receiveLock);
      size_t n = SIZE_MAX;
      if (stop >= 0) {
        for (size_t i = 0; i < rc.size(); ++i)
          if (rc[i] == uint8_t(stop)) {
            n = i + 1;
            break;
          }
      }
      if (n == SIZE_MAX && length >= 1 && rc.size() >= size_t(length)) n = size_t(length);
      if (n == SIZE_MAX && length == 0 && stop < 0 && !rc.empty()) n = rc.size();
      if (n == SIZE_MAX && timeoutSeconds > 0 && clock.now() >= deadline) n = rc.size();
      if (n == SIZE_MAX && !d_->linked()) n = rc.size();
      if (n != SIZE_MAX) {
        if (length > 0) n = std::min(n, size_t(length));
        if (out && n) std::memcpy(out, rc.data(), n);
        rc.erase(rc.begin(), rc.begin() + long(n));
        KXUNISDKGlobals::LOG("PRN(%d):Consuming %zu bytes", d_->index, n);
        return int(n);
      }
      if (!d_->packetmode) {
        if (d_->readBuffer.empty()) {
          const Duration wait = timeoutSeconds > 0 ? deadline - clock.now() : std::chrono::seconds(1);
          clock.waitFor(lock, d_->received, wait,
                        [&] { return !d_->readBuffer.empty() || !d_->linked(); });
          continue;
        }
        const size_t room = Printer::kChannelCacheSize - std::min(rc.size(), Printer::kChannelCacheSize);
        const size_t moved = std::min(room, d_->readBuffer.size());
        if (moved == 0) {
          // The channel cache is full and holds neither the stop byte nor enough: answer
          // with what it holds rather than wait for room that never comes.
          const size_t n = rc.size();
          if (out && n) std::memcpy(out, rc.data(), n);
          rc.clear();
          return int(n);
        }
        KXUNISDKGlobals::LOG("PRN(%d):Moving to rcache: %zu bytes", d_->index, moved);
        rc.insert(rc.end(), d_->readBuffer.begin(), d_->readBuffer.begin() + long(moved));
        d_->readBuffer.erase(d_->readBuffer.begin(), d_->readBuffer.begin() + long(moved));
        continue;
      }
    }
    // Protocol mode: ask the printer for what it holds on the channel.
    Bytes data;
    if (sendCommand(channel, printer::kOpRead, nullptr, 0, &data, 10, error) < 0) return -1;
    {
      std::lock_guard<std::mutex> lock(d_->receiveLock);
      const size_t room = Printer::kChannelCacheSize - std::min(rc.size(), Printer::kChannelCacheSize);
      if (data.size() > room)
        KXUNISDKGlobals::LOG("PRN(%d):channel %d cache full, %zu bytes dropped", d_->index, channel,
                             data.size() - room);
      rc.insert(rc.end(), data.begin(), data.begin() + long(std::min(room, data.size())));
    }
    if (data.empty()) Impl::pause(std::chrono::milliseconds(10));
  }
}

int Printer::prnRead(uint8_t* out, int length, double timeoutSeconds, Error* error) {
  return prnRead(out, printer::kChannelPrint, length, timeoutSeconds, kNoStopByte, error);
}

std::optional<std::string> Printer::prnReadLineFromChannel(int channel, double timeoutSeconds,
                                                           Error* error) {
  uint8_t buf[kChannelCacheSize];
  const int n = prnRead(buf, channel, int(sizeof buf), timeoutSeconds, 10, error);
  if (n <= 0) return std::nullopt;
  int end = n - 1;
  if (end > 0 && buf[end - 1] == 13) --end;
  return std::string(reinterpret_cast<const char*>(buf), size_t(end));
}

std::optional<Bytes> Printer::prnReadDataFromChannel(int channel, int length, double timeoutSeconds,
                                                     Error* error) {
  return prnReadDataFromChannel(channel, length, kNoStopByte, timeoutSeconds, error);
}

std::optional<Bytes> Printer::prnReadDataFromChannel(int channel, int length, int stopByte,
                                                     double timeoutSeconds, Error* error) {
  Bytes buf(2048);
  const int n = prnRead(buf.data(), channel, std::min(length, int(buf.size())), timeoutSeconds,
                        stopByte, error);
  if (n < 0) return std::nullopt;
  buf.resize(size_t(n));
  return buf;
}

bool Printer::openChannel(int channel, Error* error) {
  if (!d_->packetmode) return Impl::fail(error, -7, "Channels need protocol mode");
  if (sendCommand(channel, printer::kOpOpenChannel, nullptr, 0, nullptr, 10, error) < 0) return false;
  clearReceive(channel);
  return true;
}

void Printer::closeChannel(int channel) {
  if (d_->packetmode) sendCommand(channel, printer::kOpCloseChannel, nullptr, 0, nullptr, 10, nullptr);
}

void Printer::clearReceive(int channel) {
  if (d_->packetmode) sendCommand(channel, printer::kOpRead, nullptr, 0, nullptr, 10, nullptr);
  std::lock_guard<std::mutex> lock(d_->receiveLock);
  if (channel == printer::kChannelLabel) channel = printer::kChannelPrint;
  if (channel >= 0 && channel < printer::kChannelCount) d_->rcache[size_t(channel)].clear();
  d_->readBuffer.clear();
}

// ---- Cache, transactions and status ------------------------------------------------------------

bool Printer::setCached(bool on) {
  const bool was = d_->cached;
  if (!on && was) d_->flushOrNote();
  d_->cached = on;
  std::lock_guard<std::mutex> lock(d_->dataLock);
  d_->cache.clear();
  return was;
}

bool Printer::Impl::flushNow(Error* error) {
  {
    std::lock_guard<std::mutex> lock(dataLock);
    if (!cached || cache.empty()) return true;
  }
  if (!cmdLock.acquire(kLockTimeout)) return fail(error, -6, "Timeout aquiring lock");
  inCommand = true;
  const bool ok = flushLocked(error);
  inCommand = false;
  cmdLock.release();
  return ok;
}

void Printer::Impl::flushOrNote() {
  Error error;
  if (!flushNow(&error)) noteLostPrintData(error);
}

void Printer::Impl::noteLostPrintData(const Error& e) {
  KXUNISDKGlobals::LOG("PRN(%d):Print data lost in a flush: %s", index, e.text.c_str());
  std::lock_guard<std::mutex> lock(lostLock);
  if (!lostPrintData) lostPrintData = e;
}

bool Printer::Impl::takeLostPrintData(Error* error) {
  std::optional<Error> lost;
  {
    std::lock_guard<std::mutex> lock(lostLock);
    lost.swap(lostPrintData);
  }
  if (!lost) return true;
  if (error) *error = *lost;
  return false;
}

// Print data is current once the cache is sent and no earlier flush lost any: a failure of
// the write thread's flush is reported here rather than dropped.
bool Printer::flushCache(Error* error) {
  const bool flushed = d_->flushNow(error);
  Error earlier;
  const bool nothingLost = d_->takeLostPrintData(flushed ? error : &earlier);
  return flushed && nothingLost;
}

void Printer::prnStartTransaction() { d_->transactionLock.acquire(foundation::Duration::max() / 2); }

void Printer::prnEndStransaction() {
  d_->flushOrNote();
  d_->transactionLock.release();
}

int Printer::getPrinterStatus(Error* error) {
  if (!d_->packetmode) {
    Impl::fail(error, -7, "Status not supported in non-protocol mode");
    return -1;
  }
  if (d_->zpl) {
    Impl::fail(error, -7, "ZPL data channel supported only");
    return -1;
  }
  d_->flushOrNote();
  if (!d_->statusPoll(error)) return -1;
  return d_->laststatus;
}

bool Printer::isPrinterConnected() {
  if (!d_->packetmode) return true;
  return d_->statusPoll(nullptr);
}

bool Printer::waitPrintJob(double timeoutSeconds, Error* error) {
  // Data that never reached the printer is a failed job, whatever the printer says next; a
  // generic ESC/POS printer cannot be asked, so for it this is the whole answer.
  if (!flushCache(error)) return false;
  if (d_->escpos) return true;
  const auto& clock = foundation::Clock::current();
  const auto deadline = clock.now() + Impl::seconds(timeoutSeconds);
  if (d_->packetmode) {
    while (clock.now() < deadline) {
      if (!d_->statusPoll(error)) return false;
      if (!(d_->laststatus & printer::kStatusJobRunning)) return true;
      Impl::pause(kPollPause);
    }
    return Impl::fail(error, -6, "Timeout waiting for the printer to complete the job");
  }
  static const uint8_t query[] = {0x1B, 0x60};
  if (!prnWrite(query, printer::kChannelPrint, sizeof query, 10, error)) return false;
  uint8_t answer[2];
  if (prnRead(answer, printer::kChannelPrint, 2, timeoutSeconds, kNoStopByte, nullptr) == 2) return true;
  return Impl::fail(error, -6, "Timeout waiting for the printer to complete the job");
}

int Printer::getSupportedFeature(int feature, Error* error) {
  if (d_->connstate != 2) return 0;
  const int cls = d_->printer;
  auto unsupported = [&] {
    foundation::fail(error, KXUNISDKGlobals::makeError(0, "Feature not supported on the connected device(s)"));
    return 0;
  };
  switch (feature) {
    case 0: {
      if (!printer::mayHaveEncryptedHead(cls)) return unsupported();
      if (!d_->emsrDetected) {
        closeChannel(printer::kChannelEncryptedHead);
        openChannel(printer::kChannelEncryptedHead, nullptr);
        int version = 0;
        const int slot = d_->index == 1 ? 1 : 0;
        if (emsrGetFirmwareVersion(&gEmsrTokens[slot], &version) == 0) {
          emsrEnable(&gEmsrTokens[slot], 1);
          d_->emsrPresent = true;
        }
        d_->emsrDetected = true;
      }
      return d_->emsrPresent ? 4 : 1;
    }
    case 1:
      return printer::hasBarcodeEngine(cls) ? 1 : unsupported();
    case 7:
      return d_->zpl ? 2 : 1;
    case 8: {
      if (!printer::mayHaveSmartCard(cls)) return unsupported();
      if (!d_->scDetected) {
        closeChannel(printer::kChannelSmartCard);
        d_->scPresent = openChannel(printer::kChannelSmartCard, nullptr);
        closeChannel(printer::kChannelSmartCard);
        d_->scDetected = true;
      }
      return d_->scPresent ? 1 : unsupported();
    }
    default:
      return unsupported();
  }
}

}  // namespace kestra
