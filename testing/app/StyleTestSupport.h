#pragma once
// Test fixture for the style screens: the order road's fixture (back office on loopback,
// launched application, screen harness) with a picture loader of its own installed for
// image views, helpers that open the style look-up from the order selector, serve a JPEG
// made in the test below "/styleimages", and list the picture requests the server saw.
// Header-only; test code.

#include <memory>
#include <string>
#include <vector>

#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "app/orders/StyleLookupViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Image.h"
#include "platform/ui/WebImageLoader.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo::test_support {

class StyleHarness {
 public:
  StyleHarness() : loader(t.app.fresh.dir() / "ImageCache") {
    loader.installForImageViews();
    t.launch();
  }
  // Pictures still loading end here (their decoding and disk writes run on workers), not
  // while the test's folders are being removed.
  ~StyleHarness() {
    t.app.runUntil([&] { return loader.loadsInFlight() == 0; });
    ui::ImageView::setImageLoader(nullptr);
  }

  // The order selector, then its style look-up button.
  StyleLookupViewController* openLookup() {
    t.openOrderType();
    auto* types = t.top<SoOrderTypeViewController>();
    if (!types) return nullptr;
    t.h->chooseRow(*types->tableView(), {0, 1});
    t.settle();
    auto* selector = t.top<SoSelectorViewController>();
    if (!selector) return nullptr;
    if (!t.h->tap(selector->styleLookupButton())) return nullptr;
    t.settle();
    return t.top<StyleLookupViewController>();
  }
  // A sleeve scan and its request's answer.
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  template <class F>
  bool waitFor(F done) {
    return t.app.runUntil([&] {
      t.settle();
      return done();
    });
  }
  // A picture of `width` x `height` pixels, as JPEG bytes served at "/styleimages/<name>".
  void servePicture(const std::string& name, int width, int height) {
    auto image = ui::Image::filled({double(width), double(height)}, ui::Color::rgb(0.2, 0.5, 0.8));
    const auto bytes = image->jpegData(0.8);
    t.server.withState([&](backoffice::State& s) { s.documents[name] = std::string(bytes.begin(), bytes.end()); });
  }
  // The paths below "/styleimages/" that were asked for, with their status, in order.
  std::vector<std::pair<std::string, int>> pictureRequests(const std::string& prefix = "") {
    std::vector<std::pair<std::string, int>> out;
    const std::string base = "/styleimages/" + prefix;
    for (const auto& r : t.server.requests())
      if (r.method == "GET" && r.path.rfind(base, 0) == 0) out.emplace_back(r.path.substr(13), r.status);
    return out;
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  ui::WebImageLoader loader;
};

}  // namespace orvo::test_support
