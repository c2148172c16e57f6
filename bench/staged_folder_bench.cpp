// Committing a folder written whole, as a tileset is: N files of 20 kB in folders of 64, synced
// and swapped over the previous folder of the same size, whose tree is then removed. Against
// syncing every file and folder on its own (what a walk of fsync calls costs), which is what
// the single syncfs of StagedFolder::commit replaces.
//
// Run in a folder on the disk the exports go to: it writes ./bench_staged_folder.tmp there.
#include "vrml/StagedFolder.h"
#include "vrml/TilesetFolder.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const fs::path kFolder = fs::current_path() / "bench_staged_folder.tmp";

void writeFiles(const fs::path& root, int files) {
    std::ofstream(root / "tileset.json") << R"({"asset":{"version":"1.1","generator":"Ombrel"}})";
    const std::string blob(20000, 'x');
    for (int i = 0; i < files; ++i) {
        const fs::path folder = root / "tiles" / "12" / std::to_string(i / 64);
        if (i % 64 == 0)
            fs::create_directories(folder);
        std::ofstream(folder / (std::to_string(i % 64) + ".glb"), std::ios::binary) << blob;
    }
}

void syncEach(const fs::path& root) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        ::fsync(fd);
        ::close(fd);
    }
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(fd);
    ::close(fd);
}

// StagedFolder::commit into a new folder (second argument 0) or over a previous folder of the
// same size (1), whose tree the commit removes.
void BM_Commit(benchmark::State& state) {
    const int files = int(state.range(0));
    const bool previous = state.range(1) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(kFolder);
        if (previous) {
            StagedFolder old(kFolder.string(), tilesetFolder());
            writeFiles(old.path(), files);
            old.commit();
        }
        StagedFolder folder(kFolder.string(), tilesetFolder());
        writeFiles(folder.path(), files);
        state.ResumeTiming();
        if (!folder.commit())
            state.SkipWithError(folder.reason().c_str());
    }
    fs::remove_all(kFolder);
    state.counters["files"] = files;
}
BENCHMARK(BM_Commit)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// The same files synced one by one, without a swap.
void BM_SyncEachFile(benchmark::State& state) {
    const int files = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(kFolder);
        fs::create_directories(kFolder);
        writeFiles(kFolder, files);
        state.ResumeTiming();
        syncEach(kFolder);
    }
    fs::remove_all(kFolder);
    state.counters["files"] = files;
}
BENCHMARK(BM_SyncEachFile)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

} // namespace
} // namespace ombrel
