// Arbitrary bytes where the sleeve's security roads read what comes from outside: the head
// bridge's answers (a sleeve answer of any length and content handed to the head library),
// encrypted-head, EMV kernel and contactless-pass event records, and blocks under the
// demonstration key. A connected simulated sleeve answers the commands the handlers send;
// nothing may read or write outside a buffer, and every road must end.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "platform/foundation/RunLoop.h"
#include "sdk/foundation/DemoCardData.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/sleeve/Pellan.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace {

struct Rig {
  Rig() : bench([] {
    devices::SimulatedSleeve::Options o;
    o.config.model = "XBCMEV";
    return o;
  }()), security(*bench.sleeve) {
    security.head.setVersions(2001, 301);
    security.head.setTracksRead(3);
    security.setOnlineRequestOnStart(false);
    bench.connect();
    bench.pellan->emv2SetCardEmulationMode(true, 2, 1);
    // Every secure callback is taken, so every form is built.
    delegate = std::make_shared<devices::RecordingSecureDelegate>(std::vector<std::string_view>{
        kestra::sel::kxdev_emv2Event, kestra::sel::magneticCardEncryptedData_masked_source,
        kestra::sel::emv2OnUserInterfaceCode, kestra::sel::emv2OnTransactionFinished});
    bench.pellan->addDelegate(delegate);
  }
  devices::SleeveTestBench bench;
  devices::SleeveSecurity security;
  std::shared_ptr<devices::RecordingSecureDelegate> delegate;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The rig lives as long as the process; its bench's folder goes when the process ends.
  static auto* rig = [] {
    auto* made = new Rig();
    static const std::filesystem::path folder = made->bench.folder;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    });
    return made;
  }();
  auto& pellan = *rig->bench.pellan;
  const foundation::Bytes body(data + 1, data + size);
  switch (data[0] % 6) {
    case 0: {  // the sleeve's answer to a head command, read by the library
      rig->bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) { p.nextResult = body; });
      char model[17];
      kestra::emsrGetDeviceModel(&pellan, model);
      rig->bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) { p.nextResult = body; });
      pellan.emsrGetMaskedData();
      break;
    }
    case 1: case 2: case 3: {  // event records
      static const uint8_t kinds[][2] = {{1, 0x05}, {0, 0x38}, {0, 0x47}};
      const auto* k = kinds[data[0] % 6 - 1];
      foundation::Bytes record = {k[0], k[1], 0x00, 0x00};
      record.insert(record.end(), body.begin(), body.end());
      // The kernel's card read answers with the same bytes.
      rig->bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) { p.nextResult = body; });
      pellan.processData(std::move(record));
      rig->bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) { p.nextResult.reset(); });
      break;
    }
    case 4:
      kestra::Pellan::decryptDummyData(body, kestra::KEY_AES256_DUMMY());
      break;
    case 5: {  // a demonstration-key block whose plain text is the input
      foundation::Bytes plain = body;
      while (plain.size() % 16) plain.push_back(0x00);
      if (!plain.empty())
        kestra::decryptDemoTrackBlock(devices::SleeveSecurity::aes(kestra::KEY_AES256_DUMMY(), plain, true),
                                      kestra::KEY_AES256_DUMMY());
      break;
    }
  }
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
  rig->delegate->clear();
  rig->bench.delegate->clear();
  return 0;
}
