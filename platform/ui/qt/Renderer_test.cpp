#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/DrawingView.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"
#include "platform/ui/qt/MainQueueDriver.h"
#include "platform/ui/qt/Offscreen.h"
#include "platform/ui/qt/Painter.h"
#include "platform/ui/qt/ScreenWidget.h"

namespace ui::qt {
namespace {

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Rgb& c) { return o << "(" << c.r << "," << c.g << "," << c.b << ")"; }

Rgb at(const QImage& img, int x, int y) {
  QColor c = img.pixelColor(x, y);
  return {c.red(), c.green(), c.blue()};
}

// Within one step of rounding.
bool near(Rgb a, Rgb b) { return std::abs(a.r - b.r) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.b - b.b) <= 2; }

class Rows : public TableViewDataSource {
 public:
  int numberOfRowsInSection(TableView&, int) override { return 3; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&, IndexPath ip) override {
    auto cell = std::make_shared<TableViewCell>();
    cell->textLabel().setText("Row " + std::to_string(ip.row));
    if (ip.row == 1) cell->setBackgroundColor(Color::red());
    return cell;
  }
};

class DigitsOnly : public TextFieldDelegate {
 public:
  bool shouldChangeCharactersInRange(TextField&, Range, const std::string& s) override {
    return s.find_first_not_of("0123456789") == std::string::npos;
  }
};

// A screen with a blue navigation bar, a table (row 1 red), a yellow text field and a
// switch that is on (green).
class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ensureGuiApplication();
  }
  void SetUp() override {
    window = std::make_shared<Window>();
    screen = std::make_shared<ViewController>();
    screen->setTitle("Orders");
    nav = std::make_shared<NavigationController>(screen);
    nav->navigationBar().setBarTintColor(Color::blue());
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    table = makeView<TableView>({0, 0, 320, 132});
    table->setDataSource(rows);
    screen->view().addSubview(table);
    field = makeView<TextField>({20, 150, 200, 30});
    field->setBackgroundColor(Color::yellow());
    field->setBorderStyle(BorderStyle::None);
    field->setDelegate(digits);
    screen->view().addSubview(field);
    sw = makeView<Switch>({20, 300, Switch::kWidth, Switch::kHeight});
    sw->setOnTintColor(Color::green());
    sw->setOn(true);
    screen->view().addSubview(sw);
  }
  void TearDown() override {
    for (auto& a : AlertView::visibleAlerts()) a->dismissWithClickedButtonIndex(0, false);
    field->resignFirstResponder();
  }
  std::shared_ptr<Window> window;
  std::shared_ptr<ViewController> screen;
  std::shared_ptr<NavigationController> nav;
  std::shared_ptr<TableView> table;
  std::shared_ptr<TextField> field;
  std::shared_ptr<Switch> sw;
  std::shared_ptr<Rows> rows = std::make_shared<Rows>();
  std::shared_ptr<DigitsOnly> digits = std::make_shared<DigitsOnly>();
};

TEST_F(RendererTest, PaintsBarTableFieldSwitchAndAlertAtKnownPlaces) {
  // Content starts below the status bar (20) and the navigation bar (44).
  const int top = 64;
  QImage plain = renderWindow(*window);
  ASSERT_EQ(plain.size(), QSize(320, 568));
  EXPECT_EQ(at(plain, 5, 30), (Rgb{0, 0, 255}));               // bar
  EXPECT_EQ(at(plain, 300, top + 44 + 22), (Rgb{255, 0, 0}));  // row 1
  EXPECT_EQ(at(plain, 210, top + 165), (Rgb{255, 255, 0}));    // field, right of its text
  EXPECT_EQ(at(plain, 30, top + 315), (Rgb{0, 255, 0}));       // switch track, left of the knob
  EXPECT_EQ(at(plain, 300, 500), (Rgb{255, 255, 255}));        // screen background

  auto alert = std::make_shared<AlertView>("Orvo Mobile", "Saved", std::weak_ptr<AlertViewDelegate>(), "Ok",
                                           std::vector<std::string>{});
  alert->show();
  QImage dimmed = renderWindow(*window);
  // Black at 0.4 over everything but the alert box.
  EXPECT_TRUE(near(at(dimmed, 5, 30), {0, 0, 153})) << at(dimmed, 5, 30);
  EXPECT_TRUE(near(at(dimmed, 300, top + 44 + 22), {153, 0, 0})) << at(dimmed, 300, top + 44 + 22);
  EXPECT_TRUE(near(at(dimmed, 30, top + 315), {0, 153, 0})) << at(dimmed, 30, top + 315);
  window->layoutIfNeeded();
  Rect box = alert->frame();
  EXPECT_EQ(box.width(), AlertPanel::kWidth);
  EXPECT_EQ(at(dimmed, int(box.x()) + 4, int(box.midY())), (Rgb{247, 247, 247}));
}

TEST_F(RendererTest, StatusBarSitsOnTheBarColourWithTextThatReads) {
  // The brightest and darkest pixel of the status bar's strip.
  auto strip = [](const QImage& img) {
    int lo = 255 * 3, hi = 0;
    for (int y = 0; y < 20; ++y)
      for (int x = 100; x < 220; ++x) {
        Rgb c = at(img, x, y);
        lo = std::min(lo, c.r + c.g + c.b);
        hi = std::max(hi, c.r + c.g + c.b);
      }
    return std::pair{lo, hi};
  };
  const StatusBarStyle asked[] = {StatusBarStyle::LightContent, StatusBarStyle::Default};
  for (StatusBarStyle style : asked) {
    Application::shared().setStatusBarStyle(style);
    nav->navigationBar().setBarTintColor(Color::black());
    QImage img = renderWindow(*window);
    EXPECT_TRUE(near(at(img, 3, 3), {0, 0, 0}));  // the bar reaches up behind the status bar
    EXPECT_GT(strip(img).second, 600);           // light text on it
    nav->navigationBar().setBarTintColor(Color::whiteColor());
    img = renderWindow(*window);
    EXPECT_TRUE(near(at(img, 3, 3), {255, 255, 255}));
    EXPECT_LT(strip(img).first, 150);  // dark text on it
  }
  Application::shared().setStatusBarStyle(StatusBarStyle::Default);
}

TEST_F(RendererTest, ScaleDoublesEveryPointAndScreenshotsAreReadablePngs) {
  QImage big = renderWindow(*window, 2);
  ASSERT_EQ(big.size(), QSize(640, 1136));
  EXPECT_EQ(at(big, 10, 60), (Rgb{0, 0, 255}));
  EXPECT_EQ(at(big, 600, (64 + 44 + 22) * 2), (Rgb{255, 0, 0}));

  auto path = (std::filesystem::temp_directory_path() / "kestra-ui-renderer-test.png").string();
  ASSERT_TRUE(saveScreenshot(*window, path));
  auto img = Image::fromFile(path);
  std::filesystem::remove(path);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->pixelWidth(), 320);
  EXPECT_EQ(img->pixelAt(5, 30), Color::blue());
  EXPECT_FALSE(saveScreenshot(*window, "/nonexistent-dir/x.png"));
}

TEST_F(RendererTest, MouseAndKeysFromTheWidgetGoThroughTheFieldDelegate) {
  ScreenWidget widget(window.get());
  QPointF c(120, 64 + 165);
  QMouseEvent press(QEvent::MouseButtonPress, c, c, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, c, c, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&widget, &press);
  QCoreApplication::sendEvent(&widget, &release);
  ASSERT_TRUE(field->isFirstResponder());
  for (const char* k : {"4", "x", "2"}) {
    QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromLatin1(k));
    QCoreApplication::sendEvent(&widget, &key);
  }
  EXPECT_EQ(field->text(), "42");
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  QCoreApplication::sendEvent(&widget, &back);
  EXPECT_EQ(field->text(), "4");
}

TEST_F(RendererTest, ClickFlipsTheSwitch) {
  ScreenWidget widget(window.get(), 2);
  QPointF c(45 * 2, (64 + 315) * 2);
  QMouseEvent press(QEvent::MouseButtonPress, c, c, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, c, c, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  int changes = 0;
  sw->addTarget(this, [&](Control&) { ++changes; }, ValueChanged);
  QCoreApplication::sendEvent(&widget, &press);
  QCoreApplication::sendEvent(&widget, &release);
  EXPECT_FALSE(sw->isOn());
  EXPECT_EQ(changes, 1);
}

TEST(MainQueueDriverTest, RunsPostedBlocksAndTimersFromQtsLoop) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ensureGuiApplication();
  foundation::ScopedManualClock clock;
  foundation::RunLoop::main();
  MainQueueDriver driver;
  int ran = 0, later = 0;
  foundation::MainQueue::post([&] { ++ran; });
  foundation::MainQueue::postAfter(std::chrono::seconds(30), [&] { ++later; });
  for (int i = 0; i < 200 && ran == 0; ++i) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(later, 0);
  clock->advance(std::chrono::seconds(30));
  for (int i = 0; i < 200 && later == 0; ++i) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  EXPECT_EQ(later, 1);
}

}  // namespace
}  // namespace ui::qt

namespace ui::qt {
namespace {

TEST_F(RendererTest, DrawingViewsShowTheirStrokes) {
  auto pad = makeView<DrawingView>({0, 400, 320, 100});
  pad->setBackgroundColor(Color::whiteColor());
  pad->addStroke({{20, 50}, {300, 50}}, 6, Color::red());
  pad->fillRect({0, 80, 40, 20}, Color::blue());
  screen->view().addSubview(pad);
  QImage img = renderWindow(*window);
  const int top = 64 + 400;
  EXPECT_EQ(at(img, 160, top + 50), (Rgb{255, 0, 0}));      // on the stroke
  EXPECT_EQ(at(img, 160, top + 30), (Rgb{255, 255, 255}));  // above it
  EXPECT_EQ(at(img, 10, top + 90), (Rgb{0, 0, 255}));       // the fill
}

TEST_F(RendererTest, StrokesAndTextStayInsideTheirViews) {
  // A stroke that left the pad (the finger went on past its edge) ends at the edge.
  auto pad = makeView<DrawingView>({20, 400, 200, 60});
  pad->setBackgroundColor(Color::whiteColor());
  pad->addStroke({{100, 30}, {100, 120}}, 8, Color::red());
  screen->view().addSubview(pad);
  // A text view's text that does not fit is scrolled, not drawn over what follows.
  auto memo = makeView<TextView>({20, 200, 200, 30});
  memo->setBackgroundColor(Color::whiteColor());
  memo->setTextColor(Color::black());
  std::string lines;
  for (int i = 0; i < 20; ++i) lines += "memo line " + std::to_string(i) + "\n";
  memo->setText(lines);
  screen->view().addSubview(memo);
  QImage img = renderWindow(*window);
  EXPECT_EQ(at(img, 120, 64 + 400 + 50), (Rgb{255, 0, 0}));  // inside the pad
  for (int y = 64 + 460; y < 64 + 500; ++y) EXPECT_FALSE(near(at(img, 120, y), Rgb{255, 0, 0})) << y;
  // Below the memo, where its later lines would fall: only the screen's own background.
  for (int y = 64 + 232; y < 64 + 290; ++y)
    for (int x = 20; x < 220; x += 3) ASSERT_TRUE(near(at(img, x, y), at(img, 310, y))) << x << "," << y;
}

TEST_F(RendererTest, StyledTextOfSeveralLinesWrapsInsideItsLabel) {
  // Runs of a two-line label (a struck-out price, then the rest) that are wider than the
  // label go on its second line, never past its right edge.
  auto detail = makeView<Label>({20, 200, 150, 40});
  detail->setNumberOfLines(2);
  detail->setFont(Font::systemFont(11));
  detail->setTextColor(Color::black());
  detail->setAttributedText({{"Unit Price:$8.07", std::nullopt, std::nullopt, true},
                             {" $7.67", Color::red(), std::nullopt, false},
                             {" | Ext.Price:$46.02 | Bundle:TS100-PP1", std::nullopt, std::nullopt, false}});
  screen->view().addSubview(detail);
  QImage img = renderWindow(*window);
  auto inked = [&](int x0, int x1, int y0, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (!near(at(img, x, y), Rgb{255, 255, 255})) return true;
    return false;
  };
  EXPECT_FALSE(inked(170, 320, 64 + 200, 64 + 240));  // right of the label
  EXPECT_TRUE(inked(20, 170, 64 + 200, 64 + 219));    // first line
  EXPECT_TRUE(inked(20, 170, 64 + 221, 64 + 240));    // second line
}

}  // namespace
}  // namespace ui::qt
