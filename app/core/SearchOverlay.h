#pragma once
// The overlay the customer and style information screens lay over their table while their
// search bar is being edited: a touch on it ends the search (the screen's `delOv`). Each
// screen holds its overlay; these functions are what the screens do with it. Main thread.

#include <memory>

#include "app/core/OverlayViewController.h"

namespace ui {
class SearchBar;
class TableView;
}  // namespace ui

namespace orvo {

// Makes the overlay once (nothing when `overlay` holds one): below `bar`, as large as
// `owner`'s view, black at 0.7, ending `owner`'s search when touched.
void makeSearchOverlay(std::shared_ptr<OverlayViewController>& overlay, ui::ViewController& owner,
                       const ui::SearchBar& bar);
// The search began: lays the overlay (made if need be) over `table` and stops its scrolling.
void showSearchOverlay(std::shared_ptr<OverlayViewController>& overlay, ui::ViewController& owner,
                       ui::TableView& table, const ui::SearchBar& bar);
// The search ended: takes the overlay off, lets `table` scroll and takes the keyboard from `bar`.
void hideSearchOverlay(const std::shared_ptr<OverlayViewController>& overlay, ui::TableView& table,
                       ui::SearchBar& bar);
// The screen went: takes the overlay's view off (when it was loaded) and drops the overlay.
void dropSearchOverlay(std::shared_ptr<OverlayViewController>& overlay);
// Scrolls `table` to the top, clears its selection and gives `bar` the keyboard.
void focusSearch(ui::TableView& table, ui::SearchBar& bar);

}  // namespace orvo
