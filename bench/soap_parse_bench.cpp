// Reading a large server answer: a style list of about 8,000 records (2 MB of JSON text in
// the result element, escaped as the back office escapes it), taken out of the envelope by
// the application delegate's `parseXmlData` and read by `JsonClass::getJSONobj`, next to
// pugixml with nlohmann-json on the same bytes. Compare on a busy machine with
//   --benchmark_repetitions=20 --benchmark_enable_random_interleaving=true
// and the CPU-time medians.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/SoapAnswer.h"
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

// The two halves on their own: taking the result text out of the envelope, and reading it.
void BM_AppXmlHalf(benchmark::State& state) {
  const std::string& answer = styleListAnswer();
  for (auto _ : state) {
    auto text = orvo::soapResultText(answer, "GetStylesInfo");
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_AppXmlHalf)->Unit(benchmark::kMillisecond);

void BM_PugixmlXmlHalf(benchmark::State& state) {
  const std::string& answer = styleListAnswer();
  for (auto _ : state) {
    pugi::xml_document doc;
    doc.load_buffer(answer.data(), answer.size());
    std::string text = doc.child("soap:Envelope")
                           .child("soap:Body")
                           .child("GetStylesInfoResponse")
                           .child("GetStylesInfoResult")
                           .child_value();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_PugixmlXmlHalf)->Unit(benchmark::kMillisecond);

void BM_JsonHalf(benchmark::State& state) {
  const std::string text = *orvo::soapResultText(styleListAnswer(), "GetStylesInfo");
  for (auto _ : state) {
    auto json = orvo::JsonClass::readJSON(text);
    benchmark::DoNotOptimize(json);
  }
}
BENCHMARK(BM_JsonHalf)->Unit(benchmark::kMillisecond);

void BM_NlohmannJsonHalf(benchmark::State& state) {
  const std::string text = *orvo::soapResultText(styleListAnswer(), "GetStylesInfo");
  for (auto _ : state) {
    auto json = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(json);
  }
}
BENCHMARK(BM_NlohmannJsonHalf)->Unit(benchmark::kMillisecond);

// An answer nested a million levels deep inside the result element (7 MB): read and freed
// in well under a second.
void BM_DeeplyNestedAnswer(benchmark::State& state) {
  constexpr int kDepth = 1'000'000;
  std::string nested;
  nested.reserve(kDepth * 7 + 1);
  for (int i = 0; i < kDepth; ++i) nested += "<a>";
  nested += "x";
  for (int i = 0; i < kDepth; ++i) nested += "</a>";
  const std::string answer = backoffice::answerEnvelope("GetStylesInfo", "");
  const size_t at = answer.find("</GetStylesInfoResult>");
  const std::string deep = answer.substr(0, at) + nested + answer.substr(at);
  auto app = std::make_shared<orvo::OrvoMobileAppDelegate>();
  for (auto _ : state) {
    auto text = app->parseXmlData(deep, "GetStylesInfo");
    benchmark::DoNotOptimize(text);
  }
  state.counters["answer_bytes"] = double(deep.size());
}
BENCHMARK(BM_DeeplyNestedAnswer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
