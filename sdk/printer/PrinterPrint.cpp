// Text, paper, barcodes, images, page mode and tables.
#include "sdk/foundation/Dithering.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/printer/PrinterImpl.h"
#include "sdk/printer/PrinterModels.h"

namespace kestra {

using foundation::Bytes;

namespace {
bool send(Printer& p, const Bytes& b, Error* error, double timeout = 10) {
  return p.prnWrite(b.data(), printer::kChannelPrint, b.size(), timeout, error);
}
}  // namespace

// ---- Text ------------------------------------------------------------------------------------

bool Printer::printText(const std::string& text, int encoding, Error* error) {
  if (text.empty()) return true;
  Bytes prepared;
  if (!printer::prepareText(text, encoding, &prepared))
    return Impl::fail(error, -9, "String conversion failed");
  PrinterShared& shared = PrinterShared::get();
  std::lock_guard<std::mutex> lock(shared.textMutex);
  int most = 0;
  const bool ok = printer::layoutText(
      prepared, encoding, shared.pagewidth, shared.text, printer::TextEscapes::standard(),
      [&](const Bytes& run) { return send(*this, run, error); }, &most);
  KXUNISDKGlobals::LOG("MAXWORDS: %d", most);
  return ok;
}

bool Printer::printText(const std::string& text, Error* error) {
  return printText(text, printer::kEncodingWindows1252, error);
}

bool Printer::printDelimiter(int character, Error* error) {
  PrinterShared& shared = PrinterShared::get();
  {
    std::lock_guard<std::mutex> lock(shared.textMutex);
    shared.text.reset();
  }
  return send(*this, printer::delimiterLine(uint8_t(character), shared.pagewidth), error);
}

bool Printer::setLineSpace(int space, Error* error) {
  if (space < 0 || space > 255) return Impl::fail(error, -9, "Invalid linespace (0-255)");
  PrinterShared::get().text_linespace = space;
  if (space == 0) return true;
  return send(*this, {0x1B, 0x33, uint8_t(space)}, error);
}

bool Printer::setLeftMargin(int margin, Error* error) {
  if (margin < 0 || margin > 370) return Impl::fail(error, -9, "Invalid margin (0-370)");
  d_->margin = margin;
  return send(*this, {0x1D, 0x4C, uint8_t(margin), uint8_t(margin >> 8)}, error);
}

bool Printer::prnSetCodepage(int codepage, Error* error) {
  Bytes cmd;
  if (!printer::codepageCommand(d_->printer, codepage, &cmd))
    return Impl::fail(error, -7, KXErrors::getErrorDescription(-7));
  return send(*this, cmd, error);
}

// ---- Paper and settings ---------------------------------------------------------------------

bool Printer::selfTest(bool shortTest, Error* error) {
  return send(*this, shortTest ? Bytes{0x1B, 0x2E} : Bytes{0x1B, 0x54}, error);
}

bool Printer::turnOff(Error* error) {
  return send(*this, {0x1B, 0x2B}, error) && flushCache(error);
}

bool Printer::feedPaper(int dots, Error* error) {
  if (dots < 0) return Impl::fail(error, -9, "Inlid number of lines to feed");
  const Bytes b = printer::feedCommands(dots, PrinterShared::get().feedlines, d_->infoCopy().labelModeActive);
  return b.empty() || send(*this, b, error);
}

bool Printer::feedPaperTemporary(int dots, Error* error) {
  if (dots < 0 || dots > 255) return Impl::fail(error, -9, "Inlid number of lines to feed");
  const int n = dots == 0 ? std::clamp(int(PrinterShared::get().feedlines), 0, 255) : dots;
  return send(*this, {0x1B, 0x6F, uint8_t(n)}, error) && flushCache(error);
}

bool Printer::retractPaper(Error* error) { return send(*this, {0x1B, 0x69}, error) && flushCache(error); }

bool Printer::beep(Error* error) { return send(*this, {0x07}, error); }

bool Printer::setDensity(int percent, Error* error) {
  if (percent < 50 || percent > 200)
    return Impl::fail(error, -9, "Density level must be between 50 and 200 percent");
  if (!printer::supportsDensity(d_->printer)) return true;
  return send(*this, {0x1B, 0x59, printer::densityStep(percent)}, error);
}

bool Printer::printLogo(int mode, Error* error) {
  if (mode < 0 || mode > 3) return Impl::fail(error, -9, "Invalid mode specified");
  return send(*this, {0x1D, 0x2F, uint8_t(mode)}, error);
}

// ---- Barcodes --------------------------------------------------------------------------------

bool Printer::setBarcodeSettings(int scale, int height, int hriPosition, int hriFont, int align,
                                 Error* error) {
  if (scale < 2 || scale > 4) return Impl::fail(error, -9, "Barcode scale can be between 2 and 4");
  if (height < 1 || height > 255) return Impl::fail(error, -9, "Barcode height can be between 1 and 255");
  if (hriPosition < 0 || hriPosition > 3)
    return Impl::fail(error, -9,
                      "HRI position can be BAR_TEXT_NONE, BAR_TEXT_ABOVE, BAR_TEXT_BELO or BAR_TEXT_BOTH");
  if (align < 0 || align > 2)
    return Impl::fail(error, -9, "Aligning can be ALIGN_LEFT, ALIGN_CENTER or ALIGN_RIGHT");
  std::lock_guard<std::mutex> lock(d_->barMutex);
  d_->bar = {uint8_t(scale), uint8_t(height), uint8_t(hriPosition), uint8_t(align),
             uint8_t(hriFont == 1 ? 1 : 0)};
  return true;
}

bool Printer::setBarcodeSettings(int scale, int height, int hriPosition, int align, Error* error) {
  return setBarcodeSettings(scale, height, hriPosition, 0, align, error);
}

namespace {
bool sendBarcodeSettings(Printer& p, Printer::Impl& d, Error* error) {
  printer::BarcodeSettings s;
  {
    std::lock_guard<std::mutex> lock(d.barMutex);
    s = d.bar;
  }
  return send(p, printer::barcodeSettingsCommand(s), error);
}
}  // namespace

bool Printer::printBarcode(int type, const Bytes& barcode, Error* error) {
  Bytes header;
  if (!printer::barcodeHeader(type, barcode, &header))
    return Impl::fail(error, -9, "Invalid barcode type or barcode length");
  return sendBarcodeSettings(*this, *d_, error) && send(*this, header, error) &&
         send(*this, barcode, error);
}

bool Printer::printBarcodePDF417(const Bytes& barcode, bool truncated, bool autoEncoding, int eccl,
                                 int size, Error* error) {
  if (eccl < 0 || eccl > 9) return Impl::fail(error, -9, "Invalid argument: eccl");
  if (size < 0 || size > 15) return Impl::fail(error, -9, "Invalid argument: size");
  Bytes header;
  if (barcode.empty() || !printer::pdf417Header(truncated, autoEncoding, eccl, size, barcode.size(), &header))
    return Impl::fail(error, -9, "Invalid argument: barcode");
  return sendBarcodeSettings(*this, *d_, error) && send(*this, header, error) &&
         send(*this, barcode, error);
}

bool Printer::printBarcodeQRCode(const Bytes& barcode, int eccl, int size, Error* error) {
  if (!printer::qrCodeSizeValid(size)) return Impl::fail(error, -9, "Invalid argument: size");
  if (eccl < 0 || eccl > 4) return Impl::fail(error, -9, "Invalid argument: eccl");
  Bytes header;
  if (barcode.empty() || !printer::qrCodeHeader(size, eccl, barcode.size(), &header))
    return Impl::fail(error, -9, "Invalid argument: barcode");
  return sendBarcodeSettings(*this, *d_, error) && send(*this, header, error) &&
         send(*this, barcode, error);
}

// ---- Images ----------------------------------------------------------------------------------

namespace {
// The image as packed rows of `*lineSize` bytes; nothing for an image of no size.
std::optional<Bytes> imageRows(const KXImage& image, int align, bool reversed, int* lineSize, int* rows) {
  int rowLength = 0;
  const auto dots = getDitheredData(image, align, PrinterShared::get().pagewidth, &rowLength);
  if (!dots || rowLength <= 0) return std::nullopt;
  const int rowDots = rowLength * 8;
  *lineSize = rowLength;
  *rows = int(dots->size() / size_t(rowDots));
  return printer::packRows(*dots, rowDots, rowLength, reversed);
}
}  // namespace

bool Printer::loadLogo(const KXImage& image, int align, Error* error) {
  int lineSize = 0, rows = 0;
  const auto packed = imageRows(image, align, printer::logoReversed(d_->printer), &lineSize, &rows);
  if (!packed) return Impl::fail(error, -9, "Invalid image");
  if (lineSize > 255 || rows > 255) return Impl::fail(error, -9, "Image too big for a logo");
  return send(*this, {0x1D, 0x2A, uint8_t(lineSize), uint8_t(rows)}, error, 5) &&
         send(*this, *packed, error, 5);
}

bool Printer::printImage(const KXImage& image, int align, Error* error) {
  std::lock_guard<std::mutex> lock(d_->printLock);
  const bool generic = d_->escpos;
  int lineSize = 0, rows = 0;
  const auto packed = imageRows(image, align, generic, &lineSize, &rows);
  if (!packed) return Impl::fail(error, -9, "Invalid image");
  if (lineSize > 255 && !generic) return Impl::fail(error, -9, "Image too wide");
  const int savedSpace = PrinterShared::get().text_linespace;
  if (!generic && !setLineSpace(1, error)) return false;
  bool ok = true;
  for (int y = 0; y < rows && ok; y += printer::kBandRows) {
    const int band = std::min(printer::kBandRows, rows - y);
    const uint8_t* data = packed->data() + size_t(y) * size_t(lineSize);
    const size_t length = size_t(band) * size_t(lineSize);
    if (generic) {
      ok = send(*this, printer::genericBand(align, lineSize, data, length), error);
    } else {
      Bytes z = printer::compressBand(data, length);
      z.push_back(10);
      ok = send(*this, printer::makerBandHeader(align, lineSize, band), error) && send(*this, z, error);
    }
  }
  if (!generic) setLineSpace(savedSpace, ok ? error : nullptr);
  return ok;
}

// ---- Page mode -------------------------------------------------------------------------------

namespace {
constexpr const char* kNoPageMode = "The conencted printer does not support page mode";
}

bool Printer::pageIsSupported() { return d_->infoCopy().pageModeSupported; }

bool Printer::pageSetCoordinatesTranslation(bool on, Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  d_->pageRotateCoords = on;
  return true;
}

bool Printer::pageSetLabelHeight(int height, Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  if (height < 1 || height > PrinterShared::get().pageheight) return Impl::fail(error, -9, "Invalid argument: height");
  d_->labelHeight = height;
  return true;
}

bool Printer::pageStart(Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  const KXPrinterInfo info = d_->infoCopy();
  PrinterShared::get().pageheight = info.maxPageModeHeightPx;
  d_->pageorientation = 0;
  d_->pageRotateCoords = false;
  Bytes b = {0x1B, 0x4C};
  const Bytes area = printer::pageWorkingAreaCommand(0, 0, info.paperWidthPx, info.maxPageModeHeightPx, 0);
  b.insert(b.end(), area.begin(), area.end());
  return send(*this, b, error);
}

bool Printer::pagePrint(Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  return send(*this, {0x1D, 0x5A}, error);
}

bool Printer::pageEnd(Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  const bool ok = send(*this, {0x1D, 0x55}, error);
  PrinterShared::get().pagewidth = d_->infoCopy().paperWidthPx;
  PrinterShared::get().pageheight = 0;
  return ok;
}

bool Printer::pageSetWorkingArea(int left, int top, int width, int heigth, int orientation, Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  if (orientation < -1 || orientation > 3) return Impl::fail(error, -9, "Invalid orientation specified");
  if (orientation != -1) d_->pageorientation = orientation;
  const KXPrinterInfo info = d_->infoCopy();
  printer::PageGeometry g;
  g.maxWidth = info.maxPageModeWidthPx;
  g.maxHeight = info.maxPageModeHeightPx;
  g.paperWidth = info.paperWidthPx;
  g.height = d_->labelHeight > 0 ? d_->labelHeight.load() : PrinterShared::get().pageheight.load();
  g.orientation = d_->pageorientation;
  g.rotateCoords = d_->pageRotateCoords;
  KXUNISDKGlobals::LOG("PRN(%d):orig: %d,%d,%d,%d", d_->index, left, top, width, heigth);
  printer::rotateCoords(g, &left, &top, &width, &heigth);
  KXUNISDKGlobals::LOG("PRN(%d):rotated: %d,%d,%d,%d", d_->index, left, top, width, heigth);
  if (!(g.rotateCoords && g.orientation != 0)) {
    width = std::min(width, info.paperWidthPx);
    heigth = std::min(heigth, info.maxPageModeHeightPx);
  }
  return send(*this, printer::pageWorkingAreaCommand(std::max(0, left), std::max(0, top), std::max(0, width),
                                                     std::max(0, heigth), g.orientation),
              error);
}

bool Printer::pageSetWorkingArea(int left, int top, int width, int height, Error* error) {
  return pageSetWorkingArea(left, top, width, height, -1, error);
}

bool Printer::pageFillRectangle(int color, Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  if (color < 0 || color > 2) return Impl::fail(error, -9, "Invalid color specified");
  return send(*this, {0x1B, 0x46}, error);
}

bool Printer::pageFillRectangle(int left, int top, int width, int height, int color, Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  if (color < 0 || color > 2) return Impl::fail(error, -9, "Invalid color specified");
  return send(*this, printer::pageFillCommand(left, top, width, height, color), error);
}

bool Printer::pageRectangleFrame(int left, int top, int width, int height, int frameWidth, int color,
                                 Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  if (frameWidth < 1 || frameWidth > 64) return Impl::fail(error, -9, "Invalid frame width specified");
  if (color < 0 || color > 2) return Impl::fail(error, -9, "Invalid color specified");
  return send(*this, printer::pageFrameCommand(left, top, width, height, frameWidth, color), error);
}

bool Printer::pageSetRelativePositionLeft(int left, int top, Error* error) {
  if (!pageIsSupported()) return Impl::fail(error, -7, kNoPageMode);
  return send(*this, printer::pagePositionCommand(left, top), error);
}

// ---- Tables ----------------------------------------------------------------------------------

bool Printer::tableIsSupported() { return printer::supportsTables(d_->printer, d_->fwver); }

bool Printer::tableCreate(int flags, Error* error) {
  if (!tableIsSupported()) return Impl::fail(error, -7, KXErrors::getErrorDescription(-7));
  PrinterShared& s = PrinterShared::get();
  std::lock_guard<std::mutex> lock(s.tableMutex);
  s.table = printer::TableLayout{};
  s.table.flags = flags;
  s.tblrowheight = s.text_linespace;
  return true;
}

bool Printer::tableCreate(Error* error) { return tableCreate(3, error); }

bool Printer::tableAddColumn(int width, int style, int alignment, int flags, Error* error) {
  PrinterShared& s = PrinterShared::get();
  std::lock_guard<std::mutex> lock(s.tableMutex);
  if (int(s.table.columns.size()) >= printer::kTableMaxColumns)
    return Impl::fail(error, -9, "Maximum number of columns reached");
  s.table.columns.push_back({width, style, alignment, flags});
  return true;
}

bool Printer::tableAddColumn(int width, int style, int alignment, Error* error) {
  return tableAddColumn(width, style, alignment, 2, error);
}
bool Printer::tableAddColumn(int width, Error* error) { return tableAddColumn(width, 0, 0, 2, error); }

namespace {
bool addCell(const std::string& text, std::optional<int> font, std::optional<int> style,
             std::optional<int> alignment, Error* error) {
  PrinterShared& s = PrinterShared::get();
  std::lock_guard<std::mutex> lock(s.tableMutex);
  auto& t = s.table;
  if (t.columns.empty()) return Printer::Impl::fail(error, -9, "There is no column added");
  if (int(t.cells.size()) >= printer::kTableMaxCells)
    return Printer::Impl::fail(error, -9, "Maximum number of cells reached");
  const auto& col = t.columns[t.cells.size() % t.columns.size()];
  printer::TableCell c;
  c.font = font.value_or(0);
  c.style = style.value_or(col.style);
  c.alignment = alignment.value_or(col.alignment);
  Bytes ascii;
  printer::encodeText(text, printer::kEncodingASCII, &ascii);
  c.text.assign(ascii.begin(), ascii.begin() + long(std::min(ascii.size(), printer::kTableMaxText)));
  c.rowHeight = s.tblrowheight;
  t.cells.push_back(std::move(c));
  return true;
}
}  // namespace

bool Printer::tableAddCell(const std::string& text, int font, int style, int alignment, Error* error) {
  return addCell(text, font, style, alignment, error);
}
bool Printer::tableAddCell(const std::string& text, int font, int style, Error* error) {
  return addCell(text, font, style, std::nullopt, error);
}
bool Printer::tableAddCell(const std::string& text, int font, Error* error) {
  return addCell(text, font, std::nullopt, std::nullopt, error);
}
bool Printer::tableAddCell(const std::string& text, Error* error) {
  return addCell(text, std::nullopt, std::nullopt, std::nullopt, error);
}

bool Printer::tableAddDelimiter(Error* error) {
  PrinterShared& s = PrinterShared::get();
  std::lock_guard<std::mutex> lock(s.tableMutex);
  auto& t = s.table;
  if (t.columns.empty()) return Impl::fail(error, -9, "There is no column added");
  const size_t row = t.cells.empty() ? 0 : (t.cells.size() - 1) / t.columns.size();
  if (t.delimiterAfter.size() <= row) t.delimiterAfter.resize(row + 1, false);
  t.delimiterAfter[row] = true;
  return true;
}

bool Printer::tableSetRowHeight(int height, Error* error) {
  if (height < 1 || height > 255) return Impl::fail(error, -9, "Invalid row height");
  PrinterShared& s = PrinterShared::get();
  std::lock_guard<std::mutex> lock(s.tableMutex);
  s.tblrowheight = height;
  return true;
}

bool Printer::tablePrint(Error* error) {
  PrinterShared& s = PrinterShared::get();
  printer::TableLayout t;
  {
    std::lock_guard<std::mutex> lock(s.tableMutex);
    if (s.table.columns.empty()) return Impl::fail(error, -9, "There is no column added");
    while (s.table.cells.size() % s.table.columns.size() != 0) {
      printer::TableCell c;
      c.rowHeight = s.tblrowheight;
      s.table.cells.push_back(c);
    }
    t = s.table;
  }
  Bytes out;
  if (!printer::tableCommands(t, s.pagewidth, &out))
    return Impl::fail(error, -9, "Table width exceeds the printable width");
  // The spacing set before the table comes back after it (setting 1 for the table replaces
  // the stored value, so it is read first).
  const int space = s.text_linespace;
  const bool ok = setLineSpace(1, error) && send(*this, out, error);
  {
    std::lock_guard<std::mutex> lock(s.tableMutex);
    s.table.columns.clear();
    s.table.cells.clear();
    s.table.delimiterAfter.clear();
  }
  setLineSpace(space, nullptr);
  return ok;
}

}  // namespace kestra
