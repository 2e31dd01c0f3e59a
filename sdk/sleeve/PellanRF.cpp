// The sleeve as the host of a contactless reader: which sleeve command carries each reader
// type's frames, the reader's power-up and close, and the hand-over of its answers.

#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {

constexpr int kReaderPn544 = 1;
constexpr int kReaderRc663 = 2;
constexpr int kReaderOmniKey = 4;
constexpr int kCmdPn544 = 32;
constexpr int kCmdReaderNew = 57;
constexpr int kCmdReaderNewest = 34;
// A pn544 frame travels behind one prefix byte in a buffer of 512.
constexpr int kPn544MaxFrame = 511;

}  // namespace

int Pellan::rfCloseCommand() const { return d_->fwVerFull.load() >= 56870 ? kCmdReaderNewest : kCmdReaderNew; }

bool Pellan::rfReaderInit(int readerType, Error* error) {
  if (readerType == kReaderPn544) {
    const uint8_t data[] = {0x00, 0x01};
    return sendCommand(0, kCmdPn544, data, sizeof data, error).has_value();
  }
  if (readerType == kReaderOmniKey) {
    const uint8_t data[] = {0x01};
    return sendCommand(0, rfCloseCommand(), data, sizeof data, error).has_value();
  }
  return true;
}

bool Pellan::rfReaderClose(int readerType, Error* error) {
  if (readerType == kReaderPn544) {
    const uint8_t data[] = {0x00, 0x00};
    if (!sendCommand(0, kCmdPn544, data, sizeof data, error)) return false;
  }
  const uint8_t off[] = {0x00};
  sendCommand(0, rfCloseCommand(), off, sizeof off, nullptr);
  return true;
}

std::optional<Bytes> Pellan::rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) {
  if (length < 0 || (length > 0 && !data)) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-9, std::string("Invalid paremeter")));
    return std::nullopt;
  }
  std::optional<Bytes> answer;
  switch (readerType) {
    case kReaderPn544: {
      // A frame that does not fit behind the prefix is refused rather than cut.
      if (length > kPn544MaxFrame) {
        foundation::fail(error, KXUNISDKGlobals::makeError(-9, std::string("Invalid paremeter")));
        return std::nullopt;
      }
      Bytes framed{0x02};
      framed.insert(framed.end(), data, data + length);
      answer = sendCommand(0, kCmdPn544, framed.data(), framed.size(), error);
      break;
    }
    case kReaderRc663:
      answer = sendCommand(0, d_->fwVer.load() < 5017 ? kCmdPn544 : kCmdReaderNew, data, uint64_t(length), error);
      break;
    case kReaderOmniKey: answer = sendCommand(0, rfCloseCommand(), data, uint64_t(length), error); break;
    default: answer = sendCommand(0, 0, data, uint64_t(length), error); break;
  }
  if (!answer) return std::nullopt;
  // The omniKey answers each request in the reply itself; its driver reads it from here.
  if (readerType == kReaderOmniKey) return answer;
  if (answer->size() >= 3) {
    KXUNISDKGlobals::LOG("PN:RF write data received: %d", int(answer->size()));
    if (auto sink = moduleSink()) d_->deliverRfData(std::move(sink), *answer);
  }
  return Bytes{};
}

}  // namespace kestra
