#pragma once
// Everything a test of a driver over accessories needs, in one object: a private accessory
// folder, a registry watching it, a common run-loop thread and an accessory manager of
// their own, simulated devices attached to that folder, and a clean end (streams closed,
// global-queue work finished, devices detached, folder removed).
//
// Use it on the main thread (the test's thread), which it pumps while it waits:
//
//   devices::AccessoryTestBench bench;
//   auto driver = std::make_shared<MyDriver>();
//   bench.manager->setDelegate(driver);
//   auto& dev = bench.attach<devices::EchoAccessory>(identity);
//   bench.manager->tryConnect();
//   bench.pumpUntil([&] { return driver->connected(); });
//
// Call `closeStreams(...)` with the streams your drivers hold before the bench ends, or
// let the drivers close them in `accessoryDisconnected`.

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/base/SimulatedAccessory.h"

namespace devices {

class AccessoryTestBench {
 public:
  AccessoryTestBench() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestra-bench-XXXXXX").string();
    folder = mkdtemp(tmpl.data()) ? std::filesystem::path(tmpl) : std::filesystem::path();
    registry = std::make_unique<accessory::AccessoryManager>(folder);
    comm = std::make_unique<kestra::KXUNISDKCommRunLoop>();
    manager = kestra::EAManager::create(*registry, *comm);
  }

  ~AccessoryTestBench() {
    // No search starts any more, and the manager stops hearing this registry, whose address
    // the next bench's registry may take (a search started by a late attach would otherwise
    // outlive the registry, and the old manager could claim the next test's device).
    manager->disconnect();
    manager->onUnregister();
    for (const auto& s : manager->devices()) s->disconnect();
    pumpUntil([] { return kestra::GlobalQueue::running() == 0; });
    for (auto& d : devices_) d->detach();
    devices_.clear();
    // A stream that saw its device go disconnects on the global queue, waiting for the
    // main queue: every one must have closed its sessions and left the run-loop thread
    // before that thread and the registry go.
    pumpUntil([&] { return kestra::GlobalQueue::running() == 0 && comm->requestCounter() == 0; });
    manager.reset();
    comm.reset();
    registry.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }

  // Makes, attaches and keeps a device, and waits until the registry lists it.
  template <class Device = SimulatedAccessory, class... Args>
  Device& attach(accessory::AccessoryIdentity identity, Args&&... args) {
    auto d = std::make_unique<Device>(std::move(identity), folder, std::forward<Args>(args)...);
    Device& ref = *d;
    ref.attach();
    const std::string name = ref.identity().name;
    pumpUntil([&] {
      for (const auto& a : registry->connectedAccessories())
        if (a->endpoint().socketPath == ref.socketPath().string()) return true;
      return false;
    });
    devices_.push_back(std::move(d));
    return ref;
  }

  // Pumps the main queue until `condition` holds (real-time safety net `timeout`).
  static bool pumpUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) {
    return foundation::RunLoop::main().runUntil(condition, timeout);
  }

  // Under a manual clock: pumps the main queue and advances `clock` by `step` until
  // `condition` holds or `limit` of clock time has passed.
  static bool advanceUntil(foundation::ManualClock& clock, const std::function<bool()>& condition,
                           foundation::Duration step = std::chrono::milliseconds(100),
                           foundation::Duration limit = std::chrono::seconds(60)) {
    for (foundation::Duration passed{}; passed <= limit; passed += step) {
      if (foundation::RunLoop::main().runUntil(condition, std::chrono::milliseconds(5)))
        return true;
      clock.advance(step);
    }
    return condition();
  }

  std::filesystem::path folder;
  std::unique_ptr<accessory::AccessoryManager> registry;
  std::unique_ptr<kestra::KXUNISDKCommRunLoop> comm;
  std::shared_ptr<kestra::EAManager> manager;

 private:
  std::vector<std::unique_ptr<SimulatedAccessory>> devices_;
};

}  // namespace devices
