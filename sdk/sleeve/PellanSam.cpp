// The sleeve's SAM slot (command 60): the slot as a smart-card slot, and the transport of
// the iClass SAM message layer, whose frames go to the SAM with sub-command 04 and whose RF
// requests are served on the sleeve's RF reader (channel 6, PicoPass).

#include "sdk/foundation/KXErrors.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/rf/IClassSam.h"
#include "sdk/rf/RFWrapper.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"
#include "sdk/sleeve/PellanTransport.h"

namespace kestra {

namespace {

constexpr int kCmdSam = 60;
constexpr uint8_t kSamPowerOff = 0x01;
constexpr uint8_t kSamPowerOn = 0x02;
constexpr uint8_t kSamIClassFrame = 0x04;
constexpr uint8_t kSamApdu = 0x06;
// The command's data is assembled in a buffer of this size.
constexpr size_t kSamCommandMax = 1023;
constexpr int kIClassRFChannel = 6;
constexpr int kIClassRFMaxData = 506;

bool invalidParameter(Error* error) { return pellanFail(error, -9, std::string(KXErrors::getErrorDescription(-9))); }

bool hidFail(Error* error) {
  const Error e = pellanError(-6, std::string(KXErrors::getErrorDescription(-6)));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

// Splits an APDU answer into its data and status word.
std::optional<Bytes> apduAnswer(const std::optional<Bytes>& answer, uint16_t* status, Error* error) {
  if (!answer) return std::nullopt;
  rfDbgData("scR<<", answer->data(), int(answer->size()));
  if (answer->size() < 2) {
    pellanFail(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  if (status) *status = uint16_t(((*answer)[answer->size() - 2] << 8) | answer->back());
  return Bytes(answer->begin(), answer->end() - 2);
}

// The iClass SAM layer's transport through one sleeve.
class PellanIClassTransport final : public IClassTransport {
 public:
  explicit PellanIClassTransport(std::weak_ptr<Pellan> pellan) : pellan_(std::move(pellan)) {}

  int iClassWrite(const uint8_t* data, int length) override {
    auto p = pellan_.lock();
    if (!p || length < 0 || size_t(length) + 1 > kSamCommandMax) return p ? -9 : -6;
    Bytes command{kSamIClassFrame};
    command.insert(command.end(), data, data + length);
    KXUNISDKGlobals::LOG("PN:hidW>> %d bytes", int(command.size()));
    return p->iClassCommand(command) ? 0 : -6;
  }

  int iClassRFCommand(int /*protocol*/, int parameter, int flags, const uint8_t* data, int length, Bytes* out,
                      int timeoutMs) override {
    if (length < 0 || length > kIClassRFMaxData || (length > 0 && !data)) return -9;
    Bytes frame{0xFF, uint8_t(parameter >> 8), uint8_t(parameter), uint8_t(flags), uint8_t(timeoutMs >> 8),
                uint8_t(timeoutMs)};
    frame.insert(frame.end(), data, data + length);
    rfDbgData("PN:iRF>>", data, length);
    const int r = rfCardTransceive(kIClassRFChannel, frame.data(), int(frame.size()));
    if (r < 0) return r;
    const Bytes answer = rfCmdAnswer();
    rfDbgData("PN:iRF<<", answer.data(), int(answer.size()));
    if (out) *out = answer;
    return int(answer.size());
  }

  void iClassReset() override {}

 private:
  std::weak_ptr<Pellan> pellan_;
};

}  // namespace

void Pellan::useAsIClassTransport() { iClassSetTransport(std::make_shared<PellanIClassTransport>(weak_from_this())); }

std::optional<Bytes> Pellan::samPowerOn(Error* error) {
  auto answer = d_->command(0, kCmdSam, {kSamPowerOn}, error);
  if (!answer) return std::nullopt;
  if (answer->empty()) {
    pellanFail(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  return answer;
}

bool Pellan::samPowerOff(Error* error) { return d_->command(0, kCmdSam, {kSamPowerOff}, error).has_value(); }

std::optional<Bytes> Pellan::samRawAPDU(const Bytes& apdu, uint16_t* status, Error* error) {
  if (apdu.size() + 1 > kSamCommandMax) {
    invalidParameter(error);
    return std::nullopt;
  }
  Bytes command{kSamApdu};
  command.insert(command.end(), apdu.begin(), apdu.end());
  rfDbgData("scW>>", apdu.data(), int(apdu.size()));
  return apduAnswer(d_->command(0, kCmdSam, command, error), status, error);
}

std::optional<Bytes> Pellan::samCAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                      const std::optional<Bytes>& data, int outLength, uint16_t* status,
                                      Error* error) {
  if (data && data->size() > 255) {
    invalidParameter(error);
    return std::nullopt;
  }
  Bytes command{kSamApdu, cla, ins, p1, p2};
  if (!data) {
    command.push_back(0x00);
  } else if (!data->empty()) {
    command.push_back(uint8_t(data->size()));
    command.insert(command.end(), data->begin(), data->end());
  }
  if (outLength != -1) command.push_back(uint8_t(outLength));
  rfDbgData("scW>>", command.data() + 1, int(command.size() - 1));
  return apduAnswer(d_->command(0, kCmdSam, command, error), status, error);
}

bool Pellan::samAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data,
                     uint16_t* status, Error* error) {
  return samCAPDU(cla, ins, p1, p2, data, -1, status, error).has_value();
}

std::optional<Bytes> Pellan::iClassCommand(const Bytes& data, Error* error) {
  if (data.size() > kSamCommandMax) {
    invalidParameter(error);
    return std::nullopt;
  }
  return d_->command(0, kCmdSam, data, error);
}

namespace {

// Runs one SAM message command; its answer of at least `minimum` bytes, else error -6.
template <class Command>
std::optional<Bytes> hidRun(const char* name, Error* error, int minimum, Command command) {
  KXUNISDKGlobals::LOG("PN:%s", name);
  Bytes answer;
  const int r = command(&answer);
  if (r < minimum) {
    hidFail(error);
    return std::nullopt;
  }
  KXUNISDKGlobals::LOG("PN:%s answered %d bytes", name, int(answer.size()));  // credentials: length only
  return answer;
}

}  // namespace

std::optional<Bytes> Pellan::hidGetVersionInfo(Error* error) {
  useAsIClassTransport();
  return hidRun("hidGetVersionInfo", error, 1, [](Bytes* out) { return samCommandGetVersionInfo(out); });
}

std::optional<Bytes> Pellan::hidGetSerialNumber(Error* error) {
  useAsIClassTransport();
  return hidRun("hidGetSerialNumber", error, 1, [](Bytes* out) { return samCommandGetSerialNumber(out); });
}

std::optional<Bytes> Pellan::hidGetContentElement(int element, const std::optional<Bytes>& pin,
                                                  const std::optional<Bytes>& rootSoOID, Error* error) {
  useAsIClassTransport();
  return hidRun("hidGetContentElement", error, 1, [&](Bytes* out) {
    return samCommandGetContentElement(element, pin ? pin->data() : nullptr, pin ? int(pin->size()) : 0,
                                       rootSoOID ? rootSoOID->data() : nullptr,
                                       rootSoOID ? int(rootSoOID->size()) : 0, out);
  });
}

std::optional<Bytes> Pellan::hidProcessKeyRollerCard(Error* error) {
  useAsIClassTransport();
  auto r = hidRun("hidProcessKeyRollerCard", error, 0,
                  [](Bytes*) { return samCommandProcessKeyRollerCard(); });
  if (r) r->clear();
  return r;
}

std::optional<Bytes> Pellan::hidProcessConfigCard(Error* error) {
  useAsIClassTransport();
  auto r = hidRun("hidProcessConfigCard", error, 0, [](Bytes*) { return samCommandProcessConfigCard(); });
  if (r) r->clear();
  return r;
}

}  // namespace kestra
