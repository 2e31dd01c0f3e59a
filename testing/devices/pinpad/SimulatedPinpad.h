#pragma once
// A simulated pinpad behind the accessory layer: the pinpad's ">" frames cut and answered
// by the frame-and-command core (testing/devices/base), with the state and answers of a
// `PinpadModel` persona. Frames whose XOR check byte is wrong are recorded and not answered
// (`badChecks`). The base's knobs apply: reply latency (`setReplyDelay`), split delivery,
// garbage, a link dropped mid-packet, scripted faults per command group (`frames().script`).
//
// Tests send unsolicited packets with `sendPacket` / `sendEvent` from any thread and read or
// change the model under `withModel`.

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "testing/devices/base/FrameCommandSimulator.h"
#include "testing/devices/base/StreamPairPeer.h"
#include "testing/devices/pinpad/PinpadModel.h"

namespace devices {

// The answer of `model` (guarded by `mutex`) to one host frame: a response packet, or none
// for a frame whose check byte is wrong (counted in `badChecks`) or that the model leaves
// unanswered.
std::vector<FrameCommandDevice::Reply> answerHostFrame(PinpadModel& model, std::mutex& mutex,
                                                       const HostFrame& frame, std::atomic<int>& badChecks);

class SimulatedPinpad : public FrameCommandSimulator {
 public:
  SimulatedPinpad(accessory::AccessoryIdentity identity, std::filesystem::path folder,
                  PinpadPersona persona = PinpadPersona::skyrik5000g());
  ~SimulatedPinpad() override;

  // An accessory named `name` announcing the pinpad's protocol string first.
  static accessory::AccessoryIdentity identityFor(const std::string& name,
                                                  std::vector<std::string> protocols = {"com.sabrel.pinpad"});
  // The frame parser of the pinpad's host frames.
  static FrameScan parseHostFrame(const uint8_t* data, size_t length);

  template <class F>
  auto withModel(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(model_);
  }

  // A packet of `type` with `status` and `data`, sent unasked (split at `boundaries`).
  void sendPacket(uint8_t type, uint8_t status, const Bytes& data, const std::vector<size_t>& boundaries = {});
  void sendEvent(uint8_t type, const Bytes& data) { sendPacket(type, 0, data); }
  int badChecks() const { return badChecks_.load(); }
  // Puts a contactless reader module in the pinpad: the host's RF frames go to `reader`;
  // the function returned sends the module's bytes to the host as RF data packets (from
  // inside `reader`: after the reply of the command being answered).
  std::function<void(const Bytes&)> attachRfReader(std::function<void(const Bytes&)> reader);
  // Runs `f` on the Bluetooth module inside (a remote device sends, the link drops) and
  // sends the host what the module gives out, as the pinpad does.
  void withBluetoothModule(const std::function<std::string(SimulatedBT301&)>& f);

 private:
  std::mutex mutex_;
  PinpadModel model_;
  std::atomic<int> badChecks_{0};
};

// A pinpad reached over the network (a stream pair): the same model and answers behind a
// TCP peer on loopback.
class PinpadPeer : public StreamPairPeer {
 public:
  explicit PinpadPeer(PinpadPersona persona = PinpadPersona::skyrik5000g());
  ~PinpadPeer() override;

  template <class F>
  auto withModel(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(model_);
  }

 private:
  std::mutex mutex_;
  PinpadModel model_;
  std::atomic<int> badChecks_{0};
};

}  // namespace devices
