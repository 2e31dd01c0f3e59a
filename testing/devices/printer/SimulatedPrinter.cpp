#include "testing/devices/printer/SimulatedPrinter.h"

namespace devices {

accessory::AccessoryIdentity SimulatedPrinter::identityFor(const PrinterPersona& persona) {
  accessory::AccessoryIdentity id;
  id.name = persona.name;
  id.manufacturer = "SABREL";
  id.modelNumber = persona.name;
  id.serialNumber = persona.kind == PrinterPersona::Kind::Framed ? std::string() : persona.serial;
  id.hardwareRevision = "1.0";
  id.protocolStrings = {persona.protocolString()};
  return id;
}

namespace {
// The parser of a model made after the base that needs it.
FrameParser deferredParser(std::unique_ptr<PrinterModel>* model) {
  return [model](const uint8_t* p, size_t n) { return (*model)->parser()(p, n); };
}
}  // namespace

SimulatedPrinter::SimulatedPrinter(accessory::AccessoryIdentity identity, std::filesystem::path folder,
                                   PrinterPersona persona)
    : FrameCommandSimulator(std::move(identity), std::move(folder), deferredParser(&model_)),
      model_(std::make_unique<PrinterModel>(std::move(persona))) {
  frames().onOther([this](const HostFrame& f) { return model_->handle(f); });
}

SimulatedPrinter::SimulatedPrinter(PrinterPersona persona)
    : SimulatedPrinter(identityFor(persona), {}, persona) {}

SimulatedPrinter::~SimulatedPrinter() { detach(); }

void SimulatedPrinter::sendEvent(uint8_t flags) { send(0, PrinterModel::event(flags)); }


NetworkPrinter::NetworkPrinter(PrinterPersona persona, uint16_t port)
    : StreamPairPeer(PrinterModel(persona).parser(), port), model_(std::make_unique<PrinterModel>(persona)) {
  frames().onOther([this](const HostFrame& f) { return model_->handle(f); });
}

NetworkPrinter::~NetworkPrinter() { stop(); }

void NetworkPrinter::sendEvent(uint8_t flags) { send(PrinterModel::event(flags)); }

}  // namespace devices
