#pragma once
// The rc663 reader module (reader type 2): an RF module with its own firmware that polls for
// cards by itself, reports each card it finds as an event, and runs exchanges with a card on
// request. This is the host side: the module's frame, its commands with one outstanding at
// a time, the card-detected event with its duplicate rule, and the resume logic that keeps
// one card lying on the reader from being reported again and again.
//
// Frames, both directions, big-endian lengths:
//   host -> module: [module: 0 reader, else card channel][sub-command][length 2][data]
//   module -> host: [flags: bit 7 = card event][status, or the card's channel][length 2][data]
//
// Threads: commands run on the caller's thread and wait (on the `Clock`) for the reply that
// `rc663DataAvailable` collects on the reader-input thread; the receive buffer is guarded by
// a lock, and input that cannot fit it is dropped and the reader resynchronises on the next
// frame. A reply that arrives while no command waits (its command gave up) is dropped; card
// events behind it are still read. Card events are taken in arrival order and initialised and
// reported one at a time by a global-queue worker, so the input thread never waits
// for the replies that a card's initialisation asks for. Results: 0 or a positive count on
// success, a negative SDK error code on failure.

#include <cstdint>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {

inline constexpr int kRc663CommandWaitMs = 1000;
inline constexpr int kRc663PaymentTracksWaitMs = 3000;
inline constexpr int kRc663RxBufSize = 262;
// A card lying on the reader is not reported again until it has been away this long.
inline constexpr int kRc663RemoveTimeMs = 501;

// Sub-commands.
enum Rc663Command : uint8_t {
  kRc663Done = 1,
  kRc663Transceive = 2,
  kRc663ResumeLoop = 3,
  kRc663DetectCard = 5,
  kRc663ResumeDetection = 6,
  kRc663FieldOff = 7,
  kRc663FieldOn = 8,
  kRc663Transmit = 9,
  kRc663FelicaPolling = 11,
  kRc663SetCustomSettings = 12,
  kRc663GetDefaultSettings = 14,
  kRc663ReadPaymentTracks = 15,
  kRc663Init = 16,
  kRc663GetIdent = 17,
};

int rc663Init(int supportedCards, int sleepTimeout, int fieldGain);
int rc663GetIdent(uint16_t* device, uint16_t* version);
int rc663Transceive(int channel, const uint8_t* data, int length, int timeoutMs);
int rc663Transmit(int channel, const uint8_t* data, int length);
int rc663DetectCard(int channel, const uint8_t* data, int length, foundation::Bytes* out, int timeoutMs, bool noInit);
int rc663ResumeDetection();
int rc663ResumeLoop(int cardIndex);
int _rc663ResumeLoop(int cards, int timeoutMs);
int rc663FieldControl(int channel, bool enabled);
int rc663SetCustomSettings(int channel, const uint8_t* settings, int length);
int rc663GetDefaultSettings(int channel, foundation::Bytes* out);
int rc663FelicaSetPollingParams(int requestCode, int systemCode, int timeSlot, int detectionTimeMs,
                                int intervalTimeMs);
int rc663ReadPaymentCardTracks(int cardIndex, const uint8_t* tagList, int length, foundation::Bytes* out);
int rc663Done();
void rc663DataAvailable(const uint8_t* data, int length);

// Fills entry `cardIndex` from a detection record of `channel` and runs the card's protocol
// set-up; false when the record is not a card.
bool rc663ParseCard(int cardIndex, int channel, const uint8_t* record, int length);

}  // namespace kestra
