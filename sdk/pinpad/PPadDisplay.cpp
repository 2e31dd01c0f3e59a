// The pinpad's screen and keypad: text windows and plain text, numeric mode, keys and key
// tones, rectangles, pixels, bitmaps and logos, animations, soft-button captions, the
// start-up screen, contrast and the display settings the pinpad keeps. Displays of the
// extended generation take 16-bit coordinates (low byte first).
#include <algorithm>

#include "sdk/foundation/Dithering.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadDisplayBytes.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {

void put16(Bytes& b, int v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

int cached(PPad::Impl& d, const Bytes& request) { return d.command(ppad::kGroupUI, request, nullptr, true); }

}  // namespace

int PPad::lastFont() const { return d_->lastFont; }
bool PPad::extendedDisplay() const { return d_->uiex; }
bool PPad::colorDisplay() const { return d_->uicolor; }
int PPad::topMargin() const { return d_->topMargin; }

int PPad::uiReadKey(uint8_t* key) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupUI, {0x02}, &reply);
  if (r == 0 && key) {
    if (reply.empty()) return ppad::kFailed;
    *key = reply[0];
  }
  return r;
}

int PPad::uiEnableNumericMode(int x, int y, int language, const std::string& message) {
  return cached(*d_, joined({0x03, uint8_t(x), uint8_t(y), uint8_t(language)}, getTextBytes(message)));
}

int PPad::uiDisableNumericMode() { return cached(*d_, {0x04}); }

int PPad::_uiOpenTextWindow(int x, int y, int widthChars, int heightChars, int font, int codePage) {
  auto& d = *d_;
  if (const auto cell = ppad::fontCell(font); cell && font != 5) {
    const int w = d.displayWidth, h = d.displayHeight;
    if (widthChars <= 0) widthChars = (w - x) / cell->width;
    if (heightChars <= 0 || y + cell->height * heightChars > h) heightChars = (h - y) / cell->height;
  }
  Bytes request;
  if (d.uiex) {
    request = {0x32};
    put16(request, x);
    put16(request, y);
  } else {
    request = {0x05, uint8_t(x), uint8_t(y)};
  }
  request.insert(request.end(), {uint8_t(widthChars), uint8_t(heightChars), uint8_t(font), uint8_t(codePage)});
  const int r = cached(d, request);
  if (r == 0) d.lastFont = font;
  return r;
}

int PPad::uiOpenTextWindow(int x, int y, int widthChars, int heightChars, int font, int codePage) {
  return _uiOpenTextWindow(x, y + d_->topMargin, widthChars, heightChars, font, codePage);
}

int PPad::uiSetKeyTone(uint16_t tone, uint16_t time, int volume) {
  if (volume < 0 || volume > 100) return ppad::kInvalidParameter;
  Bytes request = {0x07};
  put16(request, tone);
  put16(request, time);
  request.push_back(uint8_t((volume / 2) & 0x7F));
  return cached(*d_, request);
}

int PPad::uiFillRectangle(int x, int y, int width, int height, int mode) {
  auto& d = *d_;
  const int w = d.displayWidth, h = d.displayHeight, top = d.topMargin;
  if (width <= 0 || x + width > w) width = w - x;
  if (height <= 0 || y + height > h) height = h - y;
  if (y < top) {
    height -= top - y;
    y = top;
  }
  Bytes request;
  if (d.uiex) {
    request = {0x34};
    put16(request, x);
    put16(request, y);
    put16(request, width);
    put16(request, height);
  } else {
    request = {0x0B, uint8_t(x), uint8_t(y), uint8_t(width), uint8_t(height)};
  }
  request.push_back(uint8_t(mode));
  return cached(d, request);
}

int PPad::uiSetContrast(int contrast) { return cached(*d_, {0x0C, uint8_t(contrast)}); }

int PPad::uiPutPixel(int x, int y, const std::optional<KXColor>& color) {
  auto& d = *d_;
  uint8_t value;
  if (d.uicolor)
    value = color ? ppad::colorByte(*color) : 0x03;
  else
    value = !color ? 2 : (color->red + color->green + color->blue < 1.5 ? 1 : 0);
  Bytes request;
  if (d.uiex) {
    request = {0x33};
    put16(request, x);
    put16(request, y);
  } else {
    request = {0x0D, uint8_t(x), uint8_t(y)};
  }
  request.push_back(value);
  return cached(d, request);
}

int PPad::uiDisplayImage(int x, int y, int width, int height, const Bytes& bitmap) {
  auto& d = *d_;
  const int w = d.displayWidth, h = d.displayHeight;
  y += d.topMargin;
  if (width <= 0 || x + width > w) width = w - x;
  if (height <= 0 || y + height > h) height = h - y;
  Bytes request;
  if (d.uiex) {
    request = {0x35};
    put16(request, x);
    put16(request, y);
    put16(request, width);
    put16(request, height);
  } else {
    request = {0x0E, uint8_t(x), uint8_t(y), uint8_t(width), uint8_t(height)};
  }
  // A bitmap larger than one command holds is refused by the command path (3).
  return cached(d, joined(std::move(request), bitmap));
}

int PPad::uiDisplayImage(int x, int y, const KXImage& image) {
  auto& d = *d_;
  const int width = std::min(image.width, d.displayWidth - x);
  const int height = std::min(image.height, d.displayHeight - y);
  if (!image.valid() || width <= 0 || height <= 0) return ppad::kInvalidParameter;
  const auto raster = getDitheredPinpadData(image, 0, width);
  if (!raster) return ppad::kInvalidParameter;
  return uiDisplayImage(x, y, width, height, *raster);
}

int PPad::uiStartAnimation(int index, int x, int y, bool animated) {
  return cached(*d_, {0x10, 0x01, uint8_t(index), uint8_t(x), uint8_t(y + d_->topMargin), uint8_t(animated ? 1 : 0)});
}

int PPad::uiStopAnimation(int index) {
  return cached(*d_, {0x10, uint8_t(index == -1 ? 0x03 : 0x00), uint8_t(index), 0x00, 0x00, 0x00});
}

int PPad::uiSetButtonCaption(int button, const std::string& caption) {
  if (button < 1 || button > 3) return ppad::kInvalidParameter;
  Bytes text = getTextBytes(caption);
  text.pop_back();  // no closing zero byte
  return cached(*d_, joined({0x11, uint8_t(button)}, text));
}

int PPad::uiShowInitScreen() { return cached(*d_, {0x23}); }

int PPad::loadLogo(const KXImage& image, int align) {
  if (!image.valid()) return ppad::kInvalidParameter;
  const auto raster = getDitheredPinpadData(image, align, d_->displayWidth);
  if (!raster) return ppad::kInvalidParameter;
  return d_->command(ppad::kGroupUI, joined({0x27, 0x00, 0x00, uint8_t(image.width), uint8_t(image.height)}, *raster));
}

int PPad::uiEnablePowerButton(bool enabled) { return cached(*d_, {0x28, uint8_t(enabled ? 0 : 1)}); }
int PPad::uiEnableCancelButton(bool enabled) { return cached(*d_, {0x29, uint8_t(enabled ? 0 : 1)}); }

// ---- Display settings (group 0x36) ------------------------------------------------------------

namespace {
int getSetting(PPad::Impl& d, uint8_t setting, int* value) {
  Bytes reply;
  const int r = d.command(ppad::kGroupSystem, {0x15, setting}, &reply);
  if (r == 0 && value) {
    if (reply.empty()) return ppad::kFailed;
    *value = reply[0];
  }
  return r;
}
int setSetting(PPad::Impl& d, uint8_t setting, int value) {
  return d.command(ppad::kGroupSystem, {0x16, setting, uint8_t(value)}, nullptr, true);
}
int getFlag(PPad::Impl& d, uint8_t setting, bool* flag) {
  int v = 0;
  const int r = getSetting(d, setting, flag ? &v : nullptr);
  if (r == 0 && flag) *flag = v != 0;
  return r;
}
}  // namespace

int PPad::uiGetSettingsMenuMode(int* mode) { return getSetting(*d_, 0x01, mode); }
int PPad::uiSetSettingsMenuMode(int mode) { return setSetting(*d_, 0x01, mode); }
int PPad::uiGetSettingsBacklightEnabled(bool* enabled) { return getFlag(*d_, 0x04, enabled); }
int PPad::uiSetSettingsBacklightEnabled(bool enabled) { return setSetting(*d_, 0x04, enabled ? 1 : 0); }
int PPad::uiGetSettingsInvertDisplay(bool* inverted) { return getFlag(*d_, 0x05, inverted); }
int PPad::uiSetSettingsInvertDisplay(bool inverted) { return setSetting(*d_, 0x05, inverted ? 1 : 0); }

// ---- Plain text ----------------------------------------------------------------------------------

int PPad::uiDrawText(const std::string& text, int x, int y, int font) {
  auto& d = *d_;
  if (d.uiex) return uiDrawTextEx(text, x, y, font);
  if (const int r = uiOpenTextWindow(x, y, 0, 0, font, 0); r != 0) return r;
  Bytes request = {0x01, 0x02, 0x80, 0x80};
  if (ppad::utf8Font(font)) {
    request.insert(request.end(), text.begin(), text.end());
  } else {
    request = joined(std::move(request), ppad::plainTextBytes(getTextBytes(text), font, d.displayHeight - y));
  }
  request.push_back(0);
  return cached(d, request);
}

}  // namespace kestra
