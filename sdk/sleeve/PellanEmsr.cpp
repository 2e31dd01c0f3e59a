// The bridge between the encrypted head's command library (sdk/foundation/Emsr.h) and the
// sleeve: every library packet travels as the data of one sleeve command, 33 for the head
// itself or 62 for the head that the sleeve's main processor emulates. The driver registers
// itself as a library owner when it is made and leaves the table when it goes; a library
// call that races with the driver's end finds no driver and fails as an unanswered packet.
//
// Key material passes through here in library packets; nothing of a packet is logged.

#include <cstring>
#include <map>

#include <nlohmann/json.hpp>

#include "sdk/foundation/Emsr.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {

constexpr uint8_t kCmdHead = 33;
constexpr uint8_t kCmdEmulatedHead = 62;
// Feature 0 bit: the sleeve can emulate the head.
constexpr int kEmulatedHeadFeature = 16;
// Answer areas lent to the library: its packet buffer bounds every answer.
constexpr int kModelSize = 17;

// The drivers that registered as library owners, by owner key.
std::mutex gOwnersMutex;
std::map<const void*, std::weak_ptr<Pellan>>& owners() {
  static auto* m = new std::map<const void*, std::weak_ptr<Pellan>>;
  return *m;
}

int emsrTransport(void* owner, const uint8_t* request, int requestLength, uint8_t* reply, int replyCapacity,
                  int timeoutMs) {
  (void)timeoutMs;  // the sleeve's own reply wait applies
  std::shared_ptr<Pellan> pellan;
  {
    std::lock_guard<std::mutex> lock(gOwnersMutex);
    auto it = owners().find(owner);
    if (it != owners().end()) pellan = it->second.lock();
  }
  if (!pellan) return -1;
  return pellan->emsrCommand(request, requestLength, reply, replyCapacity);
}

bool result(int r, Error* error) {
  if (r >= 0) return true;
  return foundation::fail(error, emsrError(r));
}

}  // namespace

void pellanRegisterEmsrOwner(const std::shared_ptr<Pellan>& pellan) {
  {
    std::lock_guard<std::mutex> lock(gOwnersMutex);
    owners()[pellan.get()] = pellan;
  }
  emsrSetCallbacks(pellan.get(), &emsrTransport);
}

void pellanUnregisterEmsrOwner(const Pellan* pellan) {
  emsrRemoveCallbacks(const_cast<Pellan*>(pellan));
  std::lock_guard<std::mutex> lock(gOwnersMutex);
  owners().erase(pellan);
}

int Pellan::emsrCommand(const uint8_t* in, int inLength, uint8_t* out, int outCapacity) {
  if (!in || inLength < 0 || !out || outCapacity < 0) return -1;
  const int command = d_->activeHead == 1 ? kCmdEmulatedHead : kCmdHead;
  // The library's time-out is not passed on: the sleeve's reply wait applies.
  auto answer = sendCommand(0, command, in, uint64_t(inLength), nullptr);
  if (!answer) return -1;
  // An answer that does not fit the library's buffer is a failed exchange, not a cut one.
  if (answer->size() > size_t(outCapacity)) {
    KXUNISDKGlobals::LOG("PN:Head answer of %zu bytes does not fit %d", answer->size(), outCapacity);
    foundation::secureClear(*answer);
    return -6;
  }
  if (!answer->empty()) std::memcpy(out, answer->data(), answer->size());
  const int n = int(answer->size());
  foundation::secureClear(*answer);
  return n;
}

bool Pellan::emsrSetActiveHead(int head, Error* error) {
  if (head != 0 && head != 1) return pellanFail(error, -9, pellanFormat("Invalid argument: %s", "active"));
  if (head == 1 && !(d_->feature(0) & kEmulatedHeadFeature))
    return pellanFail(error, -7, "Emulated head not supported on this hardware");
  d_->activeHead = head;
  return true;
}

bool Pellan::emsrIsTampered(bool* tampered, Error* error) {
  return result(kestra::emsrIsTampered(this, tampered), error);
}

bool Pellan::emsrGetKeyVersion(int keyID, int* keyVersion, Error* error) {
  uint32_t v = 0;
  if (!result(kestra::emsrGetKeyVersion(this, keyID, &v), error)) return false;
  if (keyVersion) *keyVersion = int(v);
  return true;
}

bool Pellan::emsrLoadInitialKey(const Bytes& keyData, Error* error) {
  return result(kestra::emsrLoadInitialKey(this, keyData.data(), int(keyData.size())), error);
}

bool Pellan::emsrLoadKey(const Bytes& keyData, Error* error) {
  return result(kestra::emsrLoadKey(this, keyData.data(), int(keyData.size())), error);
}

std::optional<Bytes> Pellan::emsrGetDUKPTSerialForKeyID(int keyID, Error* error) {
  Bytes ksn;
  if (!result(kestra::emsrGetDUKPTSerial(this, keyID, &ksn), error)) return std::nullopt;
  return ksn;
}

std::optional<Bytes> Pellan::emsrGetDUKPTSerial(Error* error) { return emsrGetDUKPTSerialForKeyID(32, error); }

std::optional<std::string> Pellan::emsrGetDeviceModel(Error* error) {
  char model[kModelSize] = {};
  if (!result(kestra::emsrGetDeviceModel(this, model), error)) return std::nullopt;
  return std::string(model);
}

bool Pellan::emsrGetFirmwareVersion(int* version, Error* error) {
  return result(kestra::emsrGetFirmwareVersion(this, version), error);
}

bool Pellan::emsrGetSecurityVersion(int* version, Error* error) {
  return result(kestra::emsrGetSecurityVersion(this, version), error);
}

std::optional<Bytes> Pellan::emsrGetSerialNumber(Error* error) {
  Bytes serial;
  if (!result(kestra::emsrGetSerialNumber(this, &serial), error)) return std::nullopt;
  return serial;
}

std::optional<nlohmann::json> Pellan::emsrGetFirmwareInformation(const Bytes& file, Error* error) {
  char model[kModelSize] = {};
  int version = 0;
  if (!result(kestra::emsrGetFirmwareInformation(this, file.data(), int(file.size()), model, &version), error))
    return std::nullopt;
  nlohmann::json info = nlohmann::json::object();
  info["deviceModel"] = std::string(model);
  info["firmwareRevision"] = pellanFormat("%d.%02d", version / 100, version % 100);
  info["firmwareRevisionNumber"] = version;
  return info;
}

bool Pellan::emsrUpdateFirmware(const Bytes& file, Error* error) {
  return result(kestra::emsrUpdateFirmware(this, file.data(), int(file.size())), error);
}

std::optional<std::vector<int>> Pellan::emsrGetSupportedEncryptions(Error* error) {
  Bytes algorithms;
  if (!result(kestra::emsrGetSupportedEncryptions(this, &algorithms), error)) return std::nullopt;
  return std::vector<int>(algorithms.begin(), algorithms.end());
}

bool Pellan::emsrSetEncryption(int algorithm, int keyID, const nlohmann::json* params, Error* error) {
  if (params && params->is_object() && params->contains("keyID")) {
    const auto& k = (*params)["keyID"];
    if (k.is_number()) keyID = k.get<int>();
    else if (k.is_string()) keyID = std::atoi(k.get<std::string>().c_str());
  }
  return result(kestra::emsrSetEncryption(this, algorithm, keyID, nullptr, 0), error);
}

bool Pellan::emsrSetEncryption(int algorithm, const nlohmann::json* params, Error* error) {
  return emsrSetEncryption(algorithm, -1, params, error);
}

bool Pellan::emsrConfigMaskedDataShowExpiration(bool showExpiration, int unmaskedDigitsAtStart,
                                                int unmaskedDigitsAtEnd, Error* error) {
  return result(kestra::emsrConfigMaskedData(this, showExpiration, false, true, unmaskedDigitsAtStart,
                                             unmaskedDigitsAtEnd),
                error);
}

std::optional<Bytes> Pellan::emsrGetMaskedData(Error* error) {
  Bytes data;
  if (!result(kestra::emsrGetMaskedData(this, &data), error)) return std::nullopt;
  return data;
}

}  // namespace kestra
