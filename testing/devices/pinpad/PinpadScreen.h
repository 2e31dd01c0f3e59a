#pragma once
// The simulated pinpad's screen: what the display commands of group 0x35 draw, one RGB value
// per pixel (white at start), written out as a PNG a person can look at. Text is drawn with
// the receipt simulator's 5 x 7 font scaled into each font's cell; styled runs in their
// colours; rectangles, pixels and page-layout bitmaps as sent. Windows, captions,
// animations, the logo and the switches are kept for tests to read.
//
// Plain data; not thread-safe (the simulator guards it). Malformed commands answer
// "Invalid Length" and draw nothing; nothing is drawn outside the screen.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace devices {

class PinpadScreen {
 public:
  PinpadScreen(int width, int height, bool colour);

  // One command of group 0x35 (sub-command first): its status, or nothing when it is not a
  // display command.
  std::optional<uint8_t> handle(const foundation::Bytes& d);

  int width() const { return width_; }
  int height() const { return height_; }
  // 0xRRGGBB.
  uint32_t pixel(int x, int y) const;
  const std::vector<uint32_t>& pixels() const { return pixels_; }
  bool savePng(const std::filesystem::path& path, int scale = 2) const;
  // An RGB picture read back from a PNG (any 8-bit PNG, converted).
  struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
  };
  static std::optional<Picture> readPng(const std::filesystem::path& path);

  struct Window {
    int x = 0, y = 0, columns = 0, rows = 0, font = 1, codePage = 0;
  };
  struct Animation {
    int x = 0, y = 0;
    bool animated = false;
    bool running = false;
  };
  Window window;
  std::vector<std::string> texts;  // every text drawn, in order (styled runs joined)
  std::array<std::string, 3> captions;
  std::map<int, Animation> animations;
  foundation::Bytes logo;
  int logoWidth = 0, logoHeight = 0;
  int contrast = -1;
  bool numericMode = false;
  bool powerButtonEnabled = true, cancelButtonEnabled = true;
  foundation::Bytes keyTone;
  int initScreens = 0;

 private:
  void fill(int x, int y, int w, int h, uint32_t colour);
  void invert(int x, int y, int w, int h);
  void set(int x, int y, uint32_t colour);
  // Draws `c` in `font`'s cell at (x, y); `background` paints the cell first.
  void glyph(int x, int y, int font, uint8_t c, uint32_t colour, std::optional<uint32_t> background);
  void windowText(const foundation::Bytes& text);
  bool styledText(const foundation::Bytes& d);
  void bitmap(int x, int y, int w, int h, const uint8_t* data, size_t n);
  uint32_t colourOf(uint8_t byte) const;

  int width_, height_;
  bool colour_;
  std::vector<uint32_t> pixels_;
};

}  // namespace devices
