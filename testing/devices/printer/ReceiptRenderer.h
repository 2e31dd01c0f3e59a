#pragma once
// The simulated printer's print head: it interprets the bytes of the print channel (text with
// attributes, feeds, absolute positions, alignment, raster images in both band forms,
// barcodes, PDF417 and QR codes, tables, page-mode rectangles) into a picture of the receipt,
// one byte per dot (0 white, 1 black), `paperWidth` dots wide and as long as printed.
//
// Commands that ask the printer something (identification, status, serial, scan, card
// read, label settings, label length, black mark) are handed to `onQuery` with their bytes;
// the owner sends the printer's answer.
//
// Bytes may arrive in any pieces: a command cut between two `feed` calls waits for the rest.
// Unknown or malformed commands are skipped, never read past. Not thread-safe: the owner
// serialises `feed` and the picture reads.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

using foundation::Bytes;

class ReceiptRenderer {
 public:
  explicit ReceiptRenderer(int paperWidth = 384);

  // A command that asks the printer something, with its bytes; the owner answers it.
  std::function<void(const Bytes& command)> onQuery;

  // Interprets `length` more bytes of the print channel.
  void feed(const uint8_t* data, size_t length);
  void feed(const Bytes& b) { feed(b.data(), b.size()); }
  // Ends any pending line (as the paper is torn off).
  void finishLine();

  int paperWidth() const { return width_; }
  int height() const { return int(dots_.size() / size_t(width_)); }
  // 0 white, 1 black, row by row.
  const std::vector<uint8_t>& dots() const { return dots_; }
  bool dot(int x, int y) const;
  // The text printed so far, one line per printed line (positions dropped), for tests that
  // read rather than look.
  const std::vector<std::string>& lines() const { return lines_; }
  int beeps() const { return beeps_; }
  int density() const { return density_; }
  int codepageCommand() const { return codepage_; }

  // Grey PNG of the receipt with a white border (`scale` pixels per dot).
  bool savePng(const std::filesystem::path& path, int border = 8) const;

 private:
  struct Glyph {
    int x;
    uint8_t c;
    int font, style, rotate;
  };
  // Length of the command at the front of `p` (0: incomplete), or -1 to skip one byte.
  long commandLength(const uint8_t* p, size_t n) const;
  void execute(const uint8_t* p, size_t n);
  void text(uint8_t c);
  void printLine(int feedDots);
  void feedDots(int n);
  void ensureRows(int rows);
  void set(int x, int y, bool black = true);
  void fillRect(int x, int y, int w, int h, bool black = true);
  void drawGlyph(const Glyph& g, int top);
  void drawRaster(const Bytes& rows, int lineSize, int rowCount, bool reversed, int align);
  void drawMatrix(const std::vector<std::vector<bool>>& m, int module, int height, int align);
  void barcode(int type, const Bytes& data);
  void matrixCode(bool qr, const Bytes& data, int size, int eccl);
  void hriText(const std::string& text, int align);
  int alignedX(int w, int align) const;

  int width_;
  std::vector<uint8_t> dots_;
  int y_ = 0;
  Bytes pending_;
  std::vector<Glyph> line_;
  std::string lineText_;
  int x_ = 0;
  int margin_ = 0;
  int lineSpacing_ = 34;
  int font_ = 0, style_ = 0, rotate_ = 0, align_ = 0;
  bool italic_ = false, inverse_ = false;
  int barScale_ = 3, barHeight_ = 77, barText_ = 2, barFont_ = 0;
  int beeps_ = 0, density_ = -1, codepage_ = -1;
  std::vector<std::string> lines_;
  Bytes logo_;
  int logoLineSize_ = 0, logoRows_ = 0;
};

// Reads a grey PNG written by `savePng` (or any 8-bit grey PNG): width, height, pixels.
struct GreyImage {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;
};
std::optional<GreyImage> readGreyPng(const std::filesystem::path& path);

}  // namespace devices
