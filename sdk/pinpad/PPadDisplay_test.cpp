// The pinpad's display: the inline-tag parser and the command bytes (pure), the commands as
// the simulated pinpad receives them, and the picture the simulated screen shows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadDisplayBytes.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra {
namespace {

using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::sentData;
using testsupport::sentWith;

// ---- Inline tags ------------------------------------------------------------------------------

struct ExpectedRun {
  ExpectedRun(std::string t, int f = 0, int a = 0, std::optional<std::array<int, 3>> fg = std::nullopt,
              std::optional<std::array<int, 3>> bg = std::nullopt)
      : text(std::move(t)), font(f), align(a), fore(fg), back(bg) {}
  std::string text;
  int font = 0, align = 0;
  std::optional<std::array<int, 3>> fore, back;  // components x 255
};

std::optional<std::array<int, 3>> rgb(const std::optional<KXColor>& c) {
  if (!c) return std::nullopt;
  return std::array<int, 3>{int(c->red * 255 + 0.5), int(c->green * 255 + 0.5), int(c->blue * 255 + 0.5)};
}

TEST(PPadTextState, TagsSplitTheTextIntoStyledRuns) {
  using C = std::array<int, 3>;
  const struct {
    const char* input;
    std::vector<ExpectedRun> runs;
  } cases[] = {
      {"{=cf255,0,0}Sale{=cf=d} now", {{"Sale", 0, 0, C{255, 0, 0}, {}}, {" now", 0, 0, {}, {}}}},
      {"{=f6}{=c}Title", {{"Title", 6, 1, {}, {}}}},
      {"{x}abc", {{"{x}abc"}}},                     // no operator after the brace: plain text
      {"{=F12}A", {{"A", 12}}},                     // keys are not case-sensitive
      {"{=cf0,0,255}a{=cfdefault}b{=cf:d}c{=cb1,2,3}d{=cb=default}e",
       {{"a", 0, 0, C{0, 0, 255}, {}},
        {"b", 0, 0, C{0, 0, 255}, {}},              // all key: nothing changes
        {"c"},
        {"d", 0, 0, {}, C{1, 2, 3}},
        {"e"}}},
      {"{=cb10,20}x", {{"x"}}},                     // two parts change nothing
      {"abc{=c", {{"abc"}}},                        // the tag takes the rest
      {"ab{", {{"ab{"}}},
      {"{+B}x{-B}y{=r}z{=fd}", {{"x"}, {"y"}, {"z", 0, 2}}},
      {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const auto runs = parseTextState(c.input);
    ASSERT_EQ(runs.size(), c.runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].text, c.runs[i].text);
      EXPECT_EQ(runs[i].font, c.runs[i].font);
      EXPECT_EQ(runs[i].align, c.runs[i].align);
      EXPECT_EQ(rgb(runs[i].foreColor), c.runs[i].fore);
      EXPECT_EQ(rgb(runs[i].backColor), c.runs[i].back);
    }
  }
  // Characters outside the basic plane stay whole.
  EXPECT_EQ(parseTextState("\xF0\x9F\x98\x80{=c}\xE2\x82\xAC").at(1).text, "\xE2\x82\xAC");
}

TEST(PPadDisplayBytes, CoordinatesColoursAndTexts) {
  for (const auto& [value, want] : std::vector<std::pair<int, Bytes>>{
           {0, {0x80, 0x80}}, {200, {0x01, 0x48}}, {128, {0x01, 0x80}}, {5, {0x80, 0x05}}})
    EXPECT_EQ(ppad::coordinate7(value), want) << value;
  EXPECT_EQ(ppad::colorByte({1, 0, 0, 1}), 0xC3);
  EXPECT_EQ(ppad::colorByte({1, 1, 1, 1}), 0xFF);
  EXPECT_EQ(ppad::colorByte({0, 0, 0, 1}), 0x03);
  // The first line feed reaches the room left (8 pixels in font 0): only "A" goes.
  EXPECT_EQ(ppad::plainTextBytes({'A', 0x0A, 'B', 0}, 0, 8), (Bytes{'A'}));
  EXPECT_EQ(ppad::plainTextBytes({'A', 0x0A, 0x07, 0x1B, 'B', 0, 'C'}, 0, 16), (Bytes{'A', 0x0A, 0x1B, 'B'}));

  EXPECT_EQ(*ppad::menuRequest("T", {"A", "B"}, 30.9), (Bytes{0x37, 0x01, 0x1E, 0x00, 'T', 0x0A, 'A', 0x0A, 'B', 0x00}));
  EXPECT_EQ(*ppad::menuRequest("T", {}, 1), (Bytes{0x37, 0x01, 0x01, 0x00, 'T', 0x0A}));
  EXPECT_FALSE(ppad::menuRequest("T", std::vector<std::string>(400, "choice"), 1));  // more than one command holds

  const auto runs = parseTextState("{=cf255,0,0}Sale{=cf=d} now");
  EXPECT_EQ(ppad::styledTextRequest(runs, 0, 200, 0),
            (Bytes{0x01, 0x0F, 0x80, 0x80, 0x01, 0x48, 0x80, 0x40, 0x0E, 0x80, 0xC3, 'S', 'a', 'l', 'e', 0x0E, 0x80,
                   0x01, ' ', 'n', 'o', 'w'}));
  EXPECT_EQ(ppad::promptText({'1', '2', 0, '9'}), "12");
}

// ---- Commands as the pinpad receives them --------------------------------------------------

struct Extended : ::testing::Test {  // SKYRIK5000G: colour 320 x 240, 16-bit coordinates
  void SetUp() override { ASSERT_TRUE(b.connect()); }
  Bytes last() { return sentData(*b.device, 0x35).back(); }
  PinpadTestBench b;
};

TEST_F(Extended, GoldenCommandBytes) {
  ASSERT_TRUE(b.pad->extendedDisplay());
  ASSERT_EQ(b.pad->topMargin(), 22);
  EXPECT_EQ(b.pad->uiPutPixel(300, 200, KXColor{1, 0, 0, 1}), 0);
  EXPECT_EQ(last(), (Bytes{0x33, 0x2C, 0x01, 0xC8, 0x00, 0xC3}));
  EXPECT_EQ(b.pad->uiStopAnimation(-1), 0);
  EXPECT_EQ(last(), (Bytes{0x10, 0x03, 0xFF, 0x00, 0x00, 0x00}));
  EXPECT_EQ(b.pad->uiStartAnimation(2, 10, 10, true), 0);
  EXPECT_EQ(last(), (Bytes{0x10, 0x01, 0x02, 0x0A, 0x20, 0x01}));
  EXPECT_EQ(b.pad->uiEnablePowerButton(true), 0);
  EXPECT_EQ(last(), (Bytes{0x28, 0x00}));
  EXPECT_EQ(b.pad->uiSetKeyTone(0x0102, 0x0304, 100), 0);
  EXPECT_EQ(last(), (Bytes{0x07, 0x02, 0x01, 0x04, 0x03, 0x32}));
  EXPECT_EQ(b.pad->uiOpenTextWindow(4, 10, 5, 2, 1, 0), 0);  // y below the 22-pixel status area
  EXPECT_EQ(last(), (Bytes{0x32, 0x04, 0x00, 0x20, 0x00, 0x05, 0x02, 0x01, 0x00}));
  EXPECT_EQ(b.pad->uiFillRectangle(10, 0, 0, 0, 1), 0);  // whole width, moved below the status area
  EXPECT_EQ(last(), (Bytes{0x34, 0x0A, 0x00, 0x16, 0x00, 0x36, 0x01, 0xDA, 0x00, 0x01}));
  EXPECT_EQ(b.pad->uiDrawText("Hi", 0, 200, 0), 0);  // styled text on extended displays
  EXPECT_EQ(last(), (Bytes{0x01, 0x0F, 0x80, 0x80, 0x01, 0x5E, 0x80, 0x40, 0x0E, 0x80, 0x01, 'H', 'i'}));
  EXPECT_EQ(b.pad->uiSetSettingsInvertDisplay(true), 0);
  bool inverted = false;
  EXPECT_EQ(b.pad->uiGetSettingsInvertDisplay(&inverted), 0);
  EXPECT_TRUE(inverted);

  // Refused before anything is sent.
  const size_t sent = sentData(*b.device, 0x35).size();
  EXPECT_EQ(b.pad->uiSetKeyTone(1, 1, 101), 3);
  EXPECT_EQ(b.pad->uiSetButtonCaption(4, "X"), 3);
  EXPECT_EQ(b.pad->uiDrawTextEx("", 0, 0, 1), 1);
  EXPECT_EQ(b.pad->uiDisplayImage(0, 0, 10, 10, Bytes(3000, 0)), 3);  // larger than one command
  EXPECT_EQ(sentData(*b.device, 0x35).size(), sent);
}

TEST(PPadDisplayBasic, OneByteCoordinatesWindowsAndPlainText) {
  PinpadTestBench b(devices::PinpadPersona::skyrik500(), "SKYRIK500");
  ASSERT_TRUE(b.connect());
  ASSERT_FALSE(b.pad->extendedDisplay());
  const int top = b.pad->topMargin();
  EXPECT_EQ(b.pad->_uiOpenTextWindow(16, 0, 0, 0, 1, 0), 0);  // 128 dots wide: 14 cells of 8
  EXPECT_EQ(sentData(*b.device, 0x35).back(), (Bytes{0x05, 16, 0, 14, 2, 1, 0}));
  EXPECT_EQ(b.pad->lastFont(), 1);
  // 32 - 24 = 8 pixels left: the line feed reaches them, so only "A" goes.
  EXPECT_EQ(b.pad->uiDrawText("A\nB", 0, 24, 0), 0);
  EXPECT_EQ(sentWith(*b.device, 0x35, {0x05}).back(), (Bytes{0x05, 0, uint8_t(24 + top), 21, uint8_t((32 - 24 - top) / 8), 0, 0}));
  EXPECT_EQ(sentData(*b.device, 0x35).back(), (Bytes{0x01, 0x02, 0x80, 0x80, 'A', 0x00}));
  EXPECT_EQ(b.pad->uiPutPixel(1, 2, std::nullopt), 0);  // monochrome: no colour is 2
  EXPECT_EQ(sentData(*b.device, 0x35).back(), (Bytes{0x0D, 1, 2, 2}));
  EXPECT_EQ(b.pad->uiSetButtonCaption(2, "OK\xE2\x82\xAC"), 0);
  EXPECT_EQ(sentData(*b.device, 0x35).back(), (Bytes{0x11, 2, 'O', 'K', 0x80}));
  b.device->withModel([](devices::PinpadModel& m) { EXPECT_EQ(m.screen.captions[1], "OK\x80"); });
}

// ---- The picture -------------------------------------------------------------------------------

KXImage checkerImage() {
  KXImage img = KXImage::grey(48, 24, 255);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 48; ++x)
      if ((x / 8 + y / 8) % 2 == 0 || x == y) img.pixels[size_t(y * 48 + x)] = 0;
  return img;
}

TEST_F(Extended, TheScreenShowsWhatWasDrawnAsTheGoldenPicture) {
  ASSERT_EQ(b.pad->uiShowInitScreen(), 0);
  ASSERT_EQ(b.pad->uiFillRectangle(0, 0, 320, 30, 1), 0);
  ASSERT_EQ(b.pad->uiDrawTextEx("{=cf255,255,0}ORVO{=cf=d} {=cb0,255,0}PAY", 8, 10, 6), 0);
  ASSERT_EQ(b.pad->uiDrawText("{=cf255,0,0}Total{=cf:d} 128.80", 8, 60, 1), 0);
  ASSERT_EQ(b.pad->uiDisplayImage(240, 150, checkerImage()), 0);
  for (int x = 20; x < 200; ++x) ASSERT_EQ(b.pad->uiPutPixel(x, 180 + x % 7, KXColor{0, 0, 1, 1}), 0);
  ASSERT_EQ(b.pad->uiFillRectangle(20, 200, 100, 20, 2), 0);

  const std::filesystem::path golden = std::filesystem::path(KESTRA_PINPAD_GOLDEN) / "display.png";
  const std::filesystem::path actual = std::filesystem::temp_directory_path() / "kestra-pinpad-display.png";
  b.device->withModel([&](devices::PinpadModel& m) {
    EXPECT_EQ(m.screen.texts, (std::vector<std::string>{"ORVO PAY", "Total 128.80"}));
    EXPECT_EQ(m.screen.pixel(240, 150 + 22), 0x000000u);  // the image's dark top-left square
    ASSERT_TRUE(m.screen.savePng(actual));
    if (std::getenv("KESTRA_UPDATE_GOLDEN")) m.screen.savePng(golden);
  });
  const auto want = devices::PinpadScreen::readPng(golden);
  const auto got = devices::PinpadScreen::readPng(actual);
  ASSERT_TRUE(want) << "no golden picture at " << golden;
  ASSERT_TRUE(got);
  EXPECT_EQ(got->width, want->width);
  EXPECT_EQ(got->height, want->height);
  EXPECT_TRUE(got->rgb == want->rgb) << "the screen differs from " << golden << "; see " << actual;
  // The picture stays for a look only when it differs.
  std::error_code ec;
  if (!HasFailure()) std::filesystem::remove(actual, ec);
}

}  // namespace
}  // namespace kestra
