#pragma once
// A simulated rc663 reader module: it answers the module's frames ([module][sub][length 2]
// [data]) with replies ([flags][status][length 2][data]) and reports the cards in its field
// as card events (flags bit 7). Cards are `RfCard` models; tests place them in the field and
// take them out. The module can also be told to stay silent.
//
// The module's bytes go to the host through `onReply` (set by the test transport); it may be
// called from inside `receive` or from the thread that places a card.
//
// Threads: any; one lock guards the field and the module state.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "testing/devices/rf/RfCardModels.h"

namespace devices {

class SimulatedRc663 {
 public:
  uint16_t version = 0x0103;
  std::function<void(const Bytes&)> onReply;
  // The answer to reading a payment card's tracks (sub-command 15): the tracks' TLV data.
  Bytes paymentTracks = {0x57, 0x13, 0x00};

  // Host -> module bytes (one frame per write).
  void receive(const Bytes& frame);
  // Puts `card` in the field; while polling, the module reports it.
  void place(const std::shared_ptr<RfCard>& card);
  void remove(const std::shared_ptr<RfCard>& card);
  void setSilent(bool silent);
  // `card` leaves the field right after it has answered `frames` more frames (a card taken
  // away in the middle of a command).
  void removeAfter(const std::shared_ptr<RfCard>& card, int frames);
  // Frames the module received, in order.
  std::vector<Bytes> received() const;
  int commandsOf(uint8_t sub) const;
  bool polling() const;

 private:
  void reply(uint8_t status, const Bytes& data);
  void reportLocked(const std::shared_ptr<RfCard>& card, std::vector<Bytes>& out);
  std::shared_ptr<RfCard> selectedCardLocked(int channel);

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<RfCard>> field_;
  std::vector<Bytes> received_;
  std::vector<std::pair<uint8_t, Bytes>> loadedKeys_;  // index -> type + key
  bool polling_ = false;
  bool silent_ = false;
  std::shared_ptr<RfCard> current_;
  std::shared_ptr<RfCard> leaving_;
  int framesBeforeLeaving_ = 0;
};

}  // namespace devices
