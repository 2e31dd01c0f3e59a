#include "platform/ui/harness/TextFit.h"

#include <cstdio>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Text.h"
#include "platform/ui/harness/Harness.h"

namespace ui::harness {
namespace {

// Measures are rounded up to whole points; half a point more is still a fit.
constexpr double kSlack = 0.5;

std::string describeCut(const View& v, const std::string& text, const char* what, double have, double need) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, "%s %.1f, needs %.1f", what, have, need);
  return std::string(v.kind()) + " \"" + text + "\": " + numbers;
}

// The width of a label's text on one line, run by run in their own fonts.
double lineWidth(const Label& l) {
  if (!l.hasAttributedText()) return measureText(l.text(), l.effectiveFont()).width;
  double total = 0;
  for (const auto& run : l.attributedText()) total += measureText(run.text, run.font.value_or(l.font())).width;
  return total;
}

void checkLabel(const Label& l, std::vector<std::string>& out) {
  if (l.text().empty()) return;
  const Rect f = l.frame();
  if (l.numberOfLines() == 1) {
    const double need = lineWidth(l);
    if (need > f.width() + kSlack) out.push_back(describeCut(l, l.text(), "width", f.width(), need));
    return;
  }
  // Several lines: what the text needs wrapped at the label's width, against the label's
  // height and its line limit.
  const Font font = l.font();
  const double need = measureText(l.text(), font, f.width(), 0).height;
  double have = f.height();
  if (l.numberOfLines() > 0) have = std::min(have, measureText(l.text(), font, f.width(), l.numberOfLines()).height);
  if (need > have + kSlack) out.push_back(describeCut(l, l.text(), "height", have, need));
}

void checkButton(const Button& b, std::vector<std::string>& out) {
  const std::string title = b.currentTitle();
  if (title.empty()) return;
  double have = b.frame().width();
  if (auto img = b.currentImage()) {
    // The picture comes first, at most its own size, then the title 4 points after it.
    const Size s = img->size();
    const double k = std::min({1.0, b.frame().width() / std::max(1.0, s.width), b.frame().height() / std::max(1.0, s.height)});
    have -= 4 + s.width * k + 4;
  }
  const double need = measureText(title, b.titleFont()).width;
  if (need > have + kSlack) out.push_back(describeCut(b, title, "width", have, need));
}

}  // namespace

std::vector<std::string> cutTexts(const Harness& h) {
  std::vector<std::string> out;
  for (View* v : h.visibleViews()) {
    if (v->frame().width() <= 0 || v->frame().height() <= 0) continue;  // nothing of it shows
    if (auto* l = dynamic_cast<Label*>(v)) checkLabel(*l, out);
    else if (auto* b = dynamic_cast<Button*>(v)) checkButton(*b, out);
    else if (auto* index = dynamic_cast<TableIndexView*>(v))
      for (const auto& title : index->titles) {
        const double need = measureText(title, TableIndexView::titleFont()).width;
        if (need > index->frame().width() + kSlack) out.push_back(describeCut(*index, title, "width", index->frame().width(), need));
      }
  }
  return out;
}

}  // namespace ui::harness
