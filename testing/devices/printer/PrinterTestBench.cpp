#include "testing/devices/printer/PrinterTestBench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace devices {

namespace {
std::string text(const std::optional<std::string>& t) { return t ? *t : "(null)"; }
}  // namespace

RecordingPrinterDelegate::RecordingPrinterDelegate(std::shared_ptr<CallRecorder> log, std::string tag)
    : RecordingDelegate(std::move(log), std::move(tag)) {
  declare({kestra::prnsel::prnConnectionState, kestra::prnsel::kxdev_barcodeData,
           kestra::prnsel::magneticCardData, kestra::prnsel::kxdev_magneticCardEncryptedData,
           kestra::prnsel::paperStatus});
}

void RecordingPrinterDelegate::prnConnectionState(int state) {
  record("prnConnectionState:" + std::to_string(state));
}

void RecordingPrinterDelegate::kxdev_barcodeData(const Bytes& barcode) {
  if (barcode.empty()) return record("kxdev_barcodeData:");
  record("kxdev_barcodeData:" + std::to_string(barcode[0]) + ":" + std::string(barcode.begin() + 1, barcode.end()));
}

void RecordingPrinterDelegate::magneticCardData(const std::optional<std::string>& t1,
                                                const std::optional<std::string>& t2,
                                                const std::optional<std::string>& t3) {
  record("magneticCardData:" + text(t1) + "|" + text(t2) + "|" + text(t3));
}

void RecordingPrinterDelegate::kxdev_magneticCardEncryptedData(int encryption, int tracks, const Bytes& data,
                                                               const std::optional<std::string>& t1,
                                                               const std::optional<std::string>& t2,
                                                               const std::optional<std::string>& t3,
                                                               int source) {
  record("encrypted:" + std::to_string(encryption) + ":" + std::to_string(tracks) + ":" +
         std::to_string(data.size()) + ":" + text(t1) + "|" + text(t2) + "|" + text(t3) + ":" +
         std::to_string(source));
}

void RecordingPrinterDelegate::paperStatus(bool present) { record("paperStatus:" + std::to_string(present)); }

PrinterTestBench::PrinterTestBench(PrinterPersona persona, int index)
    : printer(kestra::Printer::create(index, *bench.manager)),
      delegate(std::make_shared<RecordingPrinterDelegate>()),
      persona_(std::move(persona)) {
  bench.manager->setDelegate(printer);
  printer->addDelegate(delegate);
}

PrinterTestBench::~PrinterTestBench() {
  printer->disconnect();
  for (const auto& s : bench.manager->devices()) s->disconnect();
  runUntil([&] { return kestra::GlobalQueue::running() == 0; });
}

// Connected, and the delegate has heard so (the call comes through the main queue after the
// state changes): a test that clears the delegate's log next must not see it arrive later.
bool PrinterTestBench::connectedAndHeard() const {
  if (printer->connstate() != 2) return false;
  for (const auto& c : delegate->calls())
    if (c == "prnConnectionState:2") return true;
  return false;
}

bool PrinterTestBench::connect(std::chrono::milliseconds timeout) {
  if (!sim) sim = &bench.attach<SimulatedPrinter>(SimulatedPrinter::identityFor(persona_), persona_);
  printer->connect();
  return runUntil([&] { return connectedAndHeard(); }, timeout);
}

bool PrinterTestBench::connect(foundation::ManualClock& clock) {
  if (!sim) sim = &bench.attach<SimulatedPrinter>(SimulatedPrinter::identityFor(persona_), persona_);
  printer->connect();
  return AccessoryTestBench::advanceUntil(clock, [&] { return connectedAndHeard(); },
                                          std::chrono::milliseconds(50), std::chrono::seconds(60));
}

bool PrinterTestBench::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  return foundation::RunLoop::main().runUntil(condition, timeout);
}

accessory::FdStreamPair tcpStreams(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return {};
  }
  return accessory::makeFdStreamPair(fd);
}

}  // namespace devices
