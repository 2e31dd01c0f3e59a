#pragma once
// Animations of the screen model are recorded, not played: each records its kind and
// duration, and its final state is applied at once. Tests read the log; the renderer
// shows final states. Main thread.

#include <string>
#include <vector>

namespace ui {

struct AnimationRecord {
  std::string kind;       // "animate", "push", "pop", "present", "dismiss", "fade", "opacity", ...
  double duration = 0;    // seconds
  std::string subject;    // what moved: a view's kind and tag, or a screen's name
};

class AnimationLog {
 public:
  static AnimationLog& shared();
  void record(std::string kind, double duration, std::string subject = {});
  const std::vector<AnimationRecord>& records() const { return records_; }
  void clear() { records_.clear(); }

 private:
  std::vector<AnimationRecord> records_;
};

}  // namespace ui
