// Generation speed and memory of square cities with a grammar of about ten elements per
// building: a Choose between two options, a Call with repeat, boxes, floors and a pyramid. And
// the time of a city whose every cell picks from many building definitions, which must not grow
// with their number.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>

namespace ombrel {
namespace {

std::unique_ptr<CityFactory> benchCity(std::uint32_t cells) {
    auto f = std::make_unique<CityFactory>();
    f->numCellsX = cells;
    f->numCellsY = cells;
    f->streetEveryX = 7;
    f->streetEveryY = 7;
    f->firstStreetCrossX = 3;
    f->firstStreetCrossY = 3;
    f->cellSizeX = 20;
    f->cellSizeY = 20;
    f->streetSizeX = 8;
    f->streetSizeY = 8;

    auto walls = std::make_shared<TextureGroup>();
    walls->textures.add(1, std::make_shared<Texture>("a.png", 2, 1, true, true));
    walls->textures.add(1, std::make_shared<Texture>("b.png", 1, 1, false, false));

    auto storey = std::make_shared<BBlockFactory>();
    storey->add(std::make_unique<DrawBoxFactory>(false, walls, FloatRange(3, 4), ClosedMode::no));
    storey->add(std::make_unique<DrawFloorFactory>(false, f->lastTextureGroup));

    auto building = std::make_unique<CityBuildingFactory>("b%X_%Y");
    building->add(std::make_unique<ScaleToFactory>(ScaleWhere::center, FloatRange(0.7f, 0.9f),
                                                   FloatRange(0.7f, 0.9f), ScaleType::relative));
    building->add(std::make_unique<PushFactory>(1));
    building->add(std::make_unique<DrawBoxFactory>(false, walls, FloatRange(4), ClosedMode::no));
    building->add(std::make_unique<CallFactory>(storey, UintRange(1, 4)));
    auto choose = std::make_unique<ChooseFactory>();
    auto roof = std::make_unique<CityCellFactory>();
    roof->add(std::make_unique<DrawPyramidFactory>(false, nullptr, FloatRange(2, 5)));
    choose->addOption(1, std::move(roof));
    auto flat = std::make_unique<CityCellFactory>();
    flat->add(std::make_unique<DrawFloorFactory>());
    choose->addOption(1, std::move(flat));
    building->add(std::move(choose));
    building->add(std::make_unique<PopFactory>(true, false, false));
    building->add(std::make_unique<DrawFloorFactory>(true, nullptr, true));
    f->buildings.add(1, std::move(building));

    WeightedList<std::unique_ptr<CityStreetFactory>>* lists[] = {
        &f->crossStreets, &f->horizontalStreets, &f->verticalStreets};
    for (auto* list : lists) {
        auto street = std::make_unique<CityStreetFactory>();
        street->add(std::make_unique<DrawFloorFactory>());
        list->add(1, std::move(street));
    }
    return f;
}

void BM_Generate(benchmark::State& state) {
    NullLogSink sink;
    ScopedLogSink scoped(sink);
    const auto cells = static_cast<std::uint32_t>(state.range(0));
    std::unique_ptr<CityFactory> f = benchCity(cells);
    generationContext().randomState = 0x1234;
    // Memory held by one city, measured once outside the timed runs (mallinfo2 is slow).
    double bytes = 0;
    {
        // The heap's chunks plus what the drawable arena cut from its own blocks.
        const auto inUse = [] {
            const struct mallinfo2 m = mallinfo2();
            return static_cast<double>(m.uordblks) + static_cast<double>(m.hblkhd) +
                   static_cast<double>(generationContext().drawableArena.bytesCut());
        };
        const double before = inUse();
        CityFactory::Generated g = f->generate();
        bytes = inUse() - before;
    }
    for (auto _ : state) {
        CityFactory::Generated g = f->generate();
        benchmark::DoNotOptimize(g.city.get());
        state.PauseTiming();
        // Freeing the city, and the allocator's tidying after it, is not generation.
        g.city.reset();
        malloc_trim(0);
        state.ResumeTiming();
    }
    const double perRun = static_cast<double>(cells) * cells;
    state.counters["cells/s"] = benchmark::Counter(perRun * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
    state.counters["bytes/cell"] = bytes / perRun;
    // Later benchmarks start from a context of their own.
    static GenerationContext fresh;
    fresh = GenerationContext{};
    setCurrentGenerationContext(&fresh);
}

// 256 x 256 building lots, no streets, picking among `definitions` one-box buildings of weights
// 1, 2 and 3 in turn.
void BM_GenerateFromManyDefinitions(benchmark::State& state) {
    NullLogSink sink;
    ScopedLogSink scoped(sink);
    const auto definitions = state.range(0);
    CityFactory f;
    f.numCellsX = 256;
    f.numCellsY = 256;
    f.cellSizeX = 20;
    f.cellSizeY = 20;
    f.streetSizeX = 20;
    f.streetSizeY = 20;
    for (std::int64_t i = 0; i < definitions; ++i) {
        auto building = std::make_unique<CityBuildingFactory>("b%X_%Y");
        building->add(
            std::make_unique<DrawBoxFactory>(false, nullptr, FloatRange(4, 12), ClosedMode::no));
        f.buildings.add(static_cast<float>(1 + i % 3), std::move(building));
    }
    generationContext().randomState = 0x1234;
    for (auto _ : state) {
        CityFactory::Generated g = f.generate();
        benchmark::DoNotOptimize(g.city.get());
        state.PauseTiming();
        g.city.reset();
        state.ResumeTiming();
    }
    state.counters["cells/s"] =
        benchmark::Counter(256.0 * 256.0 * double(state.iterations()), benchmark::Counter::kIsRate);
    static GenerationContext fresh;
    fresh = GenerationContext{};
    setCurrentGenerationContext(&fresh);
}

BENCHMARK(BM_Generate)->Arg(64)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenerateFromManyDefinitions)
    ->Arg(1)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ombrel
