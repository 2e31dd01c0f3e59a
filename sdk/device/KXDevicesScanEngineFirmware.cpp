// Firmware updates of the Intermec and Zebra engines inside a sleeve or a pinpad, spoken by
// the device API itself through the raw engine pass-through (the carrying device only
// switches its engine line into download mode). Opticon, Code and Newland updates are the
// sleeve driver's own (KXDevicesScanEngine.cpp passes them on).
//
// An update blocks the calling thread for as long as the engine takes (an Intermec read may
// wait up to 1,000 s, the Zebra end up to 180 s) and reports its phases to the delegates:
// 0 at the start, 2 while writing (percent sent), 4 when the engine took the image, 3 at the
// end. Download mode is always left again and the idle timer always restored. Firmware files
// are checked against their own length before anything is sent: a header or record that runs
// past the end of the file is -20 "Firmware file wrong".

#include "sdk/device/KXDevices.h"
#include "sdk/device/ScanEngineFirmwareFiles.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/foundation/KXIdleTimer.h"
#include "sdk/sleeve/PellanTransport.h"

namespace kestra {

using scanengine::parseIntermecFile;
using scanengine::parseZebraFile;

namespace {

constexpr size_t kIntermecPage = 256;
constexpr size_t kIntermecLoaderSize = 8192;
constexpr double kIntermecByteTimeout = 1.0;
constexpr double kIntermecLongTimeout = 1000.0;
constexpr double kIntermecDrainTimeout = 0.1;
constexpr size_t kZebraPacketBuffer = 1024;
constexpr double kZebraEndTimeout = 180.0;

foundation::MonoTime firmwareNow() { return foundation::Clock::current().now(); }
foundation::Duration firmwareSeconds(double s) {
  return std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(s));
}
void pause(double s) { pellanPause(firmwareSeconds(s)); }

bool fwFail(Error* error, int code, const std::string& text) {
  const Error e = KXUNISDKGlobals::makeError(code, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

void putBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

// The loader the Intermec engine runs from RAM while it takes new firmware: 32 pages, sent
// unchanged.
const Bytes& intermecLoader() {
  static const Bytes loader(kIntermecLoaderSize, 0xFF);
  return loader;
}

}  // namespace

void KXDevices::updateNotify(int phase, int percent) { firmwareUpdateProgress(phase, percent); }

// ---- Intermec ----------------------------------------------------------------------------------------

bool KXDevices::barcodeIntermecUpdateFirmware(const Bytes& file, Error* error) {
  if (file.size() <= 255) return fwFail(error, -20, "Invalid firmware file");
  updateNotify(0, 0);
  bool ok = false;
  Error transfer;
  if (_barcodeEngineDownloadModeEnable(true, nullptr)) {
    idleTimerStop();
    try {
      ok = intermecDownloadDriver(intermecLoader(), &transfer) && intermecDownloadFirmware(file, &transfer);
    } catch (const std::exception& e) {
      KXUNISDKGlobals::LOG("Intermec update stopped: %s", e.what());
      ok = false;
      transfer = Error();
    }
    if (ok) updateNotify(4, 100);
    idleTimerRestore();
  }
  _barcodeEngineDownloadModeEnable(false, nullptr);
  intermecSendCommand(0x12, nullptr, 0, true, nullptr);  // restart the engine
  updateNotify(3, 100);
  pause(1.0);
  if (ok) return true;
  // The transfer's own reason when it named one (a file for another engine, a wrong file).
  if (transfer.code == -20) return foundation::fail(error, transfer);
  return fwFail(error, -20, "Failed to program the barcode engine");
}

bool KXDevices::intermecDownloadDriver(const Bytes& loader, Error* error) {
  const size_t pages = (loader.size() + kIntermecPage - 1) / kIntermecPage;
  if (pages == 0 || pages > 255) return fwFail(error, -9, "Invalid argument passed");
  if (!barWriteByte(0xAA, error) || barReadByteTimeout(kIntermecByteTimeout, error) != 0x88) return false;
  if (!barWriteByte(uint8_t(pages), error)) return false;
  int answer = barReadByteTimeout(kIntermecByteTimeout, error);
  while (answer == 0x80) {
    const int page = barReadByteTimeout(kIntermecByteTimeout, error);
    if (page < 1 || size_t(page) > pages) return false;
    uint8_t data[kIntermecPage] = {};
    const size_t from = size_t(page - 1) * kIntermecPage;
    std::copy(loader.begin() + long(from), loader.begin() + long(std::min(loader.size(), from + kIntermecPage)), data);
    if (!barcodeEngineWrite(data, int(kIntermecPage), error)) return false;
    if (barReadByteTimeout(kIntermecByteTimeout, error) != 0x7F) return false;
    uint32_t sum = 0;
    for (size_t i = 0; i < kIntermecPage; ++i) sum += uint32_t(data[i]) * uint32_t(kIntermecPage - i);
    uint8_t check[4];
    putBE32(check, sum);
    if (!barcodeEngineWrite(check, 4, error)) return false;
    answer = barReadByteTimeout(kIntermecByteTimeout, error);
    if (size_t(page) == pages) break;
  }
  return answer == 0xBB;
}

bool KXDevices::intermecDownloadFirmware(const Bytes& file, Error* error) {
  updateNotify(2, 0);
  const uint8_t start = 0x01;
  if (!intermecSendCommand(0x10, &start, 1, true, error)) return false;
  if (!intermecSendCommand(0x11, nullptr, 0, false, error)) return false;
  const auto maxSize = barcodeEngineRead(4, kIntermecLongTimeout, error);
  if (!maxSize || maxSize->size() < 4) return false;
  const uint32_t maximum = foundation::readBE32(maxSize->data());
  if (maximum == 0) return fwFail(error, -20, "Incorrect loader for engine");
  barcodeEngineRead(0, kIntermecDrainTimeout, 0, nullptr);

  const auto layout = parseIntermecFile(file);
  if (!layout || file.size() - layout->payloadOffset > maximum) return fwFail(error, -20, "Firmware file wrong");

  if (!intermecSendCommand(0x13, nullptr, 0, false, error)) return false;
  const auto version = barcodeEngineRead(8, kIntermecLongTimeout, error);
  if (!version || version->size() < 8) return fwFail(error, -20, "Firmware version unable to read");
  const uint32_t engine = foundation::readBE32(version->data() + 4);
  barcodeEngineRead(0, kIntermecDrainTimeout, 0, nullptr);
  if (std::find(layout->engines.begin(), layout->engines.end(), engine) == layout->engines.end())
    return fwFail(error, -20, "Device not found");

  if (!intermecSendCommand(0x14, nullptr, 0, true, error)) return false;
  if (!intermecSendCommand(0x18, nullptr, 0, false, error)) return false;
  barcodeEngineRead(4, kIntermecLongTimeout, nullptr);

  const uint8_t* payload = file.data() + layout->payloadOffset;
  const size_t total = file.size() - layout->payloadOffset;
  for (size_t off = 0; off < total; off += kIntermecPage) {
    const size_t n = std::min(kIntermecPage, total - off);
    Bytes frame(19 + n, 0);
    frame[0] = 0x02;
    frame[2] = 0x16;
    frame[3] = uint8_t(n >> 8);
    frame[4] = uint8_t(n);
    putBE32(frame.data() + 5, uint32_t(off));
    uint32_t header = 0;
    for (size_t i = 0; i < 9; ++i) header += uint32_t(frame[2 + i]) * uint32_t(9 - i);
    putBE32(frame.data() + 11, header);
    std::copy(payload + off, payload + off + n, frame.begin() + 15);
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += uint32_t(payload[off + i]) * uint32_t(n - i);
    putBE32(frame.data() + 15 + n, sum);
    if (!_barcodeEngineSpecialWrite(frame.data(), int(frame.size()), error)) {
      KXUNISDKGlobals::LOG("Write block failed!");
      return false;
    }
    updateNotify(2, int((off + n) * 100 / total));
  }
  updateNotify(2, 100);
  return true;
}

bool KXDevices::intermecGetFirmware(int length, Error* error) {
  if (length <= 0) return fwFail(error, -9, "Invalid argument passed");
  Bytes image;
  for (int offset = 0; offset < length; offset += int(kIntermecPage)) {
    const int count = std::min(int(kIntermecPage), length - offset);
    uint8_t args[8] = {uint8_t(count >> 8), uint8_t(count), 0, 0, 0, 0, 0, 0};
    putBE32(args + 2, uint32_t(offset));
    if (!intermecSendCommand(0x15, args, int(sizeof args), false, error)) return false;
    const auto part = barcodeEngineRead(count + 4, kIntermecLongTimeout, error);
    if (!part || part->size() < size_t(count)) return false;
    image.insert(image.end(), part->begin(), part->begin() + count);
    updateNotify(2, int(int64_t(offset) * 100 / length));
  }
  const auto path = foundation::Paths::dataDir() / "Documents" / "intermec.bin";
  if (!foundation::writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size())))
    return fwFail(error, -20, "Cannot write the firmware file");
  return true;
}

// ---- Zebra -------------------------------------------------------------------------------------------

bool KXDevices::barcodeZebraUpdateFirmware(const Bytes& file, Error* error) {
  if (!parseZebraFile(file)) return fwFail(error, -20, "Firmware file wrong");
  if (!_barcodeEngineDownloadModeEnable(true, error)) return false;
  idleTimerStop();
  const bool ok = _barcodeZebraUpdateFirmware(file, error);
  idleTimerRestore();
  _barcodeEngineDownloadModeEnable(false, nullptr);
  return ok;
}

bool KXDevices::_motoFWSendPacket(const uint8_t* body, int length, Error* error) {
  if (length < 0 || (!body && length > 0) || size_t(length) + 5 > kZebraPacketBuffer)
    return fwFail(error, -9, "Invalid argument passed");
  Bytes packet{0x02, uint8_t(length + 2), uint8_t((length + 2) >> 8)};
  packet.insert(packet.end(), body, body + length);
  uint16_t sum = 0;
  for (size_t i = 1; i < packet.size(); ++i) sum = uint16_t(sum + packet[i]);
  const uint16_t check = uint16_t(-sum);
  packet.push_back(uint8_t(check >> 8));
  packet.push_back(uint8_t(check));
  return barcodeEngineWrite(packet.data(), int(packet.size()), error);
}

std::optional<Bytes> KXDevices::_motoFWReadPacketWithTimeout(double timeoutSeconds, Error* error) {
  const auto deadline = firmwareNow() + firmwareSeconds(timeoutSeconds);
  auto left = [&] { return std::max(0.0, std::chrono::duration<double>(deadline - firmwareNow()).count()); };
  // Bytes in front of the packet's start are skipped.
  for (;;) {
    const int b = barReadByteTimeout(left(), error);
    if (b < 0) return std::nullopt;
    if (b == 0x02 || b == 0x03) break;
  }
  Bytes length;
  Bytes body;
  while (length.size() < 2) {
    auto part = barcodeEngineRead(int(2 - length.size()), left(), error);
    if (!part) return std::nullopt;
    length.insert(length.end(), part->begin(), part->end());
  }
  const size_t n = size_t(length[0]) | size_t(length[1]) << 8;
  while (body.size() < n) {
    auto part = barcodeEngineRead(int(n - body.size()), left(), error);
    if (!part) return std::nullopt;
    body.insert(body.end(), part->begin(), part->end());
  }
  if (n < 2) {
    fwFail(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  body.resize(n - 2);  // the checksum
  return body;
}

std::optional<Bytes> KXDevices::_motoFWSendCommand(const uint8_t* body, int length, double timeoutSeconds,
                                                   Error* error) {
  if (!_motoFWSendPacket(body, length, error)) return std::nullopt;
  auto reply = _motoFWReadPacketWithTimeout(timeoutSeconds, error);
  if (reply) KXUNISDKGlobals::LOG("Moto response: %s", foundation::toHex(*reply).c_str());
  return reply;
}

bool KXDevices::_barcodeZebraUpdateFirmware(const Bytes& file, Error* error) {
  const auto records = parseZebraFile(file);
  if (!records) return fwFail(error, -20, "Firmware file wrong");
  updateNotify(0, 0);
  static constexpr uint8_t kEnterDownload[] = {0x06, 0xEE, 0x04, 0x00, 0x46, 0x44, 0xFE, 0x7E};
  if (!barcodeEngineWrite(kEnterDownload, int(sizeof kEnterDownload), error)) return false;
  pause(2.0);
  if (auto answer = barcodeEngineRead(0, 5.0, nullptr))
    KXUNISDKGlobals::LOG("EnterFW response: %s", foundation::toHex(*answer).c_str());

  auto replyIs = [](const std::optional<Bytes>& r, uint8_t code) {
    return r && r->size() > 4 && (*r)[3] == code && (*r)[4] == 0;
  };
  static constexpr uint8_t kPing[] = {0x05, 0x64, 0x00, 0x01};
  static constexpr uint8_t kFast[] = {0x06, 0x64, 0x00, 0x07, 0x05};
  if (!_barcodeEngineChangeBaudRate(9600, error)) return false;
  pause(0.1);
  KXUNISDKGlobals::LOG("Ping on 9600");
  if (!replyIs(_motoFWSendCommand(kPing, int(sizeof kPing), 1.0, nullptr), 0x81))
    return fwFail(error, -20, "Ping failed");
  KXUNISDKGlobals::LOG("Change on 115200");
  if (!replyIs(_motoFWSendCommand(kFast, int(sizeof kFast), 1.0, nullptr), 0x87))
    return fwFail(error, -20, "Change baud failed");
  if (!_barcodeEngineChangeBaudRate(115200, error)) return false;
  pause(0.1);
  KXUNISDKGlobals::LOG("Ping on 115200");
  if (!replyIs(_motoFWSendCommand(kPing, int(sizeof kPing), 1.0, nullptr), 0x81))
    return fwFail(error, -20, "Ping failed");

  int shown = -1;
  for (const auto& record : *records) {
    const int percent = int(record.offset * 100 / (file.size() - 2));
    if (percent != shown) updateNotify(2, shown = percent);
    Bytes body(file.begin() + long(record.offset + 4), file.begin() + long(record.offset + 4 + record.length));
    // Packet bytes 4, 6 and 7 are body bytes 1, 3 and 4.
    if (body.size() > 4 && body[1] == 0x64 && body[3] == 0x04) {
      KXUNISDKGlobals::LOG("NEW PIECE OF FIRMWARE");
      body[4] = 0x03;
    }
    const auto reply = _motoFWSendCommand(body.data(), int(body.size()), 10.0, error);
    if (!reply) return false;
    const uint8_t b3 = reply->size() > 3 ? (*reply)[3] : 0;
    const uint8_t b4 = reply->size() > 4 ? (*reply)[4] : 0xFF;
    if (b4 == 0) continue;
    if (b4 != 2 && b3 == 0x84) return fwFail(error, -20, "AT response failed ");
    char text[64];
    std::snprintf(text, sizeof text, "Update failed with error: %02X:%02X", b3, b4);
    return fwFail(error, -20, text);
  }

  updateNotify(4, 100);
  const auto deadline = firmwareNow() + firmwareSeconds(kZebraEndTimeout);
  for (;;) {
    const double left = std::max(0.0, std::chrono::duration<double>(deadline - firmwareNow()).count());
    const int b = barReadByteTimeout(left, error);
    if (b == 0x04) break;
    if (b < 0) return false;
  }
  updateNotify(3, 100);
  pause(1.0);
  return true;
}

}  // namespace kestra
