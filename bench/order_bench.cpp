// The cost of one more line on an order of N lines, through the real item list: the back
// office on loopback, a scan from the fake sleeve, "GetPrice", the line saved, "Next"
// (the table, the totals and the backup of the unfinished order). The order's other lines
// come from a stored backup, as when an interrupted order is taken up again.
//
//   scan/N      a scan that raises a line already in the cart, then Next
//   addRemove/N a scan of an item not in the cart, then Delete (the cart keeps its size)
//
// Sizes run interleaved (10, 100, 1,000, 5,000, then again), so a machine whose load
// changes meanwhile weighs on every size alike. At the end the program prints the cost at
// 5,000 lines against the cost at 10 (the goal: at most 2x, and under 20 ms).
#include <cstdio>
#include <string>

#include "app/core/OrderBackup.h"
#include "app/core/UserDefaultsKeys.h"
#include "bench/BenchSupport.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace {

using nlohmann::json;
using orvo::test_support::OrderRoadHarness;

constexpr int kSizes[] = {10, 100, 1000, 5000};
constexpr int kRounds = 3;
constexpr int kIterations = 20;

json syntheticLine(int n) {
  const std::string code = "9" + std::to_string(100000000000 + n);
  return json{{"Kind", "bundle"},   {"Barcode", code},           {"Descript", "Wholesale item " + std::to_string(n)},
              {"Ats", "120"},       {"AtsStatus", "True"},       {"Ots", "80"},
              {"OtsStatus", "True"}, {"Id", "0"},                 {"Eta", "2026/03/01"},
              {"EtaForPrint", "03/01/26"}, {"Qty", "2"},          {"Price", "12.50"},
              {"OrgPrice", "12.50"}, {"MinPrice", "10.00"},       {"extPrice", "150.00"},
              {"Sum", "6"},          {"Color", "C" + std::to_string(n % 9)},
              {"MultiColor", ""},    {"Style", "ST" + std::to_string(n / 4)},
              {"SizeCode", ""},      {"Bundle", "B6"},            {"BeforeOrderNum", ""},
              {"OverBookingMsg", ""}, {"OverBookingLimit", "False"}};
}

// An item list holding `lines` lines (plus the two scanned before timing).
struct OpenOrder {
  explicit OpenOrder(int lines) {
    t.launch();
    auto& so = t.app.delegate->globalSO();
    so.customerID = "C1001";
    so.storeID = "S1";
    so.priceLevel = "1";
    json cart = json::array();
    for (int i = 0; i < lines; ++i) cart.push_back(syntheticLine(i));
    orvo::OrderBackup::standard().update({{orvo::defaults::backupOrderListArray, cart},
                                          {orvo::defaults::backupCustomerId, "C1001"},
                                          {orvo::defaults::backupStoreId, "S1"},
                                          {orvo::defaults::backupPriceLevel, "1"}});
    orvo::presentInNewNavigation(*t.app.root, orvo::makeScreen("OrderListView"), false);
    t.settle();
    list = t.top<orvo::OrderListViewController>();
    scan("400000000002");
    scan("400000000041");
    next();
  }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  void next() {
    list->nextBarButtonItem()->trigger();
    t.settle();
  }
  void remove() {
    list->backBarButtonItem()->trigger();
    t.settle();
  }
  OrderRoadHarness t;
  orvo::OrderListViewController* list = nullptr;
};

void BM_ScanRaisesALine(benchmark::State& state) {
  OpenOrder order(int(state.range(0)));
  if (!order.list) {
    state.SkipWithError("the item list did not open");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    order.scan(i++ % 2 ? "400000000002" : "400000000041");
    order.next();
  }
  state.counters["lines"] = double(order.list->orderListArray().size());
}

void BM_AddAndRemoveALine(benchmark::State& state) {
  OpenOrder order(int(state.range(0)));
  if (!order.list) {
    state.SkipWithError("the item list did not open");
    return;
  }
  for (auto _ : state) {
    order.scan("400000000003");
    order.remove();
  }
  state.counters["lines"] = double(order.list->orderListArray().size());
}

// The cost of a change at 5,000 lines against the cost at 10, for each kind of change.
void printRatios(bench::SamplesBySize& times) {
  for (auto& [kind, bySize] : times) {
    const double at10 = bench::median(bySize[10]), at5000 = bench::median(bySize[5000]);
    std::printf("%s: per change %.2f ms at 10 lines, %.2f ms at 100, %.2f ms at 1,000, %.2f ms at 5,000; "
                "ratio 5,000/10 = %.2fx (goal: at most 2x, under 20 ms)\n",
                kind.c_str(), at10, bench::median(bySize[100]), bench::median(bySize[1000]), at5000,
                at10 > 0 ? at5000 / at10 : 0.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  for (int round = 0; round < kRounds; ++round)
    for (int n : kSizes) {
      benchmark::RegisterBenchmark("scan", BM_ScanRaisesALine)
          ->Arg(n)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark("addRemove", BM_AddAndRemoveALine)
          ->Arg(n)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
  bench::SamplesBySize times;
  return bench::runBenchmarks(argc, argv, bench::timeBySize(times), [&] { printRatios(times); });
}
