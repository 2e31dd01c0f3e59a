// The legacy EMV level 2 kernel (group 0x37), driven one transaction step at a time.
#include <algorithm>
#include <cstring>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {

constexpr int kEmvInvalid = ppad::kInvalidParameter;
constexpr size_t kStatusBytes = 2;

Bytes tagged(uint8_t sub, int tag) { return {sub, uint8_t(tag), uint8_t(tag >> 8)}; }

bool bitInRange(int byte, int maxByte, int bit) { return byte >= 1 && byte <= maxByte && bit >= 1 && bit <= 8; }

}  // namespace

int PPad::emvStep(int16_t* status, const Bytes& request, Bytes* data) {
  const bool initOrDone = !request.empty() && (request[0] == 0x01 || request[0] == 0x02);
  if (!d_->emvInitDone && !initOrDone) emvInit(status);
  Bytes reply;
  int r = d_->command(ppad::kGroupEmv, request, &reply);
  if (r == 0 && reply.size() < kStatusBytes) r = ppad::kFailed;  // no status word: not an answer
  if (r == 0) {
    if (status) *status = int16_t(foundation::readLE16(reply.data()));
    if (data) data->assign(reply.begin() + long(kStatusBytes), reply.end());
  }
  foundation::secureClear(reply);
  return r;
}

int PPad::emvInit(int16_t* status) {
  const int r = emvStep(status, {0x01});
  if (r == 0) d_->emvInitDone = true;
  return r;
}

int PPad::emvDone(int16_t* status) {
  d_->emvInitDone = false;
  return emvStep(status, {0x02});
}

int PPad::emvGetInfo(int16_t* status, std::array<uint8_t, 16>* info) {
  Bytes data;
  const int r = emvStep(status, {0x03}, &data);
  if (r == 0 && info) {
    info->fill(0);
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 15), info->begin());
  }
  return r;
}

int PPad::emvATRValidation(int16_t* status, bool warmReset, const Bytes& atr) {
  if (atr.empty()) return kEmvInvalid;
  return emvStep(status, withArgs({0x04, uint8_t(warmReset ? 1 : 0)}, atr));
}

int PPad::emvLoadAppList(int16_t* status, int selectionMethod, bool includeBlockedAIDs,
                         const PPadEMVApplication* apps, int count) {
  if (selectionMethod < 0 || selectionMethod > 1 || count > 255 || (count > 0 && !apps)) return kEmvInvalid;
  Bytes request = {0x05, uint8_t(selectionMethod), uint8_t(includeBlockedAIDs ? 1 : 0), uint8_t(std::max(count, 0))};
  for (int i = 0; i < count; ++i) {
    const auto& a = apps[i];
    if (a.aidLength < 0 || a.aidLength > int(a.aid.size())) return kEmvInvalid;
    request.push_back(uint8_t(a.aidLength));
    request.insert(request.end(), a.aid.begin(), a.aid.begin() + a.aidLength);
    request.push_back(uint8_t(a.matchCriteria));
    const size_t labelLength = strnlen(a.label.data(), a.label.size() - 1);
    request.insert(request.end(), a.label.begin(), a.label.begin() + long(labelLength));
    request.push_back(0);
  }
  return emvStep(status, request);
}

int PPad::emvGetCommonAppList(int16_t* status, bool* confirmationRequired, PPadEMVApplication* apps, int* count) {
  if (!count) return kEmvInvalid;
  Bytes reply;
  int16_t word = 0;
  const int r = emvStep(&word, {0x06}, &reply);
  if (r != 0) return r;
  if (status) *status = word;
  // `reply` starts after the status word: [confirmation][count][entries].
  if (reply.size() < 1) {
    *count = 0;
    return 0;
  }
  if (confirmationRequired) *confirmationRequired = reply[0] != 0;
  const int listed = reply.size() >= 2 ? reply[1] : 0;
  const int wanted = std::min(*count, listed);
  int filled = 0;
  size_t i = 2;
  for (; filled < wanted && apps; ++filled) {
    if (i >= reply.size()) break;
    PPadEMVApplication a;
    const size_t aidLength = reply[i++];
    if (aidLength > a.aid.size() || reply.size() - i < aidLength + 1) break;
    std::copy_n(reply.begin() + long(i), aidLength, a.aid.begin());
    a.aidLength = int32_t(aidLength);
    i += aidLength;
    size_t labelLength = reply[i++];
    size_t next;
    if (labelLength == 0) {  // text up to its zero byte
      const auto end = std::find(reply.begin() + long(i), reply.end(), 0);
      labelLength = size_t(end - (reply.begin() + long(i)));
      next = i;  // the next entry starts right after the label length byte
    } else {
      if (reply.size() - i < labelLength) break;
      next = i + labelLength;
    }
    std::copy_n(reply.begin() + long(i), std::min(labelLength, a.label.size() - 1), a.label.begin());
    a.matchCriteria = 1;
    apps[filled] = a;
    i = next;
  }
  *count = filled;
  return 0;
}

int PPad::emvInitialAppProcessing(int16_t* status, const Bytes& aid) {
  if (aid.empty()) return kEmvInvalid;
  return emvStep(status, withArgs({0x07}, aid));
}

int PPad::emvReadAppData(int16_t* status, const std::vector<int>& tags) {
  Bytes request = {0x08, 0x00};
  for (int tag : tags) foundation::appendLE16(request, uint16_t(tag));
  return emvStep(status, request);
}

int PPad::emvAuthentication(int16_t* status, bool checkAmount) {
  return emvStep(status, {0x09, uint8_t(checkAmount ? 1 : 0)});
}
int PPad::emvProcessRestrictions(int16_t* status) { return emvStep(status, {0x0A}); }
int PPad::emvTerminalRisk(int16_t* status, bool forceProcessing) {
  return emvStep(status, {0x0B, uint8_t(forceProcessing ? 1 : 0)});
}
int PPad::emvGetAuthenticationMethod(int16_t* status) { return emvStep(status, {0x0C}); }

int PPad::emvSetAuthenticationResult(int16_t* status, int result) {
  if (result < 1 || result > 5) return kEmvInvalid;
  return emvStep(status, {0x0D, uint8_t(result)});
}

int PPad::emvVerifyPinOffline(int16_t* status) { return emvStep(status, {0x0E}); }

int PPad::emvGenerateCertificate(int16_t* status, int type, int risk) {
  if (type < 0 || type > 2 || risk < 1 || risk > 2) return kEmvInvalid;
  return emvStep(status, {0x0F, uint8_t(type), uint8_t(risk)});
}

int PPad::emvMakeTransactionDecision(int16_t* status) { return emvStep(status, {0x10}); }
int PPad::emvMakeDefaultDecision(int16_t* status) { return emvStep(status, {0x11}); }
int PPad::emvAuthenticateIssuer(int16_t* status) { return emvStep(status, {0x12}); }

int PPad::emvScriptProcessing(int16_t* status, int type) {
  if (type != 0x71 && type != 0x72) return kEmvInvalid;
  return emvStep(status, {0x13, uint8_t(type)});
}

int PPad::emvUpdateTVR(int16_t* status, int byte, int bit, int value) {
  if (!bitInRange(byte, 5, bit) || value < 0 || value > 1) return kEmvInvalid;
  return emvStep(status, {0x14, uint8_t(byte), uint8_t(bit), uint8_t(value)});
}

int PPad::emvUpdateTSI(int16_t* status, int byte, int bit, int value) {
  if (!bitInRange(byte, 2, bit) || value < 0 || value > 1) return kEmvInvalid;
  return emvStep(status, {0x15, uint8_t(byte), uint8_t(bit), uint8_t(value)});
}

int PPad::emvCheckTVR(int16_t* status, int byte, int bit) {
  if (!bitInRange(byte, 5, bit)) return kEmvInvalid;
  return emvStep(status, {0x16, uint8_t(byte), uint8_t(bit)});
}

int PPad::emvCheckTSI(int16_t* status, int byte, int bit) {
  if (!bitInRange(byte, 2, bit)) return kEmvInvalid;
  return emvStep(status, {0x17, uint8_t(byte), uint8_t(bit)});
}

int PPad::emvLoadClearPublicKey(int16_t* status, const Bytes& RID, int caIndex, int hashMethod, int signatureMethod,
                                const Bytes& modulus, const Bytes& exponent, const Bytes& hashData) {
  if (RID.size() != 5 || modulus.empty() || exponent.empty() || hashData.size() != 20 || modulus.size() > 255 ||
      exponent.size() > 255)
    return kEmvInvalid;
  Bytes request = joined({0x18}, RID);
  request.push_back(uint8_t(caIndex));
  request.push_back(uint8_t(hashMethod));
  request.push_back(uint8_t(signatureMethod));
  request.push_back(uint8_t(modulus.size()));
  request = joined(std::move(request), modulus);
  request.push_back(uint8_t(exponent.size()));
  return emvStep(status, joined(std::move(request), exponent));
}

int PPad::emvRemovePublicKey(int16_t* status, const Bytes& RID, int caIndex) {
  if (RID.size() != 5) return kEmvInvalid;
  Bytes request = joined({0x19}, RID);
  request.push_back(uint8_t(caIndex));
  return emvStep(status, request);
}

int PPad::emvSetDataAsBinary(int16_t* status, int tagID, const Bytes& data) {
  return emvStep(status, joined(tagged(0x1A, tagID), data));
}

int PPad::emvSetDataAsString(int16_t* status, int tagID, const std::string& data) {
  Bytes request = joined(tagged(0x1B, tagID), foundation::bytesOf(data));
  request.push_back(0);
  return emvStep(status, request);
}

int PPad::emvGetDataAsBinary(int16_t* status, int tagID, Bytes* data) {
  return emvStep(status, tagged(0x1C, tagID), data);
}

int PPad::emvGetDataAsString(int16_t* status, int tagID, std::string* data) {
  Bytes reply;
  const int r = emvStep(status, tagged(0x1D, tagID), &reply);
  if (r == 0 && data) data->assign(reply.begin(), std::find(reply.begin(), reply.end(), 0));
  return r;
}

int PPad::emvGetDataDetails(int16_t* status, int tagID, int* tagType, int* maxLen, int* currentLen) {
  Bytes reply;
  int16_t word = 0;
  int r = emvStep(&word, tagged(0x1E, tagID), &reply);
  if (r == 0 && reply.size() < 6) r = ppad::kFailed;
  if (r != 0) return r;
  if (status) *status = word;
  if (tagType) *tagType = reply[0];
  if (maxLen) *maxLen = foundation::readLE16(reply.data() + 2);
  if (currentLen) *currentLen = foundation::readLE16(reply.data() + 4);
  return 0;
}

int PPad::emvSetBypassMode(int16_t* status, int mode) { return emvStep(status, {0x1F, uint8_t(mode)}); }

int PPad::emvSetTags(int16_t* status, const Bytes& tlv) { return emvStep(status, withArgs({0x80}, tlv)); }

int PPad::emvGetTags(int16_t* status, const Bytes& tagList, Bytes* resultData) {
  return emvStep(status, withArgs({0x81}, tagList), resultData);
}

int PPad::emvGetTagsEncrypted(int16_t* status, int keyID, uint32_t uniqueID, const Bytes& tagList,
                              Bytes* resultData) {
  Bytes request = {0x82, uint8_t(keyID)};
  foundation::appendLE32(request, uniqueID);
  return emvStep(status, joined(std::move(request), tagList), resultData);
}

}  // namespace kestra
