#include "sdk/hub/HubFrame.h"

#include <gtest/gtest.h>

#include "sdk/hub/HidDecode.h"

namespace kestra::hub {
namespace {

Bytes frame(uint8_t cmd, uint8_t code, uint8_t slave, Bytes data) {
  Bytes f{0x3E, cmd, code, uint8_t(data.size() >> 8), uint8_t(data.size()), slave};
  for (uint8_t b : data) f.push_back(b);
  return f;
}

struct Seen {
  std::vector<std::tuple<int, int, int, Bytes>> frames;
  // Feeds `bytes` in pieces cut at `cuts`, keeping what was not consumed as a transport does.
  void feed(const Bytes& bytes, std::vector<size_t> cuts) {
    Bytes held;
    size_t from = 0;
    cuts.push_back(bytes.size());
    for (size_t cut : cuts) {
      held.insert(held.end(), bytes.begin() + long(from), bytes.begin() + long(cut));
      from = cut;
      const int used = splitFrames(held.data(), int(held.size()), [&](const Frame& f) {
        frames.emplace_back(f.command, f.code, f.slave, Bytes(f.data, f.data + f.length));
      });
      held.erase(held.begin(), held.begin() + used);
    }
  }
};

TEST(HubFrame, CommandFrameLayout) {
  const Bytes data{0x31, 0x32};
  EXPECT_EQ(*encodeCommand(0x04, 3, data.data(), data.size()), (Bytes{0x3E, 0x04, 0x00, 0x00, 0x02, 0x03, 0x31, 0x32}));
  const Bytes big(kMaxData + 1, 0);
  EXPECT_FALSE(encodeCommand(0x01, 1, big.data(), big.size()));
}

TEST(HubFrame, SplitAtEveryBoundaryAndMergedFrames) {
  const Bytes reply = frame(0x02, 0, 1, {0x01});
  const Bytes event = frame(0x00, 3, 2, {'a', 'b', 'c'});
  Bytes both = reply;
  both.insert(both.end(), event.begin(), event.end());
  for (size_t cut = 0; cut <= both.size(); ++cut) {
    SCOPED_TRACE(cut);
    Seen s;
    s.feed(both, {cut});
    ASSERT_EQ(s.frames.size(), 2u);
    EXPECT_EQ(s.frames[0], std::make_tuple(0x02, 0, 1, Bytes{0x01}));
    EXPECT_EQ(s.frames[1], std::make_tuple(0x00, 3, 2, Bytes{'a', 'b', 'c'}));
  }
  Seen every;
  std::vector<size_t> cuts;
  for (size_t i = 1; i < both.size(); ++i) cuts.push_back(i);
  every.feed(both, cuts);
  EXPECT_EQ(every.frames.size(), 2u);
}

TEST(HubFrame, ImpossibleLengthIsSkippedToTheNextMarker) {
  // A header claiming 0xFFFF bytes would otherwise hold the link for ever.
  Bytes bytes{0x3E, 0x00, 0x03, 0xFF, 0xFF, 0x01, 0x10};
  const Bytes good = frame(0x00, 1, 4, {});
  bytes.insert(bytes.end(), good.begin(), good.end());
  Seen s;
  s.feed(bytes, {});
  ASSERT_EQ(s.frames.size(), 1u);
  EXPECT_EQ(std::get<1>(s.frames[0]), 1);
  EXPECT_EQ(std::get<2>(s.frames[0]), 4);
}

TEST(HubFrame, StatusErrors) {
  struct Case {
    int status, code;
    const char* text;
  } cases[] = {
      {2, -9, "Invalid data length: command=05"}, {3, -6, "Invalid value: command=05"},
      {4, -17, "Invalid command: command=05"},    {5, -16, "Timeout: command=05"},
      {13, -20, "COM error: command=05"},         {1, -1, "Unknown error 1: command=05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    const Error e = statusError(c.status, 0x05);
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST(HidDecode, KeyboardReports) {
  struct Case {
    Bytes report;
    std::string text;
  } cases[] = {
      {{0x02, 0, 0x04, 0x05, 0, 0, 0, 0}, "AB"},
      {{0x20, 0, 0x1E, 0, 0, 0, 0, 0}, "!"},
      {{0x00, 0, 0x04, 0, 0, 0, 0, 0}, "a"},
      {{0x00, 0, 0x39, 0, 0, 0, 0, 0}, ""},      // Caps Lock types nothing
      {{0x00, 0, 0x65, 0x01, 0, 0, 0, 0}, ""},   // usages without an entry
      {{0x00, 0, 0x1E, 0x1F, 0x20}, "123"},      // a short trailing report is read as far as it goes
      {{0x00, 0, 0x28, 0, 0, 0, 0, 0}, "\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(processHIDData(c.report.data(), int(c.report.size())), c.text);
  }
  EXPECT_EQ(processHIDData(nullptr, 0), "");
  const Bytes many(8 * 400, 0x04);  // every byte a key: the text stops at its bound
  EXPECT_EQ(processHIDData(many.data(), int(many.size())).size(), kHidMaxText);
}

TEST(HidDecode, KeyEventsCarryVirtualKeyCharacterAndModifiers) {
  struct Receiver final : HidKeyReceiver {
    std::vector<std::tuple<int, int, int>> keys;
    void keyboardButtonPressed(bool, int vk, signed char c, int mods) override { keys.emplace_back(vk, c, mods); }
  } r;
  const Bytes report{0x02, 0, 0x1E, 0x3A, 0, 0, 0, 0};
  processHIDEvents(&r, report.data(), int(report.size()));
  ASSERT_EQ(r.keys.size(), 2u);
  EXPECT_EQ(r.keys[0], std::make_tuple(0x31, int('!'), 0x02));
  EXPECT_EQ(r.keys[1], std::make_tuple(0x70, 0, 0x02));  // F1 has no character
}

}  // namespace
}  // namespace kestra::hub
