#pragma once
// A contactless card as the device API reports it: a copy of one entry of the RF layer's
// card table (see RFWrapper.h), made when the card is detected. Plain data.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra {

struct KXRFCardInfo {
  int readerType = 0;
  int type = 0;
  std::string typeStr;
  foundation::Bytes UID;
  int ATQA = 0;
  int SAK = 0;
  int AFI = 0;
  int DSFID = 0;
  int blockSize = 0;
  int nBlocks = 0;
  foundation::Bytes felicaPMm;
  std::optional<foundation::Bytes> felicaRequestData;
  int cardIndex = 0;
  int dfHardwareVersion = 0;
};

}  // namespace kestra
