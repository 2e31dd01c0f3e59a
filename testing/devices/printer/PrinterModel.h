#pragma once
// The state and protocol of a simulated receipt printer, shared by the accessory form
// (SimulatedPrinter) and the network form (NetworkPrinter): a persona (what it answers to
// identification, its paper, whether it speaks the framed protocol mode, a generic ESC/POS
// or a label printer), the print head (ReceiptRenderer), the channels of the framed mode
// (print data, encrypted head, smart-card and Mifare modules), status knobs (busy, paper
// out, cover open, a job still running), the answers of its readers, and its keys.
//
// Thread-safe: every member may be called from any thread; frames are handled one at a time.

#include <array>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "testing/devices/base/FrameCommandDevice.h"
#include "testing/devices/emsr/SimulatedEmsrHead.h"
#include "testing/devices/printer/ReceiptRenderer.h"

namespace devices {

struct PrinterPersona {
  enum class Kind { Framed, Plain, Generic, Label };
  Kind kind = Kind::Framed;
  std::string name = "RPX-350";  // identification bytes 0-21
  std::string firmware = "150";  // three digits
  uint8_t byte28 = 0x40;         // bit 2 label mode supported, bit 6 page mode
  uint8_t byte30 = 0x00;         // bit 5 label mode active, bit 6 narrow paper
  int paperWidth = 576;
  std::string serial = "PRN-000123";
  std::string labelSettings = "0000001000,0,0,0,0,0,30";
  bool smartCardModule = false;

  // A 3-inch receipt printer (model class 1) speaking the framed mode.
  static PrinterPersona receipt();
  // A 2-inch printer with a barcode engine and keys (model class 3).
  static PrinterPersona scanner();
  // The label-capable 2-inch printer with firmware 2.57 (model class 11).
  static PrinterPersona persona257();
  // A printer of the maker without the framed mode (model class 0).
  static PrinterPersona plain();
  // Any ESC/POS printer: no identification.
  static PrinterPersona generic();
  // A label printer speaking the label language.
  static PrinterPersona label();

  // The accessory protocol string this persona announces.
  std::string protocolString() const;
  // The 32-byte identification answer.
  Bytes identification() const;
};

class PrinterModel {
 public:
  explicit PrinterModel(PrinterPersona persona);

  const PrinterPersona& persona() const { return persona_; }
  // Cuts the host's bytes into frames (framed personas) or takes them as they come.
  FrameParser parser() const;
  // One frame (or run of plain bytes) from the host: the replies to send.
  std::vector<FrameCommandDevice::Reply> handle(const HostFrame& frame);

  // ---- Knobs --------------------------------------------------------------------------------
  // The next `n` frames are answered busy (and not acted on).
  void setBusyReplies(int n);
  void setPaperOut(bool on);
  void setCoverOpen(bool on);
  // The next `n` status answers say a job is still printing.
  void setJobRunning(int n);
  void setBattery(int raw);
  void setTemperature(int raw);
  // The next scan answers with this code (nothing: no code read).
  void queueBarcode(int type, const std::string& code);
  void queueCard(const std::string& t1, const std::string& t2, const std::string& t3);
  void setKey(int id, const Bytes& key32);
  std::optional<Bytes> key(int id) const;

  // ---- What it did ---------------------------------------------------------------------------
  // Everything written to the print channel, in order.
  Bytes printData() const;
  // The 4-byte event with `flags`.
  static Bytes event(uint8_t flags);
  // Runs `f` on the print head under the model's lock.
  template <class F>
  auto withRenderer(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(renderer_);
  }
  sim::SimulatedEmsrHead& head() { return head_; }
  std::vector<Bytes> moduleRequests(int channel) const;

 private:
  Bytes reply(uint8_t channel, uint8_t status, const Bytes& data) const;
  uint8_t status();
  void query(const Bytes& command);
  Bytes moduleAnswer(int channel, const Bytes& request);
  void printBytes(const uint8_t* data, size_t length);

  const PrinterPersona persona_;
  mutable std::mutex mutex_;
  ReceiptRenderer renderer_;
  sim::SimulatedEmsrHead head_;
  Bytes printData_;
  Bytes* answers_ = nullptr;  // where the print head's answers go while a frame is handled
  std::map<int, Bytes> outq_;
  int busy_ = 0, jobRunning_ = 0;
  bool paperOut_ = false, coverOpen_ = false;
  int battery_ = 0x20 + 74, temperature_ = 0x20 + 25;
  std::deque<Bytes> barcodes_, cards_;
  std::array<std::optional<Bytes>, 2> keys_;
  Bytes lastRandom_;
  uint32_t randomState_ = 0x12345678;
  int maxLabelLength_ = 400;
  int blackMark_ = 0x60;
  std::map<int, std::vector<Bytes>> moduleRequests_;
  std::map<int, Bytes> modulePending_;
  std::map<int, Bytes> mifareBlocks_;
  Bytes zplPending_;
};

// Test vectors computed apart from the SDK: AES-256-CBC with a zero IV (key shorter than 32
// bytes zero-padded) and CRC-16/XMODEM.
Bytes simAesEncrypt(const Bytes& key, const Bytes& data);
Bytes simAesDecrypt(const Bytes& key, const Bytes& data);
uint16_t simCrc16(const uint8_t* data, size_t length);

}  // namespace devices
