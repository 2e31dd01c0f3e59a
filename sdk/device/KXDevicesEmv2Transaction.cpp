// The EMV kernel's transactions: the start command and its TLV list, the pass-reader path,
// the cancel timers, the magnetic-stripe emulation, and the kernel's event packets turned
// into delegate calls. Transaction data holds card data: it is logged by length only.

#include <algorithm>
#include <cmath>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/foundation/Emsr.h"

namespace kestra {

namespace {

constexpr int kTransactionFeatureEmv2 = 10;
constexpr int kFeatureAutoSelect = 17;
constexpr int kTransactionNewerKernel = 4;
constexpr int kTransactionPassReaderOnly = 8;
constexpr int kPassStartUICode = 21;

constexpr uint8_t kCmdStart = 0x03;

constexpr uint8_t kEventOnline = 0x81;
constexpr uint8_t kEventUserInterface = 0x82;
constexpr uint8_t kEventFinished = 0x83;
constexpr uint8_t kEventCard = 0x85;
constexpr uint8_t kEventAppSelection = 0x86;
constexpr uint8_t kEventAppleVAS = 0x88;
constexpr uint8_t kEventGoogleVAS = 0x89;
constexpr uint8_t kEventTip = 0x8B;
constexpr uint8_t kEventCardRead = 0x8C;

constexpr int kStatusTransactionStarted = 3;
constexpr int kPinpadTimeoutStatus = 9;

Bytes finishedPacket(std::initializer_list<KXTLV> items) {
  Bytes p = {kEventFinished, 0x00};
  foundation::append(p, KXTLV::encodeTags(items));
  return p;
}

bool firstByteIs(const std::vector<KXTLV>& tags, uint32_t tag, uint8_t value) {
  auto t = KXTLV::findLastTag(tag, tags);
  return t && t->data && !t->data->empty() && (*t->data)[0] == value;
}

uint64_t bcdValue(int v) { return uint64_t(v < 0 ? 0 : v); }

}  // namespace

// ---- Timers -----------------------------------------------------------------------------------------

void KXDevices::emv2StopTimer() {
  foundation::RunLoop* loop;
  foundation::RunLoop::TimerId timer;
  {
    std::lock_guard lock(emv2State().mutex);
    loop = std::exchange(emv2State().timerLoop, nullptr);
    timer = std::exchange(emv2State().timer, 0);
  }
  if (loop && timer) loop->cancelTimer(timer);
}

void KXDevices::emv2StartTimer(double seconds, bool vas) {
  emv2StopTimer();
  // On the main queue: a worker thread's loop may end with its thread while the timer is set.
  auto& loop = foundation::RunLoop::main();
  const auto delay = std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(std::max(seconds, 0.0)));
  std::weak_ptr<KXDevices> self = weak_from_this();
  const auto id = loop.addTimer(foundation::Clock::current().now() + delay, [self, vas] {
    auto api = self.lock();
    if (!api) return;
    {
      // The timer has fired: nothing is left to cancel.
      std::lock_guard lock(api->emv2State().mutex);
      api->emv2State().timerLoop = nullptr;
      api->emv2State().timer = 0;
    }
    if (vas)
      api->emv2VASCancelTimerFunc();
    else
      api->emv2CancelTimerFunc();
  });
  std::lock_guard lock(emv2State().mutex);
  emv2State().timerLoop = &loop;
  emv2State().timer = id;
}

void KXDevices::emv2CancelTimerFunc() {
  emv2CancelTransaction(nullptr);
  emv2StopTimer();
}

void KXDevices::emv2VASCancelTimerFunc() {
  if (emvActive_.load())
    kxdev_emv2Event(finishedPacket({KXTLV::tlvWithInt(0x1000, 2, 0xC1), KXTLV::tlvWithInt(1, 1, 0xC4)}));
  emv2CancelTransaction(nullptr);
  emv2StopTimer();
}

// ---- Start ------------------------------------------------------------------------------------------

bool KXDevices::emv2StartTransactionWithFlags(int flags, const std::optional<Bytes>& initData, Error* error) {
  return emv2StartTransactionOnInterface(2, flags, initData, 15.0, error);
}

bool KXDevices::emv2StartTransactionOnInterface(int interface, int flags, const std::optional<Bytes>& initData,
                                                double timeout, Error* error) {
  return emv2StartTransactionOnInterface(interface, flags, initData, 0, timeout, error);
}

bool KXDevices::emv2StartTransactionOnInterface(int interface, int /*flags*/, const std::optional<Bytes>& initData,
                                                int configuration, double timeout, Error* error) {
  KXUNISDKGlobals::LOG("* emv2StartTransactionOnInterface");
  emv2StopTimer();
  {
    std::lock_guard lock(emv2State().mutex);
    foundation::secureClear(emv2State().tags);
    emv2State().tags.clear();
    emv2State().finishedEarly = false;
  }
  const int feature = computeSupportedFeature(kTransactionFeatureEmv2);

  if (feature == kTransactionPassReaderOnly && emv2SleeveRoute()) {
    if (!sleeve_->vasInitWIthData(initData.value_or(Bytes()), error)) return false;
    std::weak_ptr<KXDevices> self = weak_from_this();
    foundation::MainQueue::post([self] {
      if (auto api = self.lock())
        api->emv2FanOut(kxsel::emv2OnUserInterfaceCode,
                        [](KXDeviceDelegate& d) { d.emv2OnUserInterfaceCode(kPassStartUICode, 0, 0.0); });
    });
    emvActive_ = true;
    emv2StartTimer(timeout, true);
    return true;
  }

  std::vector<KXTLV> given;
  if (initData) {
    auto decoded = KXTLV::decodeTags(*initData);
    if (!decoded) return emv2Failure(error, -9, "Invalid argument: initData");
    given = std::move(*decoded);
  }
  auto has = [&](uint32_t tag) { return KXTLV::findLastTag(tag, given).has_value(); };
  const bool newer = (feature & kTransactionNewerKernel) != 0;

  std::vector<KXTLV> items;
  {
    std::lock_guard lock(emv2State().mutex);
    const auto& s = emv2State();
    if (!has(0x9C)) items.push_back(KXTLV::tlvWithBCD(bcdValue(s.transactionType), 1, 0x9C));
    if (!has(0x9F02)) items.push_back(KXTLV::tlvWithBCD(bcdValue(s.transactionAmount), 6, 0x9F02));
    if (!has(0x5F2A)) items.push_back(KXTLV::tlvWithBCD(bcdValue(s.transactionCurrency), 2, 0x5F2A));
    if (!has(0xC7)) items.push_back(KXTLV::tlvWithInt(uint64_t(uint16_t(configuration * 257)), 2, 0xC7));
    items.insert(items.end(), given.begin(), given.end());
    if (newer) {
      if (!has(0xC1))
        items.push_back(KXTLV::tlvWithInt(uint64_t((s.manualEntryDate ? 0 : 1) | (s.manualEntryCVV ? 0 : 2)), 1, 0xC1));
      if (!has(0xC3)) {
        Bytes pin;
        for (int o : s.pinEntryInterface) pin.push_back(uint8_t(o));
        items.push_back(KXTLV::tlvWithData(pin, 0xC3));
      }
      if (!has(0xC4)) {
        int after = s.mask.unmaskedDigitsAfter;
        if (s.mask.showExpiration && after < 4) after = 4;
        if (s.mask.showServiceCode && after < 7) after = 7;
        items.push_back(KXTLV::tlvWithData(
            {uint8_t(s.mask.unmaskedDigitsAtStart), uint8_t(s.mask.unmaskedDigitsAtEnd), uint8_t(after)}, 0xC4));
      }
      if (!has(0xD2)) items.push_back(KXTLV::tlvWithData(Bytes(s.cardReadOptions, s.cardReadOptions + 4), 0xD2));
      if (!s.mask.includeSentinels) items.push_back(KXTLV::tlvWithData({0x01}, 0xCB));
      if (s.messages) items.push_back(KXTLV::tlvWithData(KXTLV::encodeTags(*s.messages), 0xE6));
      if (s.messagesSound) items.push_back(KXTLV::tlvWithData(KXTLV::encodeTags(*s.messagesSound), 0xE7));
    }
  }

  Bytes c = {kCmdStart, 0x00};
  if (newer) {
    c.push_back(uint8_t(interface));
    const uint8_t t = emv2TimeoutByte(timeout);
    if (timeout >= 960.0) KXUNISDKGlobals::LOG("EMV time-out %.0f s does not fit, %d sent", timeout, int(t));
    c.push_back(t);
  }
  foundation::append(c, KXTLV::encodeTags(items));

  if (emv2PinpadRoute()) {
    uint32_t mask = 0xFFFFFFFF;
    if (interface & 1) mask &= ~uint32_t(0x180);
    if (interface & 4) mask &= ~uint32_t(0x40);
    pinpad_->sysEnableEvents(mask);
  }
  if (emv2SleeveRoute()) {
    emsrSetActiveHead(1, nullptr);
    emsrEnable(this, 1);
    emsrSetActiveHead(0, nullptr);
  }
  {
    std::lock_guard lock(emv2State().mutex);
    emv2State().transactionDate = KXUNISDKGlobals::getTickCount();
  }
  const bool ok = emv2Command(c.data(), int(c.size()), error).has_value();
  foundation::secureClear(c);
  if (!ok) return false;
  if (!newer) emv2StartTimer(timeout, false);
  emvActive_ = true;
  return true;
}

bool KXDevices::emv2StartMagneticEmulationTransactionOnInterface(int interface, const std::optional<Bytes>& initData,
                                                                 double timeout, Error* error) {
  return emv2StartMagneticEmulationTransactionOnInterface(interface, initData, 0, timeout, error);
}

bool KXDevices::emv2StartMagneticEmulationTransactionOnInterface(int interface, const std::optional<Bytes>& initData,
                                                                 int configuration, double timeout, Error* error) {
  int algorithm, keyID;
  {
    std::lock_guard lock(emv2State().mutex);
    emv2State().shortEMV = configuration == 1;
    algorithm = emv2State().algorithm;
    keyID = emv2State().keyID;
  }
  if (!emv2SetCardEmulationMode(true, algorithm, keyID, error) || !emv2Initialise(error)) return false;
  if (!emv2StartTransactionOnInterface(interface, 0, initData, configuration == 1 ? 0 : configuration, timeout,
                                       error)) {
    emv2Deinitialise(nullptr);
    return false;
  }
  std::lock_guard lock(emv2State().mutex);
  emv2State().msEmulation = true;
  return true;
}

// ---- Events -----------------------------------------------------------------------------------------

void KXDevices::emv2Finished(const Bytes& payload) {
  auto& s = emv2State();
  Bytes tags;
  bool emulation;
  {
    std::lock_guard lock(s.mutex);
    if (s.finishedEarly) {
      // The short emulation flow has ended this transaction already.
      s.finishedEarly = false;
      KXUNISDKGlobals::LOG("EMV transaction already finished, event ignored");
      return;
    }
    const uint32_t now = KXUNISDKGlobals::getTickCount();
    KXUNISDKGlobals::LOG("EMV emv_event_transaction_finished took: %d", int(now - s.transactionDate));
    s.transactionDate = now;
  }
  emv2StopTimer();
  emvActive_ = false;
  {
    std::lock_guard lock(s.mutex);
    s.messages.reset();
    s.messagesSound.reset();
    KXUNISDKGlobals::LOG("processData: emv_event_transaction_finished (%zu bytes)", payload.size());
    foundation::append(s.tags, payload);
    KXUNISDKGlobals::LOG("emvTags: %zu bytes", s.tags.size());
    tags = s.tags;
    emulation = s.msEmulation;
  }
  const auto list = KXTLV::decodeTags(tags);
  if (emulation) emv2SimulateCard(tags);
  if (list && firstByteIs(*list, 0xC4, 0x05)) PINEntryComplete(kPinpadTimeoutStatus);
  emv2FanOut(kxsel::emv2OnTransactionFinished, [&](KXDeviceDelegate& d) { d.emv2OnTransactionFinished(tags); });
  KXUNISDKGlobals::LOG("EMV emv_event_transaction_finished fully took: %d",
                       int(KXUNISDKGlobals::getTickCount() - emv2State().transactionDate));
  foundation::secureClear(tags);
}

void KXDevices::kxdev_emv2Event(const Bytes& event) {
  auto& s = emv2State();
  const size_t n = event.size();
  bool emulation;
  {
    std::lock_guard lock(s.mutex);
    emulation = s.msEmulation;
  }
  KXUNISDKGlobals::LOG("kxdev_emv2Event:%02X, dataLen=%d, emul=%d", n ? unsigned(event[0]) : 0u,
                       int(n > 2 ? n - 2 : 0), int(emulation));
  if (n < 2) {
    KXUNISDKGlobals::LOG("EMV event of %zu bytes ignored", n);
    return;
  }
  const Bytes payload(event.begin() + 2, event.end());
  auto shortPacket = [&](size_t need) {
    if (n >= need) return false;
    KXUNISDKGlobals::LOG("EMV event %02X of %zu bytes is too short, ignored", unsigned(event[0]), n);
    return true;
  };

  switch (event[0]) {
    case kEventOnline: {
      KXUNISDKGlobals::LOG("processData: emv_event_online_authorization_request (%zu bytes)", payload.size());
      if (auto list = KXTLV::decodeTags(payload); list && firstByteIs(*list, 0xC2, 0x01)) PINEntryComplete(0);
      bool shortFlow;
      Bytes tags;
      {
        std::lock_guard lock(s.mutex);
        foundation::append(s.tags, payload);
        shortFlow = s.shortEMV;
        tags = s.tags;
      }
      if (shortFlow) {
        {
          std::lock_guard lock(s.mutex);
          const uint32_t now = KXUNISDKGlobals::getTickCount();
          KXUNISDKGlobals::LOG("EMV shortEMV took: %d", int(now - s.transactionDate));
          s.transactionDate = now;
        }
        // The request ends the transaction: it is finished here as a whole, so the timer, a
        // disconnect or the kernel's own finish later cannot end it a second time.
        emv2StopTimer();
        emvActive_ = false;
        emv2SimulateCard(tags);
        {
          std::lock_guard lock(s.mutex);
          s.msEmulation = false;
          s.shortEMV = false;
          s.messages.reset();
          s.messagesSound.reset();
          s.finishedEarly = true;
        }
        emv2FanOut(kxsel::emv2OnTransactionFinished, [&](KXDeviceDelegate& d) { d.emv2OnTransactionFinished(tags); });
        KXUNISDKGlobals::LOG("EMV shortEMV body took: %d", int(KXUNISDKGlobals::getTickCount() - s.transactionDate));
        foundation::secureClear(tags);
        return;
      }
      foundation::secureClear(tags);
      const size_t answered =
          emv2FanOut(kxsel::emv2OnOnlineProcessing, [&](KXDeviceDelegate& d) { d.emv2OnOnlineProcessing(payload); });
      if (answered == 0 && emulation) {
        // Nobody decides: approve, so that the emulated card read can go on.
        const Bytes approved = {0xC2, 0x01, 0x01, 0xE6, 0x04, 0x8A, 0x02, 0x30, 0x30};
        emv2SetOnlineResult(approved, nullptr);
      }
      break;
    }
    case kEventUserInterface: {
      int code, status = -1, hold = -1;
      if (!payload.empty() && payload[0] == 0xC1) {
        const auto list = KXTLV::decodeTags(payload);
        const auto c1 = list ? KXTLV::findLastTag(0xC1, *list) : std::nullopt;
        if (!c1 || !c1->data || c1->data->size() < 2) {
          KXUNISDKGlobals::LOG("EMV user interface event without its code, ignored");
          return;
        }
        code = foundation::readBE16(c1->data->data());
        if (auto c2 = KXTLV::findLastTag(0xC2, *list)) {
          if (c2->data && c2->data->size() >= 7) {
            status = (*c2->data)[2];
            hold = foundation::readBE16(c2->data->data() + 5);
          }
        }
      } else {
        if (shortPacket(4)) return;
        code = foundation::readBE16(event.data() + 2);
        if (n >= 7) {
          status = event[4];
          hold = foundation::readBE16(event.data() + 5);
        }
      }
      KXUNISDKGlobals::LOG("processData: emv_event_user_interface: %x", unsigned(code));
      emv2FanOut(kxsel::emv2OnUserInterfaceCode,
                 [&](KXDeviceDelegate& d) { d.emv2OnUserInterfaceCode(code, status, double(hold)); });
      if (status == kStatusTransactionStarted)
        emv2FanOut(kxsel::emv2OnTransactionStarted, [](KXDeviceDelegate& d) { d.emv2OnTransactionStarted(); });
      break;
    }
    case kEventFinished:
      emv2Finished(payload);
      break;
    case kEventCard: {
      if (shortPacket(4)) return;
      const int kernelInterface = payload[0];
      const int cardEvent = payload[1];
      if (kernelInterface == 0 && cardEvent == 3) {
        emv2CancelTransaction(nullptr);
        emv2FanOut(kxsel::emv2CardEventOnInterface, [&](KXDeviceDelegate& d) { d.emv2CardEventOnInterface(1, 3); });
        const Bytes finished = KXTLV::encodeTags(
            {KXTLV::tlvWithData({0x01, 0x00}, 0xC1), KXTLV::tlvWithData({0x01}, 0xC3), KXTLV::tlvWithData({0x63}, 0xC4)});
        emv2Finished(finished);
        break;
      }
      if (emulation && kernelInterface == 2 && cardEvent == 3) kxdev_magneticCardReadFailed(0, 0);
      int reported = kernelInterface;
      if (kernelInterface == 0) reported = 1;
      else if (kernelInterface == 1) reported = 2;
      else if (kernelInterface == 2) reported = 4;
      emv2FanOut(kxsel::emv2CardEventOnInterface,
                 [&](KXDeviceDelegate& d) { d.emv2CardEventOnInterface(reported, cardEvent); });
      break;
    }
    case kEventAppSelection: {
      KXUNISDKGlobals::LOG("processData: emv_event_app_selection (%zu bytes)", payload.size());
      const size_t answered = emv2FanOut(kxsel::emv2OnApplicationSelection,
                                         [&](KXDeviceDelegate& d) { d.emv2OnApplicationSelection(payload); });
      if (answered == 0 && (computeSupportedFeature(kTransactionFeatureEmv2) & kTransactionNewerKernel) &&
          computeSupportedFeature(kFeatureAutoSelect) == 0) {
        KXUNISDKGlobals::LOG("application does not respond to emv2OnApplicationSelection, auto selecting app 0");
        emv2SelectApplication(0, nullptr);
      }
      break;
    }
    case kEventAppleVAS:
    case kEventGoogleVAS: {
      if (shortPacket(8)) return;
      const int result = foundation::readBE16(event.data() + 6);
      const Bytes data(event.begin() + 8, event.end());
      {
        std::lock_guard lock(s.mutex);
        foundation::append(s.tags, data);
      }
      if (event[0] == kEventAppleVAS)
        emv2FanOut(kxsel::emv2OnAppleVASProcessedWithResult,
                   [&](KXDeviceDelegate& d) { d.emv2OnAppleVASProcessedWithResult(result, data); });
      else
        emv2FanOut(kxsel::emv2OnGoogleVASProcessedWithResult,
                   [&](KXDeviceDelegate& d) { d.emv2OnGoogleVASProcessedWithResult(result, data); });
      break;
    }
    case kEventTip: {
      KXUNISDKGlobals::LOG("processData: emv_event_enter_tip_result (%zu bytes)", payload.size());
      if (payload.empty()) {
        const Error e = KXUNISDKGlobals::makeError(-6, std::string("Invalid data length received"));
        emv2FanOut(kxsel::emv2TipEntryFailedWithError, [&](KXDeviceDelegate& d) { d.emv2TipEntryFailedWithError(e); });
        break;
      }
      const int status = payload[0];
      if (status == 0) {
        if (n < 7) {
          const Error e = KXUNISDKGlobals::makeError(-6, std::string("Invalid data length received"));
          emv2FanOut(kxsel::emv2TipEntryFailedWithError,
                     [&](KXDeviceDelegate& d) { d.emv2TipEntryFailedWithError(e); });
          break;
        }
        const uint32_t amount = foundation::readBE32(event.data() + 3);
        emv2FanOut(kxsel::emv2TipEntryCompletWithAmount,
                   [&](KXDeviceDelegate& d) { d.emv2TipEntryCompletWithAmount(amount); });
      } else {
        const Error e = ppadError(status);
        emv2FanOut(kxsel::emv2TipEntryFailedWithError, [&](KXDeviceDelegate& d) { d.emv2TipEntryFailedWithError(e); });
      }
      break;
    }
    case kEventCardRead:
      KXUNISDKGlobals::LOG("processData: emv_event_card_read (%zu bytes)", payload.size());
      emv2FanOut(kxsel::emv2OnCardReadWithData, [&](KXDeviceDelegate& d) { d.emv2OnCardReadWithData(payload); });
      break;
    default:
      break;
  }
}

// ---- Magnetic-stripe emulation ------------------------------------------------------------------------

void KXDevices::emv2SimulateCard(const std::optional<Bytes>& tlv) {
  KXUNISDKGlobals::LOG("processData: emv simulate card tracks");
  const auto list = tlv ? KXTLV::decodeTags(*tlv) : std::nullopt;
  if (!list) {
    kxdev_magneticCardReadFailed(1, 0);
    emv2Deinitialise(nullptr);
    return;
  }
  if (auto tvr = KXTLV::findLastTag(0x95, *list); tvr && tvr->data)
    KXUNISDKGlobals::LOG("TVR: %s", foundation::toHex(*tvr->data).c_str());
  int source = 1;
  if (auto c3 = KXTLV::findLastTag(0xC3, *list); c3 && c3->data && !c3->data->empty()) {
    switch ((*c3->data)[0]) {
      case 0x08: source = 3; break;
      case 0x04: source = 0; break;
      case 0x01: source = 2; break;
      default: break;
    }
  }
  if (auto plain = emv2GetCardTracksEncryptedWithFormat(0, 0, nullptr); plain && plain->size() > 5) {
    emv2Deinitialise(nullptr);
    processPlainCardData(plain->data(), int(plain->size()), source);
    foundation::secureClear(*plain);
    return;
  }
  int algorithm, keyID;
  {
    std::lock_guard lock(emv2State().mutex);
    algorithm = emv2State().algorithm;
    keyID = emv2State().keyID;
  }
  auto encrypted = emv2GetCardTracksEncryptedWithFormat(algorithm, keyID, std::nullopt, false, nullptr);
  if (!encrypted || encrypted->empty()) {
    int reason = 0;
    if (auto c4 = KXTLV::findLastTag(0xC4, *list); c4 && c4->data && !c4->data->empty()) reason = (*c4->data)[0];
    kxdev_magneticCardReadFailed(source, reason);
  } else {
    const int tracks = (*encrypted)[0] & 7;
    const int answerAlgorithm = (*encrypted)[0] >> 3;
    const Bytes data(encrypted->begin() + 1, encrypted->end());
    OptText t1, t2;
    if (auto masked = emv2GetTagsPlain({0xD3, 0xD4}, nullptr)) {
      if (auto tags = KXTLV::decodeTags(*masked)) {
        if (auto d3 = KXTLV::findLastTag(0xD3, *tags); d3 && d3->data) t1 = foundation::textOf(*d3->data);
        if (auto d4 = KXTLV::findLastTag(0xD4, *tags); d4 && d4->data) t2 = foundation::textOf(*d4->data);
      }
    }
    KXUNISDKGlobals::LOG("T1masked: %s", t1 ? "present" : "(null)");
    KXUNISDKGlobals::LOG("T2masked: %s", t2 ? "present" : "(null)");
    KXUNISDKGlobals::LOG("algorithm: %d, tracks: %d", answerAlgorithm, tracks);
    kxdev_magneticCardEncryptedData(answerAlgorithm, tracks, data, t1, t2, std::nullopt, source);
    foundation::secureClear(*encrypted);
  }
  emv2Deinitialise(nullptr);
}

uint8_t emv2TimeoutByte(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds <= 240.0) return uint8_t(seconds);
  const double value = 240.0 + std::trunc(seconds / 60.0);
  return uint8_t(std::min(value, 255.0));
}

}  // namespace kestra
