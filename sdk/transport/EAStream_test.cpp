#include "sdk/transport/EAStream.h"

#include <gtest/gtest.h>

#include <future>

#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/EchoAccessory.h"
#include "testing/devices/base/RecordingDriver.h"

namespace kestra {
namespace {

using devices::AccessoryTestBench;
using devices::RecordingDriver;
using foundation::Bytes;
using namespace std::chrono_literals;

const accessory::AccessoryIdentity kPrinter{
    "Printer DP-2", "Sabrel", "DP-2", "P100", "1.20", "2.0",
    {"com.sabrel.printer.plain", "com.sabrel.printer.label"}};

// A bench with one device claimed by one recording driver on both channels.
struct Connected {
  explicit Connected(bool echo = false) {
    driver = std::make_shared<RecordingDriver>(
        "D", [](const std::string&, const std::vector<std::string>& offered) {
          return std::optional<std::vector<std::string>>(offered);
        });
    bench.manager->setDelegate(driver);
    device = echo ? &bench.attach<devices::EchoAccessory>(kPrinter) : &bench.attach(kPrinter);
    bench.manager->tryConnect();
    EXPECT_TRUE(driver->waitFor([&] { return driver->connectedCount == 1; }));
    stream = driver->currentStream();
  }
  AccessoryTestBench bench;
  std::shared_ptr<RecordingDriver> driver;
  devices::SimulatedAccessory* device = nullptr;
  std::shared_ptr<EAStream> stream;
};

Bytes frame(std::initializer_list<uint8_t> payload) {
  Bytes f{0x00, uint8_t(payload.size())};
  foundation::append(f, payload.begin(), payload.size());
  return f;
}

TEST(EAStreamTest, WritesAndReadsAcrossEveryChannelOfADevice) {
  Connected c(/*echo=*/true);
  ASSERT_TRUE(c.stream);
  EXPECT_TRUE(c.stream->isOpen());
  EXPECT_TRUE(c.stream->connected());
  const Bytes f0 = frame({1, 2, 3}), f1 = frame({9, 8, 7, 6, 5});
  ASSERT_TRUE(c.stream->write(0, f0));
  ASSERT_TRUE(c.stream->write(1, f1));
  ASSERT_TRUE(c.driver->waitFor([&] {
    return c.driver->consumed[0].size() == f0.size() && c.driver->consumed[1].size() == f1.size();
  }));
  EXPECT_EQ(c.driver->consumedOn(0), f0);
  EXPECT_EQ(c.driver->consumedOn(1), f1);
  EXPECT_EQ(c.device->received(0), f0);
  EXPECT_EQ(c.device->received(1), f1);
}

TEST(EAStreamTest, PartialFrameIsOfferedAgainWithTheRestAtEveryBoundary) {
  Connected c;
  const Bytes f = frame({0x10, 0x20, 0x30, 0x40, 0x50});
  for (size_t cut = 1; cut < f.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    size_t before;
    {
      auto lock = c.driver->lock();
      before = c.driver->offers.size();
      c.driver->consumed.clear();
    }
    c.device->sendInPieces(0, f, {cut});
    ASSERT_TRUE(c.driver->waitFor([&] { return c.driver->consumed[0].size() == f.size(); }));
    auto lock = c.driver->lock();
    ASSERT_EQ(c.driver->offers.size(), before + 2);
    EXPECT_EQ(c.driver->offers[before].second, Bytes(f.begin(), f.begin() + long(cut)));
    EXPECT_EQ(c.driver->offers[before + 1].second, f);
    EXPECT_EQ(c.driver->consumed[0], f);
  }
}

TEST(EAStreamTest, DriverIsNeverOfferedMoreThanTheBufferHolds) {
  Connected c;
  c.driver->consume = [](int, const uint8_t*, int) { return 0; };  // keeps everything
  c.device->send(0, Bytes(6000, 0xAB));
  ASSERT_TRUE(c.driver->waitFor([&] {
    return !c.driver->offers.empty() &&
           c.driver->offers.back().second.size() == size_t(EAStream::kReceiveBufferSize);
  }));
  auto lock = c.driver->lock();
  for (const auto& o : c.driver->offers) EXPECT_LE(o.second.size(), size_t(EAStream::kReceiveBufferSize));
}

TEST(EAStreamTest, WriteArgumentsAreChecked) {
  Connected c;
  struct Case {
    const char* name;
    int channel;
    size_t length;
    bool ok;
  };
  const Bytes data(8, 0x55);
  for (const Case& k : {Case{"nothing to write", 0, 0, true}, Case{"nothing, bad channel", 9, 0, true},
                        Case{"negative channel", -1, 8, false}, Case{"channel past the last", 8, 8, false},
                        Case{"channel without a session", 5, 8, false}, Case{"second channel", 1, 8, true}}) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(c.stream->write(k.channel, data.data(), k.length), k.ok);
  }
}

TEST(EAStreamTest, WriteThatMakesNoProgressFailsAfterTheTimeout) {
  foundation::ScopedManualClock clock;
  Connected c;
  c.device->setStallReads(true);
  const Bytes big(8 << 20, 0x42);  // far more than the link holds
  std::atomic<bool> started{false};
  auto result = std::async(std::launch::async, [&] {
    started = true;
    return c.stream->write(0, big);
  });
  while (!started) std::this_thread::yield();
  // Advance in small steps: the write must fail only once more than the time-out has
  // passed since its last progress (which was at or after the first step).
  foundation::Duration advanced{};
  while (result.wait_for(20ms) != std::future_status::ready && advanced < 10s) {
    clock->advance(100ms);
    advanced += 100ms;
  }
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(result.get());
  EXPECT_GT(advanced, EAStream::kWriteNoProgressTimeout);
  EXPECT_LE(advanced, EAStream::kWriteNoProgressTimeout + 500ms);
  EXPECT_TRUE(c.stream->connected());  // the stream stays up

  // Once the device reads again, writing works.
  c.device->setStallReads(false);
  EXPECT_TRUE(c.stream->write(1, frame({1})));
}

TEST(EAStreamTest, DisconnectWhileTheMainThreadWritesEndsTheWriteAndTellsTheDriverOnce) {
  foundation::ScopedManualClock clock;  // the write cannot time out by itself
  Connected c;
  c.device->setStallReads(true);
  const Bytes big(8 << 20, 0x42);
  std::atomic<bool> disconnected{false};
  std::thread other([&] {
    // Waits until the main thread is inside the write, then disconnects from here.
    std::this_thread::sleep_for(20ms);  // lets the main thread get into its write
    c.stream->disconnect();
    disconnected = true;
  });
  EXPECT_FALSE(c.stream->write(0, big));  // on the main thread
  ASSERT_TRUE(c.driver->waitFor([&] { return c.driver->disconnectedCount == 1; }));
  ASSERT_TRUE(AccessoryTestBench::pumpUntil([&] { return disconnected.load(); }));
  other.join();
  EXPECT_TRUE(c.driver->disconnectedOnMain);
  EXPECT_FALSE(c.stream->isOpen());
  c.stream->disconnect();
  EXPECT_EQ(c.driver->disconnectedCount, 1);
  EXPECT_EQ(c.bench.comm->requestCounter(), 0);
}

TEST(EAStreamTest, LinkDroppedMidFrameDetachesTheStream) {
  Connected c;
  c.device->dropLinkAfter(3);
  c.device->send(0, frame({1, 2, 3, 4, 5}));
  ASSERT_TRUE(c.driver->waitFor([&] { return c.driver->disconnectedCount == 1; }));
  EXPECT_TRUE(c.driver->disconnectedOnMain);
  EXPECT_TRUE(c.driver->consumedOn(0).empty());  // the half frame was never taken
  EXPECT_TRUE(AccessoryTestBench::pumpUntil([&] { return !c.bench.manager->connected(); }));
}

TEST(EAStreamTest, DisconnectDuringADetachLeavesTheRunLoopThreadOnlyOnceTheSessionsClosed) {
  Connected c;
  std::shared_ptr<EAStream> stream = c.stream;
  int clientsAfterOwnDisconnect = -1;
  // A driver that closes its stream when told it went (the detach's own disconnect is
  // still waiting for this callback and has not closed the sessions yet).
  c.driver->onDisconnected = [&](const std::shared_ptr<EAStream>& s) {
    s->disconnect();
    clientsAfterOwnDisconnect = c.bench.comm->requestCounter();
  };
  c.device->dropLink();
  ASSERT_TRUE(c.driver->waitFor([&] { return c.driver->disconnectedCount == 1; }));
  EXPECT_EQ(clientsAfterOwnDisconnect, 1);  // still scheduled, so still registered
  ASSERT_TRUE(AccessoryTestBench::pumpUntil(
      [&] { return GlobalQueue::running() == 0 && c.bench.comm->requestCounter() == 0; }));
  EXPECT_FALSE(stream->isOpen());
  EXPECT_EQ(c.driver->disconnectedCount, 1);
}

}  // namespace
}  // namespace kestra
