#include "platform/ui/DrawingView.h"

namespace ui {

void DrawingView::beginStroke(Point at, double width, Color color, LineCap cap) {
  addStroke({at}, width, color, cap);
}

void DrawingView::extendStroke(Point to) {
  if (drawings_.empty() || drawings_.back().kind != Drawing::Kind::Stroke) return;
  drawings_.back().points.push_back(to);
}

void DrawingView::addStroke(std::vector<Point> points, double width, Color color, LineCap cap) {
  Drawing d;
  d.points = std::move(points);
  d.width = width;
  d.color = color;
  d.cap = cap;
  drawings_.push_back(std::move(d));
}

void DrawingView::fillRect(Rect rect, Color color) {
  Drawing d;
  d.kind = Drawing::Kind::Fill;
  d.rect = rect;
  d.color = color;
  drawings_.push_back(std::move(d));
}

void DrawingView::drawImage(std::shared_ptr<Image> image, Rect rect) {
  if (!image) return;
  Drawing d;
  d.kind = Drawing::Kind::Picture;
  d.rect = rect;
  d.image = std::move(image);
  drawings_.push_back(std::move(d));
}

void DrawingView::clear() { drawings_.clear(); }

std::shared_ptr<Image> DrawingView::image(double scale) const {
  ImageContext context(frame().size, false, scale);
  if (auto bg = backgroundColor(); bg && !bg->isClear()) context.fillRect(bounds(), *bg);
  for (const auto& d : drawings_) {
    switch (d.kind) {
      case Drawing::Kind::Stroke:
        if (d.points.size() == 1)
          context.strokeLine(d.points[0], d.points[0], d.width, d.color, d.cap);
        else
          context.strokePath(d.points, d.width, d.color, d.cap);
        break;
      case Drawing::Kind::Fill: context.fillRect(d.rect, d.color); break;
      case Drawing::Kind::Picture: context.drawImage(*d.image, d.rect); break;
    }
  }
  return context.image();
}

void DrawingView::deliver(const Touches& touches, TouchPhase phase) {
  if (!handler_) return;
  for (const auto& t : touches) handler_(phase, t.locationIn(this));
}

void DrawingView::touchesBegan(const Touches& touches) { deliver(touches, TouchPhase::Began); }
void DrawingView::touchesMoved(const Touches& touches) { deliver(touches, TouchPhase::Moved); }
void DrawingView::touchesEnded(const Touches& touches) { deliver(touches, TouchPhase::Ended); }
void DrawingView::touchesCancelled(const Touches& touches) { deliver(touches, TouchPhase::Cancelled); }

std::string DrawingView::describe() const {
  return View::describe() + " drawings=" + std::to_string(drawings_.size());
}

}  // namespace ui
