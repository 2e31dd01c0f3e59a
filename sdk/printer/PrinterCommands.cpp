#include "sdk/printer/PrinterCommands.h"

#include <algorithm>

#include "sdk/printer/PrinterText.h"

namespace kestra::printer {

using foundation::Bytes;

Bytes feedCommands(int dots, int defaultFeed, bool labelModeActive) {
  Bytes out;
  if (dots < 0) return out;
  if (dots == 0) {
    if (labelModeActive) return {0x0C};
    dots = defaultFeed;
  }
  while (dots > 0) {
    const int n = std::min(dots, 255);
    out.insert(out.end(), {0x1B, 0x4A, uint8_t(n)});
    dots -= n;
  }
  return out;
}

uint8_t densityStep(int percent) {
  if (percent < 70) return 0;
  if (percent < 85) return 1;
  if (percent < 95) return 2;
  if (percent < 110) return 3;
  if (percent < 130) return 4;
  if (percent < 150) return 5;
  return 6;
}

Bytes barcodeSettingsCommand(const BarcodeSettings& s) {
  return {0x1D, 0x77, s.scale, 0x1D, 0x48, s.textPosition, 0x1D, 0x68, s.height,
          0x1B, 0x61, s.align, 0x1D, 0x66, uint8_t(s.font == 1 ? 1 : 0)};
}

bool barcodeHeader(int type, const Bytes& data, Bytes* header) {
  if (type < 0 || type >= kBarcodeTypeCount || data.empty()) return false;
  if (type == kBarcodeLongType) {
    if (data.size() > 0xFFFF) return false;
    *header = {0x1D, 0x6B, 0x4A, 0x00};
    foundation::appendLE16(*header, uint16_t(data.size()));
    return true;
  }
  const bool codeSetB = type == kBarcodeCode128 && data.size() >= 2 && data[0] != '{';
  const size_t length = data.size() + (codeSetB ? 2 : 0);
  if (length > 0xFF) return false;
  *header = {0x1D, 0x6B, uint8_t(0x41 + type), uint8_t(length)};
  if (codeSetB) header->insert(header->end(), {'{', 'B'});
  return true;
}

bool pdf417Header(bool truncated, bool autoEncoding, int eccl, int size, size_t length,
                  Bytes* header) {
  if (length > 0xFFFF) return false;
  *header = {0x1D, 0x51, 0x02, uint8_t(truncated ? 1 : 0), uint8_t(autoEncoding ? 0 : 1),
             uint8_t(eccl), uint8_t(size)};
  foundation::appendLE16(*header, uint16_t(length));
  return true;
}

bool qrCodeSizeValid(int size) {
  return size == 1 || size == 4 || size == 6 || size == 8 || size == 10 || size == 12 ||
         size == 14;
}

bool qrCodeHeader(int size, int eccl, size_t length, Bytes* header) {
  if (length > 0xFFFF) return false;
  *header = {0x1D, 0x51, 0x06, uint8_t(size), uint8_t(eccl)};
  foundation::appendLE16(*header, uint16_t(length));
  return true;
}

Bytes packRows(const Bytes& dots, int rowDots, int lineSize, bool reversed) {
  if (rowDots <= 0 || lineSize <= 0) return {};
  const size_t rows = dots.size() / size_t(rowDots);
  Bytes out(rows * size_t(lineSize), 0);
  for (size_t y = 0; y < rows; ++y) {
    const uint8_t* row = dots.data() + y * size_t(rowDots);
    uint8_t* dst = out.data() + y * size_t(lineSize);
    for (int x = 0; x < rowDots && x / 8 < lineSize; ++x) {
      if (!row[x]) continue;
      dst[x / 8] |= uint8_t(1u << (reversed ? 7 - x % 8 : x % 8));
    }
  }
  return out;
}

Bytes compressBand(const uint8_t* data, size_t length) {
  Bytes out;
  out.reserve(length + length / 8 + 2);
  size_t i = 0;
  while (i < length) {
    size_t run = 1;
    while (i + run < length && run < 63 && data[i + run] == data[i]) ++run;
    if (run >= 2) {
      out.push_back(uint8_t(0xC0 + run));
      out.push_back(data[i]);
    } else if (data[i] >= 0xC0) {
      out.push_back(0xC1);
      out.push_back(data[i]);
    } else {
      out.push_back(data[i]);
    }
    i += run;
  }
  return out;
}

bool expandBand(const uint8_t* data, size_t length, Bytes* out) {
  out->clear();
  for (size_t i = 0; i < length; ++i) {
    if (data[i] >= 0xC1) {
      if (i + 1 >= length) return false;
      out->insert(out->end(), size_t(data[i] - 0xC0), data[i + 1]);
      ++i;
    } else {
      out->push_back(data[i]);
    }
  }
  return true;
}

Bytes makerBandHeader(int align, int lineSize, int rows) {
  return {0x1B, 0x61, uint8_t(align), 0x1B, 0x2A, 0x12, uint8_t(lineSize), uint8_t(rows), 0x00};
}

Bytes genericBand(int align, int lineSize, const uint8_t* rows, size_t length) {
  Bytes out = {0x1B, 0x61, uint8_t(align), 0x1D, 0x76, 0x30, 0x00};
  foundation::appendLE16(out, uint16_t(lineSize));
  out.insert(out.end(), {uint8_t(kBandRows), 0x00});
  const size_t band = size_t(lineSize) * kBandRows;
  const size_t n = std::min(length, band);
  out.insert(out.end(), rows, rows + n);
  out.insert(out.end(), band - n, 0);
  return out;
}

namespace {
void append4(Bytes& out, int a, int b, int c, int d) {
  for (int v : {a, b, c, d}) foundation::appendLE16(out, uint16_t(v));
}
}  // namespace

Bytes pageWorkingAreaCommand(int left, int top, int width, int height, int orientation) {
  Bytes out = {0x1B, 0x57};
  append4(out, left, top, width, height);
  out.insert(out.end(), {0x1D, 0x54, uint8_t(orientation)});
  return out;
}

Bytes pageFillCommand(int left, int top, int width, int height, int color) {
  Bytes out = {0x1D, 0x52};
  append4(out, left, top, width, height);
  out.push_back(uint8_t(color));
  return out;
}

Bytes pageFrameCommand(int left, int top, int width, int height, int frameWidth, int color) {
  Bytes out = {0x1D, 0x58};
  append4(out, left, top, width, height);
  out.push_back(uint8_t(color));
  out.push_back(uint8_t(frameWidth));
  return out;
}

Bytes pagePositionCommand(int left, int top) {
  Bytes out = {0x1B, 0x24};
  foundation::appendLE16(out, uint16_t(left));
  out.insert(out.end(), {0x1D, 0x24});
  foundation::appendLE16(out, uint16_t(top));
  return out;
}

void rotateCoords(const PageGeometry& g, int* left, int* top, int* width, int* height) {
  const int MW = g.maxWidth, MH = g.maxHeight, PW = g.paperWidth, H = g.height;
  int& l = *left;
  int& t = *top;
  int& w = *width;
  int& h = *height;
  if (g.orientation == 0 || !g.rotateCoords) {
    if (g.orientation == 0) {
      if (w < 1 || l + w > MW) w = MW - l;
      if (h < 1 || t + h > MH) h = MH - t;
    }
    return;
  }
  if (g.orientation == 2) {
    if (w < 1 || l + w > MW) w = MW - l;
    if (h < 1 || t + h > H) h = H - t;
    l = PW - l - w;
    t = H - t - h;
  } else if (g.orientation == 3) {
    if (w < 1 || l + w > MH) w = MH - l;
    if (h < 1 || t + h > PW) h = PW - t;
    const int oldLeft = l;
    l = PW - t - h;
    t = oldLeft;
    std::swap(w, h);
  } else if (g.orientation == 1) {
    if (w < 1 || l + w > MH) w = H - l;
    if (h < 1 || t + h > PW) h = PW - t;
    const int oldLeft = l, oldTop = t;
    l = oldTop;
    t = H - oldLeft - w;
    std::swap(w, h);
  }
}

bool tableCommands(const TableLayout& table, int pageWidth, Bytes* out) {
  const size_t ncols = table.columns.size();
  if (ncols == 0) return false;
  std::vector<int> widths(ncols);
  for (size_t c = 0; c < ncols; ++c) widths[c] = std::max(0, table.columns[c].width);
  for (size_t i = 0; i < table.cells.size(); ++i) {
    const TableCell& cell = table.cells[i];
    const int w = int(cell.text.size()) * getFontSize(cell.font, cell.style, 0, false) + 2;
    widths[i % ncols] = std::max(widths[i % ncols], w);
  }
  int tableWidth = 0;
  for (size_t c = 0; c < ncols; ++c) {
    tableWidth += widths[c];
    if (c + 1 < ncols && (table.columns[c].flags & 2)) tableWidth += 1;
  }
  if (table.flags & 2) tableWidth += 2;
  if (tableWidth > pageWidth) return false;
  int stretchable = 0;
  for (const auto& col : table.columns) stretchable += (col.flags & 4) ? 0 : 1;
  if (stretchable > 0) {
    const int share = (pageWidth - tableWidth) / stretchable;
    if (share > 1)
      for (size_t c = 0; c < ncols; ++c)
        if (!(table.columns[c].flags & 4)) {
          widths[c] += share - 1;
          tableWidth += share - 1;
        }
  }
  std::vector<int> starts(ncols);
  int x = (table.flags & 2) ? 1 : 0;
  for (size_t c = 0; c < ncols; ++c) {
    starts[c] = x;
    x += widths[c] + ((table.columns[c].flags & 2) ? 1 : 0);
  }

  Bytes& o = *out;
  o = {0x13, 0x41, 0x13, 0x01, 0x4D, 0x13, 0x2B, 0x13, 0x43, 0x13, 0x4C, 0x00};
  foundation::appendLE16(o, uint16_t(tableWidth));
  const Bytes delimiter = {0x13, 0x41, 0x13, 0x50};
  if (table.flags & 1) o.insert(o.end(), delimiter.begin(), delimiter.end());
  const size_t rows = (table.cells.size() + ncols - 1) / ncols;
  bool italic = false;
  for (size_t r = 0; r < rows; ++r) {
    o.insert(o.end(), {0x13, 0x42, 0x13, 0x43});
    int rowHeight = 0;
    for (size_t c = 0; c < ncols && r * ncols + c < table.cells.size(); ++c) {
      const TableCell& cell = table.cells[r * ncols + c];
      TextState s;
      s.font = cell.font;
      s.style = cell.style;
      const int textWidth = int(cell.text.size()) * getFontSize(cell.font, cell.style, 0, false);
      int at = starts[c] + 1;
      if (cell.alignment == kAlignCenter) at = starts[c] + (widths[c] - textWidth) / 2;
      if (cell.alignment == kAlignRight) at = starts[c] + (widths[c] - textWidth) - 1;
      o.insert(o.end(), {0x1B, 0x24});
      foundation::appendLE16(o, uint16_t(std::max(0, at)));
      const bool cellItalic = (cell.style & kStyleItalic) != 0;
      if (cellItalic != italic) {
        o.insert(o.end(), {0x1B, 0x49, uint8_t(cellItalic ? 1 : 0)});
        italic = cellItalic;
      }
      TextEscapes::standard().addAll(o, s);
      o.insert(o.end(), cell.text.begin(), cell.text.end());
      rowHeight = std::max({rowHeight, cell.rowHeight, getFontSize(cell.font, cell.style, 0, true)});
    }
    // The row ends with its height: 0x13 0x46 n.
    o.insert(o.end(), {0x13, 0x46, uint8_t(std::clamp(rowHeight, 1, 255))});
    if (r < table.delimiterAfter.size() && table.delimiterAfter[r])
      o.insert(o.end(), delimiter.begin(), delimiter.end());
  }
  if (table.flags & 1) o.insert(o.end(), delimiter.begin(), delimiter.end());
  o.insert(o.end(), {0x13, 0x2D});
  if (italic) o.insert(o.end(), {0x1B, 0x49, 0x00});
  TextEscapes::standard().addAll(o, TextState{});
  return true;
}

}  // namespace kestra::printer
