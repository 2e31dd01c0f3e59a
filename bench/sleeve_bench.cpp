// The sleeve driver's input path.
//
// BM_SleeveDemultiplex: frames parsed per second by the demultiplexer over a buffer of
// mixed events and replies, as the transport hands it over.
//
// BM_SleeveBarcodeToDelegate: the time from a barcode event written to the accessory
// socket (by the simulated sleeve) to the delegate's call on the main queue, through the
// accessory session, the run-loop thread, the demultiplexer and the main queue.
// BM_PlainSocketRead: the same bytes written to a socket pair and read back on another
// thread, in the same run, as the floor that the driver's path is compared with.

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/foundation/MainQueue.h"
#include "sdk/sleeve/PellanFrame.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace {

using foundation::Bytes;

class CountingSink : public kestra::pellan::FrameSink {
 public:
  size_t frames = 0;
  size_t bytes = 0;
  void onFrame(const kestra::pellan::RoutedFrame& f) override {
    ++frames;
    bytes += f.frameLength;
  }
};

void BM_SleeveDemultiplex(benchmark::State& state) {
  devices::SleeveProtocol proto({});
  Bytes buffer;
  size_t frames = 0;
  while (buffer.size() < 4000) {
    for (const auto& f : {proto.barcodeEvent('T', "0123456789012"), proto.buttonEvent(1),
                          proto.event(0, 0x3A, {0x00, 0x00, 0x01, 0x02})}) {
      buffer.insert(buffer.end(), f.frame.begin(), f.frame.end());
      ++frames;
    }
  }
  CountingSink sink;
  for (auto _ : state) {
    const size_t used = kestra::pellan::demultiplex(0, buffer.data(), buffer.size(), 2, sink);
    benchmark::DoNotOptimize(used);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * frames));
  state.SetBytesProcessed(int64_t(state.iterations() * buffer.size()));
}
BENCHMARK(BM_SleeveDemultiplex);

class TimingDelegate : public kestra::PellanDelegate {
 public:
  TimingDelegate() { implements({kestra::sel::kxdev_barcodeData}); }
  void kxdev_barcodeData(const Bytes&) override {
    at = std::chrono::steady_clock::now();
    called = true;
  }
  std::atomic<bool> called{false};
  std::chrono::steady_clock::time_point at;
};

void BM_SleeveBarcodeToDelegate(benchmark::State& state) {
  devices::SleeveTestBench bench;
  if (!bench.connect()) {
    state.SkipWithError("the simulated sleeve did not connect");
    return;
  }
  auto timing = std::make_shared<TimingDelegate>();
  bench.pellan->removeDelegate(bench.delegate);
  bench.pellan->addDelegate(timing);
  const auto event = bench.sleeve->withProtocol(
      [](devices::SleeveProtocol& p) { return p.barcodeEvent('T', "0123456789012"); });
  for (auto _ : state) {
    timing->called = false;
    const auto start = std::chrono::steady_clock::now();
    bench.sleeve->send(event.channel, event.frame);
    bench.runUntil([&] { return timing->called.load(); });
    state.SetIterationTime(std::chrono::duration<double>(timing->at - start).count());
  }
}
BENCHMARK(BM_SleeveBarcodeToDelegate)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_PlainSocketRead(benchmark::State& state) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  devices::SleeveProtocol proto({});
  const Bytes frame = proto.barcodeEvent('T', "0123456789012").frame;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> readAtNs{0};
  // A reader thread stands where the run-loop thread stands in the driver's path.
  std::thread reader([&] {
    uint8_t buf[256];
    size_t got = 0;
    while (!stop) {
      const ssize_t n = read(fds[1], buf, sizeof buf);
      if (n <= 0) break;
      got += size_t(n);
      if (got >= frame.size()) {
        got -= frame.size();
        readAtNs = std::chrono::steady_clock::now().time_since_epoch().count();
      }
    }
  });
  for (auto _ : state) {
    readAtNs = 0;
    const auto start = std::chrono::steady_clock::now();
    if (write(fds[0], frame.data(), frame.size()) != ssize_t(frame.size())) break;
    while (readAtNs == 0) {
    }
    const auto end = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(readAtNs.load()));
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  stop = true;
  shutdown(fds[0], SHUT_RDWR);
  reader.join();
  close(fds[0]);
  close(fds[1]);
}
BENCHMARK(BM_PlainSocketRead)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
