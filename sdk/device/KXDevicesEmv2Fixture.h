#pragma once
// Test fixture for the device API's EMV kernel calls: a fake kernel that the fake sleeve or
// the fake pinpad carries, and a delegate that records the kernel's callbacks. Header-only.
//
// The fake kernel records every command (hex, sub-command first) and answers from a script:
// a reply per command code (default: empty), codes that fail, and the information query
// (02 00) from its version table. A download (51 .. 53) is kept per slot; when it ends, the
// version found in the blob's E4 { C1 } becomes the kernel's version for that slot, as a
// kernel would report it.

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sdk/device/KXDevicesTestSupport.h"

namespace kestra::testing {

class FakeKernel {
 public:
  std::map<uint8_t, Bytes> replies;
  // Replies to one exact command (hex), before those by code.
  std::map<std::string, Bytes> byCommand;
  std::set<uint8_t> failing;
  // Versions answered to 02 00 by tag (C1 .. C6).
  std::map<uint8_t, uint32_t> versions;

  std::optional<Bytes> handle(const Bytes& c) {
    std::lock_guard lock(m_);
    commands_.push_back(c);
    if (c.empty() || failing.count(c[0])) return std::nullopt;
    switch (c[0]) {
      case 0x02: {
        Bytes r;
        for (auto [tag, v] : versions) {
          r.push_back(tag);
          r.push_back(4);
          foundation::appendBE32(r, v);
        }
        return r;
      }
      case 0x51:
        slot_ = c.size() >= 3 + 4 ? c[2] : -1;
        download_.clear();
        break;
      case 0x52:
        download_.insert(download_.end(), c.begin() + 2, c.end());
        break;
      case 0x53:
        finishDownload();
        break;
      default:
        break;
    }
    if (auto exact = byCommand.find(foundation::toHex(c)); exact != byCommand.end()) return exact->second;
    auto it = replies.find(c[0]);
    return it == replies.end() ? Bytes() : it->second;
  }

  std::vector<std::string> commands() const {
    std::lock_guard lock(m_);
    std::vector<std::string> out;
    for (const auto& c : commands_) out.push_back(foundation::toHex(c));
    return out;
  }
  std::vector<Bytes> raw() const {
    std::lock_guard lock(m_);
    return commands_;
  }
  void clear() {
    std::lock_guard lock(m_);
    commands_.clear();
  }
  size_t count(const std::string& hex) const {
    const auto c = commands();
    return size_t(std::count(c.begin(), c.end(), hex));
  }

  // Installs this kernel into the sleeve (feature 10 = `feature`).
  void intoSleeve(FakeSleeve& sleeve, int feature) {
    sleeve.features[10] = feature;
    sleeve.kernel = [this](const Bytes& c, Error* e) {
      auto r = handle(c);
      if (!r) foundation::fail(e, Error("com.sabrel.errors", -11, "kernel refused"));
      return r;
    };
  }
  void intoPinpad(FakePinpad& pinpad, int feature) {
    pinpad.features[10] = feature;
    pinpad.kernel = [this](const Bytes& c, Bytes* reply) {
      auto r = handle(c);
      if (!r) return 3;
      if (reply) *reply = *r;
      return 0;
    };
  }

 private:
  void finishDownload() {
    static const uint8_t kVersion[] = {0xE4, 0x06, 0xC1, 0x04};
    auto at = std::search(download_.begin(), download_.end(), std::begin(kVersion), std::end(kVersion));
    if (at == download_.end() || download_.end() - at < 8) return;
    const uint32_t v = foundation::readBE32(&*(at + 4));
    static const std::map<int, uint8_t> kTagOfSlot = {{1, 0xC1}, {0, 0xC2}, {3, 0xC3}, {2, 0xC4}, {4, 0xC6}};
    if (auto t = kTagOfSlot.find(slot_); t != kTagOfSlot.end()) versions[t->second] = v;
  }

  mutable std::mutex m_;
  std::vector<Bytes> commands_;
  Bytes download_;
  int slot_ = -1;
};

// Records the EMV kernel's callbacks besides those of RecordingDelegate.
class Emv2Delegate : public RecordingDelegate {
 public:
  using RecordingDelegate::RecordingDelegate;
  void emv2OnTransactionStarted() override { record("started", false); }
  void emv2OnUserInterfaceCode(int code, int status, double hold) override {
    record("ui:" + std::to_string(code) + "," + std::to_string(status) + "," + std::to_string(int(hold)), false);
  }
  void emv2OnApplicationSelection(const Bytes& d) override { record("appSelection:" + foundation::toHex(d), false); }
  void emv2OnOnlineProcessing(const Bytes& d) override { record("online:" + foundation::toHex(d), false); }
  void emv2OnAppleVASProcessedWithResult(int r, const Bytes& d) override {
    record("appleVAS:" + std::to_string(r) + ":" + foundation::toHex(d), false);
  }
  void emv2OnGoogleVASProcessedWithResult(int r, const Bytes& d) override {
    record("googleVAS:" + std::to_string(r) + ":" + foundation::toHex(d), false);
  }
  void emv2OnCardReadWithData(const Bytes& d) override { record("cardRead:" + foundation::toHex(d), false); }
  void emv2CardEventOnInterface(int i, int e) override {
    record("cardEvent:" + std::to_string(i) + "," + std::to_string(e), false);
  }
  void emv2TipEntryCompletWithAmount(uint32_t a) override { record("tip:" + std::to_string(a), false); }
  void emv2TipEntryFailedWithError(const Error& e) override { record("tipFailed:" + std::to_string(e.code), false); }
};

// The device API over fakes with a kernel in the sleeve, the pinpad, or both.
struct Emv2Api : ApiFixture {
  FakeKernel sleeveKernel;
  FakeKernel pinpadKernel;
  std::shared_ptr<Emv2Delegate> app;

  std::shared_ptr<Emv2Delegate> emvDelegate(std::vector<std::string_view> selectors) {
    auto d = std::make_shared<Emv2Delegate>(events, "app", std::move(selectors));
    api->addDelegate(d);
    return d;
  }
  void sleeveWithKernel(int feature = 6) {
    sleeveKernel.intoSleeve(*drivers.sleeve, feature);
    sleeveState(2);
  }
  void pinpadWithKernel(int feature = 6) {
    pinpadKernel.intoPinpad(*drivers.pinpad, feature);
    pinpadState(2);
  }
  std::vector<std::string> lines() const { return events->lines(); }
};

inline Bytes hexBytes(std::string_view hex) { return foundation::fromHex(hex).value(); }

}  // namespace kestra::testing
