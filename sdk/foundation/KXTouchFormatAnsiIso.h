#pragma once
// Field readers over a finger image record in the ANSI INCITS 381 layout, or the ISO/IEC
// 19794-4 layout when `iso` is set (the ISO header is 4 bytes shorter: fields after byte 17
// sit 4 bytes earlier, and there is no product identifier).
//
// Numbers are big-endian; texts are ASCII up to their terminating zero, with surrounding
// white space removed ("FIR" for the bytes 46 49 52 00).
//
// Readers never read outside the record: a field that lies beyond its end reads as empty
// bytes, an empty text or 0.

#include <cstdint>
#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra {

class KXTouchFormatAnsiIso {
 public:
  KXTouchFormatAnsiIso(const foundation::Bytes& data, bool iso) : data_(data), iso_(iso) {}
  static KXTouchFormatAnsiIso initWithData(const foundation::Bytes& data, bool iso) {
    return KXTouchFormatAnsiIso(data, iso);
  }

  const foundation::Bytes& getData() const { return data_; }
  bool isISO() const { return iso_; }

  foundation::Bytes getFormatIdentifier() const;
  std::string getFormatIdentifierAsString() const;
  foundation::Bytes getVersionNumber() const;
  std::string getVersionNumberAsString() const;
  uint64_t getRecordLength() const;
  foundation::Bytes getProductIdentifier() const;
  std::string getProductIdentifierAsHexString() const;
  foundation::Bytes getCaptureDeviceID() const;
  std::string getCaptureDeviceIDAsHexString() const;
  int getImageAsquisionLevel() const;
  int getNumberOfFingers() const;
  int getScaleUnits() const;
  int getScanResolutionHorz() const;
  int getScanResolutionVert() const;
  int getImageResolutionHorz() const;
  int getImageResolutionVert() const;
  int getPixelDepth() const;
  int getImageCompressionAlgorithm() const;
  uint64_t getFingerDataBlockLengt() const;
  int getFingerPosition() const;
  int getCountOfViews() const;
  int getViewNumber() const;
  int getFingerImageQuality() const;
  int getImpressionType() const;
  int getHorizontalLineLength() const;
  int getVerticalLineLength() const;
  foundation::Bytes getHeader() const;
  std::string getHeaderAsHexString() const;
  foundation::Bytes getImageData() const;

 private:
  // `ansiPosition` is the field's place in the ANSI layout.
  size_t position(size_t ansiPosition) const { return iso_ && ansiPosition > 17 ? ansiPosition - 4 : ansiPosition; }
  foundation::Bytes bytesAt(size_t ansiPosition, size_t length) const;
  uint64_t numberAt(size_t ansiPosition, size_t length) const;
  std::string textAt(size_t ansiPosition, size_t length) const;

  foundation::Bytes data_;
  bool iso_ = false;
};

}  // namespace kestra
