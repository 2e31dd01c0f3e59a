#pragma once
// A simulated accessory that speaks a framed command protocol: a `SimulatedAccessory` whose
// received bytes go through a `FrameCommandDevice` (FrameCommandDevice.h), with the replies
// sent back under their scripted faults. The base's knobs (silence, reply delay, split
// delivery, garbage, dropped link, stalled reads, refused sessions) still apply to all.
//
// How a new simulator uses it: derive from it (or make one), give the parser to the
// constructor and register the command handlers on `frames()`; send unsolicited events with
// `send`. A subclass that needs the raw bytes as well (a wake-up sequence outside any
// frame) overrides `onBytes`, which sees every read before the frames are cut.
//
// Threads: handlers run on the accessory's device thread; everything else as in
// SimulatedAccessory.h. A subclass whose handlers use its own members calls `detach()` in
// its destructor.

#include "testing/devices/base/FrameCommandDevice.h"
#include "testing/devices/base/SimulatedAccessory.h"

namespace devices {

class FrameCommandSimulator : public SimulatedAccessory {
 public:
  // `folder` empty: the accessory folder the SDK watches.
  FrameCommandSimulator(accessory::AccessoryIdentity identity, std::filesystem::path folder,
                        FrameParser parser);
  ~FrameCommandSimulator() override;

  FrameCommandDevice& frames() { return frames_; }
  const FrameCommandDevice& frames() const { return frames_; }

  // The send faults that carry out a scripted reply fault.
  static SendFaults sendFaultsFor(const ScriptedFault& fault);

  // Whether the host's last read was answered at once: false when it completed no frame, or
  // its frames were left unanswered or answered late. With `busy()` false and this false, a
  // host waiting for an answer waits for one that is not on its way.
  bool lastReadAnswered() const { return lastReadAnswered_.load(); }

 protected:
  // Device thread: every read the host's bytes arrived in, before frames are cut.
  virtual void onBytes(int channel, const uint8_t* data, size_t length);
  void onReceive(int channel, const uint8_t* data, size_t length) override;
  void onChannelClosed(int channel) override;

 private:
  FrameCommandDevice frames_;
  std::atomic<bool> lastReadAnswered_{false};
};

}  // namespace devices
