#pragma once
// A simulated omniKey contactless reader: a USB CCID device that answers each
// PC_to_RDR_XfrBlock (0x6F) with an RDR_to_PC_DataBlock (0x80) carrying the same slot and
// sequence number, and announces cards with RDR_to_PC_NotifySlotChange (0x50) messages
// (USB CCID 1.1). The APDUs it understands are the PC/SC ones for
// storage cards (READ BINARY FF B0, UPDATE BINARY FF D6, LOAD KEYS FF 82, GENERAL
// AUTHENTICATE FF 86) and the reader's escape APDUs (FF 68 ...), which it records; any
// other APDU goes to the card in the slot (ISO 14443-4 cards answer their APDUs).
//
// Cards are `RfCard` models in slots 0..7. Knobs: `nextAnswer` replaces the next answer
// (short, wrong type, truncated), `silent` makes the reader answer nothing.
//
// Threads: any; one lock guards the state. Notifications go to `onNotify`, called without
// the lock, on the thread that inserts or removes a card.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "testing/devices/rf/RfCardModels.h"

namespace devices {

class SimulatedOmniKey {
 public:
  static constexpr int kSlots = 8;
  std::function<void(const Bytes&)> onNotify;

  // One CCID message from the host; the reader's answer (nothing when silent).
  std::optional<Bytes> transfer(const Bytes& message);
  void insert(int slot, const std::shared_ptr<RfCard>& card);
  void remove(int slot);
  // Sends a slot-change notification as it is given (any bitmap, any length).
  void notify(const Bytes& message);

  void setNextAnswer(Bytes answer);
  void setSilent(bool silent);
  // The APDUs received, in order, with their slot and sequence number.
  struct Received {
    int slot;
    int sequence;
    Bytes apdu;
  };
  std::vector<Received> received() const;
  std::vector<Bytes> escapes() const;  // FF 68 APDUs
  Bytes readerCommand() const;          // what the reader-command escapes carried

 private:
  Bytes answerApdu(int slot, const Bytes& apdu);

  mutable std::mutex mutex_;
  std::shared_ptr<RfCard> slots_[kSlots];
  std::vector<Received> received_;
  std::vector<Bytes> escapes_;
  Bytes readerCommand_;
  Bytes keys_[32];
  std::optional<Bytes> nextAnswer_;
  bool silent_ = false;
};

}  // namespace devices
