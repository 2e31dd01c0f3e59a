#include "sdk/printer/PrinterText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestra::printer {
namespace {

using foundation::Bytes;

const Bytes kStart = {0x1B, 0x21, 0x00, 0x1B, 0x49, 0x00, 0x1D, 0x42,
                      0x00, 0x1B, 0x7B, 0x00, 0x1B, 0x56, 0x00};

// The runs written for `text` on 384-dot paper.
std::vector<Bytes> layout(const std::string& text, int encoding = kEncodingWindows1252,
                          int pageWidth = 384) {
  Bytes prepared;
  EXPECT_TRUE(prepareText(text, encoding, &prepared));
  TextState state;
  std::vector<Bytes> runs;
  EXPECT_TRUE(layoutText(prepared, encoding, pageWidth, state, TextEscapes::standard(),
                         [&](const Bytes& b) {
                           runs.push_back(b);
                           return true;
                         }));
  return runs;
}

Bytes b(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(uint8_t(x));
  return out;
}
Bytes cat(Bytes a, const Bytes& c) {
  a.insert(a.end(), c.begin(), c.end());
  return a;
}
Bytes text(const std::string& s) { return foundation::bytesOf(s); }

// The printable text of each line, split at the feeds (ESC J) and positions dropped.
std::vector<std::string> lines(const std::vector<Bytes>& runs) {
  std::vector<std::string> out(1);
  for (size_t r = 1; r < runs.size(); ++r) {
    const Bytes& x = runs[r];
    for (size_t i = 0; i < x.size(); ++i) {
      if (x[i] == 0x1B && i + 1 < x.size() && x[i + 1] == 0x4A) {
        out.emplace_back();
        i += 2;
      } else if (x[i] == 0x1B && i + 1 < x.size() && x[i + 1] == 0x24) {
        i += 3;
      } else if (x[i] == 0x1B || x[i] == 0x1D) {
        i += 2;
      } else {
        out.back().push_back(char(x[i]));
      }
    }
  }
  if (out.back().empty()) out.pop_back();
  return out;
}

TEST(PrinterText, BoldTagsWrapTheWord) {
  const auto runs = layout("{+B}Total{-B}");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], kStart);
  EXPECT_EQ(runs[1], cat(cat(b({0x1B, 0x21, 0x08}), text("Total")),
                         b({0x1B, 0x21, 0x00, 0x1B, 0x4A, 32})));
}

TEST(PrinterText, CentredTitleStartsAtHalfTheFreeWidth) {
  const auto runs = layout("{=C}Title");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1], cat(cat(b({0x1B, 0x24, 0xA2, 0x00}), text("Title")), b({0x1B, 0x4A, 32})));
}

TEST(PrinterText, TagCases) {
  struct Case {
    const char* name;
    std::string text;
    Bytes line;
  } cases[] = {
      {"right aligned", "{=R}Ab", cat(cat(b({0x1B, 0x24, 0x67, 0x01}), text("Ab")), b({0x1B, 0x4A, 32}))},
      {"rotation keeps the alignment", "{=R}{=R1}A",
       cat(cat(b({0x1B, 0x24, 0x67, 0x01, 0x1B, 0x7B, 0, 0x1B, 0x56, 1}), text("A")),
           b({0x1B, 0x4A, 20}))},
      {"unknown tag is text", "{+Q}", cat(text("{+Q}"), b({0x1B, 0x4A, 32}))},
      {"lower case", "{+u}x{-u}", b({0x1B, 0x21, 0x80, 'x', 0x1B, 0x21, 0x00, 0x1B, 0x4A, 32})},
      {"cut-off tag is text", "{+B", cat(text("{+B"), b({0x1B, 0x4A, 32}))},
      {"font B cell", "{=F1}ab", b({0x1B, 0x21, 0x01, 'a', 'b', 0x1B, 0x4A, 24})},
      {"double height feed", "{+DH}a", b({0x1B, 0x21, 0x10, 'a', 0x1B, 0x4A, 56})},
      {"{+D} alone changes nothing", "{+D}a", b({'a', 0x1B, 0x4A, 32})},
      {"inverse and italic", "{+V}{+I}a",
       b({0x1D, 0x42, 1, 0x1B, 0x49, 1, 'a', 0x1B, 0x4A, 32})},
      {"reset", "{+B}{==}a",
       b({0x1B, 0x21, 0x08, 0x1B, 0x21, 0, 0x1B, 0x49, 0, 0x1D, 0x42, 0, 0x1B, 0x7B, 0, 0x1B,
          0x56, 0, 'a', 0x1B, 0x4A, 32})},
      {"control bytes are not printed", std::string("a\x1b" "b\x07", 4), b({'a', 'b', 0x1B, 0x4A, 32})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto runs = layout(c.text);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(foundation::toHex(runs[1], " "), foundation::toHex(c.line, " "));
  }
}

TEST(PrinterText, LineEndsAndEmptyLines) {
  const auto runs = layout("a\r\nb\rc\n\nd");
  EXPECT_EQ(lines(runs), (std::vector<std::string>{"a", "b", "c", "", "d"}));
}

TEST(PrinterText, FullLineEndedByNewlineIsNotFedAgain) {
  std::string t(32, 'x');
  t += "\nz";
  const auto runs = layout(t);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1], text(std::string(32, 'x')));
}

TEST(PrinterText, WithoutWrapALongLineIsCutAtTheByte) {
  EXPECT_EQ(lines(layout(std::string(40, 'a'))),
            (std::vector<std::string>{std::string(32, 'a'), std::string(8, 'a')}));
}

TEST(PrinterText, WordWrapMovesTheLastWordAndKeepsNumbersWhole) {
  std::string t = "{+W}";
  t.append(28, 'x');
  t += " 1,250.00 -5 +3";
  std::string first(28, 'x');
  first.push_back(' ');
  EXPECT_EQ(lines(layout(t)), (std::vector<std::string>{first, "1,250.00 -5 +3"}));
  // A word longer than the line is cut at the byte.
  std::string longWord = "{+W}";
  longWord.append(35, 'y');
  EXPECT_EQ(lines(layout(longWord)),
            (std::vector<std::string>{std::string(32, 'y'), std::string(3, 'y')}));
}

TEST(PrinterText, DoubleWidthHalvesTheLine) {
  std::string wide = "{+DW}";
  wide.append(20, 'w');
  EXPECT_EQ(lines(layout(wide)),
            (std::vector<std::string>{std::string(16, 'w'), std::string(4, 'w')}));
}

TEST(PrinterText, JustifiedLineSpreadsItsPieces) {
  // 4 pieces of 7 characters each ("aaaaaa " x 3 and "bbbbbbb"): 27 cells of 12 = 324 >= 288.
  const auto runs = layout("{=J}aaaaaa aaaaaa aaaaaa bbbbbb");
  ASSERT_EQ(runs.size(), 2u);
  // Free width 384 - 324 = 60 over 4 pieces: 15 each. Starts: 0, 84+15, 168+30, 384-72-1.
  const Bytes expected = cat(
      cat(cat(cat(b({0x1B, 0x24, 0, 0}), text("aaaaaa ")), cat(b({0x1B, 0x24, 99, 0}), text("aaaaaa "))),
          cat(b({0x1B, 0x24, 198, 0}), text("aaaaaa "))),
      cat(cat(b({0x1B, 0x24, 0x37, 0x01}), text("bbbbbb")), b({0x1B, 0x4A, 32})));
  EXPECT_EQ(foundation::toHex(runs[1], " "), foundation::toHex(expected, " "));
  // A short justified line is printed as it is.
  EXPECT_EQ(layout("{=J}ab cd")[1], cat(text("ab cd"), b({0x1B, 0x4A, 32})));
}

TEST(PrinterText, ManyPiecesNeverOverrunTheList) {
  std::string t = "{+W}";
  for (int i = 0; i < 1000; ++i) t += "{+B}";
  t += std::string(500, ',');
  Bytes prepared;
  ASSERT_TRUE(prepareText(t, kEncodingWindows1252, &prepared));
  TextState s;
  int most = 0;
  size_t printed = 0;
  // A page wide enough for 500 one-character pieces on one line.
  ASSERT_TRUE(layoutText(prepared, kEncodingWindows1252, 30000, s, TextEscapes::standard(),
                         [&](const Bytes& r) {
                           for (auto c : r) printed += c == ',';
                           return true;
                         },
                         &most));
  EXPECT_LE(most, kMaxPieces);
  EXPECT_EQ(printed, 500u);
}

TEST(PrinterText, EncodingIsLossyAndDoubleByteCharactersAreNeverTags) {
  Bytes out;
  ASSERT_TRUE(encodeText("caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\x80", kEncodingWindows1252, &out));
  EXPECT_EQ(out, (Bytes{'c', 'a', 'f', 0xE9, ' ', 0x80, ' ', '?'}));
  EXPECT_FALSE(encodeText("x", 9999, &out));
  Bytes prepared;
  EXPECT_FALSE(prepareText("", kEncodingWindows1252, &prepared));
  // Shift-JIS: a lead byte followed by "{" is one character, not a tag start.
  prepared = {0x81, '{', '+', 'B', '}'};
  TextState s;
  Bytes all;
  ASSERT_TRUE(layoutText(prepared, kEncodingShiftJIS, 384, s, TextEscapes::standard(),
                         [&](const Bytes& r) {
                           all.insert(all.end(), r.begin(), r.end());
                           return true;
                         }));
  EXPECT_EQ(Bytes(all.begin() + 15, all.end()), (Bytes{0x81, '{', '+', 'B', '}', 0x1B, 0x4A, 32}));
}

TEST(PrinterText, WriteFailureStopsTheLayout) {
  Bytes prepared;
  ASSERT_TRUE(prepareText("a\nb\nc", kEncodingWindows1252, &prepared));
  TextState s;
  int writes = 0;
  EXPECT_FALSE(layoutText(prepared, kEncodingWindows1252, 384, s, TextEscapes::standard(),
                          [&](const Bytes&) { return ++writes < 2; }));
  EXPECT_EQ(writes, 2);
}

TEST(PrinterText, DelimiterAndCodepages) {
  Bytes d = delimiterLine(0x2D, 384);
  EXPECT_EQ(d, cat(cat(b({0x1B, 0x21, 0}), Bytes(32, 0x2D)), b({10})));
  Bytes c;
  ASSERT_TRUE(codepageCommand(0, 1252, &c));
  EXPECT_EQ(c, b({0x1B, 0x75, 13}));
  ASSERT_TRUE(codepageCommand(6, 1252, &c));
  EXPECT_EQ(c, b({0x1B, 0x74, 9}));
  EXPECT_FALSE(codepageCommand(1, 999, &c));
  EXPECT_FALSE(codepageCommand(8, 437, &c));
  EXPECT_EQ(getFontSize(1, kStyleDoubleWidth, 1, true), 18);
  EXPECT_EQ(getFontSize(2, 0, 0, false), 0);
}

}  // namespace
}  // namespace kestra::printer
