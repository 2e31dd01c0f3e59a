// What a user sees of the customer list's rows, measured with the renderer's real font metrics
// through the screen as the order road opens it: a customer with a memo far longer than its
// row keeps the memo, like every other text of the row, inside the row's content (clear of the
// chevron and the section index), and nothing of it is painted below the row.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <nlohmann/json.hpp>

#include "app/customers/CustomerViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/harness/TextFit.h"
#include "platform/ui/qt/Offscreen.h"
#include "platform/ui/qt/Painter.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;

bool inside(ui::Rect inner, ui::Rect outer) {
  return inner.x() >= outer.x() - 0.01 && inner.y() >= outer.y() - 0.01 && inner.maxX() <= outer.maxX() + 0.01 &&
         inner.maxY() <= outer.maxY() + 0.01;
}

TEST(CustomerListLayout, ALongMemoStaysInsideItsRowAndEveryTextInsideTheContent) {
  ui::qt::ensureGuiApplication();  // the painted text's metrics, as on screen
  foundation::ScopedManualClock clock;
  test_support::OrderRoadHarness t;
  ASSERT_TRUE(t.started);
  std::string memo;
  for (int i = 0; i < 40; ++i) memo += "Deliver to the back door only, ring twice. ";
  t.server.withState([&](backoffice::State& s) {
    for (const char* name : {"Quarry Lane Goods", "Quarry Lane Outlet"})
      s.catalogue.customers.push_back({{"Code", std::string("Q") + name[12]}, {"Name", name},
                                       {"Addr1", "7 Quarry Lane"}, {"City", "Barre"}, {"State", "VT"},
                                       {"Phone", "555-0177"}, {"PriceLevel", "1"}, {"OrderDiscountRate", 0},
                                       {"Memo", memo}, {"Stores", json::array()}});
  });
  t.launch();
  t.app.delegate->navigationController->pushViewController(makeScreen("CustomerView"), false);
  t.settle();
  auto* screen = t.top<CustomerViewController>();
  ASSERT_NE(screen, nullptr);
  t.h->typeText("quarry");
  t.h->pressReturn();
  t.waitForRequests();

  const auto cells = screen->tableView()->visibleCells();
  ASSERT_GE(cells.size(), 2u) << t.h->dump();
  const QImage image = ui::qt::renderWindow(t.h->window());
  for (auto* base : cells) {
    auto* cell = dynamic_cast<CustomCellForCustomer*>(base);
    ASSERT_NE(cell, nullptr);
    ASSERT_EQ(cell->customerMemo().text(), memo);
    const ui::Rect row = cell->convertRectToWindow(cell->bounds());
    const ui::Rect content = cell->contentView().convertRectToWindow(cell->contentView().bounds());
    for (ui::View* part : std::initializer_list<ui::View*>{&cell->customerName(), &cell->customerDetails(),
                                                           &cell->lbl_contact1(), &cell->customerPhone1(),
                                                           &cell->customerStatus(), &cell->customerPriority(),
                                                           &cell->customerMemo()}) {
      const ui::Rect f = part->convertRectToWindow(part->bounds());
      EXPECT_TRUE(inside(f, content)) << part->describe() << " in " << cell->describe();
    }
    // The memo's text wraps in its frame and scrolls there: the strip of the row below the
    // memo shows only the row's own white.
    const ui::Rect m = cell->customerMemo().convertRectToWindow(cell->customerMemo().bounds());
    if (row.maxY() > ui::Window::kScreenHeight) continue;
    for (int y = int(std::ceil(m.maxY())); y < int(row.maxY()) - 1; ++y)
      for (int x = int(m.x()); x < int(m.maxX()); ++x)
        ASSERT_EQ(image.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
  }
  EXPECT_TRUE(ui::harness::cutTexts(*t.h).empty()) << ::testing::PrintToString(ui::harness::cutTexts(*t.h));
}

}  // namespace
}  // namespace orvo
