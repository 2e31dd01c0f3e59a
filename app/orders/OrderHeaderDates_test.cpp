// The order header's date wheels, turned as a user turns them against the back office on
// loopback: a date at either end of the four-digit years (a server writes 12/31/9999 for
// "no date") opens on its wheel as loaded, a turn moves it a day, and a turn past the end
// stops at the end.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/OrderInfoViewController.h"
#include "platform/foundation/Clock.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;

TEST(OrderHeaderDates, WheelsOpenOnTheEndsOfTheCalendarTurnADayAndStopAtTheEnd) {
  foundation::ScopedManualClock clock;
  test_support::OrderRoadHarness t;
  ASSERT_TRUE(t.started);
  t.launch();
  t.server.withState([](backoffice::State& s) {
    json header = {{"canceldate", "12/31/9999"}, {"shipdate", "01/01/0001"}, {"term", "NET30"},
                   {"paymentcode", "CHK"},       {"shipvia", "UPS"},         {"ordertype", "PRE"},
                   {"email1", ""},               {"phone1", ""},             {"pono", ""},
                   {"soHold", ""},               {"customerPriority", ""},   {"memo", ""},
                   {"salesRepCode", ""}};
    s.salesOrders["20003"] = {{"OrderNumber", "20003"}, {"CustomerId", "C1002"}, {"StoreId", "C1002-2"},
                              {"LoginId", "demo"},      {"DivisionCode", "01"},  {"PDupNum", ""},
                              {"Header", header},       {"Items", json::array()},
                              {"OrderDate", "12/01/2026 10:00:00"}, {"UpdateDate", "12/01/2026 10:00:00"},
                              {"Signature", "c2lnbg=="}};
  });
  auto* header = t.walkToHeader({"400000000002"}, "20003");
  ASSERT_NE(header, nullptr) << t.h->dump();

  struct Case {
    int tag;
    const char* loaded;
    const char* dayInside;  // a turn away from the end
    bool endIsLast;         // the end is the last day (a turn down goes past it)
  };
  const Case cases[] = {{kTagCancelDate, "12/31/9999", "12/30/9999", true},
                        {kTagShipDate, "01/01/0001", "01/02/0001", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loaded);
    ui::TextField* field = header->field(c.tag);
    ui::DatePicker* wheel = header->datePicker(c.tag);
    ASSERT_TRUE(t.h->tap(field)) << t.h->dump();
    ASSERT_TRUE(wheel->isVisibleOnScreen()) << t.h->dump();
    EXPECT_EQ(wheel->displayText(), c.loaded);
    EXPECT_EQ(field->text(), c.loaded);
    // The wheel turns a day back above its middle and a day on below it.
    const ui::Point back{160, 30}, on{160, ui::PickerView::kHeight - 30};
    ASSERT_TRUE(t.h->tapAt(wheel, c.endIsLast ? on : back));
    EXPECT_EQ(field->text(), c.loaded);  // past the end: stays on it
    ASSERT_TRUE(t.h->tapAt(wheel, c.endIsLast ? back : on));
    EXPECT_EQ(field->text(), c.dayInside);
    EXPECT_EQ(wheel->displayText(), c.dayInside);
    ASSERT_TRUE(t.h->tapAt(wheel, c.endIsLast ? on : back));
    EXPECT_EQ(field->text(), c.loaded);
    EXPECT_EQ(wheel->displayText(), c.loaded);
    ASSERT_TRUE(t.h->tapText("Done")) << t.h->dump();
    EXPECT_FALSE(wheel->isVisibleOnScreen());
  }
  ASSERT_TRUE(t.saveHeader(*header)) << t.h->dump();
  ASSERT_EQ(t.calls("EditOrder"), 1);
  const json saved = t.serverOrders()["20003"]["Header"];
  EXPECT_EQ(saved["canceldate"], "12/31/9999");
  EXPECT_EQ(saved["shipdate"], "01/01/0001");
}

}  // namespace
}  // namespace orvo
