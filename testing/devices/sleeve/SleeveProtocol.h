#pragma once
// The simulated sleeve's protocol state machine: host frames in, reply frames out, plus
// the device's own events. Pure and synchronous (no threads, no I/O), so tests can drive it
// directly; `SimulatedSleeve` puts it behind an accessory.
//
// It speaks the sleeve packet protocol on one or two channels. On a one-channel link the
// magnetic reader's commands and events travel on channel 0 with 0xE0 added to their code.
// It keeps an identification (optionally given only after the wake bytes "KX@\r"), a
// settings store (command 58), a real-time clock, battery values, scan settings, the
// magnetic reader's state and charging, and records every host frame.
//
// Fault knobs for the next reply: a status code, a wrong command echo, a length field that
// promises more bytes than follow, an oversized reply; and commands it never answers.
//
// Not thread-safe: the owner serialises calls.

#include <cstdint>
#include <ctime>
#include <map>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "testing/devices/base/FrameCommandDevice.h"
#include "testing/devices/sleeve/SleeveModules.h"

namespace devices {

using foundation::Bytes;

class SleeveProtocol {
 public:
  struct Config {
    std::string serialNumber = "PN0001";
    std::string name = "Pellan Pro";
    std::string model = "XBCM";
    std::string firmware = "2.63";
    int channels = 2;
    bool wakeRequired = false;
  };

  // One frame the device sends.
  struct Output {
    int channel;
    Bytes frame;
  };

  // A frame the host sent, with its code as the host wrote it.
  struct HostFrame {
    int channel;  // the channel it arrived on
    uint8_t code;
    uint8_t messageId;
    Bytes data;
  };

  explicit SleeveProtocol(Config config);

  // The contactless reader inside the sleeve: given each frame of commands 32, 34 and 57,
  // it answers the command's result (nothing: the command is handled as without a reader).
  std::function<std::optional<Bytes>(uint8_t code, const Bytes& data)> rfReader;

  // Modules inside the sleeve (encrypted head, key store, EMV kernel, ...), by channel-0
  // command code, checked before the built-in commands: given the command's data, a module
  // answers its result (nothing: no answer) and may set a non-zero `status`.
  using Module = std::function<std::optional<Bytes>(const Bytes& data, uint8_t* status)>;
  std::map<uint8_t, Module> modules;
  // Events a module raised while answering: the simulated sleeve sends them right after the
  // command's reply.
  std::vector<Output> afterReply;

  // Host bytes on `channel`; returns the replies to send, in order. (The simulated sleeve
  // cuts frames with the frame-and-command helper instead, through the three below.)
  std::vector<Output> feed(int channel, const uint8_t* data, size_t length);
  // What a host frame looks like at the front of `data`: noise and wake bytes are skipped.
  static FrameScan scanHostFrame(const uint8_t* data, size_t length);
  // Every byte the host sent, as it arrived (it notices the wake bytes).
  void noteBytes(int channel, const uint8_t* data, size_t length);
  // One whole host frame: recorded, and answered unless the sleeve stays silent.
  std::optional<Output> answer(int channel, const Bytes& frame);

  // ---- Events -----------------------------------------------------------------------------
  // A scan: the engine's symbology code followed by the text.
  Output barcodeEvent(uint8_t engineCode, const std::string& text) const;
  // A scan-button state byte (bit mask on older firmware, state bit and number on newer).
  Output buttonEvent(uint8_t state) const;
  // A swipe: tracks behind their markers 0xF1, 0xF2, 0xF3 (absent tracks are left out).
  Output magneticEvent(const std::optional<std::string>& track1,
                       const std::optional<std::string>& track2,
                       const std::optional<std::string>& track3) const;
  Output rawCardEvent(const Bytes& data) const;
  Output encryptedCardEvent(const Bytes& data) const;
  // Any event: `code` on logical channel `channel` with two status bytes and `payload`.
  Output event(int channel, uint8_t code, const Bytes& payload) const;

  // ---- State -----------------------------------------------------------------------------
  Config config;
  bool woken = false;
  std::map<uint8_t, Bytes> settings;  // command 58, by id
  std::tm clock{};                    // UTC
  uint8_t batteryTenths = 40;
  std::optional<Bytes> batteryInfo;   // command 64's answer; absent: command refused
  uint8_t chargingState = 0;          // command 16: 0 off, 1 charging, 2 on cable
  uint8_t syncButtonMode = 1;
  uint8_t scanMode = 0;
  uint8_t scanTimeout = 10;
  uint8_t scanButtonMode = 1;
  bool scanning = false;
  int scanStarts = 0;
  bool magneticEnabled = false;
  uint8_t magneticMode = 0;
  uint8_t barcodeTypeMode = 0;
  // Boot loader, barcode engine, external serial port and UHF reader (SleeveModules.h).
  SleeveModules passThrough;

  // ---- Faults for the next reply ------------------------------------------------------------
  std::optional<std::pair<uint8_t, uint8_t>> nextStatus;
  std::optional<Bytes> nextResult;  // replaces the next successful reply's result bytes
  bool nextWrongEcho = false;
  bool nextShortLength = false;
  bool nextOversized = false;
  std::set<uint8_t> unanswered;  // codes (as the host wrote them) that get no reply

  const std::vector<HostFrame>& hostFrames() const { return hostFrames_; }
  void clearHostFrames() { hostFrames_.clear(); }
  // The data of the last host frame with `code` on logical channel `channel`, if any.
  std::optional<Bytes> lastCommand(int channel, uint8_t code) const;

 private:
  std::optional<Output> handle(int arrival, uint8_t rawCode, uint8_t id, const Bytes& data);
  Output reply(int arrival, uint8_t rawCode, uint8_t id, uint8_t status, const Bytes& result);
  // Answers a channel-0 command: nullopt = no answer; `status` may be set non-zero.
  std::optional<Bytes> system(uint8_t code, const Bytes& data, uint8_t* status);
  std::optional<Bytes> magnetic(uint8_t code, const Bytes& data, uint8_t* status);
  Output frameFor(int channel, uint8_t code, const Bytes& data) const;

  std::map<int, Bytes> pending_;
  std::map<int, Bytes> wakeTail_;
  std::vector<HostFrame> hostFrames_;
};

}  // namespace devices
