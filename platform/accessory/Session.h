#pragma once
// A session opens one channel of an accessory - the byte stream of one protocol string -
// and hands out its input and output streams, which the caller schedules on a run loop
// and opens.
//
// Socket accessories: each session is its own connection to the accessory's socket. The
// host sends the protocol string followed by "\n"; the accessory answers the single byte
// `kSessionAcceptByte` to accept (the streams then report `OpenCompleted`) or closes the
// connection to refuse (the streams report `ErrorOccurred`). Bytes after the acceptance
// byte are channel data.
//
// Serial accessories: the session opens the protocol string's device in raw mode (8N1, no
// flow control, the configured speed); its streams open at once.
//
// `open` never blocks for long: it fails at once (nullptr) when the accessory is no longer
// connected, does not list the protocol string, or its endpoint cannot be reached.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/accessory/Accessory.h"
#include "platform/accessory/Stream.h"
#include "platform/foundation/Error.h"

namespace accessory {

inline constexpr uint8_t kSessionAcceptByte = 0x06;
inline constexpr char kSessionRequestTerminator = '\n';
inline constexpr const char* kAccessoryErrorDomain = "EAErrorDomain";

class Session {
 public:
  static std::shared_ptr<Session> open(const std::shared_ptr<Accessory>& accessory,
                                       const std::string& protocolString,
                                       foundation::Error* error = nullptr);

  const std::shared_ptr<Accessory>& accessory() const { return accessory_; }
  const std::string& protocolString() const { return protocolString_; }
  const std::shared_ptr<InputStream>& inputStream() const { return input_; }
  const std::shared_ptr<OutputStream>& outputStream() const { return output_; }

 private:
  Session(std::shared_ptr<Accessory> accessory, std::string protocolString,
          std::shared_ptr<InputStream> input, std::shared_ptr<OutputStream> output);

  std::shared_ptr<Accessory> accessory_;
  std::string protocolString_;
  std::shared_ptr<InputStream> input_;
  std::shared_ptr<OutputStream> output_;
};

}  // namespace accessory
