// The signature pad: live red stroke then the smoothed black one, what "Next", "Clear" and
// "Cancel" store and post in card and order mode, and "InsertSOsign" against the back office.
#include <gtest/gtest.h>

#include "app/core/DataAdditions.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/app/PaymentTestSupport.h"

namespace orvo {
namespace {

using test_support::PaymentHarness;

class SignaturePad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    for (const char* name : {kGetSignature, kGetSignatureForSo})
      foundation::NotificationCenter::defaultCenter().addObserver(
          this, name, nullptr, [this](const foundation::Notification& n) {
            posts.push_back(n.name + ":" + n.userInfo.value(kIsClear, std::string("?")));
          });
  }
  void TearDown() override { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

  CcSignatureViewController* present(bool orderMode) {
    auto pad = ui::viewControllerFromInterface<CcSignatureViewController>(kCcSignatureViewController);
    pad->setSoSignFlag(orderMode);
    pad->setModalTransitionStyle(ui::ModalTransitionStyle::FlipHorizontal);
    t.nav().presentViewController(pad, false);
    t.app.drain();
    return t.pad();
  }
  bool gone() { return t.app.runUntil([&] { return t.pad() == nullptr; }); }

  static bool isRed(ui::Color c) { return c.r > 0.6 && c.g < 0.3 && c.b < 0.3 && c.a > 0.5; }
  static bool isDark(ui::Color c) { return c.r < 0.3 && c.g < 0.3 && c.b < 0.3 && c.a > 0.5; }
  static int count(const ui::Image& img, bool (*pred)(ui::Color)) {
    int n = 0;
    for (int y = 0; y < img.pixelHeight(); ++y)
      for (int x = 0; x < img.pixelWidth(); ++x) n += pred(img.pixelAt(x, y)) ? 1 : 0;
    return n;
  }

  PaymentHarness t;
  std::vector<std::string> posts;
};

TEST_F(SignaturePad, LiveStrokeIsRedThenTheLiftedStrokeIsBlack) {
  auto* pad = present(false);
  ASSERT_NE(pad, nullptr);
  const std::vector<ui::Point> points = {{100, 100}, {140, 120}, {180, 100}, {220, 140}};
  ASSERT_TRUE(t.stroke(*pad, points, false));
  auto live = pad->imageView()->image();
  // Drawn 20 points left of and above the touches.
  EXPECT_TRUE(isRed(live->pixelAt(80, 80)));
  EXPECT_TRUE(isRed(live->pixelAt(200, 120)));
  EXPECT_EQ(count(*live, isDark), 0);
  t.h->liftFinger();
  auto done = pad->imageView()->image();
  EXPECT_EQ(count(*done, isRed), 0);
  EXPECT_TRUE(isDark(done->pixelAt(80, 80)));
  EXPECT_GT(count(*done, isDark), 100);
  EXPECT_FALSE(pad->sameSignFlag());

  // A cancelled touch is finished like a lifted one: no red stroke stays in the signature.
  ASSERT_TRUE(t.stroke(*pad, {{120, 180}, {220, 190}}, false));
  EXPECT_GT(count(*pad->imageView()->image(), isRed), 0);
  t.h->cancelTouch();
  EXPECT_EQ(count(*pad->imageView()->image(), isRed), 0);
}

TEST_F(SignaturePad, NextClearAndCancelByMode) {
  GlobalSO& so = t.app.delegate->globalSO();
  // Unchanged and empty in card mode: no request, "false", and no earlier signature kept.
  so.signatureBase64String = "from an earlier capture";
  auto* pad = present(false);
  ASSERT_TRUE(t.stroke(*pad, {{50, 50}}));  // a tap draws nothing
  EXPECT_TRUE(pad->sameSignFlag());
  ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
  ASSERT_TRUE(gone());
  EXPECT_EQ(so.signatureBase64String, "");
  EXPECT_EQ(posts, (std::vector<std::string>{"getSignature:false"}));

  // Cancel posts "true" under the mode's name and stores nothing.
  posts.clear();
  pad = present(true);
  ASSERT_TRUE(t.stroke(*pad, {{60, 60}, {160, 90}}));
  ASSERT_TRUE(t.h->tap(pad->cancelButton()));
  ASSERT_TRUE(gone());
  EXPECT_EQ(posts, (std::vector<std::string>{"getSignatureForSo:true"}));
  EXPECT_EQ(so.signatureBase64StringForSo, "");

  // Order mode: a new stroke is stored and sent with the order number; the post follows the answer.
  posts.clear();
  pad = present(true);
  ASSERT_TRUE(t.stroke(*pad, {{60, 60}, {160, 90}, {200, 60}}));
  ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
  ASSERT_TRUE(gone());
  EXPECT_EQ(posts, (std::vector<std::string>{"getSignatureForSo:false"}));
  ASSERT_EQ(t.calls("InsertSOsign"), 1u);
  auto call = t.server.received("InsertSOsign")[0];
  EXPECT_EQ(call.param("orderNumber"), "SO-1001");
  EXPECT_FALSE(so.signatureBase64StringForSo.empty());
  EXPECT_EQ(call.param("signBase64String"), so.signatureBase64StringForSo);
  auto decoded = ui::Image::fromData(DataAdditions::dataWithBase64EncodedString(so.signatureBase64StringForSo));
  ASSERT_TRUE(decoded);

  // Card mode starts from the order's signature; "Clear" then "Next" stores nothing.
  posts.clear();
  pad = present(false);
  EXPECT_FALSE(pad->imageView()->isEmpty());
  ASSERT_TRUE(t.h->tap(pad->clearButton()));
  ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
  ASSERT_TRUE(gone());
  EXPECT_EQ(posts, (std::vector<std::string>{"getSignature:false"}));
  EXPECT_EQ(t.calls("InsertSOsign"), 1u);

  // A duplicated order sends whenever there is a picture; multi-order mode has no Cancel.
  t.app.delegate->settings().duplicateSoFlag = true;
  t.app.delegate->settings().multiSoFlag = true;
  pad = present(true);
  EXPECT_TRUE(pad->cancelButton()->isHidden());
  ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
  ASSERT_TRUE(gone());
  EXPECT_EQ(t.calls("InsertSOsign"), 2u);
}

TEST_F(SignaturePad, AnswerWithoutResultKeepsThePadOpen) {
  t.server.setFault("InsertSOsign", backoffice::Fault::badXml());
  auto* pad = present(true);
  ASSERT_TRUE(t.stroke(*pad, {{60, 60}, {160, 90}, {200, 60}}));
  ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
  ASSERT_TRUE(t.app.runUntil([&] { return !t.app.alerts().empty(); }));
  t.app.drain();
  EXPECT_NE(t.pad(), nullptr);
  EXPECT_TRUE(posts.empty());
  t.app.dismissAlerts();
  t.server.clearFaults();
  ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
  ASSERT_TRUE(gone());
  EXPECT_EQ(posts, (std::vector<std::string>{"getSignatureForSo:false"}));
  EXPECT_EQ(t.calls("InsertSOsign"), 2u);
}

TEST_F(SignaturePad, ARefusedSignatureIsNotReportedAsStored) {
  struct Case { const char* name; backoffice::Fault fault; const char* message; };
  const std::vector<Case> cases = {
      {"refusal with the server's reason",
       backoffice::Fault::result(R"({"Response":"False","Error":"SO# 10001 is locked."})"), "SO# 10001 is locked."},
      {"refusal without a reason", backoffice::Fault::responseValue("False"),
       "The signature was not stored. Please try again."},
      {"bare False", backoffice::Fault::result("False"), "The signature was not stored. Please try again."},
  };
  for (const bool orderMode : {true, false})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (orderMode ? ", order mode" : ", card mode"));
      posts.clear();
      t.server.setFault("InsertSOsign", c.fault);
      auto* pad = present(orderMode);
      ASSERT_NE(pad, nullptr);
      ASSERT_TRUE(t.stroke(*pad, {{60, 60}, {160, 90}, {200, 60}}));
      const size_t before = t.calls("InsertSOsign");
      ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
      ASSERT_TRUE(t.app.runUntil([&] { return !t.app.alerts().empty(); }));
      t.app.drain();
      auto alerts = t.app.alerts();
      ASSERT_EQ(alerts.size(), 1u);
      EXPECT_EQ(alerts[0].title, "Orvo Mobile");
      EXPECT_EQ(alerts[0].message, c.message);
      EXPECT_EQ(t.pad(), pad) << "the pad stays open";
      EXPECT_TRUE(posts.empty()) << "nothing is told as stored";
      ASSERT_TRUE(t.h->pressAlertButton("OK"));
      t.app.drain();
      // Once the server takes it, "Next" stores it and the pad goes on.
      t.server.clearFaults();
      ASSERT_TRUE(t.h->tap(pad->nextButton())) << t.h->dump();
      ASSERT_TRUE(gone());
      EXPECT_EQ(posts, (std::vector<std::string>{std::string(orderMode ? kGetSignatureForSo : kGetSignature) + ":false"}));
      EXPECT_EQ(t.calls("InsertSOsign"), before + 2);
    }
}

}  // namespace
}  // namespace orvo
