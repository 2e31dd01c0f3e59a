// Configuration of the barcode engine inside the sleeve, by engine family: the init data
// the sleeve replays to the engine (command 35), parameter strings written to Opticon and
// Honeywell engines, and the packet protocols of the Code and Newland engines, all through
// the engine pass-through (PellanPassThrough.cpp).

#include <cctype>

#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {
constexpr int kEngineOpticon = 1, kEngineCode = 2, kEngineNewland = 3, kEngineIntermec = 4,
              kEngineZebra = 5, kEngineHoneywell = 7;
constexpr uint8_t kCmdEngineInitData = 35;
constexpr uint8_t kESC = 0x1B, kCR = 0x0D;
// How long init data is sent again while the sleeve fails or reports itself busy.
constexpr std::chrono::seconds kInitDataRetryTime{3};
constexpr double kCodeAnswerTimeout = 2.0;
constexpr double kOpticonIdentTimeout = 1.0;

bool isAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c > 0x7F) return false;
  return true;
}

std::string trimmed(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}
}  // namespace

// ---- Init data (command 35) -------------------------------------------------------------------

namespace {

bool engineIs(Pellan::Impl& d, int kind, const char* text, Error* error) {
  if (d.feature(1) == kind) return true;
  return pellanFail(error, -7, text);
}

// Sends the init data again after 0.1 s while it fails (with -5 only, when `busyOnly`),
// for at most 3 s since the first try; the last error stands.
bool sendInitDataRetrying(Pellan::Impl& d, const Bytes& data, bool busyOnly, Error* error) {
  const auto start = foundation::Clock::current().now();
  for (;;) {
    Error e;
    if (d.command(0, kCmdEngineInitData, data, &e)) {
      if (error) *error = Error();
      return true;
    }
    if (busyOnly && e.code != -5) return foundation::fail(error, e);
    if (foundation::Clock::current().now() - start >= kInitDataRetryTime) return foundation::fail(error, e);
    pellanPause(Pellan::kBusyPause);
  }
}

std::optional<Bytes> readInitData(Pellan& p, Pellan::Impl& d, int kind, const char* text, Error* error) {
  if (!engineIs(d, kind, text, error)) return std::nullopt;
  return p._barcodeEngineGetInitData(error);
}

}  // namespace

bool Pellan::barcodeOpticonSetInitString(const std::string& text, Error* error) {
  if (!engineIs(*d_, kEngineOpticon, "Opticon barcode engine not found", error)) return false;
  if (!isAscii(text) || text.size() > 255) return false;
  return _barcodeEngineSetInitData(foundation::bytesOf(text), error);
}

bool Pellan::barcodeIntermecSetInitData(const Bytes& data, Error* error) {
  if (!engineIs(*d_, kEngineIntermec, "Intermec barcode engine not found", error)) return false;
  return _barcodeEngineSetInitData(data, error);
}

std::optional<Bytes> Pellan::barcodeIntermecGetInitData(Error* error) {
  return readInitData(*this, *d_, kEngineIntermec, "Intermec barcode engine not found", error);
}

bool Pellan::barcodeZebraSetInitData(const Bytes& data, Error* error) {
  if (!engineIs(*d_, kEngineZebra, "Motorola barcode engine not found", error)) return false;
  return sendInitDataRetrying(*d_, data, true, error);
}

std::optional<Bytes> Pellan::barcodeZebraGetInitData(Error* error) {
  return readInitData(*this, *d_, kEngineZebra, "Motorola barcode engine not found", error);
}

bool Pellan::barcodeHoneywellSetInitString(const Bytes& data, Error* error) {
  if (!engineIs(*d_, kEngineHoneywell, "Honeywell barcode engine not found", error)) return false;
  return sendInitDataRetrying(*d_, data, true, error);
}

std::optional<Bytes> Pellan::barcodeHoneywellGetInitData(Error* error) {
  return readInitData(*this, *d_, kEngineHoneywell, "Honeywell barcode engine not found", error);
}

bool Pellan::barcodeNewlandSetInitString(const std::string& text, Error* error) {
  if (!engineIs(*d_, kEngineNewland, "Newland barcode engine not found", error)) return false;
  if (!isAscii(text) || text.size() > 511) return false;
  return sendInitDataRetrying(*d_, foundation::bytesOf(text), false, error);
}

// ---- Opticon and Honeywell parameters --------------------------------------------------------

bool Pellan::barcodeOpticonSetParams(const std::string& params, bool saveToFlash, Error* error) {
  if (params.empty()) return pellanFail(error, -9, "Invalid argument passed");
  if (!barcodeEngineWrite(std::string(1, char(kESC)) + params + char(kCR), error)) return false;
  if (saveToFlash && !barcodeEngineWrite(std::string{char(kESC), 'Z', '2', char(kCR)}, error)) return false;
  return true;
}

bool Pellan::barcodeHoneywelSetParam(const std::string& params, bool saveToFlash, Error* error) {
  return barcodeOpticonSetParams(params, saveToFlash, error);
}

std::optional<std::string> Pellan::barcodeOpticonGetIdent(Error* error) {
  if (!barcodeEngineWrite(std::string{char(kESC), 'Z', '1', char(kCR)}, error)) return std::nullopt;
  barcodeEngineRead(0, kOpticonIdentTimeout, nullptr);  // the echo of the request
  auto ident = barcodeEngineRead(0, kOpticonIdentTimeout, error);
  if (!ident) return std::nullopt;
  return trimmed(std::string(ident->begin(), ident->end()));
}

// ---- Newland ----------------------------------------------------------------------------------

std::optional<Bytes> Pellan::barcodeNewlandQuery(const Bytes& query, Error* error) {
  setBarReadLen(0);
  const Bytes packet = pellan::newlandQueryPacket(query);
  barcodeEngineWrite(packet.data(), int(packet.size()), nullptr);
  return pellan::readNewlandQueryAnswer(
      [this](int length, double timeout, int stop, Error* e) { return barcodeEngineRead(length, timeout, stop, e); },
      error);
}

std::optional<std::string> Pellan::newlandSendCommand(const std::string& command, bool response,
                                                      Error* error) {
  if (command.size() > pellan::kNewlandMaxCommand) {
    pellanFail(error, -9, "Invalid argument passed");
    return std::nullopt;
  }
  const Bytes frame = pellan::newlandCommandFrame(command);
  if (!barcodeEngineWrite(frame.data(), int(frame.size()), error)) return std::nullopt;
  if (!response) return std::string();
  return pellan::readNewlandCommandAnswer(
      [this](int length, double timeout, int stop, Error* e) { return barcodeEngineRead(length, timeout, stop, e); },
      error);
}

bool Pellan::newlandSendCommandAck(const std::string& command, Error* error) {
  auto answer = newlandSendCommand(command, true, error);
  return answer && *answer == "0";
}

// ---- Code ---------------------------------------------------------------------------------------

std::optional<std::string> Pellan::codeCommand(char command, const Bytes& data, bool needResponse,
                                               Error* error) {
  if (d_->feature(1) != kEngineCode) {
    pellanFail(error, -9, "Unsupported barcode engine type");
    return std::nullopt;
  }
  if (d_->fwVer < 2062) {
    pellanFail(error, -9, "Direct access to code engine requires firmware 2.62 or later");
    return std::nullopt;
  }
  if (data.size() > pellan::kCodeMaxData) {
    pellanFail(error, -9, "Invalid argument passed");
    return std::nullopt;
  }
  const Bytes packet = pellan::codePacket(command, data.data(), data.size());
  if (!barcodeEngineWrite(packet.data(), int(packet.size()), error)) return std::nullopt;
  if (!needResponse) return std::string();
  return codeReadResponseWithTimeout(kCodeAnswerTimeout, error);
}

std::optional<std::string> Pellan::codeCommand(char command, std::string_view text, bool needResponse,
                                               Error* error) {
  return codeCommand(command, Bytes(text.begin(), text.end()), needResponse, error);
}

std::optional<std::string> Pellan::codeReadResponseWithTimeout(double seconds, Error* error) {
  auto answer = pellan::readCodeAnswer(
      [this](int length, double timeout, int stop, Error* e) { return barcodeEngineRead(length, timeout, stop, e); },
      seconds, error);
  if (!answer) return std::nullopt;
  if (d_->codeConfirm) codeSendY(answer->sequence, nullptr);
  return answer->text;
}

bool Pellan::codeSendY(int sequence, Error* error) {
  const uint8_t seq = uint8_t(sequence);
  const Bytes packet = pellan::codePacket('Y', &seq, 1);
  return barcodeEngineWrite(packet.data(), int(packet.size()), error);
}

bool Pellan::barcodeCodeGetParam(int param, uint64_t* value, Error* error) {
  auto answer = codeCommand('G', pellanFormat("(%02x)", param), true, error);
  if (!answer) return false;
  if (!pellan::parseCodeParamAnswer(*answer, value)) return pellanFail(error, -20, "Command returned an error");
  return true;
}

bool Pellan::barcodeCodeSetParam(int param, uint64_t value, Error* error) {
  return codeCommand('P', pellanFormat("(%02x)%x", param, unsigned(uint32_t(value))), false, error).has_value();
}

std::optional<pellan::EngineInformation> Pellan::barcodeCodeGetInformation(Error* error) {
  auto answer = codeCommand('I', Bytes(), true, error);
  if (!answer) return std::nullopt;
  return pellan::parseCodeInformation(*answer, error);
}

}  // namespace kestra
