#pragma once
// A printer driver connected to a simulated printer through the real accessory layer (or a
// TCP stream pair to a network printer), for tests, benchmarks and the demo: an accessory
// bench of its own, a `Printer`, a `SimulatedPrinter` and a recording delegate.
//
// `RecordingPrinterDelegate` turns each printer callback into one line of text
// ("prnConnectionState:2", "kxdev_barcodeData:13:ABC", "paperStatus:0", ...).
//
// Use on the main thread (the test's thread), which the waits pump.

#include <chrono>
#include <functional>
#include <memory>

#include "platform/accessory/FdStream.h"
#include "sdk/printer/Printer.h"
#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/printer/SimulatedPrinter.h"

namespace devices {

class RecordingPrinterDelegate : public RecordingDelegate<kestra::PrinterDelegate> {
 public:
  explicit RecordingPrinterDelegate(std::shared_ptr<CallRecorder> log = std::make_shared<CallRecorder>(),
                                    std::string tag = {});
  void prnConnectionState(int state) override;
  void kxdev_barcodeData(const Bytes& barcode) override;
  void magneticCardData(const std::optional<std::string>& t1, const std::optional<std::string>& t2,
                        const std::optional<std::string>& t3) override;
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const Bytes& data,
                                       const std::optional<std::string>& t1,
                                       const std::optional<std::string>& t2,
                                       const std::optional<std::string>& t3, int source) override;
  void paperStatus(bool present) override;
};

class PrinterTestBench {
 public:
  explicit PrinterTestBench(PrinterPersona persona = PrinterPersona::receipt(), int index = 0);
  ~PrinterTestBench();

  // Attaches the simulated printer, asks the driver to connect and pumps the main queue until
  // it is connected (state 2) and the delegate has heard so. False on time-out (real time).
  bool connect(std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // The same under a manual clock: pumps and advances `clock` until connected.
  bool connect(foundation::ManualClock& clock);
  bool runUntil(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

  AccessoryTestBench bench;
  std::shared_ptr<kestra::Printer> printer;
  SimulatedPrinter* sim = nullptr;
  std::shared_ptr<RecordingPrinterDelegate> delegate;

 private:
  bool connectedAndHeard() const;
  PrinterPersona persona_;
};

// A host-side stream pair connected over TCP to 127.0.0.1:`port`; empty streams when the
// connection fails.
accessory::FdStreamPair tcpStreams(uint16_t port);

}  // namespace devices
