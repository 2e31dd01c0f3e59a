// Logging hooks, hex text, CRC-16, tick count, model-name tests and the error factory.
#include "sdk/foundation/KXUNISDKGlobals.h"

#include <cstdio>
#include <mutex>

#include "platform/foundation/Clock.h"

namespace kestra {
namespace {

std::mutex& logMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const std::function<void(const std::string&)>>& logHandler() {
  static std::shared_ptr<const std::function<void(const std::string&)>> h;
  return h;
}
std::shared_ptr<const std::function<void(const std::string&)>> currentHandler() {
  std::lock_guard<std::mutex> lock(logMutex());
  return logHandler();
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(size_t(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(size_t(n));
  return out;
}

constexpr uint64_t kMaxHexBytes = 12800;

}  // namespace

void KXUNISDKGlobals::setLogHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> lock(logMutex());
  if (handler)
    logHandler() = std::make_shared<const std::function<void(const std::string&)>>(std::move(handler));
  else
    logHandler().reset();
}

void KXUNISDKGlobals::LOG(const char* format, ...) {
  auto h = currentHandler();
  if (!h || !format) return;
  va_list args;
  va_start(args, format);
  std::string line = vformat(format, args);
  va_end(args);
  (*h)(line);
}

void KXUNISDKGlobals::LOGDATA(const char* tag, const void* buf, uint64_t len, bool ascii) {
  auto h = currentHandler();
  if (!h) return;
  (*h)(std::string(tag ? tag : "") + toHexString(static_cast<const uint8_t*>(buf), buf ? len : 0, ascii));
}

void KXUNISDKGlobals::LOGBLOCK(const char* tag, const void* buf, uint64_t len, int splitLen) {
  auto h = currentHandler();
  if (!h) return;
  const auto* p = static_cast<const uint8_t*>(buf);
  if (!p) len = 0;
  uint64_t step = splitLen > 0 ? uint64_t(splitLen) : (len ? len : 1);
  (*h)(std::string(tag ? tag : ""));
  for (uint64_t off = 0; off < len; off += step)
    (*h)(toHexString(p + off, std::min(step, len - off), false));
}

void KXUNISDKGlobals::logFileFlush() {}

std::string KXUNISDKGlobals::toHexString(const uint8_t* data, uint64_t length, bool ascii) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (length == 0 || !data) return "";
  const uint64_t shown = std::min(length, kMaxHexBytes);
  std::string out;
  out.reserve(size_t(shown) * (ascii ? 5 : 2) + 3);
  for (uint64_t i = 0; i < shown; ++i) {
    const uint8_t b = data[i];
    if (ascii) {
      out += '(';
      // The text is 7-bit: bytes outside the printable range show as ".".
      out += (b < 32 || b > 127) ? '.' : char(b);
      out += ')';
    }
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  if (length > kMaxHexBytes) out += "...";
  return out;
}

uint16_t KXUNISDKGlobals::crc16ccit(const uint8_t* data, uint32_t length, uint16_t crc) {
  if (length == 0 || !data) return 0;
  for (uint32_t i = 0; i < length; ++i) {
    crc = uint16_t(crc >> 8 | crc << 8);
    crc ^= data[i];
    crc ^= uint16_t((crc & 0xFF) >> 4);
    crc ^= uint16_t(crc << 12);
    crc ^= uint16_t((crc & 0xFF) << 5);
  }
  return crc;
}

uint32_t KXUNISDKGlobals::getTickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      foundation::Clock::current().now().time_since_epoch());
  return uint32_t(uint64_t(ms.count()));
}

const std::vector<std::string_view>& KXUNISDKGlobals::printerModelSuffixes() {
  static const std::vector<std::string_view> kSuffixes = {
      "KXP-58",  "KXP-80",  "KXP-100", "KXP-200", "KXP-300", "KXP-2T",  "KXP-3T",  "KXP-4T",
      "KXL-2",   "KXL-3",   "KXL-4",   "KXM-10",  "KXM-20",  "KXM-30",  "KXM-40",  "KXR-58",
      "KXR-80",  "KXR-112", "PRN-58",  "PRN-80",  "PRN-112", "TRP-58",  "TRP-80",  "MPT-II",
  };
  return kSuffixes;
}

bool KXUNISDKGlobals::isPrinter(std::optional<std::string_view> name) {
  if (!name) return false;
  for (auto suffix : printerModelSuffixes())
    if (name->size() >= suffix.size() && name->substr(name->size() - suffix.size()) == suffix)
      return true;
  return false;
}

bool KXUNISDKGlobals::isPinpad(std::optional<std::string_view> name) {
  return name && name->substr(0, 2) == "PP";
}

bool KXUNISDKGlobals::featCheck(std::string_view feature, std::string_view deviceModel) {
  const char f0 = feature.size() > 0 ? feature[0] : '\0';
  const char f1 = feature.size() > 1 ? feature[1] : '\0';
  for (size_t i = 0; i < deviceModel.size(); i += 2) {
    const char c0 = deviceModel[i];
    const char c1 = i + 1 < deviceModel.size() ? deviceModel[i + 1] : '\0';
    if (c0 == f0 && c1 == f1) return true;
  }
  return false;
}

Bytes KXUNISDKGlobals::stringToData(std::string_view text) {
  Bytes out;
  out.reserve(text.size() / 2);
  int pending = -1;
  for (char ch : text) {
    char c = (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (v < 0) {
      pending = -1;
      continue;
    }
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(uint8_t(pending << 4 | v));
      pending = -1;
    }
  }
  return out;
}

Error KXUNISDKGlobals::makeError(int code, const char* format, ...) {
  std::string message;
  if (format) {
    va_list args;
    va_start(args, format);
    message = vformat(format, args);
    va_end(args);
  }
  return makeError(code, message);
}

Error KXUNISDKGlobals::makeError(int code, const std::string& message) {
  LOG("ERROR %d: %s", code, message.c_str());
  return Error(kSDKErrorDomain, code, message);
}

bool containsData(const Bytes& receiver, const Bytes& other) {
  if (receiver.empty()) return false;
  if (other.empty()) return true;
  if (other.size() > receiver.size()) return false;
  for (size_t i = 0; i + other.size() <= receiver.size(); ++i)
    if (std::equal(other.begin(), other.end(), receiver.begin() + std::ptrdiff_t(i))) return true;
  return false;
}

}  // namespace kestra
