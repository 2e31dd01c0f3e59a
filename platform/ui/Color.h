#pragma once
// Colours (RGBA components 0..1), fonts and text alignment of the screen model. Fonts
// are descriptions only (name, size, bold); the renderer chooses the real face and the
// model measures text through TextMetrics.h.

#include <string>

namespace ui {

struct Color {
  double r = 0, g = 0, b = 0, a = 1;

  static Color rgb(double r, double g, double b, double a = 1) { return {r, g, b, a}; }
  static Color white(double w, double a = 1) { return {w, w, w, a}; }
  static Color black() { return {0, 0, 0, 1}; }
  static Color whiteColor() { return {1, 1, 1, 1}; }
  static Color clear() { return {0, 0, 0, 0}; }
  static Color red() { return {1, 0, 0, 1}; }
  static Color green() { return {0, 1, 0, 1}; }
  static Color blue() { return {0, 0, 1, 1}; }
  static Color yellow() { return {1, 1, 0, 1}; }
  static Color orange() { return {1, 0.5, 0, 1}; }
  static Color purple() { return {0.5, 0, 0.5, 1}; }
  static Color gray() { return {0.5, 0.5, 0.5, 1}; }
  static Color lightGray() { return {2.0 / 3, 2.0 / 3, 2.0 / 3, 1}; }
  static Color darkGray() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
  // The system tint of buttons and bar items.
  static Color systemBlue() { return {0, 122.0 / 255, 1, 1}; }

  Color withAlpha(double alpha) const { return {r, g, b, alpha}; }
  bool isClear() const { return a <= 0; }
  bool operator==(const Color&) const = default;
  // "r,g,b,a" with two decimals, for dumps.
  std::string text() const;
};

struct Font {
  std::string name;  // empty: the system font
  double size = 17;
  bool bold = false;

  static Font systemFont(double size) { return {"", size, false}; }
  static Font boldSystemFont(double size) { return {"", size, true}; }
  static Font named(std::string name, double size) {
    bool bold = name.find("Bold") != std::string::npos;
    return {std::move(name), size, bold};
  }
  bool operator==(const Font&) const = default;
};

enum class TextAlignment { Left, Center, Right };

}  // namespace ui
