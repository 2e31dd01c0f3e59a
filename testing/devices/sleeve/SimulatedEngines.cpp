#include "testing/devices/sleeve/SimulatedEngines.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace devices {

namespace {

// CRC-16/XMODEM, written out here so the simulator checks the driver against its own code.
uint16_t crc16Xmodem(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint16_t(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x1021) : uint16_t(crc << 1);
  }
  return crc;
}

uint32_t crc32Of(const uint8_t* p, size_t n) { return uint32_t(crc32(crc32(0L, Z_NULL, 0), p, uInt(n))); }

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::unique_ptr<SimulatedEngine> SimulatedEngine::make(Family family) {
  switch (family) {
    case Family::Code: return std::make_unique<CodeEngine>();
    case Family::Newland: return std::make_unique<NewlandEngine>();
    case Family::Opticon: break;
  }
  return std::make_unique<OpticonEngine>();
}

void SimulatedEngine::receive(const Bytes& bytes) {
  written.insert(written.end(), bytes.begin(), bytes.end());
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  while (!pending_.empty() && parse(pending_)) {
  }
}

Bytes SimulatedEngine::takeOutput() {
  if (output.empty()) return {};
  Bytes b = std::move(output.front());
  output.pop_front();
  return b;
}

void SimulatedEngine::say(Bytes message) {
  if (silent) return;
  if (corrupt) {
    for (auto& b : message) b ^= 0x01;
    corrupt = false;
  }
  output.push_back(std::move(message));
}

// ---- Code -------------------------------------------------------------------------------------

void CodeEngine::answer(const std::string& text) {
  Bytes m = {0x01, 'X', 0x1E, '0', '0', '0'};
  m.insert(m.end(), text.begin(), text.end());
  m.push_back(0x04);
  say(std::move(m));
}

void CodeEngine::answerLong(const std::string& text) {
  const size_t length = text.size() + 7;
  Bytes m = {0x01, 'X', 'R'};
  Bytes header(12, '0');
  header[5] = uint8_t(++sequence_);
  header[10] = uint8_t(length >> 8);
  header[11] = uint8_t(length);
  m.insert(m.end(), header.begin(), header.end());
  const Bytes lead = {0x01, 'X', 0x1E, '0', '0', '0'};
  m.insert(m.end(), lead.begin(), lead.end());
  m.insert(m.end(), text.begin(), text.end());
  m.insert(m.end(), {'0', '0', '0'});
  say(std::move(m));
}

bool CodeEngine::parse(Bytes& p) {
  static const Bytes kStart = {0xEE, 0xEE, 0xEE, 0xEE};
  auto at = std::search(p.begin(), p.end(), kStart.begin(), kStart.end());
  if (at != p.begin()) {
    p.erase(p.begin(), at == p.end() ? p.end() - std::min<long>(3, long(p.size())) : at);
    if (at == p.end()) return false;
  }
  if (p.size() < 6) return false;
  const size_t n = p[5], total = 6 + n + 3;
  if (p.size() < total) return false;
  Bytes packet(p.begin(), p.begin() + long(total));
  p.erase(p.begin(), p.begin() + long(total));
  const uint16_t crc = crc16Xmodem(packet.data() + 4, n + 3);
  if (packet[6 + n] != 0x00 || packet[7 + n] != ((crc >> 8) & 0x7F) || packet[8 + n] != (crc & 0x7F))
    return true;  // a spoilt packet is ignored, as the engine does
  const char command = char(packet[4]);
  const Bytes data(packet.begin() + 6, packet.begin() + 6 + long(n));
  const std::string text(data.begin(), data.end());
  // "(xx)" names a parameter in hexadecimal; a value may follow the bracket.
  auto paramOf = [&](size_t* end) {
    *end = text.find(')');
    return int(std::strtol(text.c_str() + 1, nullptr, 16));
  };
  switch (command) {
    case 'G': {
      size_t end;
      const int param = paramOf(&end);
      if (refuse) return answer("e"), true;
      char buf[32];
      std::snprintf(buf, sizeof buf, "d%llx", static_cast<unsigned long long>(params[param]));
      answer(buf);
      return true;
    }
    case 'P': {
      size_t end;
      const int param = paramOf(&end);
      if (end != std::string::npos) params[param] = std::strtoull(text.c_str() + end + 1, nullptr, 16);
      answer(refuse ? "e" : "d");
      return true;
    }
    case 'I':
      if (refuse) return answer("e"), true;
      answerLong(information);
      return true;
    case '1':
      loading_.clear();
      loadDone_ = false;
      uploaded.clear();
      answer(refuse ? "e" : "d");
      return true;
    case '2':
      uploaded.insert(uploaded.end(), data.begin(), data.end());
      return true;
    case 'S': {
      if (data.size() == 4 && be32(data.data()) == 0xFFFFFFFFu) {
        loadDone_ = updateMode && !refuse;
        answer(loadDone_ ? "s" : "e");
        return true;
      }
      // Each chunk names the image offset just past it: a chunk out of place spoils the load.
      if (data.size() < 4 || be32(data.data()) != loading_.size() + data.size() - 4) {
        loading_.clear();
        updateMode = false;
        return true;
      }
      loading_.insert(loading_.end(), data.begin() + 4, data.end());
      return true;
    }
    case '5': {
      const std::string name = text.substr(0, text.find(' '));
      if (loadDone_) {
        loadDone_ = false;
        if (refuse) return answer("e"), true;
        firmware = loading_;
        installedFile = name;
        ++firmwareUpdates;
        answer("mready");
        return true;
      }
      // An uploaded file: taken, then stored.
      answer("d");
      if (refuse) return answer("f"), true;
      installedFile = name;
      answer("d");
      return true;
    }
    case 'Y':
      if (!data.empty()) acknowledged.push_back(data[0]);
      return true;
    default:
      answer("e");
      return true;
  }
}

// ---- Newland -----------------------------------------------------------------------------------

namespace {
Bytes newlandAnswer(const std::string& text) {
  Bytes m = {0x02, 0x05, uint8_t(text.size() >> 8), uint8_t(text.size())};
  m.insert(m.end(), text.begin(), text.end());
  const uint32_t crc = crc32Of(m.data(), m.size());
  m.insert(m.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
  return m;
}
}  // namespace

bool NewlandEngine::parse(Bytes& p) {
  if (downloading_) {
    constexpr size_t kFrame = 1029;
    if (p.size() < kFrame) return false;
    Bytes frame(p.begin(), p.begin() + kFrame);
    p.erase(p.begin(), p.begin() + kFrame);
    const bool good = frame[0] == 0x02 && crc32Of(frame.data(), 1025) == be32(frame.data() + 1025);
    if (good && !refuse) {
      image_.insert(image_.end(), frame.begin() + 1, frame.begin() + 1025);
      if (++framesTaken_ == frames_) downloading_ = false;
    }
    say(Bytes{uint8_t(good && !refuse ? '*' : '!')});
    return true;
  }
  if (p[0] == 0x7E) {
    if (p.size() < 4) return false;
    const size_t n = be16(p.data() + 2), total = 4 + n + 1;
    if (p.size() < total) return false;
    uint8_t lrc = 0xFF;
    for (size_t i = 2; i < total; ++i) lrc ^= p[i];
    p.erase(p.begin(), p.begin() + long(total));
    if (lrc != 0 || refuse) return true;  // a bad check byte gets no answer
    Bytes m = {0x02, 0x00, uint8_t((queryAnswer.size() + 1) >> 8), uint8_t(queryAnswer.size() + 1), 0x34};
    m.insert(m.end(), queryAnswer.begin(), queryAnswer.end());
    uint8_t check = 0;
    for (uint8_t b : queryAnswer) check ^= b;
    m.push_back(check);
    say(std::move(m));
    return true;
  }
  if (p[0] == 0x02) {
    if (p.size() < 4) return false;
    if (p[1] != 0x05) {
      p.erase(p.begin());
      return true;
    }
    const size_t n = be16(p.data() + 2), total = 4 + n + 4;
    if (p.size() < total) return false;
    Bytes frame(p.begin(), p.begin() + long(total));
    p.erase(p.begin(), p.begin() + long(total));
    if (crc32Of(frame.data(), 4 + n) != be32(frame.data() + 4 + n)) {
      say(newlandAnswer("2"));  // check error
      return true;
    }
    const std::string text(frame.begin() + 4, frame.begin() + 4 + long(n));
    commands.push_back(text);
    if (refuse) return say(newlandAnswer("1")), true;
    if (startsWith(text, "!DataLens:")) dataLength_ = size_t(std::atol(text.c_str() + 10));
    if (startsWith(text, "!Frames:")) frames_ = size_t(std::atol(text.c_str() + 8));
    if (text == ">Start") {
      if (!updateMode || frames_ == 0) return say(newlandAnswer("1")), true;
      downloading_ = true;
      framesTaken_ = 0;
      image_.clear();
    }
    if (text == "@Exit") {
      if (frames_ && framesTaken_ == frames_) {
        image_.resize(std::min(image_.size(), dataLength_));
        firmware = image_;
        ++firmwareUpdates;
      }
      return true;  // restarts without an answer
    }
    say(newlandAnswer("0"));
    return true;
  }
  p.erase(p.begin());
  return true;
}

// ---- Opticon ------------------------------------------------------------------------------------

bool OpticonEngine::parse(Bytes& p) {
  constexpr size_t kBlock = 8198;
  if (updateMode) {
    if (p.size() < kBlock) return false;
    Bytes block(p.begin(), p.begin() + kBlock);
    p.erase(p.begin(), p.begin() + kBlock);
    if (block[0] == 'E' && block[1] == 'D') {
      if (failAtEnd || refuse) return say(foundation::bytesOf("WE")), true;
      firmware = image_;
      ++firmwareUpdates;
      say(foundation::bytesOf("OK F"));
      return true;
    }
    uint32_t sum = 0;
    for (size_t i = 4; i < 4 + 8192; ++i) sum += block[i];
    const bool good = uint16_t(sum) == uint16_t(block[8196] | block[8197] << 8) &&
                      block[2] == 0x00 && block[3] == 0x20;
    if (refuse) return say(foundation::bytesOf("NG")), true;
    if (!good || retryBlocks > 0) {
      if (retryBlocks > 0) --retryBlocks;
      say(foundation::bytesOf("RT"));
      return true;
    }
    blockNumbers.push_back(block[0] | block[1] << 8);
    image_.insert(image_.end(), block.begin() + 4, block.begin() + 4 + 8192);
    say(foundation::bytesOf("NX"));
    return true;
  }
  if (p[0] != 0x1B) {
    p.erase(p.begin());
    return true;
  }
  auto cr = std::find(p.begin(), p.end(), uint8_t(0x0D));
  if (cr == p.end()) return false;
  const std::string text(p.begin() + 1, cr);
  p.erase(p.begin(), cr + 1);
  if (text == "Z1") {
    say(Bytes{0x06});
    say(foundation::bytesOf(ident + "\r\n"));
  } else if (text == "Z2") {
    saved = true;
  } else {
    params.push_back(text);
  }
  return true;
}

}  // namespace devices
