#pragma once
// A scripted EMV kernel of the kind that runs in a sleeve or a pinpad, for the simulated
// devices: it answers kernel packets ([sub-command][00][data]) and raises the kernel's
// event packets ([event][00][TLV]) that its device sends unasked.
//
// Script of a transaction: a start (03) waits for a card on one of the interfaces it names.
// `presentCard` (a card by interface: 1 contact, 2 contactless, 4 magnetic stripe) raises
// the card event (85, event 1), the user-interface event "transaction started" (82, status
// 3) and the online-authorisation request (81) with the card's tags and the amount; the
// test answers it through the host (04): authorisation response code "00" approves,
// anything else declines, and the kernel finishes (83) with C1 = kApproved or kDeclined.
// `timeOut` finishes with C1 = kTimedOut; `removeCard` raises the card event (event 2) and,
// during a transaction, finishes with C1 = kCardRemoved. A cancel (05) ends the transaction
// without an event (the host has ended it already).
//
// Configuration: a download (51 [slot] [length], 52 chunks, 53) or the one-command load (01)
// is kept per slot with its version (E4 { C1 }, 0 when it has none) and the CRC-32 of its
// bytes, computed here bit by bit (independent of the SDK's table). The information query
// (02) answers C1-C6 from the versions of slots 1, 0, 3, 2, the kernel version and slot 4.
// A download whose length does not match what was announced is refused at 53.
//
// Card data: 06 answers [format << 3 | 3] and, for format 0, the plain tracks (F1 track 1,
// F2 track 2); other formats get the tracks scrambled (each byte XOR 0x5A), never plain.
// 08 answers the requested one-byte tags from the card's tags and its masked tracks (D3, D4).
//
// Threads: not thread-safe; its device calls it under its own lock.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

class SimulatedEmv2Kernel {
 public:
  static constexpr uint16_t kApproved = 0x0100;
  static constexpr uint16_t kDeclined = 0x0200;
  static constexpr uint16_t kTimedOut = 0x1000;
  static constexpr uint16_t kCardRemoved = 0x0B00;
  static constexpr uint32_t kKernelVersion = 0x00010203;

  struct Card {
    int interface = 2;
    Bytes tags;  // TLV the card gives (5A, 5F24, ...)
    std::string track1, track2;
    std::string track1Masked, track2Masked;
    // The candidate list of a card with several applications, sent with the application
    // selection event (0x86); the transaction waits for the host's choice (0A with an
    // index). Empty: one application, nothing to choose.
    Bytes applications;
  };
  struct Slot {
    Bytes blob;
    uint32_t version = 0;
    uint32_t crc = 0;
  };

  // One kernel packet: the reply ([sub][00][data]), or nothing for a refused one. Events the
  // packet raises are appended to `events`; the device sends them after the reply.
  std::optional<Bytes> handle(const Bytes& packet, std::vector<Bytes>& events);

  // The script; each returns the events the device sends.
  std::vector<Bytes> presentCard(Card card);
  std::vector<Bytes> removeCard();
  std::vector<Bytes> timeOut();

  bool initialised() const { return initialised_; }
  bool running() const { return state_ != State::Idle; }
  const std::vector<Bytes>& packets() const { return packets_; }
  const std::map<int, Slot>& slots() const { return slots_; }
  // The start command's interface mask and time-out byte (newer kernels), and its TLV.
  int startInterface() const { return startInterface_; }
  int startTimeout() const { return startTimeout_; }
  const Bytes& startTags() const { return startTags_; }
  // The application the host chose for the card (0A), or -1.
  int selectedApplication() const { return selectedApplication_; }

  // Feature 10 of the device: 4 a newer kernel (interface and time-out in the start), 2 older.
  bool newer = true;

  static uint32_t crc32(const Bytes& data);

 private:
  enum class State { Idle, WaitingForCard, Selecting, Online };
  std::vector<Bytes> begin();
  std::vector<Bytes> goOnline();
  Bytes finished(uint16_t status);

  State state_ = State::Idle;
  bool initialised_ = false;
  std::optional<Card> card_;
  std::vector<Bytes> packets_;
  std::map<int, Slot> slots_;
  int downloadSlot_ = -1;
  uint32_t downloadLength_ = 0;
  Bytes download_;
  int startInterface_ = 0;
  int startTimeout_ = 0;
  Bytes startTags_;
  int selectedApplication_ = -1;
};

}  // namespace devices
