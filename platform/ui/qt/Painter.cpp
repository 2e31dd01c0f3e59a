#include "platform/ui/qt/Painter.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <cmath>
#include <unordered_map>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertPanel.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/DrawingView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Stepper.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/Text.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/Toolbar.h"

namespace ui::qt {
namespace {

QColor qc(const Color& c) { return QColor::fromRgbF(float(c.r), float(c.g), float(c.b), float(c.a)); }
QString qs(const std::string& s) { return QString::fromStdString(s); }
QRectF qr(const Rect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

Qt::Alignment qAlign(TextAlignment a) {
  switch (a) {
    case TextAlignment::Center: return Qt::AlignHCenter;
    case TextAlignment::Right: return Qt::AlignRight;
    case TextAlignment::Left: break;
  }
  return Qt::AlignLeft;
}

void drawText(QPainter& p, const QRectF& r, const std::string& text, const Font& font, const Color& color,
              TextAlignment align, int lines) {
  p.setFont(qtFont(font));
  p.setPen(qc(color));
  int flags = int(qAlign(align)) | Qt::AlignVCenter;
  if (lines != 1) flags |= Qt::TextWordWrap;
  QString t = qs(text);
  if (lines == 1) t = QFontMetricsF(qtFont(font)).elidedText(t, Qt::ElideRight, r.width());
  p.drawText(r, flags, t);
}

// Runs of a label of several lines: wrapped word by word at the label's width, each word in
// its run's colour and font, at most `numberOfLines` lines (0: as many as fit), the block
// centred vertically as a label's text is. A word wider than the label is cut at its edge.
void paintWrappedRuns(QPainter& p, Label& l, const QRectF& r) {
  struct Word {
    QString text;
    QFont font;
    QColor color;
    double width;
    bool space;
  };
  std::vector<std::vector<Word>> lines(1);
  double x = 0, lineHeight = QFontMetricsF(qtFont(l.font())).lineSpacing();
  for (auto& run : l.attributedText()) {
    QFont f = qtFont(run.font.value_or(l.font()));
    f.setStrikeOut(run.strikethrough);
    QFontMetricsF m(f);
    lineHeight = std::max(lineHeight, m.lineSpacing());
    const QColor color = qc(run.color.value_or(l.textColor()));
    const QString text = qs(run.text);
    for (qsizetype i = 0; i < text.size();) {
      const bool space = text[i] == QChar(' ');
      qsizetype j = i;
      while (j < text.size() && (text[j] == QChar(' ')) == space) ++j;
      Word w{text.mid(i, j - i), f, color, m.horizontalAdvance(text.mid(i, j - i)), space};
      i = j;
      if (!w.space && x > 0 && x + w.width > r.width()) {
        lines.emplace_back();
        x = 0;
      }
      if (w.space && x == 0) continue;  // no line begins with a space
      x += w.width;
      lines.back().push_back(std::move(w));
    }
  }
  size_t shown = lines.size();
  if (l.numberOfLines() > 0) shown = std::min(shown, size_t(l.numberOfLines()));
  shown = std::max<size_t>(1, std::min(shown, size_t(std::max(1.0, std::floor(r.height() / lineHeight)))));
  p.save();
  p.setClipRect(r, Qt::IntersectClip);
  double y = (r.height() - lineHeight * double(shown)) / 2;
  for (size_t n = 0; n < shown; ++n, y += lineHeight) {
    double width = 0;
    for (auto& w : lines[n]) width += w.width;
    double left = 0;
    if (l.textAlignment() == TextAlignment::Center) left = (r.width() - width) / 2;
    if (l.textAlignment() == TextAlignment::Right) left = r.width() - width;
    for (auto& w : lines[n]) {
      p.setFont(w.font);
      p.setPen(w.color);
      p.drawText(QRectF(left, y, w.width + 1, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, w.text);
      left += w.width;
    }
  }
  p.restore();
}

void paintLabel(QPainter& p, Label& l) {
  QRectF r(0, 0, l.frame().width(), l.frame().height());
  if (!l.hasAttributedText()) {
    drawText(p, r, l.text(), l.effectiveFont(), l.textColor(), l.textAlignment(), l.numberOfLines());
    return;
  }
  if (l.numberOfLines() != 1) return paintWrappedRuns(p, l, r);
  // Runs on one line, each in its own colour and font.
  double total = 0;
  for (auto& run : l.attributedText()) total += QFontMetricsF(qtFont(run.font.value_or(l.font()))).horizontalAdvance(qs(run.text));
  double x = 0;
  if (l.textAlignment() == TextAlignment::Center) x = (r.width() - total) / 2;
  if (l.textAlignment() == TextAlignment::Right) x = r.width() - total;
  for (auto& run : l.attributedText()) {
    QFont f = qtFont(run.font.value_or(l.font()));
    f.setStrikeOut(run.strikethrough);
    QFontMetricsF m(f);
    double w = m.horizontalAdvance(qs(run.text));
    p.setFont(f);
    p.setPen(qc(run.color.value_or(l.textColor())));
    p.drawText(QRectF(x, 0, w + 1, r.height()), Qt::AlignLeft | Qt::AlignVCenter, qs(run.text));
    x += w;
  }
}

void paintImage(QPainter& p, const Image& img, const QRectF& r) {
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  p.drawImage(r, qtImage(img));
}

// A drawing view's drawings, in order, antialiased.
void paintDrawings(QPainter& p, DrawingView& dv) {
  p.save();
  // The drawings are the view's picture: a stroke that left the pad ends at its edge.
  p.setClipRect(QRectF(0, 0, dv.frame().width(), dv.frame().height()), Qt::IntersectClip);
  p.setRenderHint(QPainter::Antialiasing, true);
  for (const auto& d : dv.drawings()) {
    switch (d.kind) {
      case Drawing::Kind::Stroke: {
        if (d.points.empty()) break;
        const Qt::PenCapStyle cap = d.cap == LineCap::Round    ? Qt::RoundCap
                                    : d.cap == LineCap::Square ? Qt::SquareCap
                                                               : Qt::FlatCap;
        p.setPen(QPen(qc(d.color), d.width, Qt::SolidLine, cap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        if (d.points.size() == 1) {
          p.drawPoint(QPointF(d.points[0].x, d.points[0].y));
          break;
        }
        QPainterPath path(QPointF(d.points[0].x, d.points[0].y));
        for (size_t i = 1; i < d.points.size(); ++i) path.lineTo(d.points[i].x, d.points[i].y);
        p.drawPath(path);
        break;
      }
      case Drawing::Kind::Fill: p.fillRect(qr(d.rect), qc(d.color)); break;
      case Drawing::Kind::Picture: paintImage(p, *d.image, qr(d.rect)); break;
    }
  }
  p.restore();
}

void paintButton(QPainter& p, Button& b) {
  QRectF r(0, 0, b.frame().width(), b.frame().height());
  if (auto bg = b.currentBackgroundImage()) paintImage(p, *bg, r);
  if (b.isHighlighted()) p.setOpacity(p.opacity() * 0.5);
  std::string kind = b.kind();
  if (kind == "AlertButton") {
    p.setPen(QPen(QColor(200, 200, 200), 0.5));
    p.drawLine(QPointF(0, 0.25), QPointF(r.width(), 0.25));
    if (b.frame().x() > 0) p.drawLine(QPointF(0.25, 0), QPointF(0.25, r.height()));
  }
  std::string title = b.currentTitle();
  if (auto img = b.currentImage()) {
    Size s = img->size();
    double k = std::min({1.0, r.width() / std::max(1.0, s.width), r.height() / std::max(1.0, s.height)});
    double w = s.width * k, h = s.height * k;
    double x = title.empty() ? (r.width() - w) / 2 : 4;
    paintImage(p, *img, QRectF(x, (r.height() - h) / 2, w, h));
    if (!title.empty()) r.setLeft(x + w + 4);
  }
  if (!title.empty()) drawText(p, r, title, b.titleFont(), b.currentTitleColor(), b.contentAlignment(), 1);
}

void paintTextField(QPainter& p, TextField& f) {
  QRectF r(0, 0, f.frame().width(), f.frame().height());
  p.setRenderHint(QPainter::Antialiasing, true);
  if (f.borderStyle() == BorderStyle::RoundedRect) {
    p.setPen(QPen(QColor(190, 190, 190), 1));
    if (!f.backgroundColor()) p.setBrush(Qt::white);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    p.setBrush(Qt::NoBrush);
  } else if (f.borderStyle() == BorderStyle::Line || f.borderStyle() == BorderStyle::Bezel) {
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawRect(r.adjusted(0.5, 0.5, -0.5, -0.5));
  }
  QRectF inner = r.adjusted(6, 0, -6, 0);
  bool empty = f.text().empty();
  Color color = empty ? Color::white(0.7) : f.textColor();
  drawText(p, inner, f.displayText(), f.font(), color, f.textAlignment(), 1);
  if (f.isFirstResponder()) {
    QFontMetricsF m(qtFont(f.font()));
    double w = empty ? 0 : m.horizontalAdvance(qs(f.displayText()));
    double x = inner.left() + w + 1;
    if (f.textAlignment() == TextAlignment::Center) x = inner.center().x() + w / 2 + 1;
    if (f.textAlignment() == TextAlignment::Right) x = inner.right() - 1;
    p.setPen(QPen(qc(Color::systemBlue()), 2));
    double h = m.height();
    p.drawLine(QPointF(x, (r.height() - h) / 2), QPointF(x, (r.height() + h) / 2));
  }
}

void paintSwitch(QPainter& p, Switch& s) {
  QRectF r(0, 0, Switch::kWidth, Switch::kHeight);
  p.setRenderHint(QPainter::Antialiasing, true);
  Color on = s.onTintColor().value_or(Color::rgb(0.3, 0.85, 0.39));
  p.setPen(QPen(QColor(220, 220, 220), 1));
  p.setBrush(s.isOn() ? qc(on) : QColor(Qt::white));
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), r.height() / 2, r.height() / 2);
  double d = r.height() - 4;
  double x = s.isOn() ? r.width() - d - 2 : 2;
  p.setPen(QPen(QColor(200, 200, 200), 0.5));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(x, 2, d, d));
  if (!s.isEnabled()) p.fillRect(r, QColor(255, 255, 255, 120));
}

void paintSegmented(QPainter& p, SegmentedControl& s) {
  QRectF r(0, 0, s.frame().width(), s.frame().height());
  QColor tint = qc(s.tintColor().value_or(Color::systemBlue()));
  p.setRenderHint(QPainter::Antialiasing, true);
  for (int i = 0; i < s.numberOfSegments(); ++i) {
    QRectF seg = qr(s.segmentRect(i));
    bool sel = i == s.selectedSegmentIndex();
    if (sel) p.fillRect(seg, tint);
    drawText(p, seg, s.titleForSegmentAtIndex(i), Font::systemFont(13), sel ? Color::whiteColor() : Color{tint.redF(), tint.greenF(), tint.blueF(), 1},
             TextAlignment::Center, 1);
    if (i > 0) {
      p.setPen(QPen(tint, 1));
      p.drawLine(seg.topLeft(), seg.bottomLeft());
    }
  }
  p.setPen(QPen(tint, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
}

void paintStepper(QPainter& p, Stepper& s) {
  QRectF r(0, 0, s.frame().width(), s.frame().height());
  QColor tint = qc(s.tintColor().value_or(Color::systemBlue()));
  Color t{tint.redF(), tint.greenF(), tint.blueF(), 1};
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(tint, 1));
  p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
  p.drawLine(QPointF(r.width() / 2, 0), QPointF(r.width() / 2, r.height()));
  drawText(p, QRectF(0, 0, r.width() / 2, r.height()), "\u2212", Font::systemFont(20), t, TextAlignment::Center, 1);
  drawText(p, QRectF(r.width() / 2, 0, r.width() / 2, r.height()), "+", Font::systemFont(20), t, TextAlignment::Center, 1);
}

void paintPicker(QPainter& p, PickerView& pv) {
  QRectF r(0, 0, pv.frame().width(), pv.frame().height());
  if (!pv.backgroundColor()) p.fillRect(r, Qt::white);
  int n = pv.numberOfComponents();
  if (n == 0) return;
  double cw = r.width() / n, rh = PickerView::kRowHeight, mid = (r.height() - rh) / 2;
  for (int c = 0; c < n; ++c) {
    int sel = pv.selectedRowInComponent(c);
    for (int d = -3; d <= 3; ++d) {
      int row = sel + d;
      if (row < 0 || row >= pv.numberOfRowsInComponent(c)) continue;
      QRectF cell(c * cw, mid + d * rh, cw, rh);
      drawText(p, cell, pv.titleForRow(row, c), d == 0 ? Font::systemFont(21) : Font::systemFont(18),
               d == 0 ? Color::black() : Color::white(0.6 + 0.08 * std::abs(d)), TextAlignment::Center, 1);
    }
  }
  p.setPen(QPen(QColor(200, 200, 200), 1));
  p.drawLine(QPointF(0, mid), QPointF(r.width(), mid));
  p.drawLine(QPointF(0, mid + rh), QPointF(r.width(), mid + rh));
}

void paintSpinner(QPainter& p, ActivityIndicatorView& a) {
  if (!a.isAnimating()) return;
  p.setRenderHint(QPainter::Antialiasing, true);
  QPointF c(a.frame().width() / 2, a.frame().height() / 2);
  double radius = std::min(c.x(), c.y());
  for (int i = 0; i < 12; ++i) {
    double ang = i * M_PI / 6;
    QColor col = qc(a.color());
    col.setAlphaF(float(0.25 + 0.75 * i / 11.0));
    p.setPen(QPen(col, std::max(2.0, radius / 5), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(std::cos(ang), std::sin(ang)) * radius * 0.5, c + QPointF(std::cos(ang), std::sin(ang)) * radius * 0.95);
  }
}

void paintCell(QPainter& p, TableViewCell& cell) {
  QRectF r(0, 0, cell.frame().width(), cell.frame().height());
  if (cell.isSelected() && cell.selectionStyle() != SelectionStyle::None) p.fillRect(r, QColor(217, 217, 217));
  Color sep = cell.tableView() ? cell.tableView()->separatorColor() : Color::white(0.8);
  p.setPen(QPen(qc(sep), 1));
  p.drawLine(QPointF(15, r.height() - 0.5), QPointF(r.width(), r.height() - 0.5));
  if (!cell.accessoryView() && cell.swipeState() == 0) {
    QRectF acc(r.width() - 30, 0, 24, r.height());
    switch (cell.accessoryType()) {
      case AccessoryType::DisclosureIndicator:
        drawText(p, acc, "\u203A", Font::systemFont(24), Color::white(0.75), TextAlignment::Center, 1);
        break;
      case AccessoryType::Checkmark:
        drawText(p, acc, "\u2713", Font::boldSystemFont(18), cell.tintColor().value_or(Color::systemBlue()), TextAlignment::Center, 1);
        break;
      case AccessoryType::DetailButton:
      case AccessoryType::DetailDisclosureButton:
        drawText(p, acc, "\u24D8", Font::systemFont(20), cell.tintColor().value_or(Color::systemBlue()), TextAlignment::Center, 1);
        break;
      case AccessoryType::None: break;
    }
  }
}

void paintIndex(QPainter& p, TableIndexView& idx) {
  if (idx.titles.empty()) return;
  double h = idx.frame().height() / idx.titles.size();
  for (size_t i = 0; i < idx.titles.size(); ++i)
    drawText(p, QRectF(0, i * h, idx.frame().width(), h), idx.titles[i], TableIndexView::titleFont(),
             Color::systemBlue(), TextAlignment::Center, 1);
}

// What each kind paints over its background, before its subviews.
void paintContent(QPainter& p, View& v) {
  if (auto* l = dynamic_cast<Label*>(&v)) return paintLabel(p, *l);
  if (auto* b = dynamic_cast<Button*>(&v)) return paintButton(p, *b);
  if (auto* f = dynamic_cast<TextField*>(&v)) return paintTextField(p, *f);
  if (auto* s = dynamic_cast<Switch*>(&v)) return paintSwitch(p, *s);
  if (auto* s = dynamic_cast<SegmentedControl*>(&v)) return paintSegmented(p, *s);
  if (auto* s = dynamic_cast<Stepper*>(&v)) return paintStepper(p, *s);
  if (auto* pv = dynamic_cast<PickerView*>(&v)) return paintPicker(p, *pv);
  if (auto* dp = dynamic_cast<DatePicker*>(&v)) {
    QRectF r(0, 0, v.frame().width(), v.frame().height());
    if (!v.backgroundColor()) p.fillRect(r, Qt::white);
    return drawText(p, r, dp->displayText(), Font::systemFont(21), Color::black(), TextAlignment::Center, 1);
  }
  if (auto* dv = dynamic_cast<DrawingView*>(&v)) return paintDrawings(p, *dv);
  if (auto* iv = dynamic_cast<ImageView*>(&v)) {
    if (iv->image()) paintImage(p, *iv->image(), qr(iv->imageRect()));
    return;
  }
  if (auto* a = dynamic_cast<ActivityIndicatorView*>(&v)) return paintSpinner(p, *a);
  if (auto* c = dynamic_cast<TableViewCell*>(&v)) return paintCell(p, *c);
  if (auto* i = dynamic_cast<TableIndexView*>(&v)) return paintIndex(p, *i);
  if (auto* tv = dynamic_cast<TextView*>(&v)) {
    // A text view scrolls its text: what does not fit stays inside it, as in any scroll view.
    p.setClipRect(QRectF(0, 0, v.frame().width(), v.frame().height()), Qt::IntersectClip);
    QRectF r(4, 4 - tv->contentOffset().y, v.frame().width() - 8, 10000);
    p.setFont(qtFont(tv->font()));
    p.setPen(qc(tv->textColor()));
    p.drawText(r, int(qAlign(tv->textAlignment())) | Qt::AlignTop | Qt::TextWordWrap, qs(tv->text()));
    return;
  }
  if (auto* nb = dynamic_cast<NavigationBar*>(&v)) {
    QRectF r(0, 0, v.frame().width(), v.frame().height());
    // Right below the status bar, the bar's background reaches up behind it.
    const double up = nb->extendsUnderStatusBar() ? Window::kStatusBarHeight : 0;
    p.fillRect(QRectF(0, -up, r.width(), r.height() + up), qc(nb->effectiveBackground()));
    p.setPen(QPen(QColor(0, 0, 0, 60), 0.5));
    p.drawLine(QPointF(0, r.height() - 0.25), QPointF(r.width(), r.height() - 0.25));
    return;
  }
  if (auto* tb = dynamic_cast<Toolbar*>(&v)) {
    QRectF r(0, 0, v.frame().width(), v.frame().height());
    p.fillRect(r, qc(tb->barTintColor().value_or(Color::white(0.97))));
    p.setPen(QPen(QColor(0, 0, 0, 60), 0.5));
    p.drawLine(QPointF(0, 0.25), QPointF(r.width(), 0.25));
  }
}

void paintStatusBar(QPainter& p, Window& w) {
  if (w.statusBarHidden()) return;
  Color c = w.effectiveStatusBarStyle() == StatusBarStyle::LightContent ? Color::whiteColor() : Color::black();
  drawText(p, QRectF(0, 0, w.frame().width(), Window::kStatusBarHeight), "9:41", Font::boldSystemFont(12), c,
           TextAlignment::Center, 1);
  if (Application::shared().isNetworkActivityIndicatorVisible())
    drawText(p, QRectF(6, 0, 60, Window::kStatusBarHeight), "\u25CC", Font::systemFont(12), c, TextAlignment::Left, 1);
}

std::unordered_map<uint64_t, QImage>& imageCache() {
  static std::unordered_map<uint64_t, QImage> cache;
  return cache;
}

}  // namespace

QFont qtFont(const Font& font) {
  QFont f;
  if (!font.name.empty() && font.name.find("Helvetica") == std::string::npos &&
      font.name.find("System") == std::string::npos)
    f.setFamily(QString::fromStdString(font.name));
  f.setPixelSize(std::max(1, int(std::lround(font.size))));
  f.setBold(font.bold);
  return f;
}

QImage qtImage(const Image& image) {
  auto& cache = imageCache();
  auto it = cache.find(image.identity());
  if (it != cache.end()) return it->second;
  if (cache.size() > 256) cache.clear();
  QImage q(image.rgba().data(), image.pixelWidth(), image.pixelHeight(), image.pixelWidth() * 4, QImage::Format_RGBA8888);
  QImage copy = q.copy();
  cache[image.identity()] = copy;
  return copy;
}

void paintView(QPainter& p, View& v) {
  if (v.isHidden() || v.alpha() <= 0.01) return;
  p.save();
  p.translate(v.frame().x(), v.frame().y());
  p.setOpacity(p.opacity() * v.alpha());
  QRectF r(0, 0, v.frame().width(), v.frame().height());
  QPainterPath clip;
  if (v.cornerRadius() > 0) {
    clip.addRoundedRect(r, v.cornerRadius(), v.cornerRadius());
    p.setRenderHint(QPainter::Antialiasing, true);
  } else {
    clip.addRect(r);
  }
  if (auto bg = v.backgroundColor(); bg && !bg->isClear()) p.fillPath(clip, qc(*bg));
  if (v.clipsToBounds()) p.setClipPath(clip, Qt::IntersectClip);
  paintContent(p, v);
  p.save();
  p.translate(-v.bounds().x(), -v.bounds().y());
  for (auto& s : std::vector<std::shared_ptr<View>>(v.subviews())) paintView(p, *s);
  p.restore();
  if (v.borderWidth() > 0) {
    p.setClipping(false);
    p.setPen(QPen(qc(v.borderColor()), v.borderWidth()));
    p.setBrush(Qt::NoBrush);
    double half = v.borderWidth() / 2;
    if (v.cornerRadius() > 0)
      p.drawRoundedRect(r.adjusted(half, half, -half, -half), v.cornerRadius(), v.cornerRadius());
    else
      p.drawRect(r.adjusted(half, half, -half, -half));
  }
  p.restore();
}

void paintWindow(QPainter& p, Window& w) {
  w.layoutIfNeeded();
  p.fillRect(QRectF(0, 0, w.frame().width(), w.frame().height()), qc(w.backgroundColor().value_or(Color::black())));
  auto screens = w.screenViews();
  bool statusDrawn = false;
  for (auto& s : std::vector<std::shared_ptr<View>>(w.subviews())) {
    bool isScreen = std::find(screens.begin(), screens.end(), s.get()) != screens.end();
    if (!isScreen && !statusDrawn) {
      paintStatusBar(p, w);
      statusDrawn = true;
    }
    if (isScreen && w.isCovered(s.get())) continue;
    paintView(p, *s);
  }
  if (!statusDrawn) paintStatusBar(p, w);
}

QImage renderWindow(Window& w, double scale) {
  QImage img(int(std::lround(w.frame().width() * scale)), int(std::lround(w.frame().height() * scale)),
             QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::black);
  QPainter p(&img);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.scale(scale, scale);
  paintWindow(p, w);
  p.end();
  return img;
}

bool saveScreenshot(Window& w, const std::string& path, double scale) {
  return renderWindow(w, scale).save(QString::fromStdString(path), "PNG");
}

void installTextMetrics() {
  setTextMeasurer([](const std::string& text, const Font& font, double maxWidth, int maxLines) -> Size {
    QFontMetricsF m(qtFont(font));
    QString t = QString::fromStdString(text);
    QRectF r;
    if (maxWidth > 0)
      r = m.boundingRect(QRectF(0, 0, maxWidth, 1e6), Qt::TextWordWrap, t);
    else
      r = m.boundingRect(QRectF(0, 0, 1e6, 1e6), 0, t);
    double h = r.height();
    if (maxLines > 0) h = std::min(h, m.lineSpacing() * maxLines);
    return {std::ceil(r.width()), std::ceil(std::max(h, m.height()))};
  });
}

}  // namespace ui::qt
