// Fingerprint (touch) commands and the pinpad's two pass-through commands.
//
// A fingerprint command is one short request ([code][parameters], numbers big-endian, at
// most 1024 bytes) handed to the transport behind `touchTransmit`, and one ASCII-status
// reply. No fingerprint transport is part of this build: without one installed
// (`setTouchTransport`) every command ends with its failure result and no error, unless a
// check of its arguments fails first. Requests that would not fit, slots outside one byte and
// negative image ranges are refused with -9 before anything is sent.

#include <algorithm>
#include <cctype>
#include <climits>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesInternal.h"
#include "sdk/pinpad/PPad.h"

namespace kestra {

namespace {

constexpr size_t kTouchRequestBytes = 1024;
constexpr size_t kTouchMaxIdentity = 100;
constexpr int kTouchImagePiece = 2044;
// The largest finger image taken; a longer announced length is a broken reply.
constexpr uint32_t kTouchMaxImage = 16u << 20;
constexpr size_t kVivaHeaderBytes = 2;

enum : uint8_t {
  TOUCH_ENROL = 0xA1,
  TOUCH_DELETE = 0xA2,
  TOUCH_CHECK = 0xA3,
  TOUCH_LIST = 0xA4,
  TOUCH_IMAGE_SIZE = 0xA6,
  TOUCH_IMAGE_DATA = 0xA7,
  TOUCH_WIPE = 0xA8,
  TOUCH_LIBRARY = 0xA9,
  TOUCH_TEMPLATE = 0xAA,
  TOUCH_TEMPLATE_SLOT = 0xAB,
  TOUCH_SET_TEMPLATE = 0xAC,
  TOUCH_TEMPLATE_LIST = 0xAD,
};

bool refuse(Error* error, const std::string& text) {
  const Error e = KXUNISDKGlobals::makeError(-9, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

bool touchFailed(Error* error, int code) {
  const Error e = KXUNISDKGlobals::makeError(code, std::string("Touch failed"));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

bool slotFits(int slot, Error* error) {
  if (slot >= 0 && slot <= 0xFF) return true;
  return refuse(error, "Invalid argument: slot");
}

// The leading decimal number of a text ("7" of "7", "12" of "12abc"); 0 for none.
int intValue(const std::string& text) {
  long value = 0;
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    value = std::min<long>(value * 10 + (text[i] - '0'), INT_MAX);
  return int(negative ? -value : value);
}

}  // namespace

std::optional<Bytes> touchParseResponse(const std::optional<Bytes>& reply, Error* error) {
  if (!reply) return std::nullopt;
  const Bytes& r = *reply;
  size_t i = 0;
  while (i < r.size() && !std::isdigit(r[i])) ++i;
  // A reply without any status digit is no success.
  if (i == r.size()) {
    touchFailed(error, -6);
    return std::nullopt;
  }
  long status = 0;
  for (; i < r.size() && std::isdigit(r[i]); ++i) status = std::min<long>(status * 10 + (r[i] - '0'), INT_MAX);
  if (i < r.size()) ++i;  // the separator, when there is one
  if (status != 0) {
    touchFailed(error, int(status));
    return std::nullopt;
  }
  return Bytes(r.begin() + long(i), r.end());
}

std::optional<std::string> touchParseResponseAsString(const std::optional<Bytes>& reply, Error* error) {
  const auto payload = touchParseResponse(reply, error);
  if (!payload) return std::nullopt;
  return std::string(payload->begin(), payload->end());
}

void KXDevices::setTouchTransport(KXTouchTransport transport) {
  std::lock_guard lock(touchMutex_);
  touchTransport_ = std::move(transport);
}

std::optional<Bytes> KXDevices::touchTransmit(const Bytes& request, Error* error) {
  KXTouchTransport transport;
  {
    std::lock_guard lock(touchMutex_);
    transport = touchTransport_;
  }
  if (!transport) return std::nullopt;
  return transport(request, error);
}

// ---- Identities ---------------------------------------------------------------------------------

bool KXDevices::touchEnrolIdentity(const Bytes& identity, int* storedSlot, Error* error) {
  if (identity.size() > kTouchMaxIdentity) return refuse(error, "The parameter 'identity' contains too much data");
  Bytes request{TOUCH_ENROL, uint8_t(identity.size())};
  request.insert(request.end(), identity.begin(), identity.end());
  const auto text = touchParseResponseAsString(touchTransmit(request, error), error);
  if (!text) return false;
  if (storedSlot) *storedSlot = intValue(*text);
  return true;
}

bool KXDevices::touchEnrolIdentityString(const std::string& identity, int* storedSlot, Error* error) {
  return touchEnrolIdentity(foundation::bytesOf(identity), storedSlot, error);
}

bool KXDevices::touchDeleteIdentityInSlot(int slot, Error* error) {
  if (!slotFits(slot, error)) return false;
  return touchParseResponse(touchTransmit(Bytes{TOUCH_DELETE, uint8_t(slot)}, error), error).has_value();
}

std::optional<KXTouchIdentity> KXDevices::touchCheckIdentity(Error* error) {
  const auto payload = touchParseResponse(touchTransmit(Bytes{TOUCH_CHECK}, error), error);
  if (!payload) return std::nullopt;
  return KXTouchIdentity::initWithResponse(*payload);
}

std::optional<std::vector<int>> KXDevices::touchListSlots(Error* error) {
  const auto text = touchParseResponseAsString(touchTransmit(Bytes{TOUCH_LIST}, error), error);
  if (!text) return std::nullopt;
  std::vector<int> slots;
  size_t start = 0;
  while (start <= text->size()) {
    size_t end = text->find(',', start);
    if (end == std::string::npos) end = text->size();
    slots.push_back(intValue(text->substr(start, end - start)));
    start = end + 1;
  }
  return slots;
}

bool KXDevices::touchWipeIdentity(Error* error) {
  return touchParseResponse(touchTransmit(Bytes{TOUCH_WIPE}, error), error).has_value();
}

std::optional<std::string> KXDevices::touchGetLibraryInformation(Error* error) {
  return touchParseResponseAsString(touchTransmit(Bytes{TOUCH_LIBRARY}, error), error);
}

// ---- Finger images -------------------------------------------------------------------------------

int KXDevices::_touchGetIdentityWithImageSize(int imageSize, int imageFormat, int imageCompression, Error* error) {
  const Bytes request{TOUCH_IMAGE_SIZE, uint8_t(imageSize), uint8_t(imageFormat), uint8_t(imageCompression)};
  const auto payload = touchParseResponse(touchTransmit(request, error), error);
  if (!payload || payload->size() < 4) return 0;
  const uint32_t length = foundation::readBE32(payload->data());
  if (length > kTouchMaxImage) return 0;
  return int(length);
}

std::optional<Bytes> KXDevices::touchGetImageData(int offset, int length, Error* error) {
  if (offset < 0 || length < 0) {
    refuse(error, "Invalid argument: offset");
    return std::nullopt;
  }
  Bytes request{TOUCH_IMAGE_DATA};
  foundation::appendBE32(request, uint32_t(offset));
  foundation::appendBE32(request, uint32_t(length));
  return touchParseResponse(touchTransmit(request, error), error);
}

std::optional<KXTouchFormatAnsiIso> KXDevices::touchGetIdentityWithImageSize(int imageSize, int imageFormat,
                                                                             int imageCompression, Error* error) {
  const int length = _touchGetIdentityWithImageSize(imageSize, imageFormat, imageCompression, error);
  if (length <= 0) return std::nullopt;
  Bytes image;
  image.reserve(size_t(length));
  while (int(image.size()) < length) {
    const int want = std::min(kTouchImagePiece, length - int(image.size()));
    const auto piece = touchGetImageData(int(image.size()), want, error);
    // A piece that does not come, or comes short, ends the reading: nothing is made of half
    // an image, and a module that trickles its image cannot keep the caller for ever.
    if (!piece || int(piece->size()) < want) return std::nullopt;
    image.insert(image.end(), piece->begin(), piece->begin() + want);
  }
  return KXTouchFormatAnsiIso::initWithData(image, imageFormat == 1);
}

// ---- Templates -------------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::touchGetTemplateWithFormat(int format, Error* error) {
  return touchParseResponse(touchTransmit(Bytes{TOUCH_TEMPLATE, uint8_t(format)}, error), error);
}

std::optional<Bytes> KXDevices::touchGetTemplateWithFormat(int format, int slot, Error* error) {
  if (!slotFits(slot, error)) return std::nullopt;
  return touchParseResponse(touchTransmit(Bytes{TOUCH_TEMPLATE_SLOT, uint8_t(slot), uint8_t(format)}, error), error);
}

bool KXDevices::touchSetTemplateWithFormat(int format, const Bytes& data, int* resultSlot, Error* error) {
  Bytes request{TOUCH_SET_TEMPLATE, uint8_t(format)};
  foundation::appendBE32(request, uint32_t(data.size()));
  if (request.size() + data.size() > kTouchRequestBytes) return refuse(error, "The parameter 'data' contains too much data");
  request.insert(request.end(), data.begin(), data.end());
  const auto text = touchParseResponseAsString(touchTransmit(request, error), error);
  if (!text) return false;
  if (resultSlot) *resultSlot = intValue(*text);
  return true;
}

std::optional<Bytes> KXDevices::touchGetTemplateWithFormat(int format, const std::vector<KXTouchTemplate>& templates,
                                                           Error* error) {
  Bytes request{TOUCH_TEMPLATE_LIST, uint8_t(format), uint8_t(templates.size())};
  for (const auto& t : templates) {
    if (request.size() + 5 + t.data.size() > kTouchRequestBytes) {
      refuse(error, "The parameter 'templates' contains too much data");
      return std::nullopt;
    }
    request.push_back(uint8_t(t.format));
    foundation::appendBE32(request, uint32_t(t.data.size()));
    request.insert(request.end(), t.data.begin(), t.data.end());
  }
  return touchParseResponse(touchTransmit(request, error), error);
}

// ---- Pass-through to the pinpad ------------------------------------------------------------------------

std::optional<Bytes> KXDevices::secureReaderCommand(const Bytes& data, double timeout, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes response;
  if (!ppadResult(pad->secureReaderCommand(data, &response, timeout), error)) return std::nullopt;
  return response;
}

std::optional<Bytes> KXDevices::vivaWalletCommand(const uint8_t* data, uint64_t length, double timeout, Error* error) {
  if (length > uint64_t(INT_MAX)) {
    refuse(error, "Invalid argument: length");
    return std::nullopt;
  }
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes response;
  if (!ppadResult(pad->vivaWalletCommand(data, int(length), &response, timeout), error)) return std::nullopt;
  // The answer follows two bytes of the pinpad's own; a shorter answer carries none.
  if (response.size() < kVivaHeaderBytes) return Bytes{};
  return Bytes(response.begin() + kVivaHeaderBytes, response.end());
}

}  // namespace kestra
