#pragma once
// A stream pair over one file descriptor: a connected socket (Unix-domain or TCP), a pipe
// end or a serial port in raw mode. The pair shares the descriptor and closes it when both
// sides are closed (or both stream objects are gone).
//
// Opening: a plain pair opens at once (the `OpenCompleted` event is delivered on the loop
// each side is scheduled on). A pair made with an acknowledgement byte stays in the
// `Opening` state until the far end sends that byte (the accessory session handshake, see
// Session.h); the byte is consumed and never reaches the reader. If the far end closes
// instead, both sides go to `Error` and report `ErrorOccurred`.
//
// The input side watches the descriptor on the run loop it is scheduled on; the output side
// is never watched (writes are synchronous and polled by their callers), so a full output
// produces no events.

#include <memory>
#include <optional>
#include <utility>

#include "platform/accessory/Stream.h"

namespace accessory {

class FdLink;

struct FdStreamPair {
  std::shared_ptr<InputStream> input;
  std::shared_ptr<OutputStream> output;
};

// Takes ownership of `fd` (made non-blocking). With `ackByte`, the pair opens only when
// that byte arrives first on the descriptor.
FdStreamPair makeFdStreamPair(int fd, std::optional<uint8_t> ackByte = std::nullopt);

// Two connected pairs over a socketpair(2): what `first` writes `second` reads and back.
// Handy for tests and in-process links.
std::pair<FdStreamPair, FdStreamPair> makeSocketStreamPairs();

}  // namespace accessory
