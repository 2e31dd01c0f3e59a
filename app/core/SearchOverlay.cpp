#include "app/core/SearchOverlay.h"

#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"

namespace orvo {

void makeSearchOverlay(std::shared_ptr<OverlayViewController>& overlay, ui::ViewController& owner,
                       const ui::SearchBar& bar) {
  if (overlay) return;
  overlay = std::make_shared<OverlayViewController>();
  ui::View& v = overlay->view();
  v.setFrame({0, bar.frame().size.height, owner.view().frame().size.width, owner.view().frame().size.height});
  v.setBackgroundColor(ui::Color::black());
  v.setAlpha(0.7);
  overlay->setViewController(owner.self<ui::ViewController>());
}

void showSearchOverlay(std::shared_ptr<OverlayViewController>& overlay, ui::ViewController& owner,
                       ui::TableView& table, const ui::SearchBar& bar) {
  makeSearchOverlay(overlay, owner, bar);
  table.addSubview(overlay->viewPtr());
  table.setScrollEnabled(false);
}

void hideSearchOverlay(const std::shared_ptr<OverlayViewController>& overlay, ui::TableView& table,
                       ui::SearchBar& bar) {
  if (overlay && overlay->isViewLoaded()) overlay->view().removeFromSuperview();
  table.setScrollEnabled(true);
  if (bar.searchField().isFirstResponder()) bar.resignFirstResponder();
}

void dropSearchOverlay(std::shared_ptr<OverlayViewController>& overlay) {
  if (overlay && overlay->isViewLoaded()) overlay->view().removeFromSuperview();
  overlay.reset();
}

void focusSearch(ui::TableView& table, ui::SearchBar& bar) {
  table.scrollRectToVisible({0, 0, 1, 1}, false);
  if (auto selected = table.indexPathForSelectedRow()) table.deselectRowAtIndexPath(*selected, false);
  bar.becomeFirstResponder();
}

}  // namespace orvo
