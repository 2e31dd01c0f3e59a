#include "app/picking/SizeQtyGrid.h"

#include <nlohmann/json.hpp>

namespace orvo {

using nlohmann::json;
using pick::kSizeColumns;

namespace {

constexpr double kLabelHeight = 18;
constexpr double kFieldHeight = 28;

}  // namespace

SizeQtyColumns SizeQtyColumns::make(ui::Rect frame, double columnWidth, bool withFields) {
  SizeQtyColumns g;
  g.strip = ui::makeView<ui::ScrollView>(frame);
  g.strip->setShowsHorizontalScrollIndicator(false);
  g.strip->setContentSize({frame.size.width, frame.size.height});
  for (size_t i = 0; i < kSizeColumns; ++i) {
    const double x = double(i) * (columnWidth + 1);
    g.sizes[i] = ui::makeView<ui::Label>(ui::Rect(x, 0, columnWidth, kLabelHeight));
    g.units[i] = ui::makeView<ui::Label>(ui::Rect(x, kLabelHeight, columnWidth, kLabelHeight));
    for (auto* l : {g.sizes[i].get(), g.units[i].get()}) {
      l->setTextAlignment(ui::TextAlignment::Center);
      l->setFont(ui::Font::systemFont(12));
      l->setAdjustsFontSizeToFitWidth(true);
    }
    g.sizes[i]->setBackgroundColor(ui::Color::white(0.9));
    g.strip->addSubview(g.sizes[i]);
    g.strip->addSubview(g.units[i]);
    if (withFields) {
      g.scanned[i] = ui::makeView<ui::TextField>(ui::Rect(x, 2 * kLabelHeight + 2, columnWidth, kFieldHeight));
      g.scanned[i]->setTextAlignment(ui::TextAlignment::Center);
      g.scanned[i]->setKeyboardType(ui::KeyboardType::NumberPad);
      g.scanned[i]->setBorderStyle(ui::BorderStyle::RoundedRect);
      g.scanned[i]->setTag(columnTag(i));
      g.scanned[i]->setAccessibilityLabel("Scanned " + std::to_string(i + 1));
      g.strip->addSubview(g.scanned[i]);
    }
  }
  return g;
}

void setColumnsShown(SizeQtyColumns& grid, long long count) {
  for (size_t i = 0; i < kSizeColumns; ++i) {
    // Unsigned, as the count minus one: 0 and negative counts wrap above 14.
    const bool shown = (unsigned long long)(count - 1) <= 14 && (long long)i < count;
    grid.sizes[i]->setHidden(!shown);
    grid.units[i]->setHidden(!shown);
    if (grid.scanned[i]) grid.scanned[i]->setHidden(!shown);
  }
}

void writeSizes(SizeQtyColumns& grid, const json& sizes) {
  for (size_t i = 0; i < kSizeColumns; ++i) grid.sizes[i]->setText(pick::textAt(sizes, i));
}

void writeUnits(SizeQtyColumns& grid, const json& units) {
  for (size_t i = 0; i < kSizeColumns; ++i) grid.units[i]->setText(pick::textAt(units, i));
}

void writeScanned(SizeQtyColumns& grid, const json& scanned) {
  for (size_t i = 0; i < kSizeColumns; ++i)
    if (grid.scanned[i]) {
      std::string text = pick::textAt(scanned, i);
      grid.scanned[i]->setText(text.empty() ? "0" : text);
    }
}

void colourScanned(SizeQtyColumns& grid, const json& units, const json& scanned) {
  const size_t n = units.is_array() ? units.size() : 0;
  for (size_t i = 0; i < n && i < kSizeColumns; ++i) {
    if (!grid.scanned[i]) continue;
    const bool equal = scanned.is_array() && pick::unitAt(scanned, i) == pick::unitAt(units, i);
    grid.scanned[i]->setTextColor(equal ? ui::Color::blue() : ui::Color::red());
  }
}

double contentWidth(const SizeQtyColumns& grid, long long count) {
  return grid.sizes[0]->frame().size.width * double(count) + double(count);
}

}  // namespace orvo
