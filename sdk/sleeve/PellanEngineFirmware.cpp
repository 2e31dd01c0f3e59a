// Firmware updates of the barcode engine inside the sleeve: Opticon (8 KB blocks answered
// "RT" or "NX"), Code (its packet protocol, 236-byte chunks, then an install request) and
// Newland (text commands, then 1 KB frames each answered '*'). Each road switches the sleeve
// to engine-update mode (command 36) and talks to the engine through the pass-through.

#include "sdk/foundation/KXIdleTimer.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {
constexpr uint8_t kCmdEngineUpdateMode = 36;
constexpr double kOpticonBlockAnswerTimeout = 5.0;
constexpr double kOpticonEndAnswerTimeout = 10.0;
// An Opticon block the engine asks for again more often than this fails the update.
constexpr int kOpticonMaxResends = 5;
// Answers read past while waiting for the one that ends a step.
constexpr int kMaxAnswersPassed = 64;
constexpr double kCodeStepTimeout = 2.0;
constexpr double kCodeInstallTimeout = 35.0;
constexpr double kNewlandFrameAnswerTimeout = 1.0;
constexpr size_t kNewlandMinImage = 256;
constexpr foundation::Duration kSettlePause = std::chrono::seconds(1);

bool startsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }
}  // namespace

// ---- Opticon ------------------------------------------------------------------------------------

namespace {

bool opticonTransfer(Pellan& p, const Bytes& image, bool bootLoader) {
  size_t offset = 0;
  uint16_t number = bootLoader ? 0 : 8;
  int resends = 0;
  while (offset < image.size()) {
    const Bytes block = pellan::opticonBlock(image, offset, number);
    p.updateNotify(2, int(offset * 100 / image.size()));
    if (!p.barcodeEngineWrite(block.data(), int(block.size()), nullptr)) return false;
    auto answer = p.barcodeEngineRead(0, kOpticonBlockAnswerTimeout, nullptr);
    if (!answer || answer->size() < 2) return false;
    const std::string text(answer->begin(), answer->end());
    if (startsWith(text, "RT")) {
      if (++resends > kOpticonMaxResends) return false;
      continue;
    }
    if (!startsWith(text, "NX")) return false;
    offset += pellan::kOpticonBlockData;
    ++number;
    resends = 0;
  }
  p.updateNotify(4, 100);
  const Bytes end = pellan::opticonEndBlock();
  p.barcodeEngineWrite(end.data(), int(end.size()), nullptr);
  for (int k = 0; k < kMaxAnswersPassed; ++k) {
    auto answer = p.barcodeEngineRead(0, kOpticonEndAnswerTimeout, nullptr);
    if (!answer || answer->size() < 2) return false;
    const std::string text(answer->begin(), answer->end());
    if (text.find('W') != std::string::npos) return false;
    if (text.find('F') != std::string::npos) return true;
  }
  return false;
}

}  // namespace

bool Pellan::barcodeOpticonUpdateFirmware(const Bytes& image, bool bootLoader, Error* error) {
  updateNotify(0, 0);
  bool ok = false;
  if (d_->command(0, kCmdEngineUpdateMode, {0x01}, nullptr)) {
    d_->transport.firmwareUpdate = true;
    idleTimerStop();
    ok = opticonTransfer(*this, image, bootLoader);
    idleTimerRestore();
  }
  d_->transport.firmwareUpdate = false;
  d_->command(0, kCmdEngineUpdateMode, {0x00}, nullptr);
  updateNotify(3, 100);
  pellanPause(kSettlePause);
  if (!ok) return pellanFail(error, -20, "Failed to program the barcode engine");
  return true;
}

// ---- Code ---------------------------------------------------------------------------------------

bool Pellan::barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image, Error* error) {
  if (d_->fwVer < 2063)
    return pellanFail(error, -7, "Code firmware update is supported on version 2.63 and later");
  if (!d_->command(0, kCmdEngineUpdateMode, {0x01}, error)) return false;
  return _barcodeCodeUpdateFirmware(fileName, image, error);
}

bool Pellan::_barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image, Error* error) {
  Error e;
  auto road = [&]() -> bool {
    updateNotify(0, 0);
    setBarReadLen(0);
    for (auto [command, text] : {std::pair<char, const char*>{'P', "(08)2"}, {'P', "(1B)1"},
                                 {'P', "(1e7)1"}, {'P', "(08)6"}, {'1', ""}})
      if (!codeCommand(command, std::string_view(text), true, &e)) return false;
    if (!image.empty() && codeLoadFirmwareData(image.data(), 0, int(image.size()), &e) == 0) return false;
    updateNotify(4, 100);
    if (!codeCommand('5', fileName + " ", false, &e)) return false;
    d_->codeConfirm = true;  // every further answer is acknowledged, for the rest of the process
    for (int k = 0; k < kMaxAnswersPassed; ++k) {
      auto answer = codeReadResponseWithTimeout(kCodeInstallTimeout, &e);
      if (!answer || startsWith(*answer, "e")) return false;
      if (startsWith(*answer, "mready") || startsWith(*answer, "d")) return true;
    }
    return false;
  };
  const bool ok = road();
  updateNotify(3, 100);
  if (ok) {
    if (error) *error = Error();
    return true;
  }
  return foundation::fail(error, e.code ? e : pellanError(-20, "Failed to program the barcode engine"));
}

int Pellan::codeLoadFirmwareData(const uint8_t* data, int offset, int length, Error* error) {
  if (!data || offset < 0 || length < offset) {
    pellanFail(error, -9, "Invalid argument passed");
    return 0;
  }
  while (offset < length) {
    updateNotify(2, int(int64_t(offset) * 100 / length));
    const size_t n = std::min<size_t>(size_t(length - offset), pellan::kCodeChunk);
    if (!codeCommand('S', pellan::codeLoadChunk(data, size_t(offset), n), false, error)) return 0;
    offset += int(n);
  }
  if (!codeCommand('S', pellan::codeLoadEnd(), false, error)) return 0;
  for (int k = 0; k < kMaxAnswersPassed; ++k) {
    auto answer = codeReadResponseWithTimeout(kCodeStepTimeout, error);
    if (!answer) return 0;
    if (startsWith(*answer, "s")) return length;
  }
  pellanFail(error, -20, "Command returned an error");
  return 0;
}

bool Pellan::codeUploadFile(const std::string& fileName, const uint8_t* data, int length, Error* error) {
  if (length < 0 || (!data && length)) return pellanFail(error, -9, "Invalid argument passed");
  auto answer = codeCommand('1', Bytes(), true, error);
  if (!answer) return false;
  if (!startsWith(*answer, "d")) return pellanFail(error, -20, "Command returned an error");
  for (int offset = 0; offset < length; offset += int(pellan::kCodeChunk)) {
    const size_t n = std::min<size_t>(size_t(length - offset), pellan::kCodeChunk);
    codeCommand('2', Bytes(data + offset, data + offset + n), false, nullptr);
  }
  answer = codeCommand('5', fileName + " ", true, error);
  if (!answer) return false;
  if (!startsWith(*answer, "d")) return pellanFail(error, -20, "Command returned an error");
  for (int k = 0; k < kMaxAnswersPassed; ++k) {
    answer = codeReadResponseWithTimeout(kCodeStepTimeout, error);
    if (!answer) return false;
    if (startsWith(*answer, "d")) return true;
    if (startsWith(*answer, "f")) return pellanFail(error, -20, "Command returned an error");
  }
  return pellanFail(error, -20, "Command returned an error");
}

// ---- Newland ------------------------------------------------------------------------------------

bool Pellan::barcodeNewlandUpdateFirmware(const Bytes& image, Error* error) {
  if (image.size() < kNewlandMinImage) return pellanFail(error, -20, "Invalid firmware file");
  updateNotify(0, 0);
  bool ok = false;
  if (d_->command(0, kCmdEngineUpdateMode, {0x01}, nullptr)) {
    d_->transport.firmwareUpdate = true;
    idleTimerStop();
    ok = newlandDownloadFirmware(image, nullptr);
    if (ok) updateNotify(4, 100);
    idleTimerRestore();
  }
  d_->transport.firmwareUpdate = false;
  d_->command(0, kCmdEngineUpdateMode, {0x00}, nullptr);
  updateNotify(3, 100);
  pellanPause(kSettlePause);
  if (!ok) return pellanFail(error, -20, "Failed to program the barcode engine");
  return true;
}

bool Pellan::newlandDownloadFirmware(const Bytes& image, Error* error) {
  const size_t frames = (image.size() + pellan::kNewlandFrameData - 1) / pellan::kNewlandFrameData;
  for (const std::string& command :
       {pellanFormat("!DataLens:%d", int(image.size())), pellanFormat("!Frames:%d", int(frames)),
        pellanFormat("!FrameSize:%d", int(pellan::kNewlandFrameData)), std::string("!FileType:kern"),
        std::string(">Start")})
    if (!newlandSendCommandAck(command, error)) return false;
  for (size_t offset = 0; offset < image.size(); offset += pellan::kNewlandFrameData) {
    updateNotify(2, int(offset * 100 / image.size()));
    const Bytes frame = pellan::newlandFirmwareFrame(image, offset);
    if (!barcodeEngineWrite(frame.data(), int(frame.size()), error)) {
      KXUNISDKGlobals::LOG("PN:Failed packet write");
      return false;
    }
    auto answer = barcodeEngineRead(1, kNewlandFrameAnswerTimeout, error);
    if (!answer || answer->empty() || (*answer)[0] != '*') {
      KXUNISDKGlobals::LOG("PN:Failed packet response");
      return false;
    }
  }
  if (!newlandSendCommand("@Exit", false, error)) return false;
  KXUNISDKGlobals::LOG("PN:Update success");
  return true;
}

}  // namespace kestra
