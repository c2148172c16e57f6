// The road network of a city against its mesh: building the network of a grid alone, and
// saving the same generated city as OpenDRIVE and as glTF (.glb for the 100 x 100 example; the
// 1024 x 1024 downtown's .glb would pass 2 GiB, so .gltf there), to a file in a scratch folder.
// Counters: junctions and the bytes written (every file of the export).

#include "base/Log.h"
#include "base/Memory.h"
#include "config/CityFactory.h"
#include "export/CityExport.h"
#include "export/StreetNetwork.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
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

const char* const kFiles[] = {"examples/metropolis/metropolis.xml",
                              "examples/downtown/downtown-1024.xml"};

struct Generated {
    std::unique_ptr<CityFactory::CityDrawable> city;
    CityRecord record;
};

// One generated city per file, kept for the whole run.
const Generated& generated(int file) {
    static std::map<int, Generated> cities;
    auto it = cities.find(file);
    if (it != cities.end())
        return it->second;
    fs::current_path(OMBREL_SOURCE_DIR);
    NullSink sink;
    ScopedLogSink scope(sink);
    CityFactory factory;
    factory.load(kFiles[file]);
    CityFactory::Generated city = factory.generate();
    Generated out;
    out.city = std::move(city.city);
    out.record = {factory.fileName, city.seed, city.minCorner, city.maxCorner, city.streets};
    return cities.emplace(file, std::move(out)).first->second;
}

void BM_Network(benchmark::State& state) {
    const Generated& g = generated(int(state.range(0)));
    std::size_t connecting = 0;
    std::size_t junctions = 0;
    for (auto _ : state) {
        const StreetNetwork net = StreetNetwork::build(*g.record.streets);
        for (const NetworkJunction& j : net.junctions)
            connecting += net.connectingRoads(j).size();
        junctions = net.junctions.size();
        benchmark::DoNotOptimize(connecting);
    }
    state.counters["junctions"] = double(junctions);
    state.SetLabel(fs::path(kFiles[state.range(0)]).stem().string());
}
// Argument: the file (0 the 100 x 100 metropolis, 1 the 1024 x 1024 downtown).
BENCHMARK(BM_Network)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Save(benchmark::State& state) {
    const Generated& g = generated(int(state.range(0)));
    NullSink sink;
    ScopedLogSink scope(sink);
    ExportOptions options;
    options.format = static_cast<ExportFormat>(state.range(1));
    const fs::path dir = fs::temp_directory_path() / ("ombrel_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path out = dir / (std::string("city.") + formatExtension(options.format));
    for (auto _ : state)
        benchmark::DoNotOptimize(saveCity(*g.city, out.string(), g.record, options));
    std::uintmax_t bytes = 0;
    for (const auto& e : fs::directory_iterator(dir))
        bytes += e.file_size();
    fs::remove_all(dir);
    state.counters["MB"] = double(bytes) / 1e6;
    state.SetLabel(fs::path(kFiles[state.range(0)]).stem().string() + " " +
                   formatExtension(options.format));
}
// Arguments: the file, the format (1 glb, 2 gltf, 4 xodr).
BENCHMARK(BM_Save)
    ->Args({0, 1})
    ->Args({0, 4})
    ->Args({1, 2})
    ->Args({1, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

} // namespace
