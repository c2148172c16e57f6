// Saving the 100 x 100 example city in each format and collapse mode, every face triangulated,
// to a file in a scratch folder (the files replace the last run's, as an export replaces a
// file): the triangulated VRML against glTF (.glb, .gltf) and OBJ, taken in the same run, and
// glTF and OBJ with the buildings merged by block.
// Counters: cells per second and the bytes written (every file of the export).

#include "base/Log.h"
#include "base/Memory.h"
#include "config/CityFactory.h"
#include "export/CityExport.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace {

// As the programs do when they start.
[[maybe_unused]] const bool kFreedMemoryKept = (ombrel::keepFreedMemory(), true);

using namespace ombrel;
namespace fs = std::filesystem;

class NullSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

struct Generated {
    std::unique_ptr<CityFactory::CityDrawable> city;
    CityRecord record;
};

const Generated& generated() {
    static Generated g = [] {
        fs::current_path(OMBREL_SOURCE_DIR);
        NullSink sink;
        ScopedLogSink scope(sink);
        CityFactory factory;
        factory.load("examples/metropolis/metropolis.xml");
        CityFactory::Generated city = factory.generate();
        Generated out;
        out.city = std::move(city.city);
        out.record = {factory.fileName, city.seed, city.minCorner, city.maxCorner, {}};
        return out;
    }();
    return g;
}

void BM_Save(benchmark::State& state) {
    const Generated& g = generated();
    NullSink sink;
    ScopedLogSink scope(sink);
    ExportOptions options;
    options.format = static_cast<ExportFormat>(state.range(0));
    options.collapseMode = static_cast<CollapseMode>(state.range(1));
    options.merge = state.range(2) ? MergeMode::blocks : MergeMode::none;
    const fs::path dir = fs::temp_directory_path() / ("ombrel_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / (std::string("city.") + formatExtension(options.format));
    for (auto _ : state)
        benchmark::DoNotOptimize(saveCity(*g.city, out.string(), g.record, options));
    std::uintmax_t bytes = 0;
    for (const auto& e : fs::directory_iterator(dir))
        bytes += e.file_size();
    fs::remove_all(dir);
    state.counters["cells/s"] =
        benchmark::Counter(1e4 * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetLabel(std::string(formatExtension(options.format)) +
                   (options.collapseMode == CollapseMode::normal     ? " normal"
                    : options.collapseMode == CollapseMode::building ? " building"
                                                                     : " model") +
                   (options.merge == MergeMode::blocks ? " merged" : ""));
}
// Arguments: format (0 wrl, 1 glb, 2 gltf, 3 obj), collapse mode (0 normal, 1 building, 2 model),
// buildings merged by block (1) or not (0; the VRML and the collapsed model never merge).
BENCHMARK(BM_Save)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}, {0}})
    ->ArgsProduct({{1, 2, 3}, {0, 1}, {1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
