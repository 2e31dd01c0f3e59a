// The pinpad's Mifare Classic reader (group 0x39). Every result is the pinpad's status when
// it is not 0, else the card status in reply byte 0 (0 = success).
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {
constexpr size_t kKeySize = 6;
constexpr size_t kBlockSize = 16;

bool validKeyType(char type) { return type == 'A' || type == 'B'; }
uint8_t authCode(char type) { return type == 'A' ? 0x60 : 0x61; }
}  // namespace

// One command; on pinpad status 0 the card status (reply byte 0, 9 for an empty reply).
int PPad::mfCommand(const Bytes& data, Bytes* reply) {
  Bytes r;
  const int status = d_->command(ppad::kGroupMifare, data, &r);
  if (status != 0) return status;
  if (r.empty()) return ppad::kFailed;
  const int card = r[0];
  if (reply) *reply = std::move(r);
  return card;
}

int PPad::mfInit() {
  const int r = d_->command(ppad::kGroupMifare, {0x00, 0x01});
  if (r != 0) return r;
  return mfCommand({0x01}, nullptr);
}

int PPad::mfClose() { return d_->command(ppad::kGroupMifare, {0x00, 0x00}, nullptr, true); }

int PPad::mfRequestCards(bool kind, uint8_t* rq1, uint8_t* rq2) {
  int card = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Bytes r;
    card = mfCommand({0x02, uint8_t(kind ? 1 : 0)}, &r);
    if (card == 0) {
      if (r.size() < 3) return ppad::kFailed;
      if (rq1) *rq1 = r[1];
      if (rq2) *rq2 = r[2];
      return 0;
    }
    if (r.empty()) return card;  // the pinpad's own status, not the card's: no retry
  }
  return card;
}

int PPad::mfAnticollision(uint32_t* serial) {
  Bytes r;
  const int card = mfCommand({0x03}, &r);
  if (card == 0 && serial) {
    if (r.size() < 5) return ppad::kFailed;
    *serial = foundation::readBE32(r.data() + 1);
  }
  return card;
}

int PPad::mfSelectCard(uint32_t serial, uint8_t* sak) {
  Bytes data = {0x04};
  foundation::appendBE32(data, serial);
  Bytes r;
  const int status = d_->command(ppad::kGroupMifare, data, &r);
  if (status != 0) return status;
  // The selected card's serial is used by every authentication, whatever the card said.
  d_->mifareSerial = serial;
  if (r.empty()) return ppad::kFailed;
  if (r[0] == 0 && sak) {
    if (r.size() < 2) return ppad::kFailed;
    *sak = r[1];
  }
  return r[0];
}

int PPad::mfAuthByKey(char type, int block, const uint8_t* key) {
  if (!validKeyType(type) || !key) return ppad::kInvalidParameter;
  Bytes data = withArgs({0x05}, key, kKeySize);
  data.push_back(authCode(type));
  foundation::appendBE32(data, d_->mifareSerial);
  data.push_back(uint8_t(block));
  return mfCommand(data, nullptr);
}

int PPad::mfRead(int block, uint8_t* out) {
  if (block < 0 || block > 255 || !out) return ppad::kInvalidParameter;
  Bytes r;
  const int card = mfCommand({0x06, uint8_t(block)}, &r);
  if (card == ppad::kFailed && r.empty()) return card;
  if (!r.empty()) {
    // A reply without a whole block is malformed: nothing is copied.
    if (r.size() < 1 + kBlockSize) return ppad::kFailed;
    std::copy(r.begin() + 1, r.begin() + 1 + kBlockSize, out);
  }
  return card;
}

int PPad::mfWrite(int block, const uint8_t* bytes) {
  if (block < 0 || block > 255 || !bytes) return ppad::kInvalidParameter;
  return mfCommand(withArgs({0x07, uint8_t(block)}, bytes, kBlockSize), nullptr);
}

int PPad::mfValueOperation(int operation, int srcBlock, int dstBlock, uint32_t value) {
  if (operation < 0xC0 || operation > 0xC2) return ppad::kInvalidParameter;
  Bytes data = {0x08, uint8_t(operation), uint8_t(srcBlock)};
  foundation::appendBE32(data, value);
  data.push_back(uint8_t(dstBlock));
  return mfCommand(data, nullptr);
}

int PPad::mfGetReaderSerial(uint32_t* serial) {
  if (!serial) return ppad::kInvalidParameter;
  Bytes r;
  const int card = mfCommand({0x0A}, &r);
  if (card == 0) {
    if (r.size() < 5) return ppad::kFailed;
    *serial = foundation::readBE32(r.data() + 1);
  }
  return card;
}

int PPad::mfWriteValue(int block, uint32_t value) {
  Bytes data = {0x0C, uint8_t(block)};
  foundation::appendBE32(data, value);
  return mfCommand(data, nullptr);
}

int PPad::mfLoadKey(int slot, const uint8_t* key) {
  if (slot < 0 || slot > 31 || !key) return ppad::kInvalidParameter;
  Bytes data = withArgs({0x0D, uint8_t(slot)}, key, kKeySize);
  const int r = mfCommand(data, nullptr);
  foundation::secureClear(data);
  return r;
}

int PPad::mfAuthByLoadedKey(char type, int block, int slot) {
  if (!validKeyType(type) || slot < 0 || slot > 31) return ppad::kInvalidParameter;
  Bytes data = {0x0E, authCode(type)};
  foundation::appendBE32(data, d_->mifareSerial);
  data.push_back(uint8_t(slot));
  data.push_back(uint8_t(block));
  return mfCommand(data, nullptr);
}

}  // namespace kestra
