// The printer's events and its readers: barcode engine, magnetic reader, encrypted head,
// smart-card and Mifare modules.
#include <cstring>

#include "sdk/foundation/Emsr.h"
#include "sdk/printer/PrinterImpl.h"
#include "sdk/printer/PrinterModels.h"
#include "sdk/printer/PrinterReaders.h"

namespace kestra {

using foundation::Bytes;

void Printer::processData(const Bytes& event) {
  if (event.size() < printer::kEventSize) return;
  const uint8_t flags = event[3];
  auto self = shared_from_this();
  if (flags & printer::kEventBarcode) {
    int type = 0;
    const auto code = scanBarcode(0, &type, nullptr);
    if (code && !code->empty()) {
      Bytes data;
      data.reserve(code->size() + 1);
      data.push_back(uint8_t(type));
      for (char c : *code) data.push_back(uint8_t(c));
      d_->delegates.fanOut(prnsel::kxdev_barcodeData,
                           [&](PrinterDelegate& d) { d.kxdev_barcodeData(data); });
    }
  }
  if (flags & printer::kEventCard) {
    auto tracks = msReadCard(0, nullptr);
    if (tracks) {
      d_->delegates.fanOut(prnsel::magneticCardData, [&](PrinterDelegate& d) {
        d.magneticCardData((*tracks)[0], (*tracks)[1], (*tracks)[2]);
      });
      for (auto& t : *tracks) foundation::secureClear(t);
    }
  }
  if (flags & printer::kEventEncryptedCard) {
    void* owner = printerEmsrOwner(d_->index);
    Bytes data;
    const int n = emsrGetEncryptedCardData(owner, d_->emsrTracks, &data);
    if (n >= 1 && !data.empty()) {
      const int type = data[0] >> 3;
      const int tracks = data[0] & 7;
      std::array<std::optional<std::string>, 3> masked;
      if (type == 3) {
        masked = printer::parseMaskedBlock(data.data() + 1, data.size() - 1);
      } else {
        Bytes m;
        if (emsrGetMaskedData(owner, &m) >= 0) masked = printer::parseMaskedBlock(m.data(), m.size());
      }
      const Bytes payload(data.begin() + 1, data.end());
      d_->delegates.fanOut(prnsel::kxdev_magneticCardEncryptedData, [&](PrinterDelegate& d) {
        d.kxdev_magneticCardEncryptedData(type, tracks, payload, masked[0], masked[1], masked[2], 0);
      });
      foundation::secureClear(data);
    }
  }
  if (flags & (printer::kEventPaperPresent | printer::kEventPaperChanged)) {
    const bool present = flags & printer::kEventPaperPresent;
    {
      std::lock_guard<std::mutex> lock(d_->infoMutex);
      d_->info.paperPresent = present;
    }
    d_->delegates.fanOut(prnsel::paperStatus, [&](PrinterDelegate& d) { d.paperStatus(present); });
  }
}

std::optional<std::string> Printer::scanBarcode(double timeoutSeconds, int* type, Error* error) {
  if (!printer::hasBarcodeEngine(d_->printer)) {
    Impl::fail(error, -7, "Barcode not supported");
    return std::nullopt;
  }
  clearReceive(printer::kChannelPrint);
  if (timeoutSeconds > 0 && !barcodeSetScanTimeout(int(timeoutSeconds), error)) return std::nullopt;
  static const uint8_t scan[3] = {0x1B, 0x42, 0x20};
  if (!prnWrite(scan, printer::kChannelPrint, 3, 10, error)) return std::nullopt;
  Bytes answer(512);
  const int n = prnRead(answer.data(), printer::kChannelPrint, int(answer.size()),
                        timeoutSeconds > 0 ? timeoutSeconds + 0.1 : 1.0, 0, error);
  if (n < 0) return std::nullopt;
  answer.resize(size_t(n));
  const auto code = n >= 3 ? printer::parseBarcodeAnswer(answer) : std::nullopt;
  if (!code) {
    Impl::fail(error, -6, "No barcode was read");
    return std::nullopt;
  }
  if (type) *type = code->type;
  return code->text;
}

bool Printer::barcodeSetScanTimeout(int seconds, Error* error) {
  if (!printer::hasBarcodeEngine(d_->printer)) return Impl::fail(error, -7, "Barcode not supported");
  if (seconds < 0 || seconds > 255 - 32) return Impl::fail(error, -9, "Invalid scan timeout");
  const uint8_t q[3] = {0x1B, 0x42, uint8_t(seconds + 32)};
  if (!prnWrite(q, printer::kChannelPrint, 3, 10, error) || !flushCache(error)) return false;
  d_->scanTimeout = seconds;
  return true;
}

std::string Printer::barcodeType2Text(int type) const { return KXUNISDKGlobals::barcodeType2Text(type, 0); }

std::optional<std::array<std::string, 3>> Printer::msReadCard(double timeoutSeconds, Error* error) {
  const auto& clock = foundation::Clock::current();
  const auto deadline = clock.now() + Impl::seconds(timeoutSeconds);
  clearReceive(printer::kChannelPrint);
  const uint8_t q[3] = {0x1B, 0x3F, uint8_t(d_->printer == 0 ? 3 : 7)};
  if (!prnWrite(q, printer::kChannelPrint, 3, 10, error)) return std::nullopt;
  Bytes answer(512);
  while (true) {
    const auto start = clock.now();
    const int n = prnRead(answer.data(), printer::kChannelPrint, int(answer.size()), 10, 0, error);
    if (n < 0) return std::nullopt;
    if (n < 2 && deadline - clock.now() >= std::chrono::seconds(2) &&
        clock.now() - start >= std::chrono::seconds(9))
      continue;
    if (n < 5) {
      Impl::fail(error, -6, "Timeout reading card");
      return std::nullopt;
    }
    answer.resize(size_t(n));
    auto tracks = printer::parseCardTracks(answer);
    foundation::secureClear(answer);
    return tracks;
  }
}

std::optional<KXFinancialCardDictionary> Printer::msProcessFinancialCard(
    std::optional<std::string_view> track1, std::optional<std::string_view> track2) const {
  return KXUNISDKGlobals::msProcessFinancialCard(track1, track2);
}

void Printer::emsrSetTracks(int tracks) { d_->emsrTracks = tracks; }

int Printer::emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int replyRoom, int timeoutMs) {
  if (length < 0 || !reply || replyRoom < int(printer::kHeaderSize)) return -9;
  const double t = timeoutMs / 1000.0;
  Error e;
  if (!prnWrite(packet, printer::kChannelEncryptedHead, uint64_t(length), t, &e)) return e.code ? e.code : -6;
  const int h = prnRead(reply, printer::kChannelEncryptedHead, 4, t, kNoStopByte, &e);
  if (h < 0) return e.code ? e.code : -6;
  if (h != 4) return -6;
  const int n = foundation::readBE16(reply + 2);
  // The reply must fit where the library keeps it; a longer one is an error, not an overrun.
  if (n > replyRoom - 4) {
    Bytes drop(size_t(n > 2048 ? 2048 : n));
    prnRead(drop.data(), printer::kChannelEncryptedHead, int(drop.size()), t, kNoStopByte, nullptr);
    return -6;
  }
  if (n > 0 && prnRead(reply + 4, printer::kChannelEncryptedHead, n, t, kNoStopByte, nullptr) != n)
    return -6;
  return 4 + n;
}

// ---- Card modules ----------------------------------------------------------------------------

namespace {

// One module exchange: the reply's data (after the module header), or nothing with the
// error set.
std::optional<Bytes> moduleCommand(Printer& p, Printer::Impl& d, int channel, uint8_t command,
                                   const Bytes& data, Error* error) {
  Bytes frame;
  if (!printer::moduleFrame(command, data.data(), data.size(), &frame)) {
    Printer::Impl::fail(error, -9, "Module data too long");
    return std::nullopt;
  }
  const bool wasCached = d.cached;
  if (!p.flushCache(error)) return std::nullopt;
  if (!p.prnWrite(frame.data(), channel, frame.size(), 10, error)) return std::nullopt;
  uint8_t header[4];
  if (p.prnRead(header, channel, 4, 10, kNoStopByte, nullptr) != 4) {
    p.setCached(wasCached);
    Printer::Impl::fail(error, -6, "Timeout reading universal reader response");
    return std::nullopt;
  }
  const int n = foundation::readBE16(header + 2);
  Bytes reply(static_cast<size_t>(n), 0);
  if (n > 0) {
    const int got = p.prnRead(reply.data(), channel, n, 10, kNoStopByte, error);
    if (got < 0) return std::nullopt;
    reply.resize(size_t(got));
  }
  return reply;
}

// A Mifare reply: status at byte 2, results from byte 3.
std::optional<Bytes> mifare(Printer& p, Printer::Impl& d, uint8_t command, const Bytes& data, Error* error) {
  auto r = moduleCommand(p, d, printer::kChannelMifare, command, data, error);
  if (!r) return std::nullopt;
  if (r->size() < 3) {
    Printer::Impl::fail(error, -7, "Mifare module failed to respomd");
    return std::nullopt;
  }
  if ((*r)[2] != 0) {
    Printer::Impl::fail(error, -10000 - (*r)[2], "Mifare command failed");
    return std::nullopt;
  }
  return r;
}

uint32_t gMifareSerial = 0;
std::mutex gMifareMutex;

Bytes be32(uint32_t v) {
  Bytes b;
  foundation::appendBE32(b, v);
  return b;
}

}  // namespace

bool Printer::scInit(Error* error) {
  if (!openChannel(printer::kChannelSmartCard, error)) return false;
  return moduleCommand(*this, *d_, printer::kChannelSmartCard, 2, {1}, error).has_value();
}

bool Printer::scClose(Error* error) {
  if (!moduleCommand(*this, *d_, printer::kChannelSmartCard, 2, {0}, error)) return false;
  closeChannel(printer::kChannelSmartCard);
  return true;
}

std::optional<Bytes> Printer::scReset(Error* error) {
  auto r = moduleCommand(*this, *d_, printer::kChannelSmartCard, 16, {}, error);
  if (!r || r->size() < 2) return std::nullopt;
  return r;
}

bool Printer::scIsCardPresent(Error* error) {
  auto r = moduleCommand(*this, *d_, printer::kChannelSmartCard, 3, {}, error);
  return r && !r->empty() && (*r)[0] == 1;
}

std::optional<Bytes> Printer::scAPDU(int cla, int ins, int p1, int p2, const Bytes& data, int maxReply,
                                     Error* error) {
  Bytes apdu;
  if (!printer::buildApdu(cla, ins, p1, p2, data, maxReply, &apdu)) {
    Impl::fail(error, -9, "APDU data too long");
    return std::nullopt;
  }
  return scAPDU(apdu, error);
}

std::optional<Bytes> Printer::scAPDU(const Bytes& apdu, Error* error) {
  return moduleCommand(*this, *d_, printer::kChannelSmartCard, 19, apdu, error);
}

namespace {
bool openMifare(Printer& p, Error* error) {
  if (!p.openChannel(printer::kChannelSmartCard, nullptr))
    return Printer::Impl::fail(error, -7, "Mifare module not supported or the printer is not in protocol mode");
  return true;
}
}  // namespace

bool Printer::mfInit(Error* error) {
  if (!openMifare(*this, error)) return false;
  return mifare(*this, *d_, 0, {1}, error) && mifare(*this, *d_, 1, {}, error);
}

bool Printer::mfClose(Error* error) { return mifare(*this, *d_, 0, {0}, error).has_value(); }

std::optional<std::string> Printer::mfIdent(Error* error) {
  if (!openMifare(*this, error)) return std::nullopt;
  auto r = mifare(*this, *d_, 1, {}, error);
  if (!r) return std::nullopt;
  return std::string(r->begin() + 3, r->end());
}

bool Printer::mfRequestCards(int type, uint8_t* rq1, uint8_t* rq2, Error* error) {
  auto r = mifare(*this, *d_, 2, {uint8_t(type)}, error);
  if (!r) return false;
  if (r->size() < 5) return Impl::fail(error, -7, "Mifare module failed to respomd");
  if (rq1) *rq1 = (*r)[3];
  if (rq2) *rq2 = (*r)[4];
  return true;
}

bool Printer::mfAnticollision(uint32_t* serial, Error* error) {
  auto r = mifare(*this, *d_, 3, {}, error);
  if (!r) return false;
  if (r->size() < 7) return Impl::fail(error, -7, "Mifare module failed to respomd");
  if (serial) *serial = foundation::readBE32(r->data() + 3);
  return true;
}

bool Printer::mfSelectCard(uint32_t serial, uint8_t* sak, Error* error) {
  {
    std::lock_guard<std::mutex> lock(gMifareMutex);
    gMifareSerial = serial;
  }
  auto r = mifare(*this, *d_, 4, be32(serial), error);
  if (!r) return false;
  if (r->size() < 4) return Impl::fail(error, -7, "Mifare module failed to respomd");
  if (sak) *sak = (*r)[3];
  return true;
}

namespace {
uint32_t mifareSerial() {
  std::lock_guard<std::mutex> lock(gMifareMutex);
  return gMifareSerial;
}
}  // namespace

bool Printer::mfAuthByKey(char type, int block, const std::optional<Bytes>& key, Error* error) {
  if (!key || key->size() != 6) return Impl::fail(error, -9, "Invalid key");
  if (type != 'A' && type != 'B') return Impl::fail(error, -9, "Type can be A or B");
  if (block < 0 || block > 255) return Impl::fail(error, -9, "Block number is invalid");
  Bytes data = *key;
  data.push_back(type == 'A' ? 0x60 : 0x61);
  const Bytes s = be32(mifareSerial());
  data.insert(data.end(), s.begin(), s.end());
  data.push_back(uint8_t(block));
  const bool ok = mifare(*this, *d_, 5, data, error).has_value();
  foundation::secureClear(data);
  return ok;
}

std::optional<Bytes> Printer::mfRead(int block, Error* error) {
  if (block < 0 || block > 255) {
    Impl::fail(error, -9, "Block number is invalid");
    return std::nullopt;
  }
  auto r = mifare(*this, *d_, 6, {uint8_t(block)}, error);
  if (!r) return std::nullopt;
  return Bytes(r->begin() + 3, r->end());
}

bool Printer::mfWrite(int block, const std::optional<Bytes>& data, Error* error) {
  if (block < 0 || block > 255 || !data || data->empty())
    return Impl::fail(error, -9, "Block number is invalid or data buffer is 0");
  Bytes payload{uint8_t(block)};
  payload.insert(payload.end(), data->begin(), data->end());
  return mifare(*this, *d_, 7, payload, error).has_value();
}

bool Printer::mfValueOperation(int operation, int sourceBlock, int destinationBlock, uint32_t value,
                               Error* error) {
  if (operation < 0xC0 || operation > 0xC2) return Impl::fail(error, -9, "Invalid operation");
  Bytes payload{uint8_t(operation), uint8_t(sourceBlock)};
  const Bytes v = be32(value);
  payload.insert(payload.end(), v.begin(), v.end());
  payload.push_back(uint8_t(destinationBlock));
  return mifare(*this, *d_, 8, payload, error).has_value();
}

bool Printer::mfGetReaderSerial(uint32_t* serial, Error* error) {
  auto r = mifare(*this, *d_, 10, {}, error);
  if (!r) return false;
  if (r->size() < 7) return Impl::fail(error, -7, "Mifare module failed to respomd");
  if (serial) *serial = foundation::readBE32(r->data() + 3);
  return true;
}

bool Printer::mfWriteValue(int block, uint32_t value, Error* error) {
  Bytes payload{uint8_t(block)};
  const Bytes v = be32(value);
  payload.insert(payload.end(), v.begin(), v.end());
  return mifare(*this, *d_, 12, payload, error).has_value();
}

bool Printer::mfLoadKey(int keyID, const Bytes& key, Error* error) {
  if (keyID < 0 || keyID > 31) return Impl::fail(error, -9, "keyID must be between 0 and 31");
  if (key.size() != 6) return Impl::fail(error, -9, "Invalid key");
  Bytes payload{uint8_t(keyID)};
  payload.insert(payload.end(), key.begin(), key.end());
  const bool ok = mifare(*this, *d_, 13, payload, error).has_value();
  foundation::secureClear(payload);
  return ok;
}

bool Printer::mfAuthByLoadedKey(char type, int block, int keyID, Error* error) {
  if (type != 'A' && type != 'B') return Impl::fail(error, -9, "Type can be A or B");
  if (keyID < 0 || keyID > 31) return Impl::fail(error, -9, "keyID must be between 0 and 31");
  Bytes payload{uint8_t(type == 'A' ? 0x60 : 0x61)};
  const Bytes s = be32(mifareSerial());
  payload.insert(payload.end(), s.begin(), s.end());
  payload.push_back(uint8_t(keyID));
  payload.push_back(uint8_t(block));
  return mifare(*this, *d_, 14, payload, error).has_value();
}

}  // namespace kestra
