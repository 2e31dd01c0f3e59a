// Pass-through channels: the encrypted head's transport, the EMV kernel's command channel,
// the RF reader, the payment and service channels and free custom commands. Each copies the
// caller's bytes unchanged as the whole request of one command.
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "sdk/foundation/Emsr.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {
constexpr uint8_t kGroupSecureReader = 0x02;
constexpr uint8_t kGroupRF = 0x39;
constexpr uint8_t kGroupEmsr = 0x3B;
constexpr uint8_t kGroupEmv2 = 0x3C;
constexpr uint8_t kGroupEmv2New = 0x3E;
constexpr uint8_t kGroupTransArmor = 0x3F;
constexpr uint8_t kGroupVoltage = 0x43;
constexpr uint8_t kGroupPOG = 0x50;
constexpr uint8_t kGroupWallet = 0x60;
constexpr uint32_t kHeadServedByFirmware = 0x02042605;
constexpr auto kRFTimeout = std::chrono::seconds(30);

bool validBuffer(const uint8_t* data, int length) { return length >= 0 && (data || length == 0); }

foundation::Duration seconds(double s) {
  return std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(s < 0 ? 0 : s));
}

}  // namespace

int PPad::emsrCommand(const uint8_t* data, int length, uint8_t* out, int outCapacity, int* outLength) {
  uint32_t firmware;
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    firmware = d_->devInfo.firmwareVersion;
  }
  if (firmware > kHeadServedByFirmware) return ppad::kNotSupported;
  if (!validBuffer(data, length)) return ppad::kInvalidParameter;
  Bytes reply;
  const int r = d_->command(kGroupEmsr, Bytes(data, data + length), &reply);
  if (r != 0) return r;
  if (int(reply.size()) > outCapacity) return ppad::kFailed;  // never past the caller's buffer
  if (out && !reply.empty()) std::memcpy(out, reply.data(), reply.size());
  if (outLength) *outLength = int(reply.size());
  return 0;
}

int PPad::emv2Command(const uint8_t* data, int length, Bytes* result) {
  if (!validBuffer(data, length)) return ppad::kInvalidParameter;
  const uint8_t group = (d_->emvKernelType & 4) ? kGroupEmv2New : kGroupEmv2;
  Bytes reply;
  const int r = d_->command(group, Bytes(data, data + length), &reply);
  if (r == 0 && result) result->assign(reply.size() > 2 ? reply.begin() + 2 : reply.end(), reply.end());
  return r;
}

int PPad::_rfWrite(const uint8_t* data, int length, Bytes* result) {
  if (!validBuffer(data, length)) return ppad::kInvalidParameter;
  return commandInto(*d_, kGroupRF, Bytes(data, data + length), result, kRFTimeout);
}

int PPad::taCommand(const Bytes& request, Bytes* response) {
  return commandInto(*d_, kGroupTransArmor, request, response);
}

int PPad::boricaCommand(int group, const Bytes& request, Bytes* response) {
  return commandInto(*d_, uint8_t(group), request, response);
}

int PPad::secureReaderCommand(const Bytes& request, Bytes* response, double timeoutSeconds) {
  return commandInto(*d_, kGroupSecureReader, request, response, seconds(timeoutSeconds));
}

int PPad::vivaWalletCommand(const uint8_t* data, int length, Bytes* response, double timeoutSeconds) {
  if (!validBuffer(data, length)) return ppad::kInvalidParameter;
  return commandInto(*d_, kGroupWallet, Bytes(data, data + length), response, seconds(timeoutSeconds));
}

int PPad::voltageCommand(const uint8_t* data, int length, Bytes* response) {
  if (!validBuffer(data, length)) return ppad::kInvalidParameter;
  return commandInto(*d_, kGroupVoltage, Bytes(data, data + length), response);
}

int PPad::ppadCustomCommand(int group, double timeoutSeconds, const std::optional<Bytes>& data, Bytes* outData) {
  return commandInto(*d_, uint8_t(group), data.value_or(Bytes{}), outData, seconds(timeoutSeconds));
}

int PPad::pogCommand(int module, int command, const Bytes& data, Bytes* outData) {
  return commandInto(*d_, kGroupPOG, withArgs({uint8_t(module), uint8_t(command)}, data), outData);
}

bool PPad::rfReaderInit(int, Error*) { return true; }
bool PPad::rfReaderClose(int, Error*) { return true; }

bool PPad::rfReaderWrite(int, const uint8_t* data, int length, Error* error) {
  Bytes reply;
  const int r = _rfWrite(data, length, &reply);
  if (r != 0) {
    if (error) *error = KXUNISDKGlobals::makeError(-16500 - r, ppad::getErrorText(r));
    return false;
  }
  if (!reply.empty()) {
    KXUNISDKGlobals::LOG("PPAD:RF write data received: %d", int(reply.size()));
    std::weak_ptr<PPad> self = weak_from_this();
    GlobalQueue::async([self, reply] {
      if (auto pad = self.lock()) pad->rfDataAvailable(reply);
    });
  }
  return true;
}

bool PPad::sysIsDevelopmentUnit() const {
  std::lock_guard<std::mutex> lock(d_->identityMutex);
  return d_->sysInfo.isDevelopmentUnit();
}

int PPad::emsrGetFirmwareVersion(int* version) const {
  const int v = d_->emsrFirmwareVersion;
  if (v == 0) return ppad::kNotSupported;
  if (version) *version = v;
  return 0;
}

}  // namespace kestra

// ---- The encrypted head's library, with this pinpad as its owner ---------------------------------

namespace kestra {

namespace {
constexpr int kHeadDUKPTKey = 16;
}  // namespace

int PPad::emsrIsTampered(bool* tampered) { return ::kestra::emsrIsTampered(ppadEmsrOwner(), tampered); }

int PPad::emsrGetKeyVersion(int keyID, uint32_t* version) {
  return ::kestra::emsrGetKeyVersion(ppadEmsrOwner(), keyID, version);
}

int PPad::emsrLoadInitialKey(const Bytes& data) {
  return ::kestra::emsrLoadInitialKey(ppadEmsrOwner(), data.data(), int(data.size()));
}

int PPad::emsrLoadKey(const Bytes& data) {
  return ::kestra::emsrLoadKey(ppadEmsrOwner(), data.data(), int(data.size()));
}

int PPad::emsrUpdateFirmware(const Bytes& file) {
  return ::kestra::emsrUpdateFirmware(ppadEmsrOwner(), file.data(), int(file.size()));
}

int PPad::emsrGetDeviceModel(std::string* model) {
  char buf[17] = {};
  const int r = ::kestra::emsrGetDeviceModel(ppadEmsrOwner(), buf);
  if (r == 0 && model) model->assign(buf, strnlen(buf, sizeof buf));
  return r;
}

int PPad::emsrGetDUKPTSerial(Bytes* ksn) {
  Bytes out;
  const int r = ::kestra::emsrGetDUKPTSerial(ppadEmsrOwner(), kHeadDUKPTKey, &out);
  if (r >= 0 && ksn) *ksn = std::move(out);
  return r;
}

int PPad::emsrGetSerialNumber(Bytes* serial) {
  Bytes out;
  const int r = ::kestra::emsrGetSerialNumber(ppadEmsrOwner(), &out);
  if (r >= 0 && serial) *serial = std::move(out);
  return r;
}

int PPad::emsrGetSupportedEncryptions(std::vector<int>* algorithms) {
  Bytes out;
  const int r = ::kestra::emsrGetSupportedEncryptions(ppadEmsrOwner(), &out);
  if (r >= 0 && algorithms) algorithms->assign(out.begin(), out.end());
  return r;
}

std::optional<nlohmann::json> PPad::emsrGetFirmwareInformation(const Bytes& file) {
  char name[17] = {};
  int version = 0;
  if (::kestra::emsrGetFirmwareInformation(ppadEmsrOwner(), file.data(), int(file.size()), name, &version) != 0)
    return std::nullopt;
  char revision[32];
  std::snprintf(revision, sizeof revision, "%d.%02d", version / 100, version % 100);
  return nlohmann::json{{"deviceModel", std::string(name, strnlen(name, sizeof name))},
                        {"firmwareRevision", revision},
                        {"firmwareRevisionNumber", version}};
}

int PPad::emsrSetEncryption(int algorithm, int keyID, const nlohmann::json* params) {
  if (params && params->is_object() && params->contains("keyID") && (*params)["keyID"].is_number())
    keyID = (*params)["keyID"].get<int>();
  return ::kestra::emsrSetEncryption(ppadEmsrOwner(), algorithm, keyID, nullptr, 0);
}

}  // namespace kestra
