// The HID barcode, keyboard and magnetic-stripe readers on hub ports.

#include "sdk/hub/HubReaders.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/HubPort.h"

namespace kestra {

// ---- Common -----------------------------------------------------------------------------

void HubReader::setDelegate(std::weak_ptr<HubReaderDelegate> d) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(d);
}

std::shared_ptr<HubReaderDelegate> HubReader::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

std::optional<TrelmoUSBDeviceDescriptor> HubReader::usbDeviceDescriptor() const {
  std::lock_guard lock(mutex_);
  return descriptor_;
}

int HubReader::getSupportedFeature(int feature, Error* error) const {
  if (!connected_) {
    foundation::fail(error, KXUNISDKGlobals::makeError(0, std::string("Device is not connected")));
    return 0;
  }
  return feature == feature_ ? featureValue_ : 0;
}

template <class F>
void HubReader::post(F f) const {
  if (auto d = delegate()) foundation::MainQueue::post([d, f = std::move(f)] { f(*d); });
}

std::optional<std::vector<std::string>> HubReader::accessoryShouldConnect(const std::string& /*name*/,
                                                                          std::vector<std::string> channels) {
  KXUNISDKGlobals::LOG("%s: accessoryShouldConnect: %s", tag_, channels.empty() ? "" : channels[0].c_str());
  if (channels.empty() || !claims(channels.front())) return std::nullopt;
  return channels;
}

void HubReader::accessoryConnected(const std::shared_ptr<EAStream>& stream) {
  KXUNISDKGlobals::LOG("%s: accessoryConnected", tag_);
  resetReading();
  std::optional<TrelmoUSBDeviceDescriptor> descriptor;
  if (auto port = std::dynamic_pointer_cast<USBStream>(stream))
    if (auto m = port->manager()) descriptor = m->getUSBDeviceDescriptorForSlave(port->slaveID());
  {
    std::lock_guard lock(mutex_);
    descriptor_ = std::move(descriptor);
  }
  connected_ = true;
  post([](HubReaderDelegate& d) { d.connectionState(2); });
}

void HubReader::accessoryDisconnected(const std::shared_ptr<EAStream>& /*stream*/) {
  KXUNISDKGlobals::LOG("%s: accessoryDisconnected", tag_);
  connected_ = false;
  post([](HubReaderDelegate& d) { d.connectionState(1); });
}

// ---- Barcode scanner ----------------------------------------------------------------------

bool BarcodeHID::claims(const std::string& protocol) {
  if (protocol == "hid.barcode") {
    hid_ = 0;
    return true;
  }
  if (protocol == "serial.barcode") {
    hid_ = 1;
    return true;
  }
  return false;
}

void BarcodeHID::resetReading() {
  std::lock_guard lock(barLock_);
  typed_.clear();
  timerArmed_ = false;
  ++generation_;
}

int BarcodeHID::accessoryData(int /*channel*/, const uint8_t* buffer, int length) {
  KXUNISDKGlobals::LOG("%s: accessoryData: %d bytes", tag_, length);
  if (hid_ == 0)
    keyboardReport(buffer, length);
  else
    serialData(buffer, length);
  return length;
}

void BarcodeHID::keyboardReport(const uint8_t* r, int length) {
  std::lock_guard lock(barLock_);
  if (length != 8 || r[1] != 0 || r[2] == 0 || int(typed_.size()) > kMaxBarcode) return;
  for (char c : processHIDData(r, length)) {
    if (c == '\r' || c == '\n') {
      sendBarcode();
      return;
    }
    if (int(typed_.size()) >= kMaxBarcode) continue;  // the rest of an over-long code is dropped
    typed_.push_back(c);
    armQuietTimer();
  }
}

void BarcodeHID::armQuietTimer() {
  lastBarTime_ = foundation::Clock::current().now();
  if (timerArmed_) return;
  timerArmed_ = true;
  quietCheck(std::static_pointer_cast<BarcodeHID>(shared_from_this()), generation_);
}

void BarcodeHID::quietCheck(std::weak_ptr<BarcodeHID> weak, uint64_t generation) {
  foundation::MainQueue::postAfter(kQuietTick, [weak, generation] {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard lock(self->barLock_);
    if (self->generation_ != generation || !self->timerArmed_) return;
    if (foundation::Clock::current().now() - self->lastBarTime_ >= kQuietTime)
      self->sendBarcode();
    else
      quietCheck(weak, generation);
  });
}

void BarcodeHID::sendBarcode() {
  timerArmed_ = false;
  if (typed_.empty()) return;
  Bytes barcode;
  barcode.reserve(typed_.size() + 1);
  barcode.push_back(0x00);
  barcode.insert(barcode.end(), typed_.begin(), typed_.end());
  typed_.clear();
  post([barcode](HubReaderDelegate& d) { d.kxdev_barcodeData(barcode); });
}

void BarcodeHID::serialData(const uint8_t* data, int length) {
  int start = 0;
  while (start < length && data[start] == 0) ++start;
  if (start >= length) return;
  int end = start;
  while (end < length && data[end] != '\n' && data[end] != 0) ++end;
  if (end >= length || end - start < kMinSerialLine) return;
  // The line without its terminator and without a carriage return before it.
  int last = end;
  if (last > start && data[last - 1] == '\r') --last;
  Bytes barcode;
  // A scanner that sends a symbology identifier ("]" and two characters) gives the type
  // itself; otherwise the barcode carries "not given".
  if (data[start] != ']') barcode.push_back(0x00);
  barcode.insert(barcode.end(), data + start, data + last);
  post([barcode](HubReaderDelegate& d) { d.kxdev_barcodeData(barcode); });
}

// ---- Keyboard ----------------------------------------------------------------------------

int KeyboardHID::accessoryData(int /*channel*/, const uint8_t* buffer, int length) {
  if (length != 8 || buffer[1] != 0 || buffer[2] == 0) return length;
  struct Keys final : HidKeyReceiver {
    std::vector<std::tuple<int, signed char, int>> keys;
    void keyboardButtonPressed(bool, int vk, signed char c, int mods) override { keys.emplace_back(vk, c, mods); }
  } keys;
  processHIDEvents(&keys, buffer, length);
  for (const auto& [vk, c, mods] : keys.keys)
    post([vk = vk, c = c, mods = mods](HubReaderDelegate& d) { d.keyboardButtonPressed(true, vk, c, mods); });
  return length;
}

// ---- Magnetic-stripe reader ----------------------------------------------------------------

void Magtek::resetReading() {
  std::fill(tracks_.begin(), tracks_.end(), '\0');
  tracks_.clear();
  t1len_ = t2len_ = t3len_ = tlenexpected_ = 0;
}

int Magtek::accessoryData(int /*channel*/, const uint8_t* buffer, int length) {
  const int n = std::min(length, kMaxReport);
  if (n < 8) return length;
  int from = 0;
  if (tlenexpected_ == 0) {
    t1len_ = buffer[3];
    t2len_ = buffer[4];
    t3len_ = buffer[5];
    tlenexpected_ = t1len_ + t2len_ + t3len_;
    if (tlenexpected_ > kMaxTracks) {
      // No card has tracks this long: the report is corrupt.
      KXUNISDKGlobals::LOG("%s: card refused, track lengths too long", tag_);
      resetReading();
      return length;
    }
    tracks_.clear();
    from = 7;
  }
  for (int i = from; i < n && int(tracks_.size()) < kMaxTracks; ++i)
    if (buffer[i] != 0) tracks_.push_back(char(buffer[i]));
  if (tlenexpected_ > 0 && int(tracks_.size()) >= tlenexpected_) {
    auto take = [&](int at, int len) -> OptTrack {
      if (len == 0) return std::nullopt;
      return tracks_.substr(size_t(at), size_t(len));
    };
    OptTrack t1 = take(0, t1len_), t2 = take(t1len_, t2len_), t3 = take(t1len_ + t2len_, t3len_);
    resetReading();
    post([t1, t2, t3](HubReaderDelegate& d) { d.magneticCardData(t1, t2, t3); });
  }
  return length;
}

}  // namespace kestra
