#pragma once
// Test fixtures for the device API's scan-engine calls: a sleeve driver fake whose raw engine
// pass-through talks to a scripted engine peer, the Intermec and Zebra peers (which check the
// frames, checksums and packets they are sent and answer as the engines do), firmware-file
// builders, and a device API plus facade over them. Header-only.
//
// The peers run on the caller's thread: every pass-through call of the device API reaches
// them synchronously. Each engine answer is one message, handed out by one raw read.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/device/KXChargingCase.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/sleeve/PellanModulesFixture.h"

namespace kestra::testing {

class EnginePeer {
 public:
  virtual ~EnginePeer() = default;
  // Bytes of a raw write.
  void receive(const Bytes& bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    while (!pending_.empty() && parse(pending_)) {
    }
  }
  // A special (download) write; its reply.
  virtual Bytes special(const Bytes& frame) {
    (void)frame;
    return {};
  }
  Bytes take() {
    if (output.empty()) return {};
    Bytes b = output.front();
    output.pop_front();
    return b;
  }
  void say(Bytes b) { output.push_back(std::move(b)); }
  std::deque<Bytes> output;
  bool downloadMode = false;
  int baud = 0;

 protected:
  // Consumes whole messages from the front of `pending`; false to wait for more bytes.
  virtual bool parse(Bytes& pending) = 0;
  Bytes pending_;
};

// An Intermec engine: its RAM loader protocol, then command frames and data blocks.
class IntermecPeer final : public EnginePeer {
 public:
  uint32_t engineId = 0x12345678;
  uint32_t maxSize = 0x10000;
  std::vector<int> commands;                 // command bytes in order
  std::vector<std::pair<size_t, size_t>> blocks;  // offset and size of each data block
  Bytes image;                               // the payload as the blocks placed it
  Bytes flash = Bytes(1000, 0);              // what a read-back returns
  int loaderPages = 0;
  bool loaderDone = false;
  bool badChecksum = false;

  Bytes special(const Bytes& f) override {
    if (!downloadMode || f.size() < 19 || f[0] != 0x02 || f[2] != 0x16) return {};
    const size_t n = size_t(f[3]) << 8 | f[4];
    const size_t offset = foundation::readBE32(f.data() + 5);
    uint32_t header = 0;
    for (size_t i = 0; i < 9; ++i) header += uint32_t(f[2 + i]) * uint32_t(9 - i);
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += uint32_t(f[15 + i]) * uint32_t(n - i);
    if (f.size() != 19 + n || foundation::readBE32(f.data() + 11) != header ||
        foundation::readBE32(f.data() + 15 + n) != sum) {
      badChecksum = true;
      return {};
    }
    blocks.emplace_back(offset, n);
    if (image.size() < offset + n) image.resize(offset + n);
    std::copy(f.begin() + 15, f.begin() + long(15 + n), image.begin() + long(offset));
    return {};
  }

 protected:
  bool parse(Bytes& p) override {
    if (!loaderDone) return parseLoader(p);
    if (p.size() < 14) return false;
    const Bytes frame(p.begin(), p.begin() + 14);
    p.erase(p.begin(), p.begin() + 14);
    uint32_t sum = 0;
    for (int i = 0; i < 10; ++i) sum += uint32_t(frame[size_t(i)]) * uint32_t(10 - i);
    if (frame[0] != 0 || foundation::readBE32(frame.data() + 10) != sum) {
      badChecksum = true;
      return true;
    }
    const int command = frame[1];
    commands.push_back(command);
    say({0x32});
    Bytes out;
    switch (command) {
      case 0x10: case 0x12: case 0x14: say({0x31}); break;
      case 0x11: foundation::appendBE32(out, maxSize); say(out); break;
      case 0x13: out = {0x01, 0x02, 0x03, 0x04}; foundation::appendBE32(out, engineId); say(out); break;
      case 0x18: say({0x00, 0x00, 0x00, 0x00}); break;
      case 0x15: {
        const size_t count = size_t(frame[2]) << 8 | frame[3];
        const size_t offset = foundation::readBE32(frame.data() + 4);
        Bytes part(flash.begin() + long(offset), flash.begin() + long(offset + count));
        part.insert(part.end(), 4, 0xEE);
        say(part);
        break;
      }
      default: break;
    }
    return true;
  }

 private:
  bool parseLoader(Bytes& p) {
    if (stage_ == 0) {  // hello
      if (p.front() == 0xAA) say({0x88});
      p.erase(p.begin());
      stage_ = 1;
      return true;
    }
    if (stage_ == 1) {  // page count
      loaderPages = p.front();
      p.erase(p.begin());
      say({0x80, 0x01});
      page_ = 1;
      stage_ = 2;
      return true;
    }
    if (stage_ == 2) {  // a page
      if (p.size() < 256) return false;
      pageData_.assign(p.begin(), p.begin() + 256);
      p.erase(p.begin(), p.begin() + 256);
      say({0x7F});
      stage_ = 3;
      return true;
    }
    if (p.size() < 4) return false;  // the page's checksum
    uint32_t sum = 0;
    for (size_t i = 0; i < 256; ++i) sum += uint32_t(pageData_[i]) * uint32_t(256 - i);
    if (foundation::readBE32(p.data()) != sum) badChecksum = true;
    p.erase(p.begin(), p.begin() + 4);
    if (page_ < loaderPages) {
      say({0x80, uint8_t(++page_)});
      stage_ = 2;
    } else {
      say({0xBB});
      loaderDone = true;
    }
    return true;
  }
  int stage_ = 0, page_ = 0;
  Bytes pageData_;
};

// A Zebra engine: parameter and version commands, then its download packets.
class ZebraPeer final : public EnginePeer {
 public:
  std::vector<Bytes> commands;  // each command write in normal mode
  std::vector<Bytes> records;   // record bodies taken in download mode
  Bytes versionReply = {0xA4, 0x00, 'P', 'A', 'A', 'C', 'W', 'S', '0', '0', ' ', 'x'};
  uint8_t recordStatus = 0;     // byte 4 of the record answers
  uint8_t recordCode = 0x84;    // byte 3 of the record answers
  size_t expectedRecords = 0;   // after this many, the engine says it is done (0x04)
  std::vector<int> pingBauds;   // the line speed at each ping
  bool badChecksum = false;

  static Bytes packet(const Bytes& body) {
    Bytes p{0x02, uint8_t(body.size() + 2), uint8_t((body.size() + 2) >> 8)};
    p.insert(p.end(), body.begin(), body.end());
    uint16_t sum = 0;
    for (size_t i = 1; i < p.size(); ++i) sum = uint16_t(sum + p[i]);
    foundation::appendBE16(p, uint16_t(-sum));
    return p;
  }

 protected:
  bool parse(Bytes& p) override {
    static const Bytes enter = {0x06, 0xEE, 0x04, 0x00, 0x46, 0x44, 0xFE, 0x7E};
    if (!inDownload_) {
      if (p == enter) {
        inDownload_ = true;
        say({0x06});
      } else {
        commands.push_back(p);
        if (p[0] == 0xC6) say({0xD0});
        if (p[0] == 0xA3) say(versionReply);
      }
      p.clear();
      return true;
    }
    if (p.size() < 3) return false;
    const size_t n = size_t(p[1]) | size_t(p[2]) << 8;
    if (p.size() < 3 + n) return false;
    const Bytes whole(p.begin(), p.begin() + long(3 + n));
    p.erase(p.begin(), p.begin() + long(3 + n));
    const Bytes body(whole.begin() + 3, whole.end() - 2);
    if (packet(body) != whole) {
      badChecksum = true;
      return true;
    }
    if (body == Bytes{0x05, 0x64, 0x00, 0x01}) {
      pingBauds.push_back(baud);
      say(packet({0x05, 0x64, 0x00, 0x81, 0x00}));
    } else if (body == Bytes{0x06, 0x64, 0x00, 0x07, 0x05}) {
      say(packet({0x05, 0x64, 0x00, 0x87, 0x00}));
    } else {
      records.push_back(body);
      say(packet({0x05, 0x64, 0x00, recordCode, recordStatus}));
      if (records.size() == expectedRecords) say({0x55, 0x04});
    }
    return true;
  }

 private:
  bool inDownload_ = false;
};

// A sleeve whose engine pass-through reaches `peer`.
class EngineSleeve final : public FakeManaged<KXSleeveDriver> {
 public:
  explicit EngineSleeve(std::shared_ptr<EnginePeer> p) : FakeManaged("sleeve"), peer(std::move(p)) {}
  std::shared_ptr<EnginePeer> peer;
  int fwVer = 5100;
  int busyWrites = 0;               // the next raw writes answered "busy" (-5)
  std::vector<size_t> writeSizes;   // every accepted raw write
  Bytes initData;
  void report(KXDevices& a) override { a.connectionState(state); }
  int getFWVER() override { return fwVer; }
  std::optional<Bytes> _barcodeEngineWrite(const uint8_t* d, int n, Error* e) override {
    if (busyWrites > 0) {
      --busyWrites;
      foundation::fail(e, Error("com.sabrel.errors", -5, "Device busy"));
      return std::nullopt;
    }
    writeSizes.push_back(size_t(n));
    peer->receive(Bytes(d, d + n));
    return Bytes{};
  }
  std::optional<Bytes> _barcodeEngineSpecialWrite(const uint8_t* d, int n, Error*) override {
    return peer->special(Bytes(d, d + n));
  }
  std::optional<Bytes> _barcodeEngineRead(Error*) override { return peer->take(); }
  bool _barcodeEngineDownloadModeEnable(bool on, Error*) override {
    log->add(std::string("sleeve.download:") + (on ? "1" : "0"));
    peer->downloadMode = on;
    return true;
  }
  bool _barcodeEngineChangeBaudRate(int baud, Error*) override {
    peer->baud = baud;
    return true;
  }
  bool _barcodeEngineSetInitData(const Bytes& data, Error*) override {
    initData = data;
    return true;
  }
  bool barcodeStartScan(Error*) override {
    log->add("sleeve.barcodeStartScan");
    return true;
  }
  bool barcodeStopScan(Error*) override {
    log->add("sleeve.barcodeStopScan");
    return true;
  }
};

// The device API and the facade over an `EngineSleeve`, connected, with a manual clock that
// moves on in the background and a delegate that records progress.
struct EngineBench {
  class Factory final : public KXDriverFactory {
   public:
    explicit Factory(std::shared_ptr<KXSleeveDriver> s) : sleeve_(std::move(s)) {}
    std::shared_ptr<KXSleeveDriver> makeSleeve() override { return sleeve_; }

   private:
    std::shared_ptr<KXSleeveDriver> sleeve_;
  };
  class Progress final : public RecordingDelegate {
   public:
    using RecordingDelegate::RecordingDelegate;
    void firmwareUpdateProgress(int phase, int percent) override {
      record("progress:" + std::to_string(phase) + ":" + std::to_string(percent), false);
    }
  };

  explicit EngineBench(std::shared_ptr<EnginePeer> peer, int engineKind)
      : sleeve(std::make_shared<EngineSleeve>(std::move(peer))) {
    sleeve->features[KXDevices::kFeatureBarcodeEngine] = engineKind;
    api = KXDevices::create(std::make_shared<Factory>(sleeve));
    facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                  std::make_shared<KXDeviceAgentStandIn>());
    app = std::make_shared<Progress>(log, "app", std::vector<std::string_view>{kxsel::firmwareUpdateProgress});
    facade->addDelegate(app);
    sleeve->state = 2;
    api->connectionState(2);
  }
  std::vector<std::string> progress() const {
    std::vector<std::string> out;
    for (const auto& l : log->lines())
      if (l.rfind("app:progress:", 0) == 0) out.push_back(l.substr(13));
    return out;
  }

  std::shared_ptr<EngineSleeve> sleeve;
  std::shared_ptr<KXDevices> api;
  std::shared_ptr<OKTKXDevices> facade;
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  std::shared_ptr<Progress> app;
  foundation::ScopedManualClock clock;
  ClockPump pump{*clock};
};

}  // namespace kestra::testing
