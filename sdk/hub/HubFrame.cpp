#include "sdk/hub/HubFrame.h"

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra::hub {

std::optional<Bytes> encodeCommand(int command, int slave, const uint8_t* data, size_t length) {
  if (length > size_t(kMaxData)) return std::nullopt;
  Bytes frame;
  frame.reserve(kHeaderSize + length);
  frame.push_back(kMarker);
  frame.push_back(uint8_t(command));
  frame.push_back(0x00);
  frame.push_back(uint8_t(length >> 8));
  frame.push_back(uint8_t(length));
  frame.push_back(uint8_t(slave));
  if (length) frame.insert(frame.end(), data, data + length);
  return frame;
}

int splitFrames(const uint8_t* buffer, int length, const std::function<void(const Frame&)>& onFrame) {
  int pos = 0;
  while (length - pos >= kHeaderSize) {
    const uint8_t* p = buffer + pos;
    const int n = (p[3] << 8) | p[4];
    if (n > kMaxData) {
      // No hub frame is this long: drop up to the next marker and try again.
      int next = pos + 1;
      while (next < length && buffer[next] != kMarker) ++next;
      pos = next;
      continue;
    }
    if (length - pos < n + kHeaderSize) break;
    Frame f;
    f.command = p[1];
    f.code = p[2];
    f.slave = p[5];
    f.data = p + kHeaderSize;
    f.length = n;
    f.raw = p;
    f.rawLength = n + kHeaderSize;
    onFrame(f);
    pos += n + kHeaderSize;
  }
  return pos;
}

Error statusError(int status, int command) {
  switch (status) {
    case 2: return KXUNISDKGlobals::makeError(-9, "Invalid data length: command=%02x", command);
    case 3: return KXUNISDKGlobals::makeError(-6, "Invalid value: command=%02x", command);
    case 4: return KXUNISDKGlobals::makeError(-17, "Invalid command: command=%02x", command);
    case 5: return KXUNISDKGlobals::makeError(-16, "Timeout: command=%02x", command);
    case 13: return KXUNISDKGlobals::makeError(-20, "COM error: command=%02x", command);
    default: return KXUNISDKGlobals::makeError(-1, "Unknown error %d: command=%02x", status, command);
  }
}

}  // namespace kestra::hub
