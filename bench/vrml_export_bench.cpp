// Exporting the 100 x 100 example city in each collapse mode to /dev/null: the whole scene
// graph built first and then written, against the city written piece by piece as it is built
// (what the export does). Counters: cells per second and, for the whole tree, the heap the
// tree takes (the streamed export holds one building, or the merged faces, at a time).

#include "base/Log.h"
#include "config/CityFactory.h"
#include "vrml/Export.h"
#include "vrml/Triangulate.h"
#include "vrml/VRWriter.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <malloc.h>

namespace {

using namespace ombrel;

const CityFactory::CityDrawable& city() {
    static std::unique_ptr<CityFactory::CityDrawable> generated = [] {
        std::filesystem::current_path(OMBREL_SOURCE_DIR);
        NullLogSink sink;
        ScopedLogSink scope(sink);
        CityFactory factory;
        factory.load("examples/metropolis/metropolis.xml");
        return factory.generate().city;
    }();
    return *generated;
}

// Bytes in use on the heap now.
std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// The baseline: the city's whole scene graph built at once (and, for the model mode, collapsed
// into one Shape), triangulated when asked, then written.
VRRef<VRNode> wholeTree(const CityFactory::CityDrawable& c, const ExportOptions& options) {
    VRRef<VRNode> scene =
        c.toVrmlScene(options.collapseMode == CollapseMode::building, options.saveRoads);
    if (options.collapseMode == CollapseMode::model)
        scene = collapseToShape(scene.get());
    if (options.triangulateEverything) {
        Triangulator triangulator;
        triangulateTree(scene.get(), triangulator);
    }
    return scene;
}

template <bool Streamed> void exportCity(benchmark::State& state) {
    const CityFactory::CityDrawable& c = city();
    NullLogSink sink;
    ScopedLogSink scope(sink);
    ExportOptions options;
    options.collapseMode = static_cast<CollapseMode>(state.range(0));
    std::FILE* out = std::fopen("/dev/null", "wb");
    const std::size_t before = heapInUse();
    std::size_t held = 0;
    for (auto _ : state) {
        if (Streamed) {
            benchmark::DoNotOptimize(writeCityVrml(c, options, out, "#\r\n"));
        } else {
            VRRef<VRNode> root = wholeTree(c, options);
            held = std::max(held, heapInUse() - before);
            benchmark::DoNotOptimize(writeVrml(root.get(), out, "#\r\n"));
        }
    }
    std::fclose(out);
    state.counters["cells/s"] =
        benchmark::Counter(1e4 * double(state.iterations()), benchmark::Counter::kIsRate);
    if (!Streamed)
        state.counters["tree_MB"] = double(held) / 1e6;
}

void BM_ExportWholeTree(benchmark::State& state) {
    exportCity<false>(state);
}
void BM_ExportStreamed(benchmark::State& state) {
    exportCity<true>(state);
}
BENCHMARK(BM_ExportWholeTree)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportStreamed)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace
