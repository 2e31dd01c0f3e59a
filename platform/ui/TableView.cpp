#include "platform/ui/TableView.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "platform/ui/Animation.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Text.h"

namespace ui {
namespace {

constexpr double kAccessoryWidth = 30;
constexpr double kIndexWidth = 16;
// Space beside the widest index title.
constexpr double kIndexPadding = 4;
constexpr double kGroupedSectionGap = 10;
constexpr size_t kMaxPooledPerIdentifier = 32;
// A horizontal move this long on a row is a swipe.
constexpr double kRowSwipeDistance = 30;

std::string countsText(const std::vector<int>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) out += ',';
    out += std::to_string(v[i]);
  }
  return out;
}

// A view leaves its holder only while the holder still has it: a view that moved on (one
// control handed from a reused cell to another cell) stays where it is now.
void removeIfInside(const std::shared_ptr<View>& v, const View* holder) {
  if (v && v->superview() == holder) v->removeFromSuperview();
}

}  // namespace

// ---- SwipeButton

std::shared_ptr<SwipeButton> SwipeButton::make(std::string title, std::shared_ptr<Image> icon, Color background,
                                               double padding, Callback callback) {
  auto b = std::make_shared<SwipeButton>();
  b->setTitle(std::move(title));
  b->setImage(std::move(icon));
  b->setBackgroundColor(background);
  b->setTitleColor(Color::whiteColor());
  b->padding_ = padding;
  b->callback = std::move(callback);
  return b;
}

// ---- TableViewCell

TableViewCell::TableViewCell(CellStyle style, std::string reuseIdentifier)
    : style_(style), reuseIdentifier_(std::move(reuseIdentifier)) {
  setBackgroundColor(Color::whiteColor());
  setClipsToBounds(true);
  content_ = std::make_shared<View>();
  textLabel_ = std::make_shared<Label>();
  detailLabel_ = std::make_shared<Label>();
  imageView_ = std::make_shared<ImageView>();
  if (style == CellStyle::Subtitle) {
    textLabel_->setFont(Font::systemFont(16));
    detailLabel_->setFont(Font::systemFont(12));
  } else {
    detailLabel_->setTextColor(Color::gray());
  }
  if (style == CellStyle::Value1) detailLabel_->setTextAlignment(TextAlignment::Right);
  content_->addSubview(imageView_);
  content_->addSubview(textLabel_);
  content_->addSubview(detailLabel_);
  addSubview(content_);
}

void TableViewCell::setAccessoryView(std::shared_ptr<View> v) {
  removeIfInside(accessoryView_, this);
  accessoryView_ = std::move(v);
  if (accessoryView_) addSubview(accessoryView_);
  setNeedsLayout();
}

void TableViewCell::prepareForReuse() {
  hideSwipe();
  selected_ = false;
}

void TableViewCell::showSwipe(int side) {
  hideSwipe();
  const auto& buttons = side > 0 ? leftButtons : rightButtons;
  if (buttons.empty()) return;
  swipeState_ = side;
  for (auto& b : buttons) revealed_.push_back(b);
  setNeedsLayout();
  layoutIfNeeded();
}

void TableViewCell::hideSwipe() {
  for (auto& b : revealed_) removeIfInside(b, this);
  revealed_.clear();
  swipeState_ = 0;
  setNeedsLayout();
}

void TableViewCell::layoutSubviews() {
  const double w = frame().width(), h = frame().height();
  // Revealed swipe buttons push the content aside.
  double shift = 0;
  for (auto& b : revealed_) {
    double bw = std::max(b->currentImage() ? b->currentImage()->size().width : 0.0,
                         measureText(b->currentTitle(), b->titleFont()).width);
    auto* sb = dynamic_cast<SwipeButton*>(b.get());
    bw += 2 * (sb ? std::max(sb->padding(), 8.0) : 15.0);
    b->setFrame({0, 0, bw, h});
    shift += bw;
  }
  double x = swipeState_ > 0 ? 0 : w - shift;
  for (auto& b : revealed_) {
    Rect f = b->frame();
    b->setFrame({x, 0, f.width(), h});
    x += f.width();
    if (b->superview() != this) addSubview(b);
  }
  double offset = swipeState_ > 0 ? shift : -shift;
  double accessory = 0;
  if (accessoryView_ && accessoryView_->superview() == this) {
    Rect f = accessoryView_->frame();
    accessory = f.width() + 15;
    accessoryView_->setFrame({w - f.width() - 10 + offset, (h - f.height()) / 2, f.width(), f.height()});
  } else if (accessory_ != AccessoryType::None) {
    accessory = kAccessoryWidth;
  }
  content_->setFrame({offset, 0, w - accessory, h});
  const double cw = content_->frame().width();
  double left = 15;
  if (auto img = imageView_->image()) {
    Size s = img->size();
    double ih = std::min(s.height, h);
    double iw = s.height > 0 ? s.width * ih / s.height : 0;
    imageView_->setFrame({15, (h - ih) / 2, iw, ih});
    left = 15 + iw + 15;
  } else {
    imageView_->setFrame({});
  }
  switch (style_) {
    case CellStyle::Subtitle:
      textLabel_->setFrame({left, 4, cw - left - 10, h / 2});
      detailLabel_->setFrame({left, h / 2, cw - left - 10, h / 2 - 4});
      break;
    case CellStyle::Value1:
    case CellStyle::Value2:
      textLabel_->setFrame({left, 0, (cw - left) * 0.6, h});
      detailLabel_->setFrame({left + (cw - left) * 0.4, 0, (cw - left) * 0.6 - 10, h});
      break;
    case CellStyle::Default:
      textLabel_->setFrame({left, 0, cw - left - 10, h});
      detailLabel_->setFrame({});
      break;
  }
  if (revealed_.size()) bringSubviewToFront(revealed_.front().get());
  for (auto& b : revealed_) bringSubviewToFront(b.get());
}

std::string TableViewCell::describe() const {
  std::string out;
  switch (accessory_) {
    case AccessoryType::DisclosureIndicator: out += " >"; break;
    case AccessoryType::Checkmark: out += " checked"; break;
    case AccessoryType::DetailDisclosureButton:
    case AccessoryType::DetailButton: out += " (i)"; break;
    case AccessoryType::None: break;
  }
  if (selected_) out += " selected";
  if (swipeState_ != 0) out += swipeState_ > 0 ? " swiped-right" : " swiped-left";
  return out + View::describe();
}

void TableIndexView::touchesEnded(const Touches& t) {
  if (t.empty() || titles.empty() || !onChoose) return;
  Point p = t.front().locationIn(this);
  int i = static_cast<int>(p.y / std::max(1.0, frame().height() / titles.size()));
  onChoose(std::clamp(i, 0, static_cast<int>(titles.size()) - 1));
}

// ---- TableView

TableView::TableView(TableViewStyle style)
    : style_(style), headerHeight_(style == TableViewStyle::Plain ? 22 : 38) {
  setBackgroundColor(style == TableViewStyle::Plain ? Color::whiteColor() : Color::rgb(0.94, 0.94, 0.96));
  setClipsToBounds(true);
}

TableView::~TableView() {
  for (auto& [ip, cell] : visible_) cell->table_ = nullptr;
}

void TableView::setDelegate(std::weak_ptr<TableViewDelegate> d) {
  delegate_ = d;
  ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(d.lock()));
}

void TableView::setTableHeaderView(std::shared_ptr<View> v) {
  removeIfInside(tableHeader_, this);
  tableHeader_ = std::move(v);
  if (tableHeader_) addSubview(tableHeader_);
  if (loaded_) layoutVisible(false);
}

void TableView::setTableFooterView(std::shared_ptr<View> v) {
  removeIfInside(tableFooter_, this);
  tableFooter_ = std::move(v);
  if (tableFooter_) addSubview(tableFooter_);
  if (loaded_) layoutVisible(false);
}

void TableView::setRefreshControl(std::shared_ptr<RefreshControl> r) {
  removeIfInside(refresh_, this);
  refresh_ = std::move(r);
  if (!refresh_) return;
  refresh_->setFrame({0, -RefreshControl::kTriggerDistance, frame().width(), RefreshControl::kTriggerDistance});
  addSubview(refresh_);
}

void TableView::pulledDown(double distance) {
  if (!refresh_ || refresh_->isRefreshing() || !refresh_->isEnabled() || distance < RefreshControl::kTriggerDistance) return;
  refresh_->beginRefreshing();
  refresh_->sendActionsForControlEvents(ValueChanged);
}

void TableView::registerCellFactory(const std::string& identifier, CellFactory factory) {
  factories_[identifier] = std::move(factory);
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
  auto& pool = pool_[identifier];
  if (!pool.empty()) {
    auto cell = pool.back();
    pool.pop_back();
    cell->prepareForReuse();
    return cell;
  }
  auto f = factories_.find(identifier);
  if (f != factories_.end()) {
    auto cell = f->second();
    if (cell) cell->reuseIdentifier_ = identifier;
    return cell;
  }
  return nullptr;
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(const std::string& identifier, IndexPath) {
  if (!factories_.count(identifier) && pool_[identifier].empty())
    throw std::logic_error("unable to dequeue a cell with identifier " + identifier +
                           " - register a factory for the identifier");
  return dequeueReusableCellWithIdentifier(identifier);
}

size_t TableView::reusePoolSize(const std::string& identifier) const {
  auto it = pool_.find(identifier);
  return it == pool_.end() ? 0 : it->second.size();
}

int TableView::numberOfRowsInSection(int section) const {
  if (section < 0 || section >= static_cast<int>(rows_.size())) return 0;
  return rows_[static_cast<size_t>(section)];
}

void TableView::loadCounts() {
  rows_.clear();
  headerTitles_.clear();
  auto ds = dataSource_.lock();
  if (!ds) return;
  int sections = std::max(0, ds->numberOfSectionsInTableView(*this));
  for (int s = 0; s < sections; ++s) {
    rows_.push_back(std::max(0, ds->numberOfRowsInSection(*this, s)));
    headerTitles_.push_back(ds->titleForHeaderInSection(*this, s).value_or(""));
  }
  indexTitles_ = ds->sectionIndexTitlesForTableView(*this);
}

void TableView::computeGeometry() {
  auto* d = del();
  double y = tableHeader_ ? tableHeader_->frame().height() : 0;
  sectionTop_.assign(rows_.size(), 0);
  headerHeights_.assign(rows_.size(), 0);
  rowTop_.assign(rows_.size(), {});
  rowHeights_.assign(rows_.size(), {});
  for (size_t s = 0; s < rows_.size(); ++s) {
    const int si = static_cast<int>(s);
    sectionTop_[s] = y;
    double hh = 0;
    std::optional<double> custom = d ? d->heightForHeaderInSection(*this, si) : std::nullopt;
    if (custom) {
      hh = *custom;
    } else if (!headerTitles_[s].empty()) {
      hh = headerHeight_;
    } else if (style_ == TableViewStyle::Grouped) {
      hh = 18;
    }
    headerHeights_[s] = hh;
    y += hh;
    for (int r = 0; r < rows_[s]; ++r) {
      double h = rowHeight_;
      if (d)
        if (auto c = d->heightForRowAtIndexPath(*this, {si, r})) h = *c;
      rowTop_[s].push_back(y);
      rowHeights_[s].push_back(h);
      y += h;
    }
    if (style_ == TableViewStyle::Grouped) y += kGroupedSectionGap;
  }
  if (tableFooter_) {
    Rect f = tableFooter_->frame();
    tableFooter_->setFrame({0, y, frame().width(), f.height()});
    y += f.height();
  }
  if (tableHeader_) {
    Rect f = tableHeader_->frame();
    tableHeader_->setFrame({0, 0, frame().width(), f.height()});
  }
  contentHeight_ = y;
  setContentSize({frame().width(), y});
}

void TableView::recycle(const std::shared_ptr<TableViewCell>& cell) {
  cell->removeFromSuperview();
  cell->table_ = nullptr;
  cell->hideSwipe();
  if (cell->reuseIdentifier().empty()) return;
  auto& pool = pool_[cell->reuseIdentifier()];
  if (pool.size() < kMaxPooledPerIdentifier) pool.push_back(cell);
}

std::shared_ptr<TableViewCell> TableView::makeCell(IndexPath ip) {
  auto ds = dataSource_.lock();
  std::shared_ptr<TableViewCell> cell = ds ? ds->cellForRowAtIndexPath(*this, ip) : nullptr;
  // A data source that gives no cell gets an empty one rather than a broken table.
  if (!cell) cell = std::make_shared<TableViewCell>();
  cell->table_ = this;
  cell->selected_ = selected_ && *selected_ == ip;
  if (auto* d = del()) d->willDisplayCell(*this, *cell, ip);
  return cell;
}

double TableView::indexWidth() const {
  if (indexTitles_.empty()) return 0;
  // As wide as its widest title, so a title longer than a letter shows whole.
  double widest = 0;
  for (const auto& t : indexTitles_) widest = std::max(widest, measureText(t, TableIndexView::titleFont()).width);
  return std::max(kIndexWidth, std::ceil(widest) + kIndexPadding);
}

void TableView::layoutVisible(bool requery) {
  const double top = contentOffset().y, bottom = top + frame().height();
  const double w = frame().width() - indexWidth();
  std::map<IndexPath, std::shared_ptr<TableViewCell>> keep;
  if (requery) {
    for (auto& [ip, cell] : visible_) recycle(cell);
    visible_.clear();
  }
  // The rows in view; cells of rows that left it go to the pool before new ones are asked for.
  std::vector<IndexPath> wanted;
  for (size_t s = 0; s < rows_.size(); ++s)
    for (int r = 0; r < rows_[s]; ++r) {
      double y = rowTop_[s][static_cast<size_t>(r)], h = rowHeights_[s][static_cast<size_t>(r)];
      if (y + h <= top || y >= bottom || h <= 0) continue;
      wanted.push_back({static_cast<int>(s), r});
    }
  for (auto it = visible_.begin(); it != visible_.end();) {
    if (!std::binary_search(wanted.begin(), wanted.end(), it->first)) {
      recycle(it->second);
      it = visible_.erase(it);
    } else {
      ++it;
    }
  }
  for (const IndexPath& ip : wanted) {
    auto s = static_cast<size_t>(ip.section);
    auto r = static_cast<size_t>(ip.row);
    std::shared_ptr<TableViewCell> cell;
    auto it = visible_.find(ip);
    if (it != visible_.end()) {
      cell = it->second;
      visible_.erase(it);
    } else {
      cell = makeCell(ip);
    }
    cell->setFrame({0, rowTop_[s][r], w, rowHeights_[s][r]});
    if (cell->superview() != this) insertSubview(cell, 0);
    keep[ip] = cell;
  }
  visible_ = std::move(keep);

  // Section headers.
  for (auto& h : headers_) removeIfInside(h, this);
  headers_.clear();
  auto* d = del();
  for (size_t s = 0; s < rows_.size(); ++s) {
    double hh = headerHeights_[s];
    if (hh <= 0 || sectionTop_[s] + hh <= top || sectionTop_[s] >= bottom) continue;
    std::shared_ptr<View> hv = d ? d->viewForHeaderInSection(*this, static_cast<int>(s)) : nullptr;
    if (!hv && !headerTitles_[s].empty()) {
      auto label = std::make_shared<TableHeaderLabel>();
      label->setText(style_ == TableViewStyle::Grouped ? "   " + headerTitles_[s] : "  " + headerTitles_[s]);
      label->setFont(style_ == TableViewStyle::Grouped ? Font::systemFont(13) : Font::boldSystemFont(15));
      label->setTextColor(style_ == TableViewStyle::Grouped ? Color::gray() : Color::black());
      if (style_ == TableViewStyle::Plain) label->setBackgroundColor(Color::white(0.93));
      hv = label;
    }
    if (!hv) continue;
    hv->setFrame({0, sectionTop_[s], w, hh});
    addSubview(hv);
    headers_.push_back(hv);
  }

  // Section index.
  if (!indexTitles_.empty()) {
    if (!indexView_) {
      indexView_ = std::make_shared<TableIndexView>();
      indexView_->onChoose = [this](int i) {
        auto ds = dataSource_.lock();
        if (!ds || i >= static_cast<int>(indexTitles_.size())) return;
        int section = ds->sectionForSectionIndexTitle(*this, indexTitles_[static_cast<size_t>(i)], i);
        if (section >= 0 && section < numberOfSections()) {
          Point lo = minimumOffset(), hi = maximumOffset();
          setContentOffset({0, std::clamp(sectionTop_[static_cast<size_t>(section)], lo.y, hi.y)}, false);
        }
      };
    }
    indexView_->titles = indexTitles_;
    indexView_->setFrame({frame().width() - indexWidth(), top, indexWidth(), frame().height()});
    addSubview(indexView_);
  } else if (indexView_) {
    indexView_->removeFromSuperview();
  }
}

void TableView::reloadData() {
  loaded_ = true;
  selected_.reset();
  loadCounts();
  computeGeometry();
  Point hi = maximumOffset(), lo = minimumOffset();
  if (contentOffset().y > hi.y) boundsOrigin_.y = std::max(lo.y, hi.y);
  layoutVisible(true);
}

void TableView::reloadSectionIndexTitles() {
  if (auto ds = dataSource_.lock()) indexTitles_ = ds->sectionIndexTitlesForTableView(*this);
  layoutVisible(false);
}

void TableView::layoutSubviews() {
  if (!loaded_) {
    reloadData();
    return;
  }
  computeGeometry();
  layoutVisible(false);
}

void TableView::offsetChanged() {
  if (loaded_) layoutVisible(false);
}

TableViewCell* TableView::cellForRowAtIndexPath(IndexPath ip) const {
  auto it = visible_.find(ip);
  return it == visible_.end() ? nullptr : it->second.get();
}

std::optional<IndexPath> TableView::indexPathForCell(const TableViewCell* cell) const {
  for (auto& [ip, c] : visible_)
    if (c.get() == cell) return ip;
  return std::nullopt;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() const {
  std::vector<IndexPath> out;
  for (auto& [ip, c] : visible_) out.push_back(ip);
  return out;
}

std::vector<TableViewCell*> TableView::visibleCells() const {
  std::vector<TableViewCell*> out;
  for (auto& [ip, c] : visible_) out.push_back(c.get());
  return out;
}

Rect TableView::rectForRowAtIndexPath(IndexPath ip) const {
  if (ip.section < 0 || ip.section >= numberOfSections() || ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section))
    return {};
  auto s = static_cast<size_t>(ip.section);
  auto r = static_cast<size_t>(ip.row);
  return {0, rowTop_[s][r], frame().width(), rowHeights_[s][r]};
}

Rect TableView::rectForSection(int section) const {
  if (section < 0 || section >= numberOfSections()) return {};
  auto s = static_cast<size_t>(section);
  double end = s + 1 < sectionTop_.size() ? sectionTop_[s + 1] : contentHeight_;
  return {0, sectionTop_[s], frame().width(), end - sectionTop_[s]};
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) const {
  for (size_t s = 0; s < rows_.size(); ++s)
    for (int r = 0; r < rows_[s]; ++r) {
      double y = rowTop_[s][static_cast<size_t>(r)], h = rowHeights_[s][static_cast<size_t>(r)];
      if (p.y >= y && p.y < y + h) return IndexPath{static_cast<int>(s), r};
    }
  return std::nullopt;
}

// ---- Batch updates

void TableView::beginUpdates() {
  if (updateDepth_++ == 0) pending_ = {};
}

void TableView::endUpdates() {
  if (updateDepth_ == 0) return;
  if (--updateDepth_ > 0) return;
  Update u = std::move(pending_);
  pending_ = {};
  applyUpdate(u);
}

#define KESTRA_TABLE_UPDATE(field, arg)      \
  pending_.field.insert(pending_.field.end(), arg.begin(), arg.end()); \
  if (updateDepth_ == 0) {                    \
    Update u = std::move(pending_);           \
    pending_ = {};                            \
    applyUpdate(u);                           \
  }

void TableView::insertRowsAtIndexPaths(const std::vector<IndexPath>& ips, RowAnimation) { KESTRA_TABLE_UPDATE(insertRows, ips) }
void TableView::deleteRowsAtIndexPaths(const std::vector<IndexPath>& ips, RowAnimation) { KESTRA_TABLE_UPDATE(deleteRows, ips) }
void TableView::reloadRowsAtIndexPaths(const std::vector<IndexPath>& ips, RowAnimation) { KESTRA_TABLE_UPDATE(reloadRows, ips) }
void TableView::insertSections(const std::vector<int>& s, RowAnimation) { KESTRA_TABLE_UPDATE(insertSections, s) }
void TableView::deleteSections(const std::vector<int>& s, RowAnimation) { KESTRA_TABLE_UPDATE(deleteSections, s) }
void TableView::reloadSections(const std::vector<int>& s, RowAnimation) { KESTRA_TABLE_UPDATE(reloadSections, s) }
#undef KESTRA_TABLE_UPDATE

void TableView::applyUpdate(const Update& u) {
  auto ds = dataSource_.lock();
  if (!ds) return;
  if (!loaded_) {
    // Nothing was shown yet, so there is nothing to check against: load what is there.
    reloadData();
    return;
  }
  const std::vector<int> oldRows = rows_;
  const int oldSections = static_cast<int>(oldRows.size());
  const int newSections = std::max(0, ds->numberOfSectionsInTableView(*this));
  std::vector<int> newRows;
  for (int s = 0; s < newSections; ++s) newRows.push_back(std::max(0, ds->numberOfRowsInSection(*this, s)));
  auto fail = [](const std::string& msg) { throw TableUpdateError("Invalid update: " + msg); };

  std::set<int> delSec(u.deleteSections.begin(), u.deleteSections.end());
  std::set<int> insSec(u.insertSections.begin(), u.insertSections.end());
  std::set<int> relSec(u.reloadSections.begin(), u.reloadSections.end());
  for (int s : delSec)
    if (s < 0 || s >= oldSections) fail("attempt to delete section " + std::to_string(s) + ", but there are only " + std::to_string(oldSections) + " sections before the update");
  for (int s : relSec)
    if (s < 0 || s >= oldSections) fail("attempt to reload section " + std::to_string(s) + ", but there are only " + std::to_string(oldSections) + " sections before the update");
  for (int s : insSec)
    if (s < 0 || s >= newSections) fail("attempt to insert section " + std::to_string(s) + " but there are only " + std::to_string(newSections) + " sections after the update");
  if (newSections != oldSections + static_cast<int>(insSec.size()) - static_cast<int>(delSec.size()))
    fail("invalid number of sections. The number of sections contained in the table view after the update (" +
         std::to_string(newSections) + ") must be equal to the number of sections contained in the table view before the update (" +
         std::to_string(oldSections) + "), plus or minus the number of sections inserted or deleted (" +
         std::to_string(insSec.size()) + " inserted, " + std::to_string(delSec.size()) + " deleted).");
  // Surviving old sections in order meet the new sections that were not inserted, in order.
  std::vector<int> oldToNew(static_cast<size_t>(oldSections), -1);
  {
    int n = 0;
    for (int o = 0; o < oldSections; ++o) {
      if (delSec.count(o)) continue;
      while (insSec.count(n)) ++n;
      oldToNew[static_cast<size_t>(o)] = n++;
    }
  }
  std::set<IndexPath> del(u.deleteRows.begin(), u.deleteRows.end());
  std::set<IndexPath> ins(u.insertRows.begin(), u.insertRows.end());
  // A reloaded row is deleted and inserted at the same place.
  for (auto& ip : u.reloadRows) {
    if (ip.section < 0 || ip.section >= oldSections || ip.row < 0 || ip.row >= oldRows[static_cast<size_t>(ip.section)])
      fail("attempt to reload row " + std::to_string(ip.row) + " from section " + std::to_string(ip.section) + " which does not exist before the update");
  }
  for (auto& ip : del) {
    if (ip.section < 0 || ip.section >= oldSections || ip.row < 0 || ip.row >= oldRows[static_cast<size_t>(ip.section)])
      fail("attempt to delete row " + std::to_string(ip.row) + " from section " + std::to_string(ip.section) + " which only contains " +
           std::to_string(ip.section >= 0 && ip.section < oldSections ? oldRows[static_cast<size_t>(ip.section)] : 0) +
           " rows before the update");
    if (delSec.count(ip.section)) fail("attempt to delete row " + std::to_string(ip.row) + " from section " + std::to_string(ip.section) + " which is deleted too");
  }
  for (auto& ip : ins) {
    if (ip.section < 0 || ip.section >= newSections || ip.row < 0 || ip.row >= newRows[static_cast<size_t>(ip.section)])
      fail("attempt to insert row " + std::to_string(ip.row) + " into section " + std::to_string(ip.section) + ", but there are only " +
           std::to_string(ip.section >= 0 && ip.section < newSections ? newRows[static_cast<size_t>(ip.section)] : 0) +
           " rows in section " + std::to_string(ip.section) + " after the update");
    if (insSec.count(ip.section)) fail("attempt to insert row " + std::to_string(ip.row) + " into section " + std::to_string(ip.section) + " which is inserted too");
  }
  for (int o = 0; o < oldSections; ++o) {
    int n = oldToNew[static_cast<size_t>(o)];
    if (n < 0 || relSec.count(o)) continue;
    int d = 0, i = 0;
    for (auto& ip : del) d += ip.section == o;
    for (auto& ip : ins) i += ip.section == n;
    int before = oldRows[static_cast<size_t>(o)], after = newRows[static_cast<size_t>(n)];
    if (after != before + i - d)
      fail("invalid number of rows in section " + std::to_string(n) +
           ". The number of rows contained in an existing section after the update (" + std::to_string(after) +
           ") must be equal to the number of rows contained in that section before the update (" + std::to_string(before) +
           "), plus or minus the number of rows inserted or deleted from that section (" + std::to_string(i) +
           " inserted, " + std::to_string(d) + " deleted).");
  }

  // Accepted: keep the cells of rows that survive, at their new places.
  std::set<IndexPath> reloaded(u.reloadRows.begin(), u.reloadRows.end());
  auto moveIndex = [&](IndexPath ip) -> std::optional<IndexPath> {
    if (delSec.count(ip.section) || relSec.count(ip.section) || del.count(ip) || reloaded.count(ip)) return std::nullopt;
    int n = oldToNew[static_cast<size_t>(ip.section)];
    int r = ip.row;
    for (auto& d : del)
      if (d.section == ip.section && d.row < ip.row) --r;
    for (auto& i : ins)  // ascending
      if (i.section == n && i.row <= r) ++r;
    return IndexPath{n, r};
  };
  std::map<IndexPath, std::shared_ptr<TableViewCell>> moved;
  for (auto& [ip, cell] : visible_) {
    if (auto to = moveIndex(ip))
      moved[*to] = cell;
    else
      recycle(cell);
  }
  visible_ = std::move(moved);
  if (selected_) selected_ = moveIndex(*selected_);
  rows_ = newRows;
  headerTitles_.clear();
  for (int s = 0; s < newSections; ++s) headerTitles_.push_back(ds->titleForHeaderInSection(*this, s).value_or(""));
  computeGeometry();
  AnimationLog::shared().record("table-update", 0.3, kind());
  layoutVisible(false);
}

// ---- Selection

void TableView::selectRowAtIndexPath(std::optional<IndexPath> ip, bool animated, ScrollPosition position) {
  if (selected_)
    if (auto* c = cellForRowAtIndexPath(*selected_)) c->setSelected(false);
  selected_ = ip;
  if (!ip) return;
  if (auto* c = cellForRowAtIndexPath(*ip)) c->setSelected(true, animated);
  if (position != ScrollPosition::None) scrollToRowAtIndexPath(*ip, position, animated);
}

void TableView::deselectRowAtIndexPath(IndexPath ip, bool animated) {
  if (auto* c = cellForRowAtIndexPath(ip)) c->setSelected(false, animated);
  if (selected_ == ip) selected_.reset();
}

void TableView::userSelectRow(IndexPath ip) {
  if (!allowsSelection_) return;
  if (ip.section < 0 || ip.section >= numberOfSections() || ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section)) return;
  auto keep = weak_from_this().lock();
  auto d = delegate_.lock();
  std::optional<IndexPath> target = d ? d->willSelectRowAtIndexPath(*this, ip) : std::optional<IndexPath>(ip);
  if (!target) return;
  if (selected_ && *selected_ != *target) {
    IndexPath old = *selected_;
    deselectRowAtIndexPath(old, false);
    if (d) d->didDeselectRowAtIndexPath(*this, old);
  }
  selectRowAtIndexPath(target, false, ScrollPosition::None);
  if (d) d->didSelectRowAtIndexPath(*this, *target);
}

void TableView::scrollToRowAtIndexPath(IndexPath ip, ScrollPosition position, bool animated) {
  Rect r = rectForRowAtIndexPath(ip);
  if (r.isEmpty() && r.y() == 0 && r.height() == 0) return;
  double y = r.y();
  if (position == ScrollPosition::Middle) y = r.midY() - frame().height() / 2;
  if (position == ScrollPosition::Bottom) y = r.maxY() - frame().height();
  if (position == ScrollPosition::None) return scrollRectToVisible(r, animated);
  Point lo = minimumOffset(), hi = maximumOffset();
  setContentOffset({contentOffset().x, std::clamp(y, lo.y, hi.y)}, animated);
}

// ---- Swipes

void TableView::userSwipeRow(IndexPath ip, int direction) {
  TableViewCell* cell = cellForRowAtIndexPath(ip);
  if (!cell) return;
  if (cell->swipeState() != 0) {
    cell->hideSwipe();
    return;
  }
  for (auto& [other, c] : visible_) c->hideSwipe();
  if (auto* d = del()) d->willBeginSwipe(*this, *cell, ip, direction);
  if (direction == SwipeLeft) {
    auto ds = dataSource_.lock();
    auto* d = del();
    EditingStyle style = d ? d->editingStyleForRowAtIndexPath(*this, ip) : EditingStyle::Delete;
    if (ds && ds->canEditRowAtIndexPath(*this, ip) && style == EditingStyle::Delete) {
      std::string title = d ? d->titleForDeleteConfirmationButtonForRowAtIndexPath(*this, ip) : "Delete";
      auto button = SwipeButton::make(title, nullptr, Color::red(), 15, [this](TableViewCell& c) {
        if (auto at = indexPathForCell(&c)) userConfirmDelete(*at);
        return true;
      });
      button->setAccessibilityLabel("Delete");
      cell->revealed_.push_back(button);
      cell->swipeState_ = -1;
      // Plain pointers: the button owns this action and the cell owns the button.
      TableViewCell* target = cell;
      SwipeButton* b = button.get();
      button->addTarget(this, [target, b](Control&) {
        if (b->callback) b->callback(*target);
      }, TouchUpInside);
      cell->setNeedsLayout();
      cell->layoutIfNeeded();
    } else if (!cell->rightButtons.empty()) {
      cell->showSwipe(-1);
    }
  } else if (direction == SwipeRight && !cell->leftButtons.empty()) {
    cell->showSwipe(1);
  }
  // Wire the swipe buttons' callbacks once: a true answer closes the cell.
  for (auto& b : cell->revealed_) {
    auto* sb = dynamic_cast<SwipeButton*>(b.get());
    if (!sb || sb->actionCount(TouchUpInside) > 0) continue;
    TableViewCell* target = cell;
    sb->addTarget(this, [target, sb](Control&) {
      if (sb->callback && sb->callback(*target)) target->hideSwipe();
    }, TouchUpInside);
  }
}

void TableView::userConfirmDelete(IndexPath ip) {
  if (auto* c = cellForRowAtIndexPath(ip)) c->hideSwipe();
  auto keep = weak_from_this().lock();
  if (auto ds = dataSource_.lock()) ds->commitEditingStyle(*this, EditingStyle::Delete, ip);
}

void TableView::touchesBegan(const Touches& t) {
  touchRow_.reset();
  if (t.empty()) return;
  Point p = t.front().locationIn(this);
  touchRow_ = indexPathForRowAtPoint(p);
  touchStart_ = t.front().windowLocation;
}

void TableView::touchesEnded(const Touches& t) {
  if (t.empty() || !touchRow_) return;
  IndexPath ip = *touchRow_;
  touchRow_.reset();
  double dx = t.front().windowLocation.x - touchStart_.x, dy = t.front().windowLocation.y - touchStart_.y;
  if (std::abs(dx) >= kRowSwipeDistance && std::abs(dx) > 2 * std::abs(dy)) {
    userSwipeRow(ip, dx < 0 ? SwipeLeft : SwipeRight);
    return;
  }
  if (std::abs(dx) > 10 || std::abs(dy) > 10) return;
  // A tap while a row shows its swipe buttons only closes them.
  for (auto& [other, c] : visible_)
    if (c->swipeState() != 0) {
      c->hideSwipe();
      return;
    }
  userSelectRow(ip);
}

void TableView::touchesCancelled(const Touches&) { touchRow_.reset(); }

std::string TableView::describe() const {
  std::string out = " rows=[" + countsText(rows_) + "]";
  if (style_ == TableViewStyle::Grouped) out += " grouped";
  return out + ScrollView::describe();
}

}  // namespace ui
