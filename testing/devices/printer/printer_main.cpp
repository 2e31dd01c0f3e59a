// Runs a simulated receipt printer as an accessory of this machine (or, with --tcp, as a
// network printer on loopback), so that the demo or any program of the SDK prints to it like
// a real one. What it is sent is drawn as a receipt; the picture is written as a PNG when the
// program ends (and on "!save"). Lines typed drive the printer's readers:
//   !barcode TEXT          the engine reads TEXT (Code 128) and the printer announces it
//   !swipe T1;T2;T3        a magnetic card is read and announced
//   !paper out|in          the paper sensor
//   !save                  writes the picture now
//   !quit                  detach and end (end of input does the same)
//
// Options: --persona receipt|scanner|257|plain|generic|label, --png FILE (receipt.png),
// --tcp PORT, --folder DIR.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "testing/devices/printer/SimulatedPrinter.h"

namespace {
devices::PrinterPersona personaNamed(const std::string& n) {
  using P = devices::PrinterPersona;
  if (n == "scanner") return P::scanner();
  if (n == "257") return P::persona257();
  if (n == "plain") return P::plain();
  if (n == "generic") return P::generic();
  if (n == "label") return P::label();
  return P::receipt();
}
}  // namespace

int main(int argc, char** argv) {
  std::string persona = "receipt", png = "receipt.png", folder;
  int tcp = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
    if (a == "--persona") persona = next();
    else if (a == "--png") png = next();
    else if (a == "--tcp") tcp = std::stoi(next());
    else if (a == "--folder") folder = next();
    else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  const devices::PrinterPersona p = personaNamed(persona);
  std::unique_ptr<devices::SimulatedPrinter> accessoryPrinter;
  std::unique_ptr<devices::NetworkPrinter> networkPrinter;
  devices::PrinterModel* model;
  if (tcp >= 0) {
    networkPrinter = std::make_unique<devices::NetworkPrinter>(p, uint16_t(tcp));
    if (!networkPrinter->start()) {
      std::fprintf(stderr, "could not listen on port %d\n", tcp);
      return 1;
    }
    model = &networkPrinter->model();
    std::fprintf(stderr, "network printer \"%s\" on 127.0.0.1:%u\n", p.name.c_str(), networkPrinter->port());
  } else {
    accessoryPrinter = std::make_unique<devices::SimulatedPrinter>(devices::SimulatedPrinter::identityFor(p),
                                                                   folder, p);
    if (!accessoryPrinter->attach()) {
      std::fprintf(stderr, "could not attach the simulated printer\n");
      return 1;
    }
    model = &accessoryPrinter->model();
    std::fprintf(stderr, "simulated printer \"%s\" attached\n", p.name.c_str());
  }
  auto event = [&](uint8_t flags) {
    if (networkPrinter) networkPrinter->sendEvent(flags);
    if (accessoryPrinter) accessoryPrinter->sendEvent(flags);
  };
  auto save = [&] {
    const bool ok = model->withRenderer([&](devices::ReceiptRenderer& r) {
      r.finishLine();
      return r.savePng(png);
    });
    std::fprintf(stderr, ok ? "receipt written to %s\n" : "could not write %s\n", png.c_str());
  };
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "!quit") break;
    if (line == "!save") {
      save();
    } else if (line.rfind("!barcode ", 0) == 0) {
      model->queueBarcode(13, line.substr(9));
      event(0x01);
    } else if (line.rfind("!swipe ", 0) == 0) {
      std::string rest = line.substr(7), t[3];
      for (int i = 0; i < 3; ++i) {
        const size_t semi = rest.find(';');
        t[i] = rest.substr(0, semi);
        rest = semi == std::string::npos ? std::string() : rest.substr(semi + 1);
      }
      model->queueCard(t[0], t[1], t[2]);
      event(0x02);
    } else if (line == "!paper out" || line == "!paper in") {
      model->setPaperOut(line == "!paper out");
      event(line == "!paper out" ? 0x20 : 0x24);
    }
  }
  save();
  return 0;
}
