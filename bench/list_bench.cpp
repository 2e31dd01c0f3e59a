// Filling a list from an answer of N rows, through the screen's own answer method and its
// table (sections, counts and the cells in view): the style search by hand (rows of N/2
// styles, the rows of one style apart from each other), the customer search (names
// beginning with many letters), the stores of a customer and the pick tickets. Each list
// is filled at 100, 1,000 and 5,000 rows, interleaved; at the end the program prints the
// cost per row at 5,000 rows against the cost per row at 100 (linear: about 1x), by the
// main thread's CPU time (its figure: a loaded machine changes it far less than the clock),
// with the clock's figure beside it.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/core/ScreenRequest.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"
#include "app/orders/StyleInfoTableViewController.h"
#include "app/picking/PickTicketViewController.h"
#include "app/picking/PickingScreens.h"
#include "bench/BenchSupport.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace {

using nlohmann::json;
using orvo::test_support::OrderRoadHarness;

constexpr int kSizes[] = {100, 1000, 5000};
constexpr int kRounds = 9;

json styleRows(int n) {
  json rows = json::array();
  for (int i = 0; i < n; ++i)
    rows.push_back({{"Response", "True"}, {"Code", "4" + std::to_string(100000000000 + i)},
                    {"Style", "ST" + std::to_string(i % std::max(1, n / 2))}, {"Color", "BLK"},
                    {"Price", "12.50"}, {"OrgPrice", "14.00"}, {"SizeCode", "M"}, {"Eta", "03/01/26"},
                    {"Ats", "12"}, {"Kind", i % 3 ? "bundle" : "UPC"}, {"Bundle", "B6"}, {"AtsStatus", "True"}});
  return rows;
}

json customerRows(int n) {
  static const char* kFirst[] = {"Acme", "bolt", "Crown", "delta", "Eagle", "Fern", "Gale", "harbor", "Iris",
                                 "Jade", "Kite", "lumen", "Maple", "North", "Opal", "Pine", "",   "Quill"};
  json rows = json::array();
  for (int i = 0; i < n; ++i)
    rows.push_back({{"Response", "True"}, {"Code", "C" + std::to_string(i)},
                    {"Name", std::string(kFirst[i % 18]) + (kFirst[i % 18][0] ? " Store " : "") + std::to_string(i)},
                    {"Contact1", "Pat"}, {"Phone1", "555-0100"}, {"Address1", "1 Main St"}, {"Priority", "A"},
                    {"Memo", ""}, {"Status", "ACTIVE"}, {"OrderDiscountRate", "0.00"}});
  return rows;
}

json storeRows(int n) {
  json rows = json::array();
  for (int i = 0; i < n; ++i)
    rows.push_back({{"Response", "True"}, {"StoreCode", "S" + std::to_string(i)},
                    {"StoreName", "Store " + std::to_string(i)}, {"Phone1", "555-0101"}, {"Address1", "2 Main St"}});
  return rows;
}

json pickRows(int n) {
  json rows = json::array();
  for (int i = 0; i < n; ++i)
    rows.push_back({{"PickTicketNo", std::to_string(70000 + i)}, {"CustomerCode", "C1"}, {"StoreCode", "S1"},
                    {"TotalQty", "12"}, {"ShipDate", "03/01/26"}, {"IsChecked", "False"}});
  return rows;
}

orvo::RequestAnswer answerOf(json rows) {
  orvo::RequestAnswer a;
  a.text = rows.dump();
  a.object = std::move(rows);
  return a;
}

// One screen of the list on top of the application, its table in the window.
template <class Screen>
struct OpenList {
  explicit OpenList(const std::string& nib) {
    orvo::registerPickingScreens();
    t.launch();
    orvo::presentInNewNavigation(*t.app.root, orvo::makeScreen(nib), false);
    t.waitForRequests();
    t.app.dismissAlerts();
    t.settle();
    screen = t.top<Screen>();
  }
  OrderRoadHarness t;
  Screen* screen = nullptr;
};

// A screen that takes a new answer in place of the last (`refills`) is filled once before it
// is timed, so every size is timed in the same state: the first fill of a list also pays the
// kernel for memory the process has not touched yet, which the 100-row fills never need and
// which a few timed 5,000-row fills would count as the list's own cost.
template <class Screen>
void fillBench(benchmark::State& state, const std::string& nib, json (*rows)(int),
               const std::function<void(Screen&, const orvo::RequestAnswer&)>& fill, bool refills = true) {
  OpenList<Screen> list(nib);
  if (!list.screen) {
    state.SkipWithError("the screen did not open");
    return;
  }
  const orvo::RequestAnswer answer = answerOf(rows(int(state.range(0))));
  if (refills) {
    fill(*list.screen, answer);
    list.t.settle();
  }
  for (auto _ : state) {
    fill(*list.screen, answer);
    list.t.settle();
  }
  state.counters["rows"] = double(state.range(0));
}

void BM_StyleSearch(benchmark::State& state) {
  fillBench<orvo::StyleInfoTableViewController>(
      state, "StyleInfoTableViewController", styleRows,
      [](orvo::StyleInfoTableViewController& s, const orvo::RequestAnswer& a) { s.getStylesInfoResponseData(a); });
}

void BM_Customers(benchmark::State& state) {
  fillBench<orvo::CustomerViewController>(
      state, "CustomerView", customerRows,
      [](orvo::CustomerViewController& s, const orvo::RequestAnswer& a) { s.getCustomerResponseData(a); });
}

void BM_Stores(benchmark::State& state) {
  fillBench<orvo::StoreViewController>(state, "StoreView", storeRows,
                                       [](orvo::StoreViewController& s, const orvo::RequestAnswer& a) {
                                         s.storeListResponseData(a);
                                       },
                                       false);
}

void BM_PickTickets(benchmark::State& state) {
  fillBench<orvo::PickTicketViewController>(state, "PickTicketViewController", pickRows,
                                            [](orvo::PickTicketViewController& s, const orvo::RequestAnswer& a) {
                                              s.getPickListResponseData(a);
                                              s.pickTableView()->reloadData();
                                            },
                                            false);
}

// The cost per row at 5,000 rows against the cost per row at 100, for each list: by the main
// thread's CPU time (the figure), and by the wall clock, which a loaded machine moves more.
void printRatios(bench::SamplesBySize& wall, bench::SamplesBySize& cpu) {
  const auto perRow = [](std::map<int, std::vector<double>>& bySize) {
    const double at100 = bench::median(bySize[100]), at5000 = bench::median(bySize[5000]);
    return at100 > 0 ? (at5000 / 5000) / (at100 / 100) : 0.0;
  };
  for (auto& [kind, bySize] : cpu) {
    const double at100 = bench::median(bySize[100]), at1000 = bench::median(bySize[1000]),
                 at5000 = bench::median(bySize[5000]);
    std::printf("%s: %.3f ms of CPU for 100 rows, %.3f ms for 1,000, %.3f ms for 5,000; cost per row at "
                "5,000 against 100 = %.2fx by CPU time (linear: about 1x; %.2fx by the clock)\n",
                kind.c_str(), at100, at1000, at5000, perRow(bySize), perRow(wall[kind]));
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int round = 0; round < kRounds; ++round)
    for (int n : kSizes) {
      // The store and pick-ticket screens add an answer's rows to what they hold (an answer
      // comes once per screen), so they are filled once per screen.
      const int iterations = n >= 5000 ? 3 : n >= 1000 ? 10 : 30;
      for (auto [name, fn, once] : {std::tuple{"styleSearch", &BM_StyleSearch, false},
                                    std::tuple{"customers", &BM_Customers, false}, std::tuple{"stores", &BM_Stores, true},
                                    std::tuple{"pickTickets", &BM_PickTickets, true}})
        benchmark::RegisterBenchmark(name, fn)->Arg(n)->Iterations(once ? 1 : iterations)->UseRealTime()->Unit(
            benchmark::kMillisecond);
    }
  bench::SamplesBySize times, cpuTimes;
  const auto wall = bench::timeBySize(times);
  const auto keep = [&](const bench::Run& r) {
    wall(r);
    auto [kind, size] = bench::kindAndSize(r.benchmark_name());
    cpuTimes[kind][size].push_back(r.GetAdjustedCPUTime());
  };
  return bench::runBenchmarks(argc, argv, keep, [&] { printRatios(times, cpuTimes); });
}
