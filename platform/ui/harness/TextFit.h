#pragma once
// Finds the texts a person would see cut on the screen as it stands: a label or a button
// title wider than its view at the font it is drawn in (after a label shrinks to fit), a
// label of several lines whose wrapped text is taller than the lines it may show, or a
// section index title wider than the index. Labels that shrink or wrap by design are judged
// at what they end up drawing. The measures are those installed with `ui::setTextMeasurer`
// (the Qt renderer's font metrics in tests that install them). Test code; main thread.

#include <string>
#include <vector>

namespace ui::harness {

class Harness;

// One line per cut text: its kind, text, frame width and the width (or height) it needs.
std::vector<std::string> cutTexts(const Harness& h);

}  // namespace ui::harness
