// The device API's calls for the contactless card families beyond ISO 14443 and Mifare
// (ISO 15693 tags, FeliCa cards and the FeliCa e-paper smart tags, ST SRI memories), the
// frames of the HID (omniKey-type) reader, and the sleeve's UHF tag reader and HID SAM
// module.
//
// Card calls take the card index of the detection event. Their arguments are checked before
// the card is asked (-9 with the texts below); a card index outside the card table is -9
// too. Block numbers travel in one byte, so a range of blocks that would run past block 255
// is refused rather than wrapped round to block 0. The RF layer's failures (a card that left
// the field times out with -6, a tag's refusal is -20) come back with their code and the
// error table's text. Writes that stop part-way return what reached the card together with
// the error.
//
// Threads: the caller's; each call blocks until the card or the device has answered.

#include <algorithm>
#include <cstring>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesRFInternal.h"
#include "sdk/foundation/Dithering.h"
#include "sdk/rf/Felica.h"
#include "sdk/rf/Iso15.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {

namespace {

constexpr int kLastBlock = 255;
constexpr int kStSriBlockSize = 4;
// The smart tag's screen and its stored layouts.
constexpr int kSmartTagMaxX = 200;
constexpr int kSmartTagRows = 96;
constexpr int kSmartTagLayouts = 12;
constexpr int kSmartTagDrawModes = 3;
constexpr int kSmartTagMemorySize = 0x10000;
// The HID reader's frames: "OMNI", a function byte, the payload.
constexpr uint8_t kHidReadPACS = 1;
constexpr uint8_t kHidExecuteAPDU = 2;
constexpr uint8_t kHidUpdateConfig = 3;
constexpr size_t kHidHeader = 5;
constexpr size_t kHidApduFrameSize = 1024;
constexpr size_t kHidConfigFrameSize = 16384;
// UHF region indexes to the reader's region codes.
constexpr uint8_t kUhfRegions[] = {0x11, 0x21, 0x22, 0x31, 0x41, 0x51, 0x52, 0x61};

const char* const kBlockInvalid = "Block number is invalid";
const char* const kLengthInvalid = "Invalid length specified, it can only be mutiple of block size";
const char* const kDataInvalid = "Data block is invalid";

bool invalidArgument(Error* error, const char* name) {
  return rfInvalid(error, std::string("Invalid argument: ") + name);
}

// The blocks `length` bytes from `first` take on card `cardIndex`, after the checks every
// block call makes: the first block below 256, the length a positive multiple of the card's
// block size (`wantedBlockSize` when the family has one), and the last block below 256 as
// well.
struct BlockRange {
  int count = 0;
  int blockSize = 0;
};

std::optional<BlockRange> blockRange(int cardIndex, int first, long length, Error* error, int wantedBlockSize = 0) {
  if (first < 0 || first > kLastBlock) {
    rfInvalid(error, kBlockInvalid);
    return std::nullopt;
  }
  const auto card = rfCard(cardIndex);
  if (!card) {
    rfFail(error, -9);
    return std::nullopt;
  }
  // A card whose block size is not known (0) has no whole blocks.
  if (card->blockSize <= 0 || length <= 0 || length % card->blockSize != 0 ||
      (wantedBlockSize && card->blockSize != wantedBlockSize)) {
    rfInvalid(error, kLengthInvalid);
    return std::nullopt;
  }
  const long count = length / card->blockSize;
  if (first + count - 1 > kLastBlock) {
    rfInvalid(error, kBlockInvalid);
    return std::nullopt;
  }
  return BlockRange{int(count), card->blockSize};
}

std::optional<Bytes> failed(Error* error, int code, const std::string& text = {}) {
  rfFail(error, code, text);
  return std::nullopt;
}

// A write refused or failed before any byte reached the card.
int nothingWritten(Error* error, int code, const std::string& text = {}) {
  rfFail(error, code, text);
  return 0;
}

// One frame to the HID reader through the RF stack; the reader's answer.
std::optional<Bytes> hidFrame(int channel, uint8_t function, const Bytes& payload, const char* failure,
                              Error* error) {
  Bytes frame{'O', 'M', 'N', 'I', function};
  frame.insert(frame.end(), payload.begin(), payload.end());
  RFCmdGuard guard;  // the answer buffer stays this call's until it has been read
  const int r = rfCardTransceive(channel, frame.data(), int(frame.size()));
  if (r < 0) return failed(error, -20, failure);
  return rfCmdAnswer();
}

// The channel that reaches the HID reader's card `cardIndex` (-1 for no card in particular),
// or nothing for an index outside the card table.
std::optional<int> hidChannel(int cardIndex, Error* error) {
  if (cardIndex < 0) return -1;
  const auto card = rfCard(cardIndex);
  if (!card) {
    rfFail(error, -9);
    return std::nullopt;
  }
  return card->channel;
}

}  // namespace

// ---- ISO 15693 ---------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::iso15693Read(int cardIndex, int startBlock, int length, Error* error) {
  const auto range = blockRange(cardIndex, startBlock, length, error);
  if (!range) return std::nullopt;
  int count = range->count;
  Bytes out;
  const int r = kestra::iso15Read(cardIndex, startBlock, &count, &out);
  if (r < 0) return failed(error, r);
  return out;
}

int KXDevices::iso15693Write(int cardIndex, int startBlock, const std::optional<Bytes>& data, Error* error) {
  if (!data || data->empty()) return nothingWritten(error, -9, kDataInvalid);
  const auto range = blockRange(cardIndex, startBlock, long(data->size()), error);
  if (!range) return 0;
  int count = range->count;
  const int r = kestra::iso15Write(cardIndex, startBlock, &count, *data);
  if (r < 0) rfFail(error, r);
  return count * range->blockSize;
}

bool KXDevices::iso15693Write(int cardIndex, int startBlock, const std::optional<Bytes>& data, int* bytesWritten,
                              Error* error) {
  return rfWrittenTwin(bytesWritten, error, [&](Error* e) { return iso15693Write(cardIndex, startBlock, data, e); });
}

std::optional<Bytes> KXDevices::iso15693GetBlocksSecurityStatus(int cardIndex, int startBlock, int nBlocks,
                                                                Error* error) {
  if (startBlock < 0 || startBlock > kLastBlock || (nBlocks > 0 && startBlock + nBlocks - 1 > kLastBlock))
    return failed(error, -9, kBlockInvalid);
  Bytes status;
  const int r = kestra::iso15GetBlocksSecurityStatus(cardIndex, startBlock, nBlocks, &status);
  if (r < 0) return failed(error, r);
  // One status byte per block asked for; a tag that says less has not answered the request.
  if (status.size() < size_t(nBlocks)) return failed(error, -6);
  status.resize(size_t(nBlocks));
  return status;
}

bool KXDevices::iso15693LockBlock(int cardIndex, int block, Error* error) {
  if (block < 0 || block > kLastBlock) return rfInvalid(error, kBlockInvalid);
  return rfResult(kestra::iso15LockBlock(cardIndex, block), error);
}

bool KXDevices::iso15693WriteAFI(int cardIndex, uint8_t afi, Error* error) {
  return rfResult(kestra::iso15WriteAFI(cardIndex, afi), error);
}

bool KXDevices::iso15693LockAFI(int cardIndex, Error* error) { return rfResult(kestra::iso15LockAFI(cardIndex), error); }

bool KXDevices::iso15693WriteDSFID(int cardIndex, uint8_t dsfid, Error* error) {
  return rfResult(kestra::iso15WriteDSFID(cardIndex, dsfid), error);
}

bool KXDevices::iso15693LockDSFID(int cardIndex, Error* error) {
  return rfResult(kestra::iso15LockDSFID(cardIndex), error);
}

// ---- FeliCa ------------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::felicaTransieve(int cardIndex, const Bytes& data, Error* error) {
  // A card index, or a reader channel with bit 7 set; nothing else names a card.
  if (cardIndex < 0 || cardIndex > 0xFF) return failed(error, -9);
  Bytes out;
  const int r = kestra::felicaTransieve(cardIndex, data.data(), int(data.size()), &out);
  if (r < 0) return failed(error, r);
  return out;
}

std::optional<Bytes> KXDevices::felicaSendCommand(int cardIndex, int command, const Bytes& data, Error* error) {
  if (command < 0 || command > 0xFF) return failed(error, -9, "Invalid argument: command");
  Bytes out;
  const int r = felicaRawCommand(cardIndex, uint8_t(command), data.data(), int(data.size()), &out);
  if (r < 0) return failed(error, r);
  return out;
}

std::optional<Bytes> KXDevices::felicaRead(int cardIndex, int serviceCode, int startBlock, int length, Error* error) {
  const auto range = blockRange(cardIndex, startBlock, length, error);
  if (!range) return std::nullopt;
  Bytes out;
  const int r = kestra::felicaRead(cardIndex, uint16_t(serviceCode), startBlock, range->count, &out);
  if (r < 0) return failed(error, r);
  return out;
}

int KXDevices::felicaWrite(int cardIndex, int serviceCode, int startBlock, const std::optional<Bytes>& data,
                           Error* error) {
  if (!data || data->empty()) return nothingWritten(error, -9, kDataInvalid);
  const auto range = blockRange(cardIndex, startBlock, long(data->size()), error);
  if (!range) return 0;
  // One command carries every block: it is written whole or not at all.
  const int r = kestra::felicaWrite(cardIndex, uint16_t(serviceCode), startBlock, range->count, *data);
  if (r < 0) return nothingWritten(error, r);
  return int(data->size());
}

bool KXDevices::felicaWrite(int cardIndex, int serviceCode, int startBlock, const std::optional<Bytes>& data,
                            int* bytesWritten, Error* error) {
  return rfWrittenTwin(bytesWritten, error,
                       [&](Error* e) { return felicaWrite(cardIndex, serviceCode, startBlock, data, e); });
}

// ---- FeliCa smart tags ---------------------------------------------------------------------------

bool KXDevices::felicaSmartTagGetBatteryStatus(int cardIndex, int* status, Error* error) {
  if (!status) return invalidArgument(error, "status");
  return rfResult(kestra::felicaSmartTagGetBatteryStatus(cardIndex, status), error);
}

bool KXDevices::felicaSmartTagClearScreen(int cardIndex, Error* error) {
  return rfResult(kestra::felicaSmartTagClearScreen(cardIndex), error);
}

bool KXDevices::felicaSmartTagWaitCompletion(int cardIndex, Error* error) {
  return rfResult(kestra::felicaSmartTagWaitCompletion(cardIndex), error);
}

bool KXDevices::felicaSmartTagSaveLayout(int cardIndex, int layout, Error* error) {
  if (layout < 1 || layout > kSmartTagLayouts) return invalidArgument(error, "layout");
  return rfResult(kestra::felicaSmartTagSaveLayout(cardIndex, layout), error);
}

bool KXDevices::felicaSmartTagDisplayLayout(int cardIndex, int layout, Error* error) {
  if (layout < 1 || layout > kSmartTagLayouts) return invalidArgument(error, "layout");
  return rfResult(kestra::felicaSmartTagDisplayLayout(cardIndex, layout), error);
}

int KXDevices::felicaSmartTagWrite(int cardIndex, int address, const std::optional<Bytes>& data, Error* error) {
  if (!data || data->empty()) return nothingWritten(error, -9, "Invalid argument: data");
  // Addresses travel in two bytes: the whole write must lie inside the tag's memory.
  if (address < 0 || long(address) + long(data->size()) > kSmartTagMemorySize)
    return nothingWritten(error, -9, "Invalid argument: address");
  const int r = kestra::felicaSmartTagWrite(cardIndex, address, *data);
  if (r < 0) return nothingWritten(error, r);
  return int(data->size());
}

bool KXDevices::felicaSmartTagWrite(int cardIndex, int address, const std::optional<Bytes>& data, int* bytesWritten,
                                    Error* error) {
  return rfWrittenTwin(bytesWritten, error, [&](Error* e) { return felicaSmartTagWrite(cardIndex, address, data, e); });
}

std::optional<Bytes> KXDevices::felicaSmartTagRead(int cardIndex, int address, int length, Error* error) {
  if (length < 1) return failed(error, -9, "Invalid argument: length");
  if (address < 0 || long(address) + long(length) > kSmartTagMemorySize)
    return failed(error, -9, "Invalid argument: address");
  Bytes out;
  const int r = kestra::felicaSmartTagRead(cardIndex, address, length, &out);
  if (r < 0) return failed(error, r);
  return out;
}

bool KXDevices::felicaSmartTagDrawImage(int cardIndex, const KXImage& image, int topLeftX, int topLeftY, int drawMode,
                                        int layout, Error* error) {
  if (!image.valid()) return invalidArgument(error, "image");
  if (topLeftX < 0 || topLeftX > kSmartTagMaxX) return invalidArgument(error, "topLeftX");
  if (topLeftY < 0 || topLeftY > kSmartTagRows) return invalidArgument(error, "topLeftY");
  if (drawMode < 0 || drawMode > kSmartTagDrawModes) return invalidArgument(error, "drawMode");
  if (layout < 0 || layout > kSmartTagLayouts) return invalidArgument(error, "layout");
  // Rows below the screen's last are left off.
  const int rows = std::min(image.height, kSmartTagRows - topLeftY);
  int rowBytes = 0;
  const auto dots = getDitheredData(image, 0, kSmartTagMaxX, &rowBytes);
  if (!dots || rowBytes <= 0) return false;
  const size_t rowDots = size_t(rowBytes) * 8;
  // One bit per dot, most significant first, rows back to back.
  Bytes packed(size_t(rowBytes) * size_t(rows) + 256, 0);
  for (size_t y = 0; y < size_t(rows); ++y)
    for (size_t x = 0; x < rowDots; ++x)
      if ((*dots)[y * rowDots + x]) packed[y * size_t(rowBytes) + x / 8] |= uint8_t(0x80 >> (x % 8));
  return rfResult(
      kestra::felicaSmartTagDrawImage(cardIndex, topLeftX, topLeftY, int(rowDots), rows, drawMode, layout, packed),
      error);
}

// ---- ST SRI --------------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::stSRIRead(int cardIndex, int address, int length, Error* error) {
  const auto range = blockRange(cardIndex, address, length, error, kStSriBlockSize);
  if (!range) return std::nullopt;
  Bytes out;
  for (int i = 0; i < range->count; ++i) {
    uint8_t block[kStSriBlockSize];
    const int r = stSRIReadBlock(cardIndex, address + i, block);
    if (r < 0) return failed(error, r);
    out.insert(out.end(), block, block + kStSriBlockSize);
  }
  return out;
}

int KXDevices::stSRIWrite(int cardIndex, int address, const std::optional<Bytes>& data, Error* error) {
  if (!data || data->empty()) return nothingWritten(error, -9, kDataInvalid);
  const auto range = blockRange(cardIndex, address, long(data->size()), error, kStSriBlockSize);
  if (!range) return 0;
  int written = 0;
  for (int i = 0; i < range->count; ++i) {
    const int r = stSRIWriteBlock(cardIndex, address + i, data->data() + size_t(i) * kStSriBlockSize);
    if (r < 0) {
      rfFail(error, r);
      break;
    }
    written += kStSriBlockSize;
  }
  return written;
}

bool KXDevices::stSRIWrite(int cardIndex, int address, const std::optional<Bytes>& data, int* bytesWritten,
                           Error* error) {
  return rfWrittenTwin(bytesWritten, error, [&](Error* e) { return stSRIWrite(cardIndex, address, data, e); });
}

// ---- The HID reader's frames ---------------------------------------------------------------------

std::optional<Bytes> KXDevices::hidExecuteAPDU(int cardIndex, const Bytes& apdu, Error* error) {
  if (kHidHeader + apdu.size() > kHidApduFrameSize) return failed(error, -9, "Invalid argument: apdu");
  const auto channel = hidChannel(cardIndex, error);
  if (!channel) return std::nullopt;
  return hidFrame(*channel, kHidExecuteAPDU, apdu, "APDU failed", error);
}

bool KXDevices::hidUpdateConfig(const Bytes& config, Error* error) {
  if (kHidHeader + config.size() > kHidConfigFrameSize) return invalidArgument(error, "config");
  return hidFrame(0, kHidUpdateConfig, config, "Update config failed", error).has_value();
}

std::optional<std::string> KXDevices::hidReadPACSKeyboardWedge(int cardIndex, Error* error) {
  const auto channel = hidChannel(cardIndex, error);
  if (!channel) return std::nullopt;
  const auto answer = hidFrame(*channel, kHidReadPACS, {}, "Getting PACS failed", error);
  if (!answer) return std::nullopt;
  return std::string(answer->begin(), answer->end());
}

// ---- The sleeve's UHF tag reader and HID SAM module ----------------------------------------------

std::optional<Bytes> KXDevices::uhfCommand(const uint8_t* data, int length, Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.uhfCommand(data, length, error); });
}

bool KXDevices::uhfInit(int region, Error* error) {
  const int code = region >= 0 && region < int(std::size(kUhfRegions)) ? kUhfRegions[region] : 0;
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.uhfInit(code, error); });
}

bool KXDevices::uhfClose(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.uhfClose(error); });
}

bool KXDevices::uhfStartAutoReadForTagType(int tagType, int maxNumberOfTags, int maxTimeForTagging,
                                           int repeatCycleCount, Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) {
    return sleeve.uhfStartAutoReadForTagType(tagType, maxNumberOfTags, maxTimeForTagging, repeatCycleCount, error);
  });
}

bool KXDevices::uhfStopAutoRead(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.uhfStopAutoRead(error); });
}

std::optional<Bytes> KXDevices::hidGetVersionInfo(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.hidGetVersionInfo(error); });
}

std::optional<Bytes> KXDevices::hidGetSerialNumber(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.hidGetSerialNumber(error); });
}

std::optional<Bytes> KXDevices::hidGetContentElement(int cardIndex, const std::optional<Bytes>& pin,
                                                     const std::optional<Bytes>& rootSoOID, Error* error) {
  return sleeveOnly(error,
                    [&](KXSleeveDriver& sleeve) { return sleeve.hidGetContentElement(cardIndex, pin, rootSoOID, error); });
}

std::optional<Bytes> KXDevices::hidProcessKeyRollerCard(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.hidProcessKeyRollerCard(error); });
}

std::optional<Bytes> KXDevices::hidProcessConfigCard(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.hidProcessConfigCard(error); });
}

}  // namespace kestra
