#pragma once
// The receipt printer's command bytes beyond plain text: paper movement, density, barcodes
// (one-dimensional, PDF417, QR), raster images and logos, page mode and tables. The driver
// writes what these build; they check nothing about the connected printer.
//
// Pure functions over plain values: no locks, any thread. Every length that travels in a
// one- or two-byte field is checked here, so a builder never emits a field that disagrees
// with the data that follows it (it answers false instead).

#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace kestra::printer {

// ESC J n in steps of at most 255 dots; 0 dots feeds `defaultFeed`, or sends a form feed
// (0x0C) when label mode is active. Empty for a negative amount.
foundation::Bytes feedCommands(int dots, int defaultFeed, bool labelModeActive);
// The density step (0-6) of a percentage (50-200).
uint8_t densityStep(int percent);

struct BarcodeSettings {
  uint8_t scale = 3;     // module width 2-4
  uint8_t height = 77;   // 1-255 dots
  uint8_t textPosition = 2;  // 0 none, 1 above, 2 below, 3 both
  uint8_t align = 0;     // 0 left, 1 centre, 2 right
  uint8_t font = 0;      // 1: font B for the text
};
// The 15 bytes sent before every barcode: GS w, GS H, GS h, ESC a, GS f.
foundation::Bytes barcodeSettingsCommand(const BarcodeSettings& s);

inline constexpr int kBarcodeTypeCount = 12;
inline constexpr int kBarcodeCode128 = 8;
inline constexpr int kBarcodeLongType = 9;
// GS k header of a barcode of `type` with `data` (Code 128 data not starting with "{" gets
// the code set B prefix inside the header). False for a type of 12 or more, empty data, or
// data too long for the length field.
bool barcodeHeader(int type, const foundation::Bytes& data, foundation::Bytes* header);
// GS Q headers; false when the data is too long for the two-byte length.
bool pdf417Header(bool truncated, bool autoEncoding, int eccl, int size, size_t length,
                  foundation::Bytes* header);
bool qrCodeHeader(int size, int eccl, size_t length, foundation::Bytes* header);
bool qrCodeSizeValid(int size);

// One bit per dot, `lineSize` bytes a row: a dot sets bit x mod 8 of byte x / 8, or with
// `reversed` bit 7 - x mod 8 (the leftmost dot in the top bit). `dots` holds one byte per
// dot (non-zero black) in rows of `rowDots`.
foundation::Bytes packRows(const foundation::Bytes& dots, int rowDots, int lineSize, bool reversed);
// The maker's band compression: a run of one byte value (2-63 long) becomes 0xC0 + count
// and the byte; a single byte of 0xC0 or more becomes 0xC1 and the byte; others stand for
// themselves.
foundation::Bytes compressBand(const uint8_t* data, size_t length);
// The inverse, for the simulator and tests; false for a cut-off run.
bool expandBand(const uint8_t* data, size_t length, foundation::Bytes* out);
inline constexpr int kBandRows = 24;
// ESC a align, ESC * 0x12 lineSize rows 0x00.
foundation::Bytes makerBandHeader(int align, int lineSize, int rows);
// ESC a align, GS v 0 0 xL xH 24 0, then lineSize x 24 bytes (`rows` padded with zeros).
foundation::Bytes genericBand(int align, int lineSize, const uint8_t* rows, size_t length);

// Page-mode commands.
foundation::Bytes pageWorkingAreaCommand(int left, int top, int width, int height, int orientation);
foundation::Bytes pageFillCommand(int left, int top, int width, int height, int color);
foundation::Bytes pageFrameCommand(int left, int top, int width, int height, int frameWidth, int color);
foundation::Bytes pagePositionCommand(int left, int top);

// The coordinate turn of page mode for the working area.
struct PageGeometry {
  int maxWidth = 0;    // MW
  int maxHeight = 0;   // MH
  int paperWidth = 0;  // PW
  int height = 0;      // the label height when set, else the page height
  int orientation = 0;
  bool rotateCoords = false;
};
void rotateCoords(const PageGeometry& g, int* left, int* top, int* width, int* height);

// Tables.
struct TableColumn {
  int width = 0;
  int style = 0;
  int alignment = 0;
  int flags = 2;
};
struct TableCell {
  int font = 0;
  int style = 0;
  int alignment = 0;
  std::string text;  // ASCII, at most 127 bytes
  int rowHeight = 0;
};
inline constexpr int kTableMaxColumns = 10;
inline constexpr int kTableMaxCells = 500;
inline constexpr size_t kTableMaxText = 127;
struct TableLayout {
  std::vector<TableColumn> columns;
  std::vector<TableCell> cells;
  std::vector<bool> delimiterAfter;  // per row: a delimiter line follows it
  int flags = 3;
};
// The table's bytes, its cells laid out within `pageWidth`; false when it is wider.
// Incomplete last rows must have been completed by the caller.
bool tableCommands(const TableLayout& table, int pageWidth, foundation::Bytes* out);

}  // namespace kestra::printer
