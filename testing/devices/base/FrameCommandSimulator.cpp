#include "testing/devices/base/FrameCommandSimulator.h"

namespace devices {

FrameCommandSimulator::FrameCommandSimulator(accessory::AccessoryIdentity identity, std::filesystem::path folder,
                                             FrameParser parser)
    : SimulatedAccessory(std::move(identity), std::move(folder)), frames_(std::move(parser)) {}

FrameCommandSimulator::~FrameCommandSimulator() { detach(); }

SimulatedAccessory::SendFaults FrameCommandSimulator::sendFaultsFor(const ScriptedFault& fault) {
  SendFaults f;
  switch (fault.kind) {
    case ScriptedFault::Unanswered: break;
    case ScriptedFault::Late: f.delay = fault.delay; break;
    case ScriptedFault::Split:
      f.boundaries = fault.boundaries;
      f.everyByte = fault.boundaries.empty();
      break;
    case ScriptedFault::Garbage: f.garbage = fault.garbage; break;
    case ScriptedFault::Dropped: f.dropAfter = long(fault.keep); break;
  }
  return f;
}

void FrameCommandSimulator::onBytes(int, const uint8_t*, size_t) {}

void FrameCommandSimulator::onReceive(int channel, const uint8_t* data, size_t length) {
  onBytes(channel, data, length);
  bool answered = false;
  for (const Outgoing& o : frames_.feed(channel, data, length)) {
    if (o.fault)
      sendWith(o.channel, o.bytes, sendFaultsFor(*o.fault));
    else
      send(o.channel, o.bytes);
    if (!o.fault || o.fault->kind != ScriptedFault::Late) answered = true;
  }
  lastReadAnswered_ = answered;
}

void FrameCommandSimulator::onChannelClosed(int channel) { frames_.resetChannel(channel); }

}  // namespace devices
