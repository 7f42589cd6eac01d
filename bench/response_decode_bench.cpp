// Reply decoding cost: a fully populated ~4 KB verdict decoded into Response, against
// nlohmann::json::parse alone on the same bytes. Goal: decoding costs at most twice the parse.
// Run with --benchmark_repetitions left at the default below; compare the two "_median" rows.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "api/models/FullVerdictReply.h"
#include "morvik/api/models/JSONCoding.h"
#include "morvik/api/models/Response.h"

namespace {

const std::string& replyBytes() {
  static const std::string bytes(morvik::samples::kFullVerdictReply);
  return bytes;
}

void BM_DecodeVerdictReply(benchmark::State& state) {
  const std::string& bytes = replyBytes();
  for (auto _ : state) {
    morvik::Response reply = morvik::decodeJSON<morvik::Response>(bytes);
    benchmark::DoNotOptimize(reply);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_ParseOnly(benchmark::State& state) {
  const std::string& bytes = replyBytes();
  for (auto _ : state) {
    nlohmann::json tree = nlohmann::json::parse(bytes);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_EncodeVerdict(benchmark::State& state) {
  const morvik::Response reply = morvik::decodeJSON<morvik::Response>(replyBytes());
  for (auto _ : state) {
    std::string text = morvik::encodeJSON(reply);
    benchmark::DoNotOptimize(text);
  }
}

BENCHMARK(BM_DecodeVerdictReply)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseOnly)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeVerdict)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
