#pragma once
// The edit menu (cut, copy, paste) over text. The model shows none; screens only hide it.
// Main thread.

namespace ui {

class MenuController {
 public:
  static MenuController& shared() {
    static MenuController m;
    return m;
  }
  bool isMenuVisible() const { return visible_; }
  void setMenuVisible(bool visible, bool animated = false) {
    (void)animated;
    visible_ = visible;
  }

 private:
  bool visible_ = false;
};

}  // namespace ui
