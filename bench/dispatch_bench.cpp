// Per-block costs of the dispatch layer: submission and hand-off between threads.
#include <benchmark/benchmark.h>
#include <morvik/platform/dispatch.h>

#include <atomic>

using namespace dispatch;

static void BM_SerialAsyncThroughput(benchmark::State& state) {
  DispatchQueue queue("bench.serial");
  const int blocks = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::atomic<int> ran{0};
    for (int i = 0; i < blocks; ++i) queue.async([&] { ran.fetch_add(1, std::memory_order_relaxed); });
    queue.sync([] {});
    benchmark::DoNotOptimize(ran.load());
  }
  state.SetItemsProcessed(state.iterations() * blocks);
}
BENCHMARK(BM_SerialAsyncThroughput)->Arg(1000);

static void BM_SyncRoundTrip(benchmark::State& state) {
  DispatchQueue queue("bench.sync");
  int value = 0;
  for (auto _ : state) queue.sync([&] { ++value; });
  benchmark::DoNotOptimize(value);
}
BENCHMARK(BM_SyncRoundTrip);

static void BM_ConcurrentReadersWithBarrierWriter(benchmark::State& state) {
  DispatchQueue queue("bench.concurrent", {.concurrent = true});
  bool flag = false;
  for (auto _ : state) {
    queue.async([&] { flag = !flag; }, DispatchWorkItemFlags::barrier);
    benchmark::DoNotOptimize(queue.sync([&] { return flag; }));
  }
}
BENCHMARK(BM_ConcurrentReadersWithBarrierWriter);

static void BM_MainQueueDrain(benchmark::State& state) {
  const int blocks = static_cast<int>(state.range(0));
  int ran = 0;
  for (auto _ : state) {
    for (int i = 0; i < blocks; ++i) DispatchQueue::main().async([&] { ++ran; });
    MainLoop::drain();
  }
  benchmark::DoNotOptimize(ran);
  state.SetItemsProcessed(state.iterations() * blocks);
}
BENCHMARK(BM_MainQueueDrain)->Arg(1000);

BENCHMARK_MAIN();
