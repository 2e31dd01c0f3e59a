// The engine packet formats as bytes: golden packets whose check values were computed
// independently (the published CRC-16/XMODEM and zlib CRC-32 algorithms), and the answer
// readers over every malformed form.

#include "sdk/sleeve/PellanEngineCodec.h"

#include <gtest/gtest.h>

namespace kestra::pellan {
namespace {

using foundation::Bytes;
using foundation::Error;

Bytes hex(const char* text) { return *foundation::fromHex(text); }

// An engine that has sent `bytes`: reads take from them as the driver's reads do, and fail
// with -6 when nothing is left.
EngineRead engineThatSent(Bytes bytes, std::shared_ptr<EngineBuffer>* keep = nullptr) {
  auto buffer = std::make_shared<EngineBuffer>(4112);
  buffer->append(bytes.data(), bytes.size());
  if (keep) *keep = buffer;
  return [buffer](int length, double, int stop, Error* error) -> std::optional<Bytes> {
    Bytes out = buffer->take(length, stop);
    if (out.empty()) {
      foundation::fail(error, Error("com.sabrel.errors", -6, "Timeout waiting for engine"));
      return std::nullopt;
    }
    return out;
  };
}

TEST(CodePacket, TenDataBytesAreNineteenBytesWithTheMaskedCrc) {
  const Bytes data = hex("0102030405060708090a");
  const Bytes packet = codePacket('G', data.data(), data.size());
  EXPECT_EQ(foundation::toHex(packet), "EEEEEEEE470A0102030405060708090A004E7B");
  ASSERT_EQ(packet.size(), 19u);
  EXPECT_LT(packet[17], 0x80);
  EXPECT_LT(packet[18], 0x80);
  const uint8_t seq = 5;
  EXPECT_EQ(foundation::toHex(codePacket('Y', &seq, 1)), "EEEEEEEE590105004E09");
}

TEST(CodePacket, LoadChunksNameTheOffsetPastThemselves) {
  Bytes image(500);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i);
  std::vector<std::string> headers;
  for (size_t offset = 0; offset < image.size(); offset += kCodeChunk) {
    const size_t n = std::min(kCodeChunk, image.size() - offset);
    const Bytes chunk = codeLoadChunk(image.data(), offset, n);
    ASSERT_EQ(chunk.size(), n + 4);
    EXPECT_EQ(chunk[4], uint8_t(offset));
    headers.push_back(foundation::toHex(Bytes(chunk.begin(), chunk.begin() + 4)));
  }
  EXPECT_EQ(headers, (std::vector<std::string>{"000000EC", "000001D8", "000001F4"}));
  EXPECT_EQ(foundation::toHex(codeLoadEnd()), "FFFFFFFF");
}

TEST(CodeAnswer, ReaderTable) {
  struct Case {
    const char* name;
    const char* bytes;
    std::optional<std::string> text;
    int sequence;
    const char* error;
  };
  const Case cases[] = {
      {"short form", "01581e303030643146" "04", "d1F", 0, ""},
      {"noise before the start", "ff0a01581e303030643146" "04", "d1F", 0, ""},
      {"short form without its end", "01581e303030643146", "d1F", 0, ""},
      // 'R', 12-byte header (sequence 7, length 10), then 12 bytes: 01 'X' RS, 3, "abc", 3.
      {"long form", "015852" "30303030300730303030000a" "01581e303030616263303030", "abc", 7, ""},
      {"long form not starting 01 X RS", "015852" "30303030300730303030000a" "303030303030616263303030", "", 7, ""},
      {"long form cut short", "015852" "30303030300730303030000a" "01581e3030", std::nullopt, 0,
       "Timeout waiting for the engine"},
      {"header cut short", "01585230303030", std::nullopt, 0, "Timeout waiting for the engine"},
      {"kind missing", "0158", std::nullopt, 0, "Timeout waiting for the engine"},
      {"not X", "01591e303030643146", std::nullopt, 0, "Timeout waiting for the engine"},
      {"unknown kind", "01585a", std::nullopt, 0, "Invalid response received"},
      {"nothing", "", std::nullopt, 0, "Timeout waiting for the engine"},
      {"no start byte", "0203", std::nullopt, 0, "Timeout waiting for the engine"},
      {"short form with nothing after its three bytes", "01581e303030", std::nullopt, 0,
       "Timeout waiting for the engine"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    const auto answer = readCodeAnswer(engineThatSent(hex(c.bytes)), 2.0, &e);
    ASSERT_EQ(answer.has_value(), c.text.has_value());
    if (answer) {
      EXPECT_EQ(answer->text, *c.text);
      EXPECT_EQ(answer->sequence, c.sequence);
    } else {
      EXPECT_EQ(e.code, -6);
      EXPECT_EQ(e.text, c.error);
    }
  }
}

TEST(CodeAnswer, ParametersAndInformation) {
  uint64_t v = 0;
  EXPECT_TRUE(parseCodeParamAnswer("d1F", &v));
  EXPECT_EQ(v, 31u);
  EXPECT_TRUE(parseCodeParamAnswer("dffffffffff", &v));
  EXPECT_EQ(v, 0xffffffffffull);
  EXPECT_FALSE(parseCodeParamAnswer("e", &v));
  EXPECT_FALSE(parseCodeParamAnswer("", &v));

  const std::string answer = "i" "AAAA" "BBBB" "xxxx" "SSSSSSSSSS" "x" "OO" "xxxxx" "RR" "TTTT" "PPPP" "KKKK" "FFFF" "x";
  ASSERT_EQ(answer.size(), 50u);
  Error e;
  auto info = parseCodeInformation(answer + "DEC", &e);
  ASSERT_TRUE(info);
  const EngineInformation want = {
      {"ApplicationVersion", "AAAA"}, {"CoreApplicationVersion", "BBBB"}, {"SerialNumber", "SSSSSSSSSS"},
      {"OEMIdentifier", "OO"}, {"HardwareRevision", "RR"}, {"HardwareType", "TTTT"},
      {"BootApplicationVersion", "PPPP"}, {"KernelVersion", "KKKK"}, {"RootFSVersion", "FFFF"},
      {"OEMDecoderVersion", "DEC"}};
  EXPECT_EQ(*info, want);
  info = parseCodeInformation(answer, &e);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->at("OEMDecoderVersion"), "");
  EXPECT_EQ(info->size(), 10u);
  // Shorter than its fixed fields, or not an information answer at all.
  EXPECT_FALSE(parseCodeInformation(answer.substr(0, 49), &e));
  EXPECT_EQ(e.code, -6);
  EXPECT_FALSE(parseCodeInformation("x" + answer.substr(1), &e));
  EXPECT_EQ(e.code, -21);
  EXPECT_EQ(e.text, "Invalid response received");
}

TEST(NewlandPackets, QueryCommandAndFirmwareFrames) {
  EXPECT_EQ(foundation::toHex(newlandQueryPacket(hex("334710"))), "7E00000333471098");
  EXPECT_EQ(foundation::toHex(newlandCommandFrame("!FrameSize:1024")),
            "0205000F214672616D6553697A653A3130323456CBC0C9");
  // The frame's CRC is the CRC-32 of its first 1025 bytes (computed with Python's zlib).
  Bytes image(1500, 0x5A);
  const Bytes second = newlandFirmwareFrame(image, 1024);
  ASSERT_EQ(second.size(), 1029u);
  EXPECT_EQ(second[0], 0x02);
  EXPECT_EQ(second[1 + 475], 0x5A);
  EXPECT_EQ(second[1 + 476], 0x00);  // zero-filled past the image
  EXPECT_EQ(foundation::readBE32(second.data() + 1025), 0x419a67acu);
}

TEST(NewlandAnswers, ReaderTable) {
  struct Case {
    const char* name;
    const char* bytes;
    bool query;
    std::optional<std::string> hexResult;
  };
  const Case cases[] = {
      {"query answer", "020000040031303141", true, "313031"},
      {"query header short", "02000004", true, std::nullopt},
      {"query body short", "0200000400313031", true, std::nullopt},
      {"query of length 0", "0200000000", true, std::nullopt},
      {"command answer 0", "0205000130" "deadbeef", false, "30"},
      {"command answer 16", "02050010" "30313233343536373839616263646566" "00000000", false,
       "30313233343536373839616263646566"},
      {"command length 17", "02050011" "3031323334353637383961626364656667" "00000000", false, std::nullopt},
      {"command length 0", "02050000" "00000000", false, std::nullopt},
      {"command without its check", "0205000130", false, std::nullopt},
      {"command wrong lead", "02060001300000000000", false, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    std::optional<std::string> got;
    if (c.query) {
      if (auto b = readNewlandQueryAnswer(engineThatSent(hex(c.bytes)), &e)) got = foundation::toHex(*b);
    } else {
      if (auto t = readNewlandCommandAnswer(engineThatSent(hex(c.bytes)), &e))
        got = foundation::toHex(foundation::bytesOf(*t));
    }
    EXPECT_EQ(got, c.hexResult);
    if (!got) {
      EXPECT_EQ(e.code, -6);
    }
  }
}

TEST(OpticonBlocks, LastBlockIsZeroFilledAndSummed) {
  Bytes image(8193, 0x01);
  image[8192] = 0xAB;
  const Bytes first = opticonBlock(image, 0, 8);
  const Bytes second = opticonBlock(image, 8192, 9);
  ASSERT_EQ(first.size(), kOpticonBlockSize);
  ASSERT_EQ(second.size(), kOpticonBlockSize);
  EXPECT_EQ(foundation::toHex(Bytes(first.begin(), first.begin() + 4)), "08000020");
  EXPECT_EQ(foundation::readLE16(first.data() + 8196), 8192);
  EXPECT_EQ(foundation::toHex(Bytes(second.begin(), second.begin() + 5)), "09000020AB");
  EXPECT_TRUE(std::all_of(second.begin() + 5, second.begin() + 8196, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(foundation::readLE16(second.data() + 8196), 0xAB);
  const Bytes end = opticonEndBlock();
  EXPECT_EQ(end.size(), kOpticonBlockSize);
  EXPECT_EQ(end[0], 'E');
  EXPECT_EQ(end[1], 'D');
  EXPECT_TRUE(std::all_of(end.begin() + 2, end.end(), [](uint8_t b) { return b == 0; }));
}

TEST(EngineBufferTest, TakesUpToTheStopByteOrTheLengthAndDropsWhatDoesNotFit) {
  EngineBuffer b(8);
  const Bytes in = hex("41420d43");
  b.append(in.data(), in.size());
  EXPECT_TRUE(b.satisfies(0, 0x0D));
  EXPECT_FALSE(b.satisfies(10, -1));
  EXPECT_TRUE(b.satisfies(0, -1));
  EXPECT_EQ(foundation::toHex(b.take(0, 0x0D)), "41420D");
  EXPECT_EQ(b.size(), 1u);
  EXPECT_EQ(foundation::toHex(b.take(10, -1)), "43");  // a time-out takes what there is
  const Bytes many(20, 0x11);
  EXPECT_EQ(b.append(many.data(), many.size()), 12u);
  EXPECT_EQ(b.size(), 8u);
  b.truncate(0);
  EXPECT_EQ(b.size(), 0u);
  EXPECT_TRUE(b.take(1, -1).empty());
}

}  // namespace
}  // namespace kestra::pellan
