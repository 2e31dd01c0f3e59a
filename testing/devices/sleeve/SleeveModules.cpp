#include "testing/devices/sleeve/SleeveModules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace devices {

namespace {
constexpr uint8_t kEnter = 0xF0, kErase = 0xF1, kPage = 0xF2, kRestart = 0xF3;
}  // namespace

std::optional<std::string> SleeveModules::imageVersion(const Bytes& image) {
  if (image.size() < 0x134 || std::memcmp(image.data() + 0x100, "SABREL", 7) != 0) return std::nullopt;
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", image[0x131], image[0x132]);
  return std::string(text);
}

Bytes SleeveModules::firmwareImage(size_t size, const std::string& model, uint8_t major, uint8_t minor) {
  Bytes b(std::max<size_t>(size, 0x134), 0xFF);
  auto put = [&](size_t at, const std::string& text) {
    std::fill(b.begin() + long(at), b.begin() + long(at + 16), 0);
    std::memcpy(b.data() + at, text.data(), std::min<size_t>(text.size(), 16));
  };
  put(0x100, "SABREL");
  put(0x110, model);
  put(0x120, "Pellan Pro");
  b[0x130] = 0;
  b[0x131] = major;
  b[0x132] = minor;
  b[0x133] = 0;
  for (size_t i = 0; i < 0x100; ++i) b[i] = uint8_t(i);
  return b;
}

bool SleeveModules::bootLoaderCommand(uint8_t code, const Bytes& data, std::optional<Bytes>* answer,
                                      uint8_t* status) {
  *answer = Bytes{};
  switch (code) {
    case kEnter:
      bootLoader = true;
      return true;
    case kErase:
      if (refuseErases > 0) {
        --refuseErases;
        *status = 1;
        return true;
      }
      flash.clear();
      pageOffsets.clear();
      pagesWritten = 0;
      pageFailed_ = false;
      ++erases;
      return true;
    case kPage: {
      if (unansweredPages > 0) {
        --unansweredPages;
        pageFailed_ = true;
        answer->reset();
        return true;
      }
      if (refusePages > 0) {
        --refusePages;
        pageFailed_ = true;
        *status = 1;
        return true;
      }
      if (data.size() < 5 || data.size() - 4 > pageLimit) {
        pageFailed_ = true;
        *status = 2;
        return true;
      }
      const uint32_t offset = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3];
      if (flash.size() < offset + data.size() - 4) flash.resize(offset + data.size() - 4, 0xFF);
      std::copy(data.begin() + 4, data.end(), flash.begin() + offset);
      pageOffsets.push_back(offset);
      ++pagesWritten;
      if (powerLossAfterPages >= 0 && pagesWritten >= powerLossAfterPages) {
        // Power lost mid-way: no answer, and the loader stays in charge of the half-written flash.
        powerLossAfterPages = -1;
        pageFailed_ = true;
        answer->reset();
        if (onPowerLoss) onPowerLoss();
      }
      return true;
    }
    case kRestart: {
      const auto version = erases && !pageFailed_ ? imageVersion(flash) : std::nullopt;
      bootLoader = !version;
      if (onRestart) onRestart(version ? *version : std::string());
      return true;
    }
  }
  return false;
}

bool SleeveModules::handle(uint8_t code, const Bytes& data, std::optional<Bytes>* answer,
                           uint8_t* status) {
  if (code >= kEnter && code <= kRestart) return bootLoaderCommand(code, data, answer, status);
  // In its boot loader the sleeve knows only its identification and the loader's commands.
  if (bootLoader && code != 1) {
    *answer = Bytes{};
    *status = 4;
    return true;
  }
  *answer = Bytes{};
  switch (code) {
    case 22:
      if (engine) *answer = engine->takeOutput();
      return true;
    case 23:
      if (engineBusyWrites > 0) {
        --engineBusyWrites;
        *status = 9;
        return true;
      }
      if (engine) engine->receive(data);
      return true;
    case 35:
      if (data.empty()) {
        Bytes out = {0x00};
        out.insert(out.end(), initData.begin(), initData.end());
        *answer = out;
        return true;
      }
      ++initDataWrites;
      if (initDataBusy > 0) {
        --initDataBusy;
        *status = 9;
        return true;
      }
      initDataWritten = data;
      return true;
    case 36:
      if (data.size() == 1 && engine) engine->updateMode = data[0] == 1;
      return true;
    case 51:
      ++engineDefaultsResets;
      return true;
    case 67:
      if (data.size() < 4) return *status = 3, true;
      engineBaudRate = int(uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 | uint32_t(data[2]) << 8 | data[3]);
      return true;
    case 48:
      if (data.size() >= 6 && data[0] == 0x01) {
        serialOpen = true;
        serialBaudRate = uint32_t(data[1]) << 24 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 8 | data[4];
      } else if (!data.empty() && data[0] == 0x00) {
        serialOpen = false;
      } else {
        *status = 3;
      }
      return true;
    case 49: {
      if (!serialOpen) return *status = 7, true;
      size_t taken = std::min(data.size(), serialTakeMax);
      if (serialZeroTakes > 0) {
        --serialZeroTakes;
        taken = 0;
      }
      serialWritten.insert(serialWritten.end(), data.begin(), data.begin() + long(taken));
      *answer = Bytes{uint8_t(taken >> 8), uint8_t(taken)};
      return true;
    }
    case 50: {
      if (!serialOpen) return *status = 7, true;
      const size_t n = std::min(serialReadChunk, serialToHost.size());
      *answer = Bytes(serialToHost.begin(), serialToHost.begin() + long(n));
      serialToHost.erase(serialToHost.begin(), serialToHost.begin() + long(n));
      return true;
    }
    case 68:
      uhfCommands.push_back(data);
      if (data.size() == 2 && data[0] == 0x00) uhfOn = data[1] == 0x01;
      return true;
    default:
      return false;
  }
}

}  // namespace devices
