// The pinpad's screen and controls in the device API: text, rectangles, pixels, images,
// animations, menus and data prompts that wait for the cardholder, buttons, contrast and
// the pinpad's settings. They route to the pinpad alone (active type 2, or automatic with
// the pinpad connected). LEDs go to the sleeve first, vibration and the speaker to the
// sleeve only, and the logo to a receipt printer first.
#include <condition_variable>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "sdk/device/KXDevices.h"
#include "sdk/pinpad/PPad.h"

namespace kestra {

namespace {

constexpr auto kPollPause = std::chrono::milliseconds(100);
// How long after its own time-out the host still waits for a menu or prompt to end.
constexpr auto kPollMargin = std::chrono::seconds(5);
constexpr int kStillOpen = 8;
constexpr int kTimeout = 9;

void pause(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  foundation::Clock::current().waitFor(lock, cv, d, [] { return false; });
}

// The host's limit for a menu or prompt: none for a time-out of 0 (or one the pinpad cannot
// be sent), which leaves it open until the cardholder or the application ends it.
std::optional<foundation::MonoTime> pollDeadline(double timeout) {
  if (!(timeout >= 1 && timeout < 65536)) return std::nullopt;
  return foundation::Clock::current().now() +
         std::chrono::duration_cast<foundation::Duration>(std::chrono::duration<double>(timeout)) + kPollMargin;
}

// Asks `check` while it answers "still open": its last answer, or nothing once the host's
// limit has passed.
template <class Check>
std::optional<int> pollUntilClosed(double timeout, Check check) {
  const auto deadline = pollDeadline(timeout);
  int r = check();
  while (r == kStillOpen) {
    if (deadline && foundation::Clock::current().now() >= *deadline) return std::nullopt;
    pause(kPollPause);
    r = check();
  }
  return r;
}

}  // namespace

#define KX_PINPAD_CALL(expression)              \
  PPad* pad = securePinpad(error);              \
  if (!pad) return false;                       \
  return ppadResult(pad->expression, error)

bool KXDevices::uiGetScreenInfoWidth(int* width, int* height, int* colorMode, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  if (width) *width = pad->displayWidth();
  if (height) *height = pad->displayHeight();
  if (colorMode) *colorMode = 0;
  return true;
}

bool KXDevices::uiDrawText(const std::string& text, int x, int y, int font, Error* error) {
  KX_PINPAD_CALL(uiDrawText(text, x, y, font));
}

int KXDevices::uiDisplayMenu(const std::string& title, const std::vector<std::string>& choices, int font,
                             double timeout, Error* error) {
  // A refusal is -1 like every other failure: 0 may be a choice.
  PPad* pad = securePinpad(error);
  if (!pad) return -1;
  if (!ppadResult(pad->uiDisplayMenu(title, choices, font, timeout), error)) return -1;
  int choice = 0;
  const auto r = pollUntilClosed(timeout, [&] { return pad->uiCheckMenu(&choice); });
  if (!r) pad->uiCancelMenu();  // a pinpad that never closes it
  if (!ppadResult(r.value_or(kTimeout), error)) return -1;
  return choice;
}

bool KXDevices::uiCancelMenu(Error* error) { KX_PINPAD_CALL(uiCancelMenu()); }

std::optional<std::string> KXDevices::uiDisplayDataPromptWithID(int promptID, int language, int maxLength,
                                                                const std::string& initialValue, int font,
                                                                double timeout, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  if (!ppadResult(pad->uiDisplayDataPromptWithID(promptID, language, maxLength, initialValue, font, timeout),
                  error))
    return std::nullopt;
  std::string value;
  const int r = pollUntilClosed(timeout, [&] { return pad->uiCheckDataPrompt(&value); }).value_or(kTimeout);
  if (r != 0) {
    pad->uiCancelDataPrompt();
    ppadResult(r, error);
    return std::nullopt;
  }
  return value;
}

bool KXDevices::uiCancelDataPrompt(Error* error) { KX_PINPAD_CALL(uiCancelDataPrompt()); }

bool KXDevices::uiFillRectangle(int x, int y, int width, int height, const std::optional<KXColor>& color,
                                Error* error) {
  int mode = 2;
  if (color) mode = color->red + color->green + color->blue < 1.5 ? 1 : 0;
  KX_PINPAD_CALL(uiFillRectangle(x, y, width, height, mode));
}

bool KXDevices::uiSetContrast(int contrast, Error* error) { KX_PINPAD_CALL(uiSetContrast(contrast)); }

bool KXDevices::uiPutPixel(int x, int y, const std::optional<KXColor>& color, Error* error) {
  KX_PINPAD_CALL(uiPutPixel(x, y, color));
}

bool KXDevices::uiDisplayImage(int x, int y, const KXImage& image, Error* error) {
  KX_PINPAD_CALL(uiDisplayImage(x, y, image));
}

bool KXDevices::uiStartAnimation(int animation, int x, int y, bool animated, Error* error) {
  KX_PINPAD_CALL(uiStartAnimation(animation, x, y, animated));
}

bool KXDevices::uiStopAnimation(int animation, Error* error) { KX_PINPAD_CALL(uiStopAnimation(animation)); }

namespace {
// The pinpad's LEDs cannot be driven while the EMV kernel runs.
bool ledsRefused(bool emvInit, Error* error) {
  if (!emvInit) return false;
  const Error e = KXUNISDKGlobals::makeError(-20, std::string("LEDs cannot be controlled while EMV kernel is active!"));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  foundation::fail(error, e);
  return true;
}
}  // namespace

bool KXDevices::uiControlLEDsEx(const uint32_t* leds, int numLeds, Error* error) {
  if (!route({Kind::Pinpad})) return error ? routeError(error) : false;
  if (ledsRefused(emvInit(), error)) return false;
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  std::vector<PPadLEDEntry> entries;
  for (int i = 0; leds && i < numLeds; ++i) {
    const uint32_t* r = leds + size_t(i) * 4;
    entries.push_back({(r[0] & 0xFF) == 0x1F ? 0x1F : int(r[0]), int(r[1]), int(r[2]), r[3]});
  }
  return ppadResult(pad->sysBitmaskLEDControl(entries), error);
}

bool KXDevices::uiControlLEDsWithBitMask(uint32_t mask, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->uiControlLEDsWithBitMask(mask, error);
  if (!route({Kind::Pinpad})) return error ? routeError(error) : false;
  if (ledsRefused(emvInit(), error)) return false;
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  return ppadResult(pad->sysBitmaskLEDControl2(mask), error);
}

bool KXDevices::uiShowInitScreen(Error* error) { KX_PINPAD_CALL(uiShowInitScreen()); }
bool KXDevices::uiEnablePowerButton(bool enabled, Error* error) { KX_PINPAD_CALL(uiEnablePowerButton(enabled)); }
bool KXDevices::uiEnableCancelButton(bool enabled, Error* error) { KX_PINPAD_CALL(uiEnableCancelButton(enabled)); }
bool KXDevices::uiGetSettingsMenuMode(int* mode, Error* error) { KX_PINPAD_CALL(uiGetSettingsMenuMode(mode)); }
bool KXDevices::uiSetSettingsMenuMode(int mode, Error* error) { KX_PINPAD_CALL(uiSetSettingsMenuMode(mode)); }
bool KXDevices::uiGetSettingsBacklightEnabled(bool* enabled, Error* error) {
  KX_PINPAD_CALL(uiGetSettingsBacklightEnabled(enabled));
}
bool KXDevices::uiSetSettingsBacklightEnabled(bool enabled, Error* error) {
  KX_PINPAD_CALL(uiSetSettingsBacklightEnabled(enabled));
}
bool KXDevices::uiGetSettingsInvertDisplay(bool* inverted, Error* error) {
  KX_PINPAD_CALL(uiGetSettingsInvertDisplay(inverted));
}
bool KXDevices::uiSetSettingsInvertDisplay(bool inverted, Error* error) {
  KX_PINPAD_CALL(uiSetSettingsInvertDisplay(inverted));
}
bool KXDevices::uiGetSettingsGlobalVolume(int* volume, Error* error) {
  KX_PINPAD_CALL(uiGetSettingsGlobalVolume(volume));
}
bool KXDevices::uiSetSettingsGlobalVolume(int volume, Error* error) {
  KX_PINPAD_CALL(uiSetSettingsGlobalVolume(volume));
}

#undef KX_PINPAD_CALL

// ---- The sleeve's vibration and speaker ---------------------------------------------------------

#define KX_SLEEVE_CALL(expression)                        \
  if (route({Kind::Sleeve})) return sleeve_->expression; \
  return routeError(error)

bool KXDevices::uiEnableVibrationForTime(float seconds, Error* error) {
  KX_SLEEVE_CALL(uiEnableVibrationForTime(seconds, error));
}
bool KXDevices::uiEnableSpeaker(bool enabled, Error* error) { KX_SLEEVE_CALL(uiEnableSpeaker(enabled, error)); }
bool KXDevices::uiIsSpeakerEnabled(bool* enabled, Error* error) { KX_SLEEVE_CALL(uiIsSpeakerEnabled(enabled, error)); }
bool KXDevices::uiEnableSpeakerButton(bool enabled, Error* error) {
  KX_SLEEVE_CALL(uiEnableSpeakerButton(enabled, error));
}
bool KXDevices::uiIsSpeakerButtonEnabled(bool* enabled, Error* error) {
  KX_SLEEVE_CALL(uiIsSpeakerButtonEnabled(enabled, error));
}
bool KXDevices::uiEnableSpeakerAutoControl(bool enabled, Error* error) {
  KX_SLEEVE_CALL(uiEnableSpeakerAutoControl(enabled, error));
}
bool KXDevices::uiIsSpeakerAutoControlEnabled(bool* enabled, Error* error) {
  KX_SLEEVE_CALL(uiIsSpeakerAutoControlEnabled(enabled, error));
}

#undef KX_SLEEVE_CALL

bool KXDevices::uiLoadLogo(const KXImage& logo, int align, Error* error) {
  if (route({Kind::Printer})) return printer().loadLogo(logo, align, error);
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  return ppadResult(pad->loadLogo(logo, align), error);
}

}  // namespace kestra
