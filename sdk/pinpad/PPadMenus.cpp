// Styled text, choice menus and data prompts of the extended displays. A menu or prompt
// stays on the pinpad after the command; the caller polls its check command and ends it
// with the cancel command.
#include <cmath>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadDisplayBytes.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

int PPad::uiDrawTextEx(const std::string& text, int x, int y, int font) {
  if (text.empty()) return 1;
  const auto runs = parseTextState(text);
  return d_->command(ppad::kGroupUI, ppad::styledTextRequest(runs, x, y + d_->topMargin, font), nullptr, true);
}

int PPad::uiDisplayMenu(const std::string& title, const std::vector<std::string>& choices, int font,
                        double timeout) {
  const auto request = ppad::menuRequest(title, choices, timeout);
  if (!request) return ppad::kInvalidParameter;
  _uiOpenTextWindow(0, 0, 0, 0, font, 0);  // its result does not matter
  return d_->command(ppad::kGroupUI, *request);
}

int PPad::uiCancelMenu() { return d_->command(ppad::kGroupUI, {0x37, 0x02}); }

int PPad::uiCheckMenu(int* choice) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupUI, {0x37, 0x03}, &reply);
  if (r == 0 && choice) {
    if (reply.size() < 2) return ppad::kFailed;
    *choice = reply[0] | reply[1] << 8;
  }
  return r;
}

int PPad::uiDisplayDataPromptWithID(int promptID, int language, int maxLength, const std::string& initialValue,
                                    int font, double timeout) {
  const int seconds = std::isfinite(timeout) ? int(std::clamp(timeout, 0.0, 65535.0)) : 0;
  Bytes value = getTextBytes(initialValue);
  value.pop_back();  // no closing zero byte
  const Bytes request = joined({0x37, 0x11, uint8_t(language), uint8_t(promptID), 0x00, 0x00, 0x00, 0x00,
                                uint8_t(maxLength), uint8_t(seconds), uint8_t(seconds >> 8)},
                               value);
  if (request.size() > PPadTransport::kCmdBufferSize) return ppad::kInvalidParameter;
  _uiOpenTextWindow(0, 0, 0, 0, font, 0);
  return d_->command(ppad::kGroupUI, request);
}

int PPad::uiCancelDataPrompt() { return d_->command(ppad::kGroupUI, {0x37, 0x12}); }

int PPad::uiCheckDataPrompt(std::string* value) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupUI, {0x37, 0x13}, &reply);
  if (r == 0 && value) *value = ppad::promptText(reply);
  return r;
}

}  // namespace kestra
