#include "sdk/foundation/KXTouchFormatAnsiIso.h"

#include <algorithm>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

foundation::Bytes KXTouchFormatAnsiIso::bytesAt(size_t ansiPosition, size_t length) const {
  const size_t p = position(ansiPosition);
  if (p >= data_.size() || length > data_.size() - p) return {};
  return foundation::Bytes(data_.begin() + std::ptrdiff_t(p), data_.begin() + std::ptrdiff_t(p + length));
}

uint64_t KXTouchFormatAnsiIso::numberAt(size_t ansiPosition, size_t length) const {
  uint64_t v = 0;
  for (uint8_t b : bytesAt(ansiPosition, length)) v = v << 8 | b;
  return v;
}

std::string KXTouchFormatAnsiIso::textAt(size_t ansiPosition, size_t length) const {
  const foundation::Bytes b = bytesAt(ansiPosition, length);
  // Text fields are zero-terminated when shorter than their field ("FIR" then 0x00).
  std::string s(b.begin(), std::find(b.begin(), b.end(), uint8_t(0)));
  const char* ws = " \t\r\n\f\v";
  const size_t first = s.find_first_not_of(ws);
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(ws) - first + 1);
}

static std::string hexOf(const foundation::Bytes& b) {
  return KXUNISDKGlobals::toHexString(b.data(), b.size(), false);
}

foundation::Bytes KXTouchFormatAnsiIso::getFormatIdentifier() const { return bytesAt(0, 4); }
std::string KXTouchFormatAnsiIso::getFormatIdentifierAsString() const { return textAt(0, 4); }
foundation::Bytes KXTouchFormatAnsiIso::getVersionNumber() const { return bytesAt(4, 4); }
std::string KXTouchFormatAnsiIso::getVersionNumberAsString() const { return textAt(4, 4); }
uint64_t KXTouchFormatAnsiIso::getRecordLength() const { return numberAt(8, 6); }
foundation::Bytes KXTouchFormatAnsiIso::getProductIdentifier() const {
  return iso_ ? foundation::Bytes(4, 0) : bytesAt(14, 4);
}
std::string KXTouchFormatAnsiIso::getProductIdentifierAsHexString() const {
  return hexOf(getProductIdentifier());
}
foundation::Bytes KXTouchFormatAnsiIso::getCaptureDeviceID() const { return bytesAt(18, 2); }
std::string KXTouchFormatAnsiIso::getCaptureDeviceIDAsHexString() const {
  return hexOf(getCaptureDeviceID());
}
int KXTouchFormatAnsiIso::getImageAsquisionLevel() const { return int(numberAt(20, 2)); }
int KXTouchFormatAnsiIso::getNumberOfFingers() const { return int(numberAt(22, 1)); }
int KXTouchFormatAnsiIso::getScaleUnits() const { return int(numberAt(23, 1)); }
int KXTouchFormatAnsiIso::getScanResolutionHorz() const { return int(numberAt(24, 2)); }
int KXTouchFormatAnsiIso::getScanResolutionVert() const { return int(numberAt(26, 2)); }
int KXTouchFormatAnsiIso::getImageResolutionHorz() const { return int(numberAt(28, 2)); }
int KXTouchFormatAnsiIso::getImageResolutionVert() const { return int(numberAt(30, 2)); }
int KXTouchFormatAnsiIso::getPixelDepth() const { return int(numberAt(32, 1)); }
int KXTouchFormatAnsiIso::getImageCompressionAlgorithm() const { return int(numberAt(33, 1)); }
uint64_t KXTouchFormatAnsiIso::getFingerDataBlockLengt() const { return numberAt(36, 4); }
int KXTouchFormatAnsiIso::getFingerPosition() const { return int(numberAt(40, 1)); }
int KXTouchFormatAnsiIso::getCountOfViews() const { return int(numberAt(41, 1)); }
int KXTouchFormatAnsiIso::getViewNumber() const { return int(numberAt(42, 1)); }
int KXTouchFormatAnsiIso::getFingerImageQuality() const { return int(numberAt(43, 1)); }
int KXTouchFormatAnsiIso::getImpressionType() const { return int(numberAt(44, 1)); }
int KXTouchFormatAnsiIso::getHorizontalLineLength() const { return int(numberAt(45, 2)); }
int KXTouchFormatAnsiIso::getVerticalLineLength() const { return int(numberAt(47, 2)); }

foundation::Bytes KXTouchFormatAnsiIso::getHeader() const {
  const size_t n = iso_ ? 46 : 50;
  return foundation::Bytes(data_.begin(), data_.begin() + std::ptrdiff_t(std::min(n, data_.size())));
}
std::string KXTouchFormatAnsiIso::getHeaderAsHexString() const { return hexOf(getHeader()); }

foundation::Bytes KXTouchFormatAnsiIso::getImageData() const {
  const uint64_t block = getFingerDataBlockLengt();
  if (block < 14) return {};
  const size_t p = position(50);
  if (p >= data_.size()) return {};
  const uint64_t n = std::min<uint64_t>(block - 14, data_.size() - p);
  return foundation::Bytes(data_.begin() + std::ptrdiff_t(p), data_.begin() + std::ptrdiff_t(p + n));
}

}  // namespace kestra
