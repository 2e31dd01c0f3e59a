#pragma once
// A simulated receipt printer behind the accessory layer (SimulatedPrinter) or on a TCP
// connection on loopback (NetworkPrinter): a `PrinterModel` on the frame-and-command core,
// with the base's fault knobs and scripted reply faults (late, split, dropped, unanswered).
//
// Tests drive it from any thread: status knobs and reader answers on `model()`, events with
// `sendEvent`, the printed picture through `model().withRenderer(...)`.

#include <filesystem>
#include <memory>

#include "testing/devices/base/FrameCommandSimulator.h"
#include "testing/devices/base/StreamPairPeer.h"
#include "testing/devices/printer/PrinterModel.h"

namespace devices {

class SimulatedPrinter : public FrameCommandSimulator {
 public:
  // The accessory identity a persona announces.
  static accessory::AccessoryIdentity identityFor(const PrinterPersona& persona);

  SimulatedPrinter(accessory::AccessoryIdentity identity, std::filesystem::path folder,
                   PrinterPersona persona);
  explicit SimulatedPrinter(PrinterPersona persona = PrinterPersona::receipt());
  ~SimulatedPrinter() override;

  PrinterModel& model() { return *model_; }
  // An unsolicited 4-byte event with `flags` (framed personas).
  void sendEvent(uint8_t flags);

 private:
  std::unique_ptr<PrinterModel> model_;
};

class NetworkPrinter : public StreamPairPeer {
 public:
  explicit NetworkPrinter(PrinterPersona persona = PrinterPersona::receipt(), uint16_t port = 0);
  ~NetworkPrinter() override;

  PrinterModel& model() { return *model_; }
  void sendEvent(uint8_t flags);

 private:
  std::unique_ptr<PrinterModel> model_;
};

}  // namespace devices
