#pragma once
// A simulated secure access module (SAM) in the sleeve's slot, reached by sleeve command 60:
// sub-command 01 powers it off, 02 on (the ATR), 06 carries an APDU (answered with a status
// word), and 04 carries a frame of the iClass SAM message layer
// ([A0 DA 02 63][00][length 2][44 0A 44 00 00 00][BER-TLV message][00 00]).
//
// It speaks that layer as far as the host's commands need: version (core node A5 { 82 }),
// serial number (application node), content element (it asks the host to read the
// credential block of the iClass card in the field with an RF request, then answers the
// block on the application node), configuration card (an acknowledge request, an RF read,
// then A5 { 82 }), key-roller card, and the host's answers (RF data, acknowledge). Its own
// frames ([00][node][0A 44 00 00][message][90 00]) go to `onOutput`, which the sleeve sends
// as event 0x3D [05][frame].
//
// Knobs: `nextStatus` replaces 90 00 of its next frame, `silent` makes it answer nothing.
//
// Threads: any; one lock guards the state; `onOutput` is called with it held released.

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

class SimulatedSam {
 public:
  Bytes atr{0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06, 0x0A, 0x00, 0x1C};
  Bytes version{0x01, 0x04, 0x22};
  Bytes serial{0x53, 0x41, 0x4D, 0x00, 0x00, 0x12, 0x34, 0x56};
  uint8_t credentialBlock = 7;
  std::function<void(const Bytes&)> onOutput;

  // Command 60's data; the reply's result.
  std::optional<Bytes> command(const Bytes& data);

  void setNextStatus(uint8_t sw1, uint8_t sw2);
  void setSilent(bool silent);
  bool powered() const;
  // Messages the host sent (the TLV messages of its frames) and its APDUs, in order.
  std::vector<Bytes> messages() const;
  std::vector<Bytes> apdus() const;

 private:
  enum class Waiting { Nothing, ContentRf, ConfigAck, ConfigRf };
  void message(const Bytes& m, std::vector<Bytes>& out);
  void sendLocked(uint8_t node, const Bytes& message, std::vector<Bytes>& out);
  Bytes rfRequest(const Bytes& cardData) const;

  mutable std::mutex mutex_;
  bool powered_ = false;
  bool silent_ = false;
  std::optional<std::pair<uint8_t, uint8_t>> nextStatus_;
  Waiting waiting_ = Waiting::Nothing;
  std::vector<Bytes> messages_;
  std::vector<Bytes> apdus_;
};

}  // namespace devices
