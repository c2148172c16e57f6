#include "grammar/Random.h"

#include <benchmark/benchmark.h>

static void BM_RandomUnit(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(ombrel::randomUnit());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RandomUnit);
