#pragma once
// A view whose content the screen draws: strokes (paths through points with a width,
// colour and cap), filled rectangles and images, painted in the order they were added, over
// the background colour. It receives touches (began, moved, ended, cancelled) with their
// locations in its own coordinates, through `setTouchHandler` or by overriding the
// responder's touch calls. `image()` reads the content back as a bitmap (the signature pad
// sends it as JPEG); the Qt renderer paints the same list of drawings on screen.
//
// How a signature pad uses it:
//
//   pad->setTouchHandler([pad](ui::TouchPhase phase, ui::Point at) {
//     if (phase == ui::TouchPhase::Began) pad->beginStroke(at, 3, ui::Color::black());
//     else pad->extendStroke(at);
//   });
//   ...
//   auto jpeg = pad->image()->jpegData(0.4);
//
// Main thread.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

struct Drawing {
  enum class Kind { Stroke, Fill, Picture };
  Kind kind = Kind::Stroke;
  std::vector<Point> points;  // a stroke's path
  double width = 1;
  Color color = Color::black();
  LineCap cap = LineCap::Round;
  Rect rect;                      // a fill's or picture's place
  std::shared_ptr<Image> image;   // a picture
};

class DrawingView : public View {
 public:
  DrawingView() = default;
  const char* kind() const override { return "DrawingView"; }

  // Strokes: a new stroke starting at `at`, then points appended to the last one.
  void beginStroke(Point at, double width, Color color, LineCap cap = LineCap::Round);
  void extendStroke(Point to);
  void addStroke(std::vector<Point> points, double width, Color color, LineCap cap = LineCap::Round);
  void fillRect(Rect rect, Color color);
  void drawImage(std::shared_ptr<Image> image, Rect rect);
  // Removes every drawing.
  void clear();
  const std::vector<Drawing>& drawings() const { return drawings_; }
  bool isEmpty() const { return drawings_.empty(); }

  // The content at `scale` pixels per point: the background (transparent when none) and
  // the drawings.
  std::shared_ptr<Image> image(double scale = 1) const;

  using TouchHandler = std::function<void(TouchPhase phase, Point location)>;
  void setTouchHandler(TouchHandler handler) { handler_ = std::move(handler); }

  void touchesBegan(const Touches& touches) override;
  void touchesMoved(const Touches& touches) override;
  void touchesEnded(const Touches& touches) override;
  void touchesCancelled(const Touches& touches) override;
  std::string describe() const override;

 private:
  void deliver(const Touches& touches, TouchPhase phase);

  std::vector<Drawing> drawings_;
  TouchHandler handler_;
};

}  // namespace ui
