// Loading construction files: the bundled cities (parse, validation, texture decoding and
// grammar building) and the refusal of hostile files, which must stay well under a second.

#include "base/Log.h"
#include "config/Attributes.h"
#include "config/CityFactory.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

using namespace ombrel;

void loadFile(benchmark::State& state, const std::string& relative, bool expected) {
    std::filesystem::current_path(OMBREL_SOURCE_DIR);
    NullLogSink sink;
    ScopedLogSink scope(sink);
    CityFactory factory;
    for (auto _ : state) {
        const bool ok = factory.load(relative);
        if (ok != expected) {
            state.SkipWithError("unexpected load result");
            break;
        }
    }
}

void BM_LoadTown(benchmark::State& s) {
    loadFile(s, "examples/town/town.xml", true);
}
void BM_LoadDowntown(benchmark::State& s) {
    loadFile(s, "examples/downtown/downtown.xml", true);
}
void BM_LoadMetropolis(benchmark::State& s) {
    loadFile(s, "examples/metropolis/metropolis.xml", true);
}
void BM_RefuseEntityBomb(benchmark::State& s) {
    loadFile(s, "tests/bad-inputs/files/entity-bomb.xml", false);
}
void BM_RefuseDeepNesting(benchmark::State& s) {
    loadFile(s, "tests/bad-inputs/files/deep-300.xml", false);
}
void BM_RefuseHugeGrid(benchmark::State& s) {
    loadFile(s, "tests/bad-inputs/files/huge-grid.xml", false);
}

void BM_ReadFloatRange(benchmark::State& state) {
    NullLogSink sink;
    ScopedLogSink scope(sink);
    for (auto _ : state) {
        benchmark::DoNotOptimize(readFloatRange("[12.5, 3.75e1]"));
    }
}

BENCHMARK(BM_LoadTown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadDowntown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadMetropolis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefuseEntityBomb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefuseDeepNesting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefuseHugeGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFloatRange);

} // namespace
