#include "testing/devices/printer/ReceiptRenderer.h"

#include <png.h>

#include <algorithm>
#include <memory>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include "testing/devices/printer/ReceiptFont.h"

namespace devices {
namespace {

constexpr int kStyleBold = 1, kStyleUnderline = 4, kStyleDoubleWidth = 64, kStyleDoubleHeight = 128;

int cellWidth(int font, int style, int rotate) {
  int w = font == 1 ? 9 : 12, h = font == 1 ? 16 : 24;
  if (style & kStyleDoubleWidth) w *= 2;
  if (style & kStyleDoubleHeight) h *= 2;
  return rotate == 1 ? h : w;
}

int cellHeight(int font, int style, int rotate) {
  int w = font == 1 ? 9 : 12, h = font == 1 ? 16 : 24;
  if (style & kStyleDoubleWidth) w *= 2;
  if (style & kStyleDoubleHeight) h *= 2;
  return rotate == 1 ? w : h;
}

}  // namespace

ReceiptRenderer::ReceiptRenderer(int paperWidth) : width_(std::max(8, paperWidth)) {}

bool ReceiptRenderer::dot(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height()) return false;
  return dots_[size_t(y) * size_t(width_) + size_t(x)] != 0;
}

void ReceiptRenderer::ensureRows(int rows) {
  if (rows > height()) dots_.resize(size_t(rows) * size_t(width_), 0);
}

void ReceiptRenderer::set(int x, int y, bool black) {
  if (x < 0 || y < 0 || x >= width_ || y > 100000) return;
  ensureRows(y + 1);
  dots_[size_t(y) * size_t(width_) + size_t(x)] = black ? 1 : 0;
}

void ReceiptRenderer::fillRect(int x, int y, int w, int h, bool black) {
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) set(x + i, y + j, black);
}

int ReceiptRenderer::alignedX(int w, int align) const {
  const int room = width_ - margin_;
  if (align == 1) return margin_ + std::max(0, (room - w) / 2);
  if (align == 2) return margin_ + std::max(0, room - w);
  return margin_;
}

long ReceiptRenderer::commandLength(const uint8_t* p, size_t n) const {
  auto need = [&](size_t k) -> long { return n >= k ? long(k) : 0; };
  const uint8_t c = p[0];
  if (c == 0x1B) {
    if (n < 2) return 0;
    switch (p[1]) {
      case '!': case 'I': case 'V': case '{': case 'J': case '3': case 'a': case 'B': case '?':
      case 'x': case 'o': case 'Y': case 'u': case 't':
        return need(3);
      case '$': case '4': return need(4);
      case 's': return need(3);
      case 'C': return need(5);
      case 'W': return need(10);
      case '*': {
        if (n < 6) return 0;
        const size_t total = size_t(p[3]) * size_t(p[4]);
        size_t pos = 6, expanded = 0;
        while (expanded < total) {
          if (pos >= n) return 0;
          if (p[pos] >= 0xC1) {
            if (pos + 1 >= n) return 0;
            expanded += size_t(p[pos] - 0xC0);
            pos += 2;
          } else {
            expanded += 1;
            pos += 1;
          }
        }
        if (pos >= n) return 0;
        return long(pos + (p[pos] == 0x0A ? 1 : 0));
      }
      default: return 2;
    }
  }
  if (c == 0x1D) {
    if (n < 2) return 0;
    switch (p[1]) {
      case 'B': case 'w': case 'H': case 'h': case 'f': case '/': case 'T': return need(3);
      case 'L': case '$': return need(4);
      case 'R': return need(11);
      case 'X': return need(12);
      case 'k': {
        if (n < 4) return 0;
        if (p[2] == 0x4A) {
          if (n < 6) return 0;
          return need(6 + foundation::readLE16(p + 4));
        }
        return need(4 + size_t(p[3]));
      }
      case '*': {
        if (n < 4) return 0;
        return need(4 + size_t(p[2]) * size_t(p[3]));
      }
      case 'Q': {
        if (n < 3) return 0;
        if (p[2] == 0x02) return n < 9 ? 0 : need(9 + foundation::readLE16(p + 7));
        if (p[2] == 0x06) return n < 7 ? 0 : need(7 + foundation::readLE16(p + 5));
        return 3;
      }
      case 'v': {
        if (n < 8) return 0;
        return need(8 + size_t(foundation::readLE16(p + 4)) * foundation::readLE16(p + 6));
      }
      default: return 2;
    }
  }
  if (c == 0x13) {
    if (n < 2) return 0;
    if (p[1] == 0x01 || p[1] == 0x46) return need(3);
    if (p[1] == 0x4C) return need(5);
    return 2;
  }
  return 1;
}

void ReceiptRenderer::feed(const uint8_t* data, size_t length) {
  pending_.insert(pending_.end(), data, data + length);
  size_t pos = 0;
  while (pos < pending_.size()) {
    const long k = commandLength(pending_.data() + pos, pending_.size() - pos);
    if (k == 0) break;
    execute(pending_.data() + pos, size_t(k));
    pos += size_t(k);
  }
  pending_.erase(pending_.begin(), pending_.begin() + long(pos));
  // A command that claims more than any printer buffer holds is dropped, not awaited.
  if (pending_.size() > 70000) pending_.clear();
}

void ReceiptRenderer::execute(const uint8_t* p, size_t n) {
  const uint8_t c = p[0];
  const Bytes cmd(p, p + n);
  if (c == 0x0A) return printLine(lineSpacing_);
  if (c == 0x0C) return printLine(40);
  if (c == 0x07) {
    ++beeps_;
    return;
  }
  if (c >= 0x20 && c != 0x7F) return text(c);
  if (c == 0x1B) {
    switch (p[1]) {
      case '!':
        font_ = p[2] & 1;
        style_ = ((p[2] & 0x08) ? kStyleBold : 0) | ((p[2] & 0x10) ? kStyleDoubleHeight : 0) |
                 ((p[2] & 0x20) ? kStyleDoubleWidth : 0) | ((p[2] & 0x80) ? kStyleUnderline : 0);
        return;
      case 'I': italic_ = p[2] != 0; return;
      case 'V': rotate_ = p[2] ? 1 : (rotate_ == 1 ? 0 : rotate_); return;
      case '{': rotate_ = p[2] ? 2 : (rotate_ == 2 ? 0 : rotate_); return;
      case 'J': return printLine(p[2]);
      case '3': lineSpacing_ = p[2]; return;
      case 'a': align_ = p[2]; return;
      case '$': x_ = margin_ + foundation::readLE16(p + 2); return;
      case 'Y': density_ = p[2]; return;
      case 'u': case 't': codepage_ = p[2]; return;
      case 'o': return printLine(p[2]);
      case 'B':
        if (p[2] == 0x20 && onQuery) onQuery(cmd);
        return;
      case 'Z': case '`': case 'N': case 's': case '?': case 'C': case '4':
        if (onQuery) onQuery(cmd);
        return;
      case '*': {
        Bytes rows;
        // Header: ESC * 0x12 lineSize rows 0; then the compressed band.
        size_t end = n;
        if (end > 6 && p[end - 1] == 0x0A) --end;
        for (size_t i = 6; i < end; ++i) {
          if (p[i] >= 0xC1 && i + 1 < end) {
            rows.insert(rows.end(), size_t(p[i] - 0xC0), p[i + 1]);
            ++i;
          } else {
            rows.push_back(p[i]);
          }
        }
        printLine(0);
        drawRaster(rows, p[3], p[4], false, align_);
        return;
      }
      default: return;
    }
  }
  if (c == 0x1D) {
    switch (p[1]) {
      case 'B': inverse_ = p[2] != 0; return;
      case 'L': margin_ = std::min(int(foundation::readLE16(p + 2)), width_ - 8); return;
      case 'w': barScale_ = std::clamp(int(p[2]), 1, 6); return;
      case 'H': barText_ = p[2]; return;
      case 'h': barHeight_ = std::max(1, int(p[2])); return;
      case 'f': barFont_ = p[2]; return;
      case 'k': {
        printLine(0);
        const size_t start = p[2] == 0x4A ? 6 : 4;
        barcode(p[2] - 0x41, Bytes(p + start, p + n));
        return;
      }
      case 'Q': {
        printLine(0);
        if (p[2] == 0x06) matrixCode(true, Bytes(p + 7, p + n), p[3], p[4]);
        if (p[2] == 0x02) matrixCode(false, Bytes(p + 9, p + n), p[6], p[5]);
        return;
      }
      case 'v': {
        printLine(0);
        drawRaster(Bytes(p + 8, p + n), foundation::readLE16(p + 4), foundation::readLE16(p + 6), true, align_);
        return;
      }
      case '*':
        logo_.assign(p + 4, p + n);
        logoLineSize_ = p[2];
        logoRows_ = p[3];
        return;
      case '/':
        printLine(0);
        drawRaster(logo_, logoLineSize_, logoRows_, true, align_);
        return;
      case 'R':
        fillRect(foundation::readLE16(p + 2), y_ + foundation::readLE16(p + 4), foundation::readLE16(p + 6),
                 foundation::readLE16(p + 8), p[10] == 1);
        return;
      case 'X': {
        const int x = foundation::readLE16(p + 2), y = y_ + foundation::readLE16(p + 4);
        const int w = foundation::readLE16(p + 6), h = foundation::readLE16(p + 8), f = p[11];
        fillRect(x, y, w, f);
        fillRect(x, y + h - f, w, f);
        fillRect(x, y, f, h);
        fillRect(x + w - f, y, f, h);
        return;
      }
      default: return;
    }
  }
  if (c == 0x13) {
    if (p[1] == 0x46) return printLine(p[2]);
    if (p[1] == 0x50) {
      printLine(0);
      fillRect(margin_, y_ + 1, width_ - margin_, 1);
      y_ += 3;
      ensureRows(y_);
    }
  }
}

void ReceiptRenderer::text(uint8_t c) {
  const int cw = cellWidth(font_, style_, rotate_);
  if (x_ + cw > width_) printLine(lineSpacing_);
  line_.push_back({x_, c, font_, style_ | (italic_ ? 2 : 0) | (inverse_ ? 8 : 0), rotate_});
  lineText_.push_back(char(c));
  x_ += cw;
}

void ReceiptRenderer::finishLine() {
  if (!line_.empty()) printLine(lineSpacing_);
}

void ReceiptRenderer::printLine(int feed) {
  if (!line_.empty()) {
    for (const auto& g : line_) drawGlyph(g, y_);
    lines_.push_back(lineText_);
  } else if (feed > 0 && !lineText_.empty()) {
    lines_.push_back(lineText_);
  }
  if (line_.empty() && feed > 0 && lineText_.empty()) lines_.push_back("");
  line_.clear();
  lineText_.clear();
  x_ = margin_;
  feedDots(feed);
}

void ReceiptRenderer::feedDots(int n) {
  y_ += std::max(0, n);
  ensureRows(y_);
}

void ReceiptRenderer::drawGlyph(const Glyph& g, int top) {
  const int w0 = cellWidth(g.font, g.style & ~0, 0), h0 = cellHeight(g.font, g.style, 0);
  std::vector<uint8_t> cell(size_t(w0) * size_t(h0), 0);
  int sx = g.font == 1 ? 1 : 2, sy = g.font == 1 ? 2 : 3;
  int ox = g.font == 1 ? 2 : 1, oy = 1;
  if (g.style & kStyleDoubleWidth) {
    sx *= 2;
    ox *= 2;
  }
  if (g.style & kStyleDoubleHeight) {
    sy *= 2;
    oy *= 2;
  }
  auto put = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < w0 && y < h0) cell[size_t(y) * size_t(w0) + size_t(x)] = 1;
  };
  if (const uint8_t* rows = glyphRows(g.c)) {
    for (int r = 0; r < kGlyphHeight; ++r)
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (!(rows[r] & (0x10 >> col))) continue;
        const int shear = (g.style & 2) ? (kGlyphHeight - 1 - r) * sx / 4 : 0;
        for (int j = 0; j < sy; ++j)
          for (int i = 0; i < sx; ++i) {
            put(ox + col * sx + i + shear, oy + r * sy + j);
            if (g.style & kStyleBold) put(ox + col * sx + i + shear + 1, oy + r * sy + j);
          }
      }
  } else {
    for (int x = 1; x < w0 - 1; ++x) put(x, 1), put(x, h0 - 2);
    for (int y = 1; y < h0 - 1; ++y) put(1, y), put(w0 - 2, y);
  }
  if (g.style & kStyleUnderline)
    for (int x = 0; x < w0; ++x) put(x, h0 - 1);
  if (g.style & 8)
    for (auto& v : cell) v ^= 1;
  for (int y = 0; y < h0; ++y)
    for (int x = 0; x < w0; ++x) {
      if (!cell[size_t(y) * size_t(w0) + size_t(x)]) continue;
      if (g.rotate == 1)
        set(g.x + (h0 - 1 - y), top + x);
      else if (g.rotate == 2)
        set(g.x + (w0 - 1 - x), top + (h0 - 1 - y));
      else
        set(g.x + x, top + y);
    }
}

void ReceiptRenderer::drawRaster(const Bytes& rows, int lineSize, int rowCount, bool reversed, int align) {
  if (lineSize <= 0 || rowCount <= 0) return;
  // Raster rows already carry the picture's placement (the host aligned it inside them), so
  // the head draws them from the margin whatever ESC a says.
  (void)align;
  const int x0 = margin_;
  const int count = std::min(rowCount, int(rows.size() / size_t(lineSize)));
  for (int y = 0; y < count; ++y)
    for (int x = 0; x < lineSize * 8; ++x) {
      const uint8_t b = rows[size_t(y) * size_t(lineSize) + size_t(x / 8)];
      const bool on = reversed ? (b >> (7 - x % 8)) & 1 : (b >> (x % 8)) & 1;
      if (on) set(x0 + x, y_ + y);
    }
  feedDots(rowCount);
}

void ReceiptRenderer::drawMatrix(const std::vector<std::vector<bool>>& m, int module, int height, int align) {
  if (m.empty()) return;
  const int w = int(m[0].size()) * module;
  const int x0 = alignedX(w, align);
  const int rowHeight = height > 0 ? height : module;
  for (size_t r = 0; r < m.size(); ++r)
    for (size_t c = 0; c < m[r].size(); ++c)
      if (m[r][c]) fillRect(x0 + int(c) * module, y_ + int(r) * rowHeight, module, rowHeight);
  feedDots(int(m.size()) * rowHeight);
}

void ReceiptRenderer::hriText(const std::string& text, int align) {
  const int cw = cellWidth(barFont_ == 1 ? 1 : 0, 0, 0);
  const int x0 = alignedX(int(text.size()) * cw, align);
  int x = x0;
  for (char ch : text) {
    drawGlyph({x, uint8_t(ch), barFont_ == 1 ? 1 : 0, 0, 0}, y_);
    x += cw;
  }
  feedDots(cellHeight(barFont_ == 1 ? 1 : 0, 0, 0) + 2);
}

void ReceiptRenderer::barcode(int type, const Bytes& data) {
  std::string text(data.begin(), data.end());
  if ((type == 8 || type == 9) && text.size() >= 2 && text[0] == '{') text = text.substr(2);
  static const ZXing::BarcodeFormat kFormats[] = {
      ZXing::BarcodeFormat::UPCA,    ZXing::BarcodeFormat::UPCE,   ZXing::BarcodeFormat::EAN13,
      ZXing::BarcodeFormat::EAN8,    ZXing::BarcodeFormat::Code39, ZXing::BarcodeFormat::ITF,
      ZXing::BarcodeFormat::Codabar, ZXing::BarcodeFormat::Code93, ZXing::BarcodeFormat::Code128,
      ZXing::BarcodeFormat::Code128, ZXing::BarcodeFormat::Code128, ZXing::BarcodeFormat::Code128};
  std::vector<std::vector<bool>> row(1);
  try {
    if (type < 0 || type >= 12) throw std::runtime_error("type");
    ZXing::MultiFormatWriter writer(kFormats[type]);
    writer.setMargin(0);
    const ZXing::BitMatrix m = writer.encode(text, 0, 1);
    for (int x = 0; x < m.width(); ++x) row[0].push_back(m.get(x, 0));
  } catch (...) {
    // Content the symbology refuses: a hatched bar of the data's length.
    for (size_t i = 0; i < text.size() * 11; ++i) row[0].push_back(i % 3 != 2);
  }
  if (barText_ == 1 || barText_ == 3) hriText(text, align_);
  drawMatrix(row, barScale_, barHeight_, align_);
  if (barText_ == 2 || barText_ == 3) hriText(text, align_);
  lines_.push_back("[barcode " + text + "]");
}

void ReceiptRenderer::matrixCode(bool qr, const Bytes& data, int size, int eccl) {
  const std::string text(data.begin(), data.end());
  std::vector<std::vector<bool>> rows;
  try {
    ZXing::MultiFormatWriter writer(qr ? ZXing::BarcodeFormat::QRCode : ZXing::BarcodeFormat::PDF417);
    writer.setMargin(qr ? 2 : 1);
    writer.setEccLevel(qr ? std::clamp(eccl * 2, 0, 8) : std::clamp(eccl, 0, 8));
    const ZXing::BitMatrix m = writer.encode(text, 0, 0);
    for (int y = 0; y < m.height(); ++y) {
      rows.emplace_back();
      for (int x = 0; x < m.width(); ++x) rows.back().push_back(m.get(x, y));
    }
  } catch (...) {
    rows.assign(21, std::vector<bool>(21, false));
    for (int i = 0; i < 21; ++i) rows[size_t(i)][size_t(i)] = rows[size_t(i)][size_t(20 - i)] = true;
  }
  const int module = qr ? std::max(1, size) : 2;
  drawMatrix(rows, module, qr ? module : module * 3, align_);
  lines_.push_back(std::string(qr ? "[qr " : "[pdf417 ") + text + "]");
}

bool ReceiptRenderer::savePng(const std::filesystem::path& path, int border) const {
  const int w = width_ + 2 * border;
  const int h = std::max(1, height()) + 2 * border;
  std::vector<uint8_t> pixels(size_t(w) * size_t(h), 255);
  for (int y = 0; y < height(); ++y)
    for (int x = 0; x < width_; ++x)
      if (dot(x, y)) pixels[size_t(y + border) * size_t(w) + size_t(x + border)] = 0;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = PNG_FORMAT_GRAY;
  return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), w, nullptr) != 0;
}

std::optional<GreyImage> readGreyPng(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_GRAY;
  GreyImage out;
  out.width = int(image.width);
  out.height = int(image.height);
  out.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return out;
}

}  // namespace devices
