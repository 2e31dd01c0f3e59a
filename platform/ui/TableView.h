#pragma once
// Table views, plain and grouped: sections of rows from a data source, cells reused by
// identifier, section headers and an index, selection, swipe-to-delete and swipe buttons.
//
// Loading: `reloadData` asks the data source at once for the counts and for the cells of
// the rows inside the visible area; scrolling asks for rows that come into view and puts
// rows that leave it in the reuse pool of their identifier, where
// `dequeueReusableCellWithIdentifier` finds them (after `prepareForReuse`).
//
// Batch updates are checked as the platform checks them: after the inserts and deletes
// of one update (or of one call outside begin/end), every surviving section must have its
// old row count plus inserts minus deletes, and the section count likewise. Otherwise the
// update throws `TableUpdateError`, the table keeps showing what it showed before, and the
// caller can `reloadData`. The data source and delegate are held weakly. Main thread.

#include <compare>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/RefreshControl.h"
#include "platform/ui/ScrollView.h"

namespace ui {

struct IndexPath {
  int section = 0;
  int row = 0;
  auto operator<=>(const IndexPath&) const = default;
  std::string text() const { return "[" + std::to_string(section) + "," + std::to_string(row) + "]"; }
};

class TableView;
class TableViewCell;

enum class TableViewStyle { Plain, Grouped };
enum class CellStyle { Default, Value1, Value2, Subtitle };
enum class AccessoryType { None, DisclosureIndicator, DetailDisclosureButton, Checkmark, DetailButton };
enum class SelectionStyle { None, Blue, Gray, Default };
enum class EditingStyle { None, Delete, Insert };
enum class RowAnimation { Fade, Right, Left, Top, Bottom, None, Middle, Automatic };
enum class ScrollPosition { None, Top, Middle, Bottom };

// An inconsistent batch update (the platform's internal-inconsistency exception).
class TableUpdateError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual int numberOfSectionsInTableView(TableView&) { return 1; }
  virtual int numberOfRowsInSection(TableView&, int section) = 0;
  virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&, IndexPath) = 0;
  virtual std::optional<std::string> titleForHeaderInSection(TableView&, int) { return std::nullopt; }
  virtual std::optional<std::string> titleForFooterInSection(TableView&, int) { return std::nullopt; }
  virtual std::vector<std::string> sectionIndexTitlesForTableView(TableView&) { return {}; }
  // The section the index entry `title` at `index` leads to.
  virtual int sectionForSectionIndexTitle(TableView&, const std::string& title, int index) { (void)title; return index; }
  // Swipe-to-delete is offered for rows where this answers true; a confirmed delete calls
  // `commitEditingStyle`.
  virtual bool canEditRowAtIndexPath(TableView&, IndexPath) { return false; }
  virtual void commitEditingStyle(TableView&, EditingStyle, IndexPath) {}
};

class TableViewDelegate : public ScrollViewDelegate {
 public:
  // nullopt: the table's row height.
  virtual std::optional<double> heightForRowAtIndexPath(TableView&, IndexPath) { return std::nullopt; }
  virtual std::optional<double> heightForHeaderInSection(TableView&, int) { return std::nullopt; }
  virtual std::shared_ptr<View> viewForHeaderInSection(TableView&, int) { return nullptr; }
  // The row to select instead (nullopt: select nothing).
  virtual std::optional<IndexPath> willSelectRowAtIndexPath(TableView&, IndexPath ip) { return ip; }
  virtual void didSelectRowAtIndexPath(TableView&, IndexPath) {}
  virtual void didDeselectRowAtIndexPath(TableView&, IndexPath) {}
  virtual void willDisplayCell(TableView&, TableViewCell&, IndexPath) {}
  // A user's swipe on the row is about to reveal a side of `cell` (`direction` SwipeRight:
  // its left buttons; SwipeLeft: its right buttons or the delete button). The delegate may
  // fill the cell's swipe buttons now, so that rows cost nothing until swiped.
  virtual void willBeginSwipe(TableView&, TableViewCell&, IndexPath, int direction) { (void)direction; }
  virtual EditingStyle editingStyleForRowAtIndexPath(TableView&, IndexPath) { return EditingStyle::Delete; }
  virtual std::string titleForDeleteConfirmationButtonForRowAtIndexPath(TableView&, IndexPath) { return "Delete"; }
  virtual void accessoryButtonTappedForRowWithIndexPath(TableView&, IndexPath) {}
};

// A button revealed by swiping a cell. Its callback answers whether the cell closes.
class SwipeButton : public Button {
 public:
  using Callback = std::function<bool(TableViewCell&)>;
  static std::shared_ptr<SwipeButton> make(std::string title, std::shared_ptr<Image> icon, Color background,
                                           double padding, Callback callback);
  const char* kind() const override { return "SwipeButton"; }
  double padding() const { return padding_; }
  Callback callback;

 private:
  double padding_ = 0;
};

class TableViewCell : public View {
 public:
  explicit TableViewCell(CellStyle style = CellStyle::Default, std::string reuseIdentifier = {});
  const char* kind() const override { return "Cell"; }

  CellStyle style() const { return style_; }
  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  View& contentView() { return *content_; }
  Label& textLabel() { return *textLabel_; }
  Label& detailTextLabel() { return *detailLabel_; }
  ImageView& imageView() { return *imageView_; }
  AccessoryType accessoryType() const { return accessory_; }
  void setAccessoryType(AccessoryType a) { accessory_ = a; setNeedsLayout(); }
  std::shared_ptr<View> accessoryView() const { return accessoryView_; }
  // Puts `v` at the right edge. A view has one place: a view already in another cell moves
  // here. A cell that gave its accessory view up (to another cell) neither lays it out
  // nor takes it away again, also when it is reused or given a new accessory view; so a
  // screen may hand one control from row to row.
  void setAccessoryView(std::shared_ptr<View> v);
  SelectionStyle selectionStyle() const { return selectionStyle_; }
  void setSelectionStyle(SelectionStyle s) { selectionStyle_ = s; }
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool s, bool animated = false) { (void)animated; selected_ = s; }
  // Resets the cell before it is handed out again; subclasses clear their own outlets.
  virtual void prepareForReuse();

  // Swipe buttons: left buttons are revealed by a swipe to the right, right ones by a
  // swipe to the left.
  std::vector<std::shared_ptr<SwipeButton>> leftButtons;
  std::vector<std::shared_ptr<SwipeButton>> rightButtons;
  // Which side is open: 0 none, 1 left buttons, -1 right buttons or the delete button.
  int swipeState() const { return swipeState_; }
  void showSwipe(int side);
  void hideSwipe();

  // The table and row it shows now (nullptr / nullopt while in the reuse pool).
  TableView* tableView() const { return table_; }

  void layoutSubviews() override;
  std::string describe() const override;

 private:
  friend class TableView;
  CellStyle style_;
  std::string reuseIdentifier_;
  std::shared_ptr<View> content_;
  std::shared_ptr<Label> textLabel_;
  std::shared_ptr<Label> detailLabel_;
  std::shared_ptr<ImageView> imageView_;
  AccessoryType accessory_ = AccessoryType::None;
  std::shared_ptr<View> accessoryView_;
  SelectionStyle selectionStyle_ = SelectionStyle::Default;
  bool selected_ = false;
  int swipeState_ = 0;
  std::vector<std::shared_ptr<Button>> revealed_;
  TableView* table_ = nullptr;
};

// A section header or footer made from a title.
class TableHeaderLabel : public Label {
 public:
  const char* kind() const override { return "SectionHeader"; }
};

// The section index down the right edge.
class TableIndexView : public View {
 public:
  const char* kind() const override { return "SectionIndex"; }
  // The font the titles are drawn in.
  static Font titleFont() { return Font::boldSystemFont(11); }
  std::vector<std::string> titles;
  std::vector<std::string> texts() const override { return titles; }
  void touchesEnded(const Touches& t) override;
  std::function<void(int)> onChoose;
};

class TableView : public ScrollView {
 public:
  explicit TableView(TableViewStyle style = TableViewStyle::Plain);
  ~TableView() override;
  const char* kind() const override { return "TableView"; }

  TableViewStyle style() const { return style_; }
  std::weak_ptr<TableViewDataSource> dataSource() const { return dataSource_; }
  void setDataSource(std::weak_ptr<TableViewDataSource> d) { dataSource_ = std::move(d); }
  std::weak_ptr<TableViewDelegate> tableDelegate() const { return delegate_; }
  // Also the scroll view's delegate.
  void setDelegate(std::weak_ptr<TableViewDelegate> d);

  double rowHeight() const { return rowHeight_; }
  void setRowHeight(double h) { rowHeight_ = h; }
  double sectionHeaderHeight() const { return headerHeight_; }
  void setSectionHeaderHeight(double h) { headerHeight_ = h; }
  bool allowsSelection() const { return allowsSelection_; }
  void setAllowsSelection(bool a) { allowsSelection_ = a; }
  std::shared_ptr<View> tableHeaderView() const { return tableHeader_; }
  void setTableHeaderView(std::shared_ptr<View> v);
  std::shared_ptr<View> tableFooterView() const { return tableFooter_; }
  void setTableFooterView(std::shared_ptr<View> v);
  std::shared_ptr<RefreshControl> refreshControl() const { return refresh_; }
  void setRefreshControl(std::shared_ptr<RefreshControl> r);
  Color separatorColor() const { return separatorColor_; }
  void setSeparatorColor(Color c) { separatorColor_ = c; }

  // Reuse.
  using CellFactory = std::function<std::shared_ptr<TableViewCell>()>;
  void registerCellFactory(const std::string& identifier, CellFactory factory);
  // A cell from the pool, else a new one from the registered factory, else nullptr.
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
  // As above, but an identifier without a factory throws std::logic_error.
  std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier, IndexPath);
  size_t reusePoolSize(const std::string& identifier) const;

  // Data.
  void reloadData();
  void reloadSectionIndexTitles();
  int numberOfSections() const { return static_cast<int>(rows_.size()); }
  int numberOfRowsInSection(int section) const;
  // The visible cell of `ip` (nullptr when the row is not visible).
  TableViewCell* cellForRowAtIndexPath(IndexPath ip) const;
  std::optional<IndexPath> indexPathForCell(const TableViewCell* cell) const;
  std::vector<IndexPath> indexPathsForVisibleRows() const;
  std::vector<TableViewCell*> visibleCells() const;
  Rect rectForRowAtIndexPath(IndexPath ip) const;
  Rect rectForSection(int section) const;
  std::optional<IndexPath> indexPathForRowAtPoint(Point contentPoint) const;
  const std::vector<std::string>& sectionIndexTitles() const { return indexTitles_; }
  // The width of the section index along the right edge (0 without one); rows get the rest.
  double indexWidth() const;

  // Batch updates.
  void beginUpdates();
  void endUpdates();
  void insertRowsAtIndexPaths(const std::vector<IndexPath>& ips, RowAnimation animation);
  void deleteRowsAtIndexPaths(const std::vector<IndexPath>& ips, RowAnimation animation);
  void reloadRowsAtIndexPaths(const std::vector<IndexPath>& ips, RowAnimation animation);
  void insertSections(const std::vector<int>& sections, RowAnimation animation);
  void deleteSections(const std::vector<int>& sections, RowAnimation animation);
  void reloadSections(const std::vector<int>& sections, RowAnimation animation);

  // Selection.
  std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
  void selectRowAtIndexPath(std::optional<IndexPath> ip, bool animated, ScrollPosition position);
  void deselectRowAtIndexPath(IndexPath ip, bool animated);
  // A user's tap on the row: willSelect, select, didSelect, as a touch would.
  void userSelectRow(IndexPath ip);
  void scrollToRowAtIndexPath(IndexPath ip, ScrollPosition position, bool animated);

  // Swipes: a user's swipe on the row. To the left opens the delete button (when the row
  // can be edited) or the right swipe buttons; to the right the left swipe buttons.
  void userSwipeRow(IndexPath ip, int direction);
  // A user's confirmation of the delete button.
  void userConfirmDelete(IndexPath ip);

  void layoutSubviews() override;
  void touchesBegan(const Touches& t) override;
  void touchesEnded(const Touches& t) override;
  void touchesCancelled(const Touches& t) override;
  std::string describe() const override;

 protected:
  void offsetChanged() override;
  void pulledDown(double distance) override;

 private:
  struct Update {
    std::vector<IndexPath> insertRows, deleteRows, reloadRows;
    std::vector<int> insertSections, deleteSections, reloadSections;
  };
  void loadCounts();
  void computeGeometry();
  void layoutVisible(bool requery);
  void recycle(const std::shared_ptr<TableViewCell>& cell);
  void applyUpdate(const Update& u);
  std::shared_ptr<TableViewCell> makeCell(IndexPath ip);
  friend class TableViewCell;
  TableViewDelegate* del() const { return delegate_.lock().get(); }

  TableViewStyle style_;
  std::weak_ptr<TableViewDataSource> dataSource_;
  std::weak_ptr<TableViewDelegate> delegate_;
  double rowHeight_ = 44;
  double headerHeight_;
  bool allowsSelection_ = true;
  bool loaded_ = false;
  std::shared_ptr<View> tableHeader_, tableFooter_;
  std::shared_ptr<RefreshControl> refresh_;
  Color separatorColor_ = Color::white(0.8);
  std::map<std::string, CellFactory> factories_;
  std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> pool_;
  std::vector<int> rows_;  // row count per section
  std::vector<std::string> headerTitles_;
  std::vector<double> sectionTop_, headerHeights_;
  std::vector<std::vector<double>> rowTop_, rowHeights_;
  double contentHeight_ = 0;
  std::map<IndexPath, std::shared_ptr<TableViewCell>> visible_;
  std::vector<std::shared_ptr<View>> headers_;
  std::vector<std::string> indexTitles_;
  std::shared_ptr<TableIndexView> indexView_;
  std::optional<IndexPath> selected_;
  int updateDepth_ = 0;
  Update pending_;
  std::optional<IndexPath> touchRow_;
  Point touchStart_;
};

}  // namespace ui
