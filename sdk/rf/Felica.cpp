#include "sdk/rf/Felica.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "sdk/rf/RFWrapper.h"

namespace kestra {

using foundation::Bytes;

namespace {

constexpr uint8_t kCmdPolling = 0x00;
constexpr uint8_t kCmdRead = 0x06;
constexpr uint8_t kCmdWrite = 0x08;
constexpr int kReadAttempts = 3;
constexpr int kMaxFrameData = 255;

// Smart-tag commands.
constexpr uint8_t kTagDraw = 0xA0;
constexpr uint8_t kTagClear = 0xA1;
constexpr uint8_t kTagWriteMemory = 0xB0;
constexpr uint8_t kTagSaveLayout = 0xB2;
constexpr uint8_t kTagReadMemory = 0xC0;
constexpr uint8_t kTagStatus = 0xD0;
constexpr uint8_t kTagReady0 = 0xF0;
constexpr uint8_t kTagReady1 = 0xF1;
constexpr uint8_t kTagBusy = 0xF2;

std::atomic<uint8_t> felicaSeq{1};

bool ready(uint8_t status) { return status == kTagReady0 || status == kTagReady1; }

Bytes blockList(int startBlock, int count) {
  Bytes list;
  for (int i = 0; i < count; ++i) list.insert(list.end(), {0x80, uint8_t(startBlock + i)});
  return list;
}

int ceilDiv(int a, int b) { return (a + b - 1) / b; }

// The next sequence number of a smart-tag command: 1..255, never 0.
uint8_t nextSequence() {
  uint8_t current = felicaSeq.load();
  uint8_t next;
  do {
    next = current >= 255 ? 1 : uint8_t(current + 1);
  } while (!felicaSeq.compare_exchange_weak(current, next));
  return next;
}

// One smart-tag command block (plus `nBlocks` blocks of data) written to block 0 of the
// tag's service.
int smartTagCommand(int cardIndex, uint8_t command, int totalPackets, int packetNumber, const uint8_t header[8],
                    int nBlocks, const uint8_t* data, int dataLength) {
  Bytes block(16, 0);
  block[0] = command;
  block[1] = uint8_t(totalPackets);
  block[2] = uint8_t(packetNumber);
  block[3] = uint8_t(nBlocks * kFelicaBlockSize);
  block[4] = command == kTagStatus ? 0 : nextSequence();
  if (header) std::memcpy(block.data() + 8, header, 8);
  Bytes params{0x01, uint8_t(kFelicaSmartTagService >> 8), uint8_t(kFelicaSmartTagService & 0xFF),
               uint8_t(nBlocks + 1)};
  for (int i = 0; i <= nBlocks; ++i) params.insert(params.end(), {0x80, 0x00});
  params.insert(params.end(), block.begin(), block.end());
  Bytes payload(size_t(nBlocks) * kFelicaBlockSize, 0);
  if (data && dataLength > 0) std::memcpy(payload.data(), data, size_t(std::min<int>(dataLength, int(payload.size()))));
  params.insert(params.end(), payload.begin(), payload.end());
  rfDbgData("FW", params.data(), int(params.size()));
  Bytes answer;
  const int r = felicaRawCommand(cardIndex, kCmdWrite, params.data(), int(params.size()), &answer);
  if (r < 0) return r;
  if (answer.size() < 3) return -6;
  if (answer[1] != 0 || answer[2] != 0) return -20;
  return 0;
}

int readResponse(int cardIndex, int nBlocks, Bytes* out) {
  if (nBlocks < 1) return 0;
  Bytes blocks;
  const int r = felicaRead(cardIndex, kFelicaSmartTagService, 0, nBlocks + 1, &blocks);
  if (r < 0) return r;
  if (blocks.size() < size_t(nBlocks + 1) * kFelicaBlockSize) return -6;
  if (!ready(blocks[3])) return -20;
  if (out) out->insert(out->end(), blocks.begin() + kFelicaBlockSize, blocks.end());
  return 0;
}

}  // namespace

uint8_t felicaSmartTagSequence() { return felicaSeq.load(); }
void felicaSetSmartTagSequence(uint8_t sequence) { felicaSeq.store(sequence); }

int felicaInitCard(int cardIndex) {
  return rfUpdateCard(cardIndex, [](RFCardEntry& e) { e.blockSize = kFelicaBlockSize; }) ? 1 : 0;
}

int felicaTransieve(int cardIndex, const uint8_t* data, int length, Bytes* out) {
  if (length < 0 || length > kMaxFrameData - 1 || (length > 0 && !data)) return -9;
  int channel;
  if (cardIndex & 0x80) {
    channel = cardIndex & 0x7F;
  } else {
    const auto card = rfCard(cardIndex);
    if (!card) return -9;
    channel = card->channel;
  }
  Bytes frame{uint8_t(length + 1)};
  frame.insert(frame.end(), data, data + length);
  RFCmdGuard guard;
  const int r = rfCardTransceive(channel, frame.data(), int(frame.size()));
  if (r < 0) return r;
  if (out) *out = rfCmdAnswer();
  return 0;
}

int felicaRawCommand(int cardIndex, uint8_t command, const uint8_t* data, int length, Bytes* out) {
  const auto card = rfCard(cardIndex);
  if (!card) return -9;
  if (length < 0 || (length > 0 && !data)) return -9;
  Bytes frame{command};
  frame.insert(frame.end(), card->UID, card->UID + std::clamp(card->uidLen, 0, int(sizeof card->UID)));
  frame.insert(frame.end(), data, data + length);
  Bytes answer;
  RFCmdGuard guard;
  const int r = felicaTransieve(cardIndex, frame.data(), int(frame.size()), &answer);
  if (r < 0) return r;
  if (answer.size() < 9) return -6;
  // The response code, then what follows the IDm.
  Bytes stripped{answer[0]};
  stripped.insert(stripped.end(), answer.begin() + 9, answer.end());
  rfSetCmdAnswer(stripped.data(), stripped.size());
  if (out) *out = std::move(stripped);
  return 0;
}

int felicaPoll(int cardIndex, uint8_t out[8]) {
  const uint8_t poll[] = {kCmdPolling, 0xFF, 0xFF, 0x00, 0x00};
  Bytes answer;
  const int r = felicaTransieve(cardIndex, poll, sizeof poll, &answer);
  if (r < 0) return r;
  // [response code][IDm 8][PMm 8]
  if (answer.size() < 9) return -6;
  if (out) std::memcpy(out, answer.data() + 1, 8);
  return 0;
}

int felicaRead(int cardIndex, uint16_t service, int startBlock, int count, Bytes* out) {
  if (count < 1 || count > 15) return -9;
  Bytes params{0x01, uint8_t(service >> 8), uint8_t(service & 0xFF), uint8_t(count)};
  const Bytes list = blockList(startBlock, count);
  params.insert(params.end(), list.begin(), list.end());
  RFCmdGuard guard;
  Bytes answer;
  int r = -6;
  for (int attempt = 0; attempt < kReadAttempts && r == -6; ++attempt)
    r = felicaRawCommand(cardIndex, kCmdRead, params.data(), int(params.size()), &answer);
  if (r < 0) return r;
  if (answer.size() < 3) return -6;
  if (answer[1] != 0 || answer[2] != 0) return -20;
  if (answer.size() < 4) return -6;
  const size_t blocks = answer[3];
  if (answer.size() < 4 + blocks * kFelicaBlockSize) return -6;
  const Bytes data(answer.begin() + 4, answer.begin() + long(4 + blocks * kFelicaBlockSize));
  rfSetCmdAnswer(data.data(), data.size());
  rfDbg("FR");
  if (out) *out = data;
  return 0;
}

int felicaWrite(int cardIndex, uint16_t service, int startBlock, int count, const Bytes& data) {
  if (count < 1 || count > 12 || data.size() < size_t(count) * kFelicaBlockSize) return -9;
  Bytes params{0x01, uint8_t(service >> 8), uint8_t(service & 0xFF), uint8_t(count)};
  const Bytes list = blockList(startBlock, count);
  params.insert(params.end(), list.begin(), list.end());
  params.insert(params.end(), data.begin(), data.begin() + long(size_t(count) * kFelicaBlockSize));
  Bytes answer;
  const int r = felicaRawCommand(cardIndex, kCmdWrite, params.data(), int(params.size()), &answer);
  if (r < 0) return r;
  if (answer.size() < 3) return -6;
  if (answer[1] != 0 || answer[2] != 0) return -20;
  return 0;
}

int felicaSmartTagGetStatus(int cardIndex, Bytes* out, bool anyStatus, bool wait) {
  RFCmdGuard guard;
  for (int retries = 0;; ++retries) {
    int r = smartTagCommand(cardIndex, kTagStatus, 1, 1, nullptr, 0, nullptr, 0);
    if (r < 0) return r;
    Bytes status;
    r = felicaRead(cardIndex, kFelicaSmartTagService, 0, 1, &status);
    if (r < 0) return r;
    if (status.size() < size_t(kFelicaBlockSize)) return -6;
    felicaSeq.store(status[4]);
    if (ready(status[3]) || (status[3] == kTagBusy && !wait)) {
      if (out) *out = status;
      return 0;
    }
    if (!wait || status[3] != kTagBusy || retries >= kFelicaSmartTagStatusRetries) break;
    rfSleep(kFelicaSmartTagRetryDelayMs);
  }
  return anyStatus ? 0 : -20;
}

int felicaSmartTagWaitCompletion(int cardIndex) { return felicaSmartTagGetStatus(cardIndex, nullptr, false, true); }

int felicaSmartTagGetBatteryStatus(int cardIndex, int* battery) {
  Bytes status;
  const int r = felicaSmartTagGetStatus(cardIndex, &status, true, false);
  if (r < 0) return r;
  if (battery && status.size() > 6) *battery = status[6];
  return 0;
}

int felicaSmartTagClearScreen(int cardIndex) {
  RFCmdGuard guard;
  const int r = smartTagCommand(cardIndex, kTagClear, 1, 1, nullptr, 0, nullptr, 0);
  if (r < 0) return r;
  return felicaSmartTagGetStatus(cardIndex, nullptr, false, false);
}

int felicaSmartTagDrawImage(int cardIndex, int x, int y, int width, int height, int drawMode, int layout,
                            const Bytes& image) {
  if (x < 0 || y < 0 || width < 0 || height < 0) return -9;
  const int rowBytes = ceilDiv(width, 8);
  const int total = rowBytes * height;
  if (image.size() < size_t(total)) return -9;
  RFCmdGuard guard;
  if (total > 0) {
    const int blocks = ceilDiv(total, kFelicaBlockSize);
    const int packets = ceilDiv(blocks, kFelicaSmartTagBlocksPerPacket);
    const int right = (x + width) % 8;
    const uint8_t header[8] = {uint8_t(x / 8 + 1),     uint8_t(y + 1),   uint8_t(x % 8),
                               uint8_t(right == 0 ? 0 : 8 - right), uint8_t(rowBytes), uint8_t(drawMode),
                               uint8_t(layout),        3};
    int sent = 0;
    for (int p = 0; p < packets; ++p) {
      const int n = std::min(kFelicaSmartTagBlocksPerPacket, blocks - p * kFelicaSmartTagBlocksPerPacket);
      const int bytes = std::min(n * kFelicaBlockSize, total - sent);
      const int r = smartTagCommand(cardIndex, kTagDraw, packets, p + 1, header, n, image.data() + sent, bytes);
      if (r < 0) return r;
      sent += bytes;
    }
  }
  return felicaSmartTagGetStatus(cardIndex, nullptr, false, false);
}

int felicaSmartTagSaveLayout(int cardIndex, int layout) {
  const uint8_t header[8] = {uint8_t(layout), 0, 0, 0, 0, 0, 0, 0};
  return smartTagCommand(cardIndex, kTagSaveLayout, 1, 1, header, 0, nullptr, 0);
}

int felicaSmartTagDisplayLayout(int cardIndex, int layout) {
  const uint8_t header[8] = {0, 0, 0, 0, 0, 3, uint8_t(layout), 1};
  return smartTagCommand(cardIndex, kTagDraw, 1, 1, header, 0, nullptr, 0);
}

int felicaSmartTagWrite(int cardIndex, int address, const Bytes& data) {
  const int length = int(data.size());
  RFCmdGuard guard;
  const int blocks = ceilDiv(length, kFelicaBlockSize);
  const int packets = ceilDiv(blocks, kFelicaSmartTagBlocksPerPacket);
  int sent = 0;
  for (int p = 0; p < packets; ++p) {
    const int n = std::min(kFelicaSmartTagBlocksPerPacket, blocks - p * kFelicaSmartTagBlocksPerPacket);
    const int bytes = std::min(n * kFelicaBlockSize, length - sent);
    const uint8_t header[8] = {uint8_t(address >> 8), uint8_t(address), uint8_t(bytes >> 8), uint8_t(bytes),
                               0, 0, 0, 0};
    const int r = smartTagCommand(cardIndex, kTagWriteMemory, packets, p + 1, header, n, data.data() + sent, bytes);
    if (r < 0) return r;
    sent += bytes;
    address += bytes;
  }
  return felicaSmartTagGetStatus(cardIndex, nullptr, false, true);
}

int felicaSmartTagRead(int cardIndex, int address, int length, Bytes* out) {
  if (length < 0) return -9;
  RFCmdGuard guard;
  Bytes data;
  int remaining = length;
  while (remaining > 0) {
    const int n = std::min(ceilDiv(remaining, kFelicaBlockSize), kFelicaSmartTagBlocksPerPacket);
    const int bytes = n * kFelicaBlockSize;
    const uint8_t header[8] = {uint8_t(address >> 8), uint8_t(address), uint8_t(bytes >> 8), uint8_t(bytes),
                               0, 0, 0, 0};
    int r = smartTagCommand(cardIndex, kTagReadMemory, 1, 1, header, 0, nullptr, 0);
    if (r < 0) return r;
    r = readResponse(cardIndex, n, &data);
    if (r < 0) return r;
    address = (address + bytes) & 0xFFFF;
    remaining -= bytes;
  }
  data.resize(size_t(length));
  if (out) *out = std::move(data);
  return 0;
}

}  // namespace kestra
