// The iClass SAM message layer on its own: the TLV builder and parser, the frame, and the
// dispatcher against a scripted SAM.

#include "sdk/rf/IClassSam.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {
namespace {
namespace iclass_sam_test {

using foundation::Bytes;
using foundation::fromHex;
using foundation::toHex;

Bytes hex(const char* h) { return *fromHex(h); }

// A SAM frame from `node` carrying `message`, with `status`.
Bytes samAnswer(uint8_t node, const Bytes& message, const char* status = "9000") {
  Bytes f{0x00, node, 0x0A, 0x44, 0x00, 0x00};
  f.insert(f.end(), message.begin(), message.end());
  const Bytes sw = hex(status);
  f.insert(f.end(), sw.begin(), sw.end());
  return f;
}

// Answers each frame the host writes with the next scripted SAM frames (none: silence).
class ScriptedSam final : public IClassTransport {
 public:
  std::vector<std::vector<Bytes>> script;
  std::vector<Bytes> written;
  std::function<int(const Bytes&, Bytes*)> rf = [](const Bytes&, Bytes*) { return -6; };
  std::vector<std::tuple<int, int, int, Bytes, int>> rfCalls;  // protocol, parameter, flags, data, time-out
  int writeResult = 0;

  int iClassWrite(const uint8_t* data, int length) override {
    written.emplace_back(data, data + length);
    if (writeResult < 0) return writeResult;
    if (!script.empty()) {
      auto next = script.front();
      script.erase(script.begin());
      for (const auto& frame : next) iClassDataAvailable(frame.data(), int(frame.size()));
    }
    return 0;
  }
  int iClassRFCommand(int protocol, int parameter, int flags, const uint8_t* data, int length, Bytes* out,
                      int timeoutMs) override {
    const Bytes d(data, data + length);
    rfCalls.emplace_back(protocol, parameter, flags, d, timeoutMs);
    return rf(d, out);
  }
  // The message of the n-th frame written.
  Bytes message(size_t n) const {
    const Bytes& f = written.at(n);
    return Bytes(f.begin() + 13, f.end() - 2);
  }
};

struct SamFixture : ::testing::Test {
  std::shared_ptr<ScriptedSam> sam = std::make_shared<ScriptedSam>();
  void SetUp() override { iClassSetTransport(sam); }
  void TearDown() override { iClassSetTransport(nullptr); }
};

TEST(SamTlv, BuilderLengthsAndConstructedNodes) {
  TlvStore s;
  const int root = s.tlvStoreAdd(0x80, nullptr, 0, -1);  // becomes constructed: A0
  s.tlvStoreAdd(0x81, hex("01"), root);  // children of three bytes each
  s.tlvStoreAdd(0x82, hex("02"), root);
  s.tlvStoreAdd(0x9F26, Bytes(200, 0xEE), -1);
  const Bytes out = s.tlvStoreExport();
  EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + 8)), "A006810101820102");
  EXPECT_EQ(toHex(Bytes(out.begin() + 8, out.begin() + 13)), "9F268200C8");
  EXPECT_EQ(out.size(), 13u + 200u);

  TlvStore full;
  for (int i = 0; i < kSamMaxNodes; ++i) EXPECT_GE(full.tlvStoreAdd(0x80, nullptr, 0, -1), 0);
  EXPECT_EQ(full.tlvStoreAdd(0x80, nullptr, 0, -1), -9);
  EXPECT_TRUE(full.failed());
  TlvStore wide;
  const int parent = wide.tlvStoreAdd(0xA0, nullptr, 0, -1);
  for (int i = 0; i < kSamMaxChildren; ++i) EXPECT_GE(wide.tlvStoreAdd(0x80, nullptr, 0, parent), 0);
  EXPECT_EQ(wide.tlvStoreAdd(0x80, nullptr, 0, parent), -9);
  EXPECT_EQ(wide.tlvStoreAdd(0x80, nullptr, 0, 57), -9);  // no such parent
}

TEST(SamTlv, ParserStaysWithinTheBytesAndFindsNestedTags) {
  const Bytes msg = hex("A10DA10B80020C07810200028501FF" "8A00");
  auto a = tlvParse(msg.data(), msg.size());
  ASSERT_TRUE(a);
  EXPECT_EQ(a->tag, 0xA1);
  EXPECT_TRUE(a->constructed);
  auto data = tlvFind1(msg.data(), msg.size(), 0x80);
  ASSERT_TRUE(data);
  EXPECT_EQ(toHex(data->value), "0C07");
  EXPECT_EQ(toHex(tlvFind1(msg.data(), msg.size(), 0x85)->value), "FF");
  EXPECT_TRUE(tlvFind1(msg.data(), msg.size(), 0x8A));
  EXPECT_FALSE(tlvFind1(msg.data(), msg.size(), 0x99));
  size_t used = 0;
  ASSERT_TRUE(tlvParse(hex("9F2600").data(), 3, &used));
  EXPECT_EQ(used, 3u);
  for (const char* bad : {"", "80", "8003AABB", "8081", "80820001", "8084000000010000", "9F", "9F26",
                          "8082100100"}) {
    SCOPED_TRACE(bad);
    const Bytes b = hex(bad);
    EXPECT_FALSE(tlvParse(b.data(), b.size()));
  }
  Bytes longest = hex("80821000");
  longest.resize(4 + 4096);
  EXPECT_TRUE(tlvParse(longest.data(), longest.size()));
}

TEST_F(SamFixture, CommandFramesAndCoreAnswers) {
  sam->script = {{samAnswer(0x01, hex("A505820301A022"))}};
  Bytes out;
  EXPECT_EQ(samCommandGetVersionInfo(&out), 7);
  EXPECT_EQ(toHex(out), "A505820301A022");
  EXPECT_EQ(toHex(sam->written.at(0)), "A0DA026300000A440A440000" "00A00282000000");

  // The application node ends the wait with its message.
  sam->script = {{samAnswer(0x44, hex("8A0412345678"))}};
  EXPECT_EQ(samCommandGetSerialNumber(&out), 6);
  EXPECT_EQ(toHex(sam->message(1)), "A0029600");
  EXPECT_EQ(toHex(out), "8A0412345678");
}

TEST_F(SamFixture, BadAnswersFail) {
  Bytes out;
  sam->script = {{samAnswer(0x01, hex("A505820301A022"), "6A82")}};
  EXPECT_EQ(samCommandGetVersionInfo(&out), -2);
  sam->script = {{Bytes{0x00, 0x01, 0x90, 0x00}}};  // too short to hold a message
  EXPECT_EQ(samCommandGetVersionInfo(&out), -2);
  sam->script = {{samAnswer(0x14, hex("A2028200"))}};  // an RF message that is no request
  EXPECT_EQ(samCommandGetVersionInfo(&out), -1);
  sam->script = {{samAnswer(0x44, hex("A5028300"))}};
  EXPECT_EQ(samCommandProcessConfigCard(), -20);  // not A5 { 82 }
  sam->script = {{samAnswer(0x01, hex("A5028200"))}};
  EXPECT_EQ(samCommandProcessKeyRollerCard(), 0);
  // More than the receive buffer holds.
  sam->script = {{Bytes(300, 0x11), Bytes(300, 0x22)}};
  EXPECT_EQ(samCommandGetVersionInfo(&out), -9);
  // A message too long for one frame is refused before anything is written.
  const size_t before = sam->written.size();
  EXPECT_EQ(samCommandProcessSNMPMessage(Bytes(1010).data(), 1010, &out), -9);
  EXPECT_EQ(sam->written.size(), before);
  sam->writeResult = -6;
  EXPECT_EQ(samCommandGetVersionInfo(&out), -6);
}

TEST_F(SamFixture, RfRequestsAreServedAndAnswered) {
  // An acknowledge request, then an RF request, then the final answer.
  sam->script = {{samAnswer(0x14, hex("A1028200"))},
                 {samAnswer(0x14, hex("A115A11380020C078102000282040000138885030102FF"))},
                 {samAnswer(0x44, hex("A10A80080102030405060708"))}};
  sam->rf = [](const Bytes& d, Bytes* out) {
    *out = hex("0102030405060708");
    return d == hex("0C07") ? 8 : -6;
  };
  Bytes out;
  EXPECT_EQ(samCommandGetContentElement(4, nullptr, 0, nullptr, 0, &out), 12);
  ASSERT_EQ(sam->rfCalls.size(), 1u);
  const auto& [protocol, parameter, flags, data, timeout] = sam->rfCalls[0];
  EXPECT_EQ(protocol, 2);
  EXPECT_EQ(parameter, 0x0102);
  EXPECT_EQ(flags, 0xFF);
  EXPECT_EQ(toHex(data), "0C07");
  EXPECT_EQ(timeout, 6);  // 5,000 us
  EXPECT_EQ(toHex(sam->message(0)), "A005A103800104");
  EXPECT_EQ(toHex(sam->message(1)), "BD028A00");
  EXPECT_EQ(toHex(sam->message(2)), "BD12A010A00E8008010203040506070881020000");

  // A failing card exchange is answered with status 00 20 and no data.
  sam->script = {{samAnswer(0x14, hex("A106A10480020C07"))}, {samAnswer(0x44, hex("85020020"))}};
  sam->rfCalls.clear();
  sam->rf = [](const Bytes&, Bytes*) { return -6; };
  EXPECT_EQ(samCommandGetContentElement(4, nullptr, 0, nullptr, 0, &out), 4);
  EXPECT_EQ(toHex(sam->message(sam->written.size() - 1)), "BD08A006A00481020020");
  EXPECT_EQ(std::get<4>(sam->rfCalls.at(0)), 0);  // no time-out given
}

TEST_F(SamFixture, SilenceEndsTheWaitAfterTwoSeconds) {
  foundation::ScopedManualClock clock;
  sam->script = {{}};
  auto result = std::async(std::launch::async, [] {
    Bytes out;
    return samCommandGetVersionInfo(&out);
  });
  ASSERT_TRUE(clock->waitForWaiters(1));
  clock->advance(std::chrono::milliseconds(1999));
  ASSERT_TRUE(clock->waitUntilWaitersSawNow());
  EXPECT_EQ(result.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  clock->advance(std::chrono::milliseconds(2));
  EXPECT_EQ(result.get(), -1);
}

}  // namespace iclass_sam_test
}  // namespace
}  // namespace kestra
