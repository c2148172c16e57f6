// What a watcher does after an edit (CitySession::regenerate: reload, then generate from the
// file's seed), the part of "save in the editor, see the city change" that is not the 300 ms of
// quiet the watchers wait. The window adds handing the city to the preview and one frame.

#include "base/Log.h"
#include "config/CitySession.h"
#include "config/TextureImage.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

using namespace ombrel;

// Logging is not what is measured.
class NullSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

void regenerate(benchmark::State& state, const std::string& relative) {
    std::filesystem::current_path(OMBREL_SOURCE_DIR);
    NullSink sink;
    ScopedLogSink scope(sink);
    CitySession session;
    for (auto _ : state) {
        if (session.regenerate(relative, kDefaultLargestTexture) !=
            CitySession::LoadResult::loaded) {
            state.SkipWithError("the file did not load");
            break;
        }
    }
}

void BM_RegenerateTown(benchmark::State& s) {
    regenerate(s, "examples/town/town.xml");
}
void BM_RegenerateDowntown(benchmark::State& s) {
    regenerate(s, "examples/downtown/downtown.xml");
}
void BM_RegenerateMetropolis(benchmark::State& s) {
    regenerate(s, "examples/metropolis/metropolis.xml");
}

} // namespace

BENCHMARK(BM_RegenerateTown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegenerateDowntown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegenerateMetropolis)->Unit(benchmark::kMillisecond);
