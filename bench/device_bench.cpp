// Latency of one scanned barcode, from the simulated sleeve's bytes to the application's
// "changeBarcode" notification (through the accessory session, the common run-loop thread,
// the sleeve driver, the main queue, the device API, the facade and an application delegate
// that posts the notification), beside two baselines for the same bytes: a plain
// Unix-socket round trip, and the like-for-like path with the same hops and none of the
// SDK's work (bytes written to a socket, read on a run-loop thread of their own and handed
// to the main thread through the main queue, where the test thread waits for them).
//
// Figures on a shared machine move with its load: compare medians of runs made together
// (`--benchmark_repetitions=5` gives five medians of each).
//
// Each benchmark reports its median per-scan time as the counter "median_us".

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/sleeve/SleeveProtocol.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kCode = "4006381333931";

// What the application delegate does with a barcode: one notification on the delivering
// thread.
class PostingDelegate final : public kestra::KXDeviceDelegate {
 public:
  PostingDelegate() { implements({kestra::kxsel::barcodeData_type}); }
  void barcodeData(const std::string& barcode, int) override {
    foundation::NotificationCenter::defaultCenter().post("changeBarcode", nullptr, {{"lastBarcode", barcode}});
  }
};

void BM_SleeveBarcodeToChangeBarcode(benchmark::State& state) {
  devices::SleeveTestBench bench;
  auto api = kestra::KXDevices::create(kestra::makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = kestra::OKTKXDevices::create(api, std::make_shared<kestra::KXChargingCaseStandIn>(),
                                             std::make_shared<kestra::KXDeviceAgentStandIn>());
  auto delegate = std::make_shared<PostingDelegate>();
  facade->addDelegate(delegate);
  std::atomic<int> seen{0};
  int token = 0;
  foundation::NotificationCenter::defaultCenter().addObserver(&token, "changeBarcode", nullptr,
                                                              [&](const foundation::Notification& n) {
                                                                if (n.userInfo.value("lastBarcode", "") == kCode)
                                                                  ++seen;
                                                              });
  if (!bench.sleeve->attach()) {
    state.SkipWithError("simulated sleeve could not attach");
    return;
  }
  facade->connect();
  if (!bench.runUntil([&] { return api->connstate() == 2; }, std::chrono::milliseconds(10000))) {
    state.SkipWithError("sleeve did not connect");
    return;
  }
  // The same frame the simulated sleeve sends for a scan, written from this thread so that
  // the time runs from the moment the bytes are on the link, as in the baselines.
  const foundation::Bytes frame =
      bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.barcodeEvent('T', kCode).frame; });
  std::vector<double> samples;
  for (auto _ : state) {
    const int before = seen.load();
    const auto start = Clock::now();
    if (!bench.sleeve->writeNow(0, frame)) {
      state.SkipWithError("sleeve channel closed");
      break;
    }
    if (!foundation::RunLoop::main().runUntil([&] { return seen.load() > before; },
                                              std::chrono::milliseconds(5000))) {
      state.SkipWithError("barcode did not arrive");
      break;
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  foundation::NotificationCenter::defaultCenter().removeObserver(&token);
  state.counters["median_us"] = bench::median(samples);
}
BENCHMARK(BM_SleeveBarcodeToChangeBarcode)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// The same bytes through a Unix-domain socket pair to an echoing thread and back.
void BM_PlainSocketRoundTrip(benchmark::State& state) {
  devices::SleeveProtocol protocol{devices::SleeveProtocol::Config{}};
  const foundation::Bytes frame = protocol.barcodeEvent('T', kCode).frame;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  std::thread echo([fd = fds[1], n = frame.size()] {
    std::vector<uint8_t> buf(n);
    while (true) {
      size_t got = 0;
      while (got < n) {
        const ssize_t r = read(fd, buf.data() + got, n - got);
        if (r <= 0) return;
        got += size_t(r);
      }
      if (write(fd, buf.data(), n) != ssize_t(n)) return;
    }
  });
  std::vector<uint8_t> back(frame.size());
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (write(fds[0], frame.data(), frame.size()) != ssize_t(frame.size())) break;
    size_t got = 0;
    while (got < back.size()) {
      const ssize_t r = read(fds[0], back.data() + got, back.size() - got);
      if (r <= 0) break;
      got += size_t(r);
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  close(fds[0]);
  echo.join();
  close(fds[1]);
  state.counters["median_us"] = bench::median(samples);
  state.counters["bytes"] = double(frame.size());
}
BENCHMARK(BM_PlainSocketRoundTrip)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

// The scan path's hops without the SDK: socket -> reading thread -> main queue -> main thread.
void BM_SocketThreadMainQueueHop(benchmark::State& state) {
  devices::SleeveProtocol protocol{devices::SleeveProtocol::Config{}};
  const foundation::Bytes frame = protocol.barcodeEvent('T', kCode).frame;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  std::atomic<int> seen{0};
  foundation::RunLoop reader;
  std::atomic<bool> stop{false};
  std::vector<uint8_t> held;
  reader.addFd(fds[1], EPOLLIN, [&](int fd, uint32_t) {
    uint8_t buf[4096];
    const ssize_t r = read(fd, buf, sizeof buf);
    if (r <= 0) return;
    held.insert(held.end(), buf, buf + r);
    while (held.size() >= frame.size()) {
      foundation::Bytes one(held.begin(), held.begin() + long(frame.size()));
      held.erase(held.begin(), held.begin() + long(frame.size()));
      foundation::MainQueue::post([&seen, one = std::move(one)] {
        if (one.size() > 6) ++seen;
      });
    }
  });
  std::thread thread([&] {
    while (!stop) reader.runOnce(std::chrono::milliseconds(50));
  });
  std::vector<double> samples;
  for (auto _ : state) {
    const int before = seen.load();
    const auto start = Clock::now();
    if (write(fds[0], frame.data(), frame.size()) != ssize_t(frame.size())) break;
    if (!foundation::RunLoop::main().runUntil([&] { return seen.load() > before; },
                                              std::chrono::milliseconds(5000))) {
      state.SkipWithError("bytes did not arrive");
      break;
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    samples.push_back(us);
    state.SetIterationTime(us / 1e6);
  }
  stop = true;
  reader.wakeUp();
  thread.join();
  reader.removeFd(fds[1]);
  close(fds[0]);
  close(fds[1]);
  state.counters["median_us"] = bench::median(samples);
}
BENCHMARK(BM_SocketThreadMainQueueHop)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // Each run's median per-scan time, by benchmark.
  std::map<std::string, std::vector<double>> medians;
  return bench::runBenchmarks(
      argc, argv,
      [&](const bench::Run& r) {
        auto it = r.counters.find("median_us");
        if (it != r.counters.end()) medians[r.run_name.function_name].push_back(it->second.value);
      },
      [&] {
        const double scan = bench::median(medians["BM_SleeveBarcodeToChangeBarcode"]);
        const double floor = bench::median(medians["BM_SocketThreadMainQueueHop"]);
        std::printf("scan path %.1f us, its floor (socket, reading thread, main queue) %.1f us; ratio %.2fx "
                    "(goal: at most 1.5x)\n",
                    scan, floor, floor > 0 ? scan / floor : 0.0);
      });
}
