// The locale's currency and the application's facts.
#include <unicode/ucurr.h>
#include <unicode/ustring.h>

#include <cstdlib>
#include <mutex>

#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaPhonePlugins.h"

namespace kestra {

namespace {

// Never destroyed: the agent's threads may read it while the process exits.
struct ClipboardState {
  std::mutex mutex;
  std::function<std::optional<std::string>()> source;  // guarded by mutex
};

ClipboardState& clipboardState() {
  static ClipboardState* const s = new ClipboardState;
  return *s;
}

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
  if (!text || text->empty()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<std::string> SSLocalizationInfo::currency() {
  const auto locale = country();
  if (!locale) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  UChar code[4] = {};
  ucurr_forLocale(locale->c_str(), code, 4, &status);
  if (U_FAILURE(status) || code[0] == 0) return std::nullopt;
  UBool isChoice = false;
  int32_t length = 0;
  status = U_ZERO_ERROR;
  const UChar* symbol = ucurr_getName(code, locale->c_str(), UCURR_SYMBOL_NAME, &isChoice, &length, &status);
  if (U_FAILURE(status) || !symbol || length <= 0) return std::nullopt;
  char text[64] = {};
  int32_t written = 0;
  status = U_ZERO_ERROR;
  u_strToUTF8(text, sizeof text, &written, symbol, length, &status);
  if (U_FAILURE(status) || written <= 0 || written >= int32_t(sizeof text)) return std::nullopt;
  return std::string(text, size_t(written));
}

std::optional<std::string> SSApplicationInfo::applicationVersion() { return nonEmpty(VexaAppSettings::buildVersion()); }

std::optional<std::string> SSApplicationInfo::clipboardContent() {
  std::function<std::optional<std::string>()> source;
  {
    auto& state = clipboardState();
    std::lock_guard lock(state.mutex);
    source = state.source;
  }
  return source ? nonEmpty(source()) : std::nullopt;
}

void SSApplicationInfo::setClipboardSource(std::function<std::optional<std::string>()> source) {
  auto& state = clipboardState();
  std::lock_guard lock(state.mutex);
  state.source = std::move(source);
}

}  // namespace kestra
