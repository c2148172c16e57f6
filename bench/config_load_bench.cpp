// Loading construction files: the bundled cities (parse, validation, texture decoding and
// grammar building), the refusal of hostile files, which must stay well under a second, and
// generated files of many sibling elements (Buildings, Procedures, Calls in one Building), whose
// load time must grow in step with the number of elements.

#include "base/Log.h"
#include "config/Attributes.h"
#include "config/CityFactory.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

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

// What a generated file holds, N times over.
enum class Siblings { buildings, procedures, calls };

// Writes a construction file of `count` sibling elements of one kind into a scratch folder and
// removes it again when the benchmark is done with it.
class GeneratedFile {
public:
    GeneratedFile(Siblings kind, std::int64_t count)
        : folder_(std::filesystem::temp_directory_path() /
                  ("ombrel_bench_config_" + std::to_string(::getpid()))),
          path_((folder_ / ("siblings-" + std::to_string(count) + ".xml")).string()) {
        std::filesystem::create_directories(folder_);
        std::ofstream out(path_, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<Ombrel numCellsX=\"8\" numCellsY=\"8\" cellSizeX=\"10\" cellSizeY=\"10\" "
               "randomSeed=\"1\">\n";
        switch (kind) {
        case Siblings::buildings:
            // About 200 bytes each: 200,000 of them make a file of 40 MB.
            for (std::int64_t i = 0; i < count; ++i) {
                out << "  <Building probability=\"1\" vrmlTag=\"B" << i << "_%X_%Y\">\n"
                    << "    <ScaleTo scalex=\"[0.6,0.9]\" scaley=\"[0.6,0.9]\"/>\n"
                    << "    <DrawBox height=\"[5,20]\" closed=\"onlyBottom\"/>\n"
                    << "    <DrawPyramid height=\"[1,3]\"/>\n"
                    << "  </Building>\n";
            }
            break;
        case Siblings::procedures:
            // Each calls the one before it, so every Call is looked up among all the names.
            out << "  <Procedure name=\"p0\"><GoUp height=\"1\"/></Procedure>\n";
            for (std::int64_t i = 1; i < count; ++i) {
                out << "  <Procedure name=\"p" << i << "\"><Call name=\"p" << i - 1
                    << "\"/><GoUp height=\"1\"/></Procedure>\n";
            }
            out << "  <Building><Call name=\"p" << count - 1 << "\"/></Building>\n";
            break;
        case Siblings::calls:
            out << "  <Procedure name=\"storey\"><GoUp height=\"1\"/></Procedure>\n"
                   "  <Building>\n";
            for (std::int64_t i = 0; i < count; ++i) {
                out << "    <Call name=\"storey\"/>\n";
            }
            out << "  </Building>\n";
            break;
        }
        out << "</Ombrel>\n";
    }
    ~GeneratedFile() {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::filesystem::path folder_;
    std::string path_;
};

void loadGenerated(benchmark::State& state, Siblings kind) {
    const GeneratedFile file(kind, state.range(0));
    loadFile(state, file.path(), true);
    state.counters["elements/s"] = benchmark::Counter(
        double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LoadBuildings(benchmark::State& s) {
    loadGenerated(s, Siblings::buildings);
}
void BM_LoadProcedures(benchmark::State& s) {
    loadGenerated(s, Siblings::procedures);
}
void BM_LoadCallsInOneBuilding(benchmark::State& s) {
    loadGenerated(s, Siblings::calls);
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
BENCHMARK(BM_LoadBuildings)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadProcedures)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadCallsInOneBuilding)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFloatRange);

} // namespace
