// Reading a large server answer: a style list of about 8,000 records (2 MB of JSON text in
// the result element, escaped as the back office escapes it), taken out of the envelope by
// the application delegate's `parseXmlData` and read by `JsonClass::getJSONobj`, next to
// pugixml with nlohmann-json on the same bytes.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "testing/backoffice/SoapCodec.h"

namespace {

const std::string& styleListAnswer() {
  static const std::string answer = [] {
    nlohmann::json rows = nlohmann::json::array();
    const char* colors[] = {"BLK", "WHT", "NVY", "RED", "GRY", "KHK"};
    for (int i = 0; rows.dump().size() < 2'000'000; i += 50) {
      for (int k = 0; k < 50; ++k) {
        int n = i + k;
        rows.push_back({{"Kind", n % 7 == 0 ? "UPC" : "Style"},
                        {"Code", std::to_string(400000000000LL + n)},
                        {"Style", "ST" + std::to_string(1000 + n / 6)},
                        {"Color", colors[n % 6]},
                        {"Descript", "Knit top & skirt <set> no. " + std::to_string(n)},
                        {"SizeCode", "S4"},
                        {"Price", std::to_string(10 + n % 90) + ".50"},
                        {"Ats", std::to_string(n % 40)},
                        {"Ots", std::to_string(n % 55)},
                        {"Eta", "2026/09/01"},
                        {"AvailDate", "2026/08/15"},
                        {"Season", "FA26"},
                        {"Msrp", std::to_string(25 + n % 90) + ".00"},
                        {"Error", nullptr}});
      }
    }
    return backoffice::answerEnvelope("GetStylesInfo", rows.dump());
  }();
  return answer;
}

void BM_AppAnswerReading(benchmark::State& state) {
  const std::string& answer = styleListAnswer();
  auto app = std::make_shared<orvo::OrvoMobileAppDelegate>();
  size_t records = 0;
  for (auto _ : state) {
    auto json = orvo::JsonClass::getJSONobj(app->parseXmlData(answer, "GetStylesInfo"));
    records = json ? json->size() : 0;
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(answer.size()));
  state.counters["records"] = double(records);
  state.counters["answer_bytes"] = double(answer.size());
}
BENCHMARK(BM_AppAnswerReading)->Unit(benchmark::kMillisecond);

void BM_PugixmlNlohmann(benchmark::State& state) {
  const std::string& answer = styleListAnswer();
  for (auto _ : state) {
    pugi::xml_document doc;
    doc.load_buffer(answer.data(), answer.size());
    const char* text = doc.child("soap:Envelope")
                           .child("soap:Body")
                           .child("GetStylesInfoResponse")
                           .child("GetStylesInfoResult")
                           .child_value();
    auto json = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(json);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(answer.size()));
}
BENCHMARK(BM_PugixmlNlohmann)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
