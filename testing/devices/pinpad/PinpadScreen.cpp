#include "testing/devices/pinpad/PinpadScreen.h"

#include <png.h>

#include <algorithm>

#include "testing/devices/printer/ReceiptFont.h"

namespace devices {

namespace {

constexpr uint8_t kOK = 0;
constexpr uint8_t kInvalidLength = 6;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;

struct Cell {
  int width, height;
};
constexpr Cell kCells[7] = {{6, 8}, {8, 16}, {4, 6}, {10, 10}, {6, 10}, {4, 6}, {24, 24}};

Cell cellOf(int font) { return font >= 0 && font <= 6 ? kCells[font] : kCells[0]; }

int le16(const uint8_t* p) { return p[0] | p[1] << 8; }
int coord7(uint8_t high, uint8_t low) { return (high == 0x80 ? 0 : high) << 7 | (low == 0x80 ? 0 : low); }

}  // namespace

PinpadScreen::PinpadScreen(int width, int height, bool colour)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), colour_(colour),
      pixels_(size_t(width_) * size_t(height_), kWhite) {}

uint32_t PinpadScreen::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return kWhite;
  return pixels_[size_t(y) * size_t(width_) + size_t(x)];
}

void PinpadScreen::set(int x, int y, uint32_t colour) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[size_t(y) * size_t(width_) + size_t(x)] = colour;
}

void PinpadScreen::fill(int x, int y, int w, int h, uint32_t colour) {
  for (int j = std::max(y, 0); j < std::min(y + h, height_); ++j)
    for (int i = std::max(x, 0); i < std::min(x + w, width_); ++i) set(i, j, colour);
}

void PinpadScreen::invert(int x, int y, int w, int h) {
  for (int j = std::max(y, 0); j < std::min(y + h, height_); ++j)
    for (int i = std::max(x, 0); i < std::min(x + w, width_); ++i) set(i, j, pixel(i, j) ^ 0xFFFFFF);
}

uint32_t PinpadScreen::colourOf(uint8_t b) const {
  if (!colour_) return b == 0 ? kWhite : kBlack;
  auto c = [&](int shift) { return uint32_t((b >> shift) & 3) * 85; };
  return c(6) << 16 | c(4) << 8 | c(2);
}

void PinpadScreen::glyph(int x, int y, int font, uint8_t c, uint32_t colour, std::optional<uint32_t> background) {
  const Cell cell = cellOf(font);
  if (background) fill(x, y, cell.width, cell.height, *background);
  const uint8_t* rows = glyphRows(c < 0x80 ? c : uint8_t('?'));
  if (!rows) return;
  const int scale = std::max(1, std::min(cell.width / (kGlyphWidth + 1), cell.height / (kGlyphHeight + 1)));
  for (int r = 0; r < kGlyphHeight; ++r)
    for (int k = 0; k < kGlyphWidth; ++k)
      if (rows[r] & (0x10 >> k)) fill(x + k * scale, y + r * scale, scale, scale, colour);
}

void PinpadScreen::windowText(const foundation::Bytes& text) {
  const Cell cell = cellOf(window.font);
  int column = 0, row = 0;
  std::string drawn;
  for (uint8_t b : text) {
    if (b == 0) break;
    if (b == 0x0A) {
      column = 0;
      ++row;
      drawn.push_back('\n');
      continue;
    }
    if (b < 0x20) continue;
    if (window.columns > 0 && column >= window.columns) {
      column = 0;
      ++row;
    }
    if (window.rows > 0 && row >= window.rows) break;
    glyph(window.x + column * cell.width, window.y + row * cell.height, window.font, b, kBlack, std::nullopt);
    drawn.push_back(char(b));
    ++column;
  }
  texts.push_back(drawn);
}

bool PinpadScreen::styledText(const foundation::Bytes& d) {
  // 01 0F x(2) y(2) font encoding, then runs: 0E background foreground text.
  if (d.size() < 8) return false;
  const int x = coord7(d[2], d[3]), y = coord7(d[4], d[5]);
  const int font = d[6] == 0x80 ? 0 : d[6];
  const Cell cell = cellOf(font);
  int cx = x;
  std::string drawn;
  size_t i = 8;
  while (i < d.size()) {
    if (d[i] != 0x0E || i + 3 > d.size()) return false;
    const uint8_t bg = d[i + 1], fg = d[i + 2];
    i += 3;
    const std::optional<uint32_t> background =
        bg == 0x80 ? std::nullopt : std::optional<uint32_t>(colourOf(bg));
    const uint32_t foreground = fg == 0x01 ? kBlack : colourOf(fg);
    while (i < d.size() && d[i] != 0x0E) {
      const uint8_t c = d[i++];
      if ((c & 0xC0) == 0x80) continue;  // the rest of a UTF-8 character
      glyph(cx, y, font, c, foreground, background);
      drawn.push_back(c < 0x80 ? char(c) : '?');
      cx += cell.width;
    }
  }
  texts.push_back(drawn);
  return true;
}

void PinpadScreen::bitmap(int x, int y, int w, int h, const uint8_t* data, size_t n) {
  if (w <= 0 || h <= 0) return;
  const size_t pages = size_t(h + 7) / 8;
  // Pages lie one row of columns apart: the width sent, or what the data says.
  size_t stride = size_t(w);
  if (n % pages == 0 && n / pages >= size_t(w)) stride = n / pages;
  for (size_t page = 0; page < pages; ++page)
    for (int col = 0; col < w; ++col) {
      const size_t at = page * stride + size_t(col);
      if (at >= n) return;
      for (int bit = 0; bit < 8; ++bit) {
        const int row = int(page) * 8 + bit;
        if (row < h) set(x + col, y + row, (data[at] >> bit) & 1 ? kBlack : kWhite);
      }
    }
}

std::optional<uint8_t> PinpadScreen::handle(const foundation::Bytes& d) {
  if (d.empty()) return std::nullopt;
  const size_t n = d.size();
  switch (d[0]) {
    case 0x01:
      if (n >= 2 && d[1] == 0x02 && n >= 4) {
        windowText(foundation::Bytes(d.begin() + 4, d.end()));
        return kOK;
      }
      if (n >= 2 && d[1] == 0x0F) return styledText(d) ? kOK : kInvalidLength;
      return kInvalidLength;
    case 0x03:
      if (n < 4) return kInvalidLength;
      numericMode = true;
      return kOK;
    case 0x04:
      numericMode = false;
      return kOK;
    case 0x05:
      if (n < 7) return kInvalidLength;
      window = {d[1], d[2], d[3], d[4], d[5], d[6]};
      return kOK;
    case 0x32:
      if (n < 9) return kInvalidLength;
      window = {le16(&d[1]), le16(&d[3]), d[5], d[6], d[7], d[8]};
      return kOK;
    case 0x07:
      if (n < 6) return kInvalidLength;
      keyTone.assign(d.begin() + 1, d.end());
      return kOK;
    case 0x0B:
    case 0x34: {
      const bool ext = d[0] == 0x34;
      if (n < (ext ? 10u : 6u)) return kInvalidLength;
      const int x = ext ? le16(&d[1]) : d[1], y = ext ? le16(&d[3]) : d[2];
      const int w = ext ? le16(&d[5]) : d[3], h = ext ? le16(&d[7]) : d[4];
      const int mode = d[ext ? 9 : 5];
      if (mode == 2) invert(x, y, w, h);
      else fill(x, y, w, h, mode == 1 ? kBlack : kWhite);
      return kOK;
    }
    case 0x0C:
      if (n < 2) return kInvalidLength;
      contrast = d[1];
      return kOK;
    case 0x0D:
    case 0x33: {
      const bool ext = d[0] == 0x33;
      if (n < (ext ? 6u : 4u)) return kInvalidLength;
      const int x = ext ? le16(&d[1]) : d[1], y = ext ? le16(&d[3]) : d[2];
      const uint8_t c = d[ext ? 5 : 3];
      set(x, y, colour_ ? colourOf(c) : (c == 0 ? kWhite : kBlack));
      return kOK;
    }
    case 0x0E:
    case 0x35: {
      const bool ext = d[0] == 0x35;
      const size_t header = ext ? 9 : 5;
      if (n < header) return kInvalidLength;
      const int x = ext ? le16(&d[1]) : d[1], y = ext ? le16(&d[3]) : d[2];
      const int w = ext ? le16(&d[5]) : d[3], h = ext ? le16(&d[7]) : d[4];
      bitmap(x, y, w, h, d.data() + header, n - header);
      return kOK;
    }
    case 0x10:
      if (n < 6) return kInvalidLength;
      if (d[1] == 0x01) {
        animations[d[2]] = {d[3], d[4], d[5] != 0, true};
      } else if (d[1] == 0x03) {
        for (auto& [index, a] : animations) a.running = false;
      } else {
        animations[d[2]].running = false;
      }
      return kOK;
    case 0x11:
      if (n < 2 || d[1] < 1 || d[1] > 3) return kInvalidLength;
      captions[size_t(d[1] - 1)] = std::string(d.begin() + 2, d.end());
      return kOK;
    case 0x23:
      ++initScreens;
      std::fill(pixels_.begin(), pixels_.end(), kWhite);
      return kOK;
    case 0x27:
      if (n < 5) return kInvalidLength;
      logoWidth = d[3];
      logoHeight = d[4];
      logo.assign(d.begin() + 5, d.end());
      return kOK;
    case 0x28:
      if (n < 2) return kInvalidLength;
      powerButtonEnabled = d[1] == 0;
      return kOK;
    case 0x29:
      if (n < 2) return kInvalidLength;
      cancelButtonEnabled = d[1] == 0;
      return kOK;
    default:
      return std::nullopt;
  }
}

bool PinpadScreen::savePng(const std::filesystem::path& path, int scale) const {
  scale = std::max(scale, 1);
  const int w = width_ * scale, h = height_ * scale;
  if (w == 0 || h == 0) return false;
  std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t p = pixel(x / scale, y / scale);
      uint8_t* o = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
      o[0] = uint8_t(p >> 16);
      o[1] = uint8_t(p >> 8);
      o[2] = uint8_t(p);
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), w * 3, nullptr) != 0;
}

std::optional<PinpadScreen::Picture> PinpadScreen::readPng(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  Picture p;
  p.width = int(image.width);
  p.height = int(image.height);
  p.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.rgb.data(), 0, nullptr)) return std::nullopt;
  return p;
}

}  // namespace devices
