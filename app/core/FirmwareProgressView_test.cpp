// The firmware progress view the agent's job runner shows: over every screen, taking every
// touch while it is up, with the runner's texts and progress.
#include "app/core/FirmwareProgressView.h"

#include <gtest/gtest.h>

#include "platform/ui/Button.h"
#include "platform/ui/harness/Harness.h"
#include "testing/app/AppTestSupport.h"

namespace orvo {
namespace {

TEST(FirmwareProgressView, CoversTheScreensWithTheWarningAndProgressUntilRemoved) {
  test_support::AppHarness app;
  app.launch();
  ui::harness::Harness h(app.delegate->window.get());
  int taps = 0;
  auto button = ui::Button::make("Save", {20, 100, 200, 44});
  button->addTarget(&taps, [&taps](ui::Control&) { ++taps; }, ui::TouchUpInside);
  app.root->view().addSubview(button);
  ASSERT_TRUE(h.tap(button.get()));

  FirmwareProgressView view;
  view.showBlockView("Updating Firmware");
  view.setProgress(std::string(), 0.0f);
  ASSERT_NE(view.blockView(), nullptr);
  EXPECT_NE(h.findText("Updating Firmware"), nullptr);
  EXPECT_FALSE(h.tap(button.get()));  // nothing under the cover can be reached
  view.setProgress("Writing data\n50%", 0.5f);
  EXPECT_NE(h.findText("Writing data\n50%"), nullptr);
  EXPECT_DOUBLE_EQ(view.progress(), 0.5);
  view.setProgress(std::nullopt, 0.75f);  // no text: the label keeps its text
  EXPECT_NE(h.findText("Writing data\n50%"), nullptr);

  view.removeBlockView();
  EXPECT_EQ(view.blockView(), nullptr);
  EXPECT_EQ(h.findText("Updating Firmware"), nullptr);
  EXPECT_TRUE(h.tap(button.get()));
  EXPECT_EQ(taps, 2);
}

}  // namespace
}  // namespace orvo
