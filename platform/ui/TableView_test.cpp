#include "platform/ui/TableView.h"

#include <gtest/gtest.h>

#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

// Sections of row titles; counts every cell it is asked for and every cell it made.
class Rows : public TableViewDataSource, public TableViewDelegate {
 public:
  std::vector<std::vector<std::string>> sections;
  std::vector<std::string> headers;
  int asked = 0;
  int made = 0;
  std::vector<IndexPath> selected, committed;
  bool editable = false;

  int numberOfSectionsInTableView(TableView&) override { return static_cast<int>(sections.size()); }
  int numberOfRowsInSection(TableView&, int s) override { return static_cast<int>(sections[static_cast<size_t>(s)].size()); }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
    ++asked;
    auto cell = t.dequeueReusableCellWithIdentifier("Row");
    if (!cell) {
      ++made;
      cell = std::make_shared<TableViewCell>(CellStyle::Default, "Row");
    }
    cell->textLabel().setText(sections[static_cast<size_t>(ip.section)][static_cast<size_t>(ip.row)]);
    return cell;
  }
  std::optional<std::string> titleForHeaderInSection(TableView&, int s) override {
    if (static_cast<size_t>(s) < headers.size()) return headers[static_cast<size_t>(s)];
    return std::nullopt;
  }
  bool canEditRowAtIndexPath(TableView&, IndexPath) override { return editable; }
  void commitEditingStyle(TableView&, EditingStyle, IndexPath ip) override { committed.push_back(ip); }
  void didSelectRowAtIndexPath(TableView&, IndexPath ip) override { selected.push_back(ip); }
};

std::vector<std::string> numbered(int n, const std::string& prefix = "row ") {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(prefix + std::to_string(i));
  return out;
}

class TableViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<Window>();
    auto vc = std::make_shared<ViewController>();
    window->setRootViewController(vc);
    window->makeKeyAndVisible();
    table = makeView<TableView>({0, 0, 320, 440}, TableViewStyle::Plain);
    table->setDataSource(rows);
    table->setDelegate(rows);
    vc->view().addSubview(table);
  }
  std::vector<std::string> shownTexts() {
    std::vector<std::string> out;
    for (auto& ip : table->indexPathsForVisibleRows()) out.push_back(table->cellForRowAtIndexPath(ip)->textLabel().text());
    return out;
  }
  std::shared_ptr<Window> window;
  std::shared_ptr<TableView> table;
  std::shared_ptr<Rows> rows = std::make_shared<Rows>();
};

TEST_F(TableViewTest, LoadsOnlyVisibleRowsAndReusesCellsByIdentifier) {
  rows->sections = {numbered(100)};
  table->reloadData();
  // 440 points of 44-point rows.
  EXPECT_EQ(rows->asked, 10);
  EXPECT_EQ(rows->made, 10);
  table->setContentOffset({0, 44 * 50});
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 50})->textLabel().text(), "row 50");
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), nullptr);
  // Rows that came into view were served from the cells that left it.
  EXPECT_EQ(rows->made, 10);
  EXPECT_EQ(rows->asked, 20);
  // A reload hands every visible cell back to the pool first.
  table->reloadData();
  EXPECT_EQ(rows->made, 10);
  EXPECT_LE(table->reusePoolSize("Row"), 10u);
}

TEST_F(TableViewTest, RegisteredFactoryMakesCellsAndUnregisteredIdentifierThrows) {
  int built = 0;
  table->registerCellFactory("Custom", [&] {
    ++built;
    return std::make_shared<TableViewCell>(CellStyle::Subtitle);
  });
  auto cell = table->dequeueReusableCellWithIdentifier("Custom", IndexPath{0, 0});
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->reuseIdentifier(), "Custom");
  EXPECT_EQ(built, 1);
  EXPECT_EQ(table->dequeueReusableCellWithIdentifier("Unknown"), nullptr);
  EXPECT_THROW(table->dequeueReusableCellWithIdentifier("Unknown", IndexPath{0, 0}), std::logic_error);
}

TEST_F(TableViewTest, InconsistentBatchUpdatesAreRejectedAndReloadRecovers) {
  struct Case {
    const char* name;
    std::vector<std::vector<std::string>> after;  // the data source after the change
    std::function<void(TableView&)> update;
  };
  const std::vector<Case> cases = {
      {"delete without removing the row", {numbered(3)},
       [](TableView& t) { t.deleteRowsAtIndexPaths({{0, 1}}, RowAnimation::Fade); }},
      {"row removed without a delete", {numbered(2)},
       [](TableView& t) {
         t.beginUpdates();
         t.endUpdates();
       }},
      {"delete of a row that never was", {numbered(2)},
       [](TableView& t) { t.deleteRowsAtIndexPaths({{0, 7}}, RowAnimation::Fade); }},
      {"last row of a section deleted but the section kept by the update", {},
       [](TableView& t) { t.deleteRowsAtIndexPaths({{0, 0}, {0, 1}, {0, 2}}, RowAnimation::Fade); }},
      {"insert beyond the new rows", {numbered(4)},
       [](TableView& t) { t.insertRowsAtIndexPaths({{0, 9}}, RowAnimation::Fade); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rows->sections = {numbered(3)};
    table->reloadData();
    rows->sections = c.after;
    EXPECT_THROW(c.update(*table), TableUpdateError);
    // The table still shows what it showed.
    EXPECT_EQ(table->numberOfSections(), 1);
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    EXPECT_EQ(shownTexts(), numbered(3));
    table->reloadData();
    EXPECT_EQ(table->numberOfSections(), static_cast<int>(c.after.size()));
  }
}

TEST_F(TableViewTest, ConsistentUpdatesKeepSurvivingCellsAndAskOnlyForNewRows) {
  rows->sections = {{"a", "b", "c"}, {"x"}};
  table->reloadData();
  TableViewCell* c = table->cellForRowAtIndexPath({0, 2});
  rows->asked = 0;
  rows->sections = {{"a", "new", "c"}, {"x", "y"}};
  table->beginUpdates();
  table->deleteRowsAtIndexPaths({{0, 1}}, RowAnimation::Fade);
  table->insertRowsAtIndexPaths({{0, 1}, {1, 1}}, RowAnimation::Fade);
  table->endUpdates();
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 2}), c);
  EXPECT_EQ(rows->asked, 2);
  EXPECT_EQ(shownTexts(), (std::vector<std::string>{"a", "new", "c", "x", "y"}));

  // Deleting a whole section with its rows.
  rows->sections = {{"x", "y"}};
  table->deleteSections({0}, RowAnimation::Fade);
  EXPECT_EQ(shownTexts(), (std::vector<std::string>{"x", "y"}));
}

// One text field that the data source hands to whichever row is active, as an
// accessory view; every other row gets none.
class SharedFieldRows : public Rows {
 public:
  std::shared_ptr<View> field = makeView<View>({0, 0, 120, 24});
  int active = 0;
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
    auto cell = Rows::cellForRowAtIndexPath(t, ip);
    cell->setAccessoryView(ip.row == active ? field : nullptr);
    return cell;
  }
};

TEST_F(TableViewTest, AControlHandedToAnotherRowStaysWithItWhenItsOldCellIsReused) {
  auto shared = std::make_shared<SharedFieldRows>();
  shared->sections = {numbered(8)};
  table->setDataSource(shared);
  table->reloadData();
  ASSERT_EQ(shared->field->superview(), table->cellForRowAtIndexPath({0, 0}));
  // Every active row in turn: reloading hands the cells out in another order, so the cell
  // that held the field is reused for a row without one after the field moved on.
  for (int active : {3, 7, 0, 5}) {
    SCOPED_TRACE(active);
    shared->active = active;
    table->reloadData();
    TableViewCell* holder = table->cellForRowAtIndexPath({0, active});
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(shared->field->superview(), holder);
    window->layoutIfNeeded();
    EXPECT_GT(shared->field->frame().x(), 150);  // at the right edge of its row
    for (TableViewCell* c : table->visibleCells())
      EXPECT_EQ(shared->field->isDescendantOf(c), c == holder);
  }
  // Scrolling the row away and back brings the field back with the row.
  table->setContentOffset({0, 0}, false);
  shared->sections = {numbered(40)};
  shared->active = 1;
  table->reloadData();
  table->setContentOffset({0, 800}, false);
  table->setContentOffset({0, 0}, false);
  EXPECT_EQ(shared->field->superview(), table->cellForRowAtIndexPath({0, 1}));
}

TEST_F(TableViewTest, TapSelectsARowThroughTheDelegate) {
  rows->sections = {numbered(5)};
  table->reloadData();
  window->tap({100, 44 * 2 + 10});
  EXPECT_EQ(rows->selected, (std::vector<IndexPath>{{0, 2}}));
  EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 2}));
  table->setAllowsSelection(false);
  window->tap({100, 44 * 3 + 10});
  EXPECT_EQ(rows->selected.size(), 1u);
}

TEST_F(TableViewTest, SwipeLeftOffersDeleteOnlyForEditableRows) {
  rows->sections = {numbered(5)};
  table->reloadData();
  window->drag({250, 44 + 20}, {100, 44 + 22});
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->swipeState(), 0);
  rows->editable = true;
  window->drag({250, 44 + 20}, {100, 44 + 22});
  auto* cell = table->cellForRowAtIndexPath({0, 1});
  ASSERT_EQ(cell->swipeState(), -1);
  window->layoutIfNeeded();
  // The delete button sits at the right end of the row.
  window->tap({310, 44 + 20});
  EXPECT_EQ(rows->committed, (std::vector<IndexPath>{{0, 1}}));
}

TEST_F(TableViewTest, SwipeButtonsCallBackAndCloseWhenAsked) {
  rows->sections = {numbered(3)};
  table->reloadData();
  auto* cell = table->cellForRowAtIndexPath({0, 0});
  int calls = 0;
  cell->leftButtons = {SwipeButton::make("Dup", nullptr, Color::blue(), 10, [&](TableViewCell&) {
    ++calls;
    return true;
  })};
  window->drag({40, 20}, {200, 22});
  ASSERT_EQ(cell->swipeState(), 1);
  window->layoutIfNeeded();
  window->tap({10, 20});
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(cell->swipeState(), 0);
}

TEST_F(TableViewTest, DragScrollsAndHeadersAndIndexAreShown) {
  rows->sections = {numbered(20, "a"), numbered(20, "b")};
  rows->headers = {"A", "B"};
  table->reloadData();
  EXPECT_EQ(table->contentSize().height, 2 * 22 + 40 * 44);
  window->drag({100, 400}, {100, 100});
  EXPECT_EQ(table->contentOffset().y, 300);
  EXPECT_TRUE(rows->selected.empty());
}

TEST_F(TableViewTest, PullingDownPastTheTopRefreshesOnce) {
  rows->sections = {numbered(30)};
  table->reloadData();
  auto refresh = std::make_shared<RefreshControl>();
  int pulls = 0;
  refresh->addTarget(this, [&](Control&) { ++pulls; }, ValueChanged);
  table->setRefreshControl(refresh);
  window->drag({100, 100}, {100, 140});  // not far enough
  EXPECT_EQ(pulls, 0);
  window->drag({100, 100}, {100, 200});
  EXPECT_EQ(pulls, 1);
  EXPECT_TRUE(refresh->isRefreshing());
  EXPECT_EQ(table->contentOffset().y, 0);
  window->drag({100, 100}, {100, 200});  // already refreshing
  EXPECT_EQ(pulls, 1);
  refresh->endRefreshing();
  // Scrolled down first, a pull only brings the content back to the top.
  table->setContentOffset({0, 200});
  window->drag({100, 100}, {100, 260});
  EXPECT_EQ(pulls, 1);
}

}  // namespace
}  // namespace ui
