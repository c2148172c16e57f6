// Feeds arbitrary bytes to the construction-file loader and generates a city of at most 16 x 16
// cells from whatever loads (bigger grids are clamped here, so every loadable input generates).
// Seed it with the bundled cities and the test files: see fuzz/run.sh.
// Texture paths resolve against the repository root, where the target runs from.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "grammar/GenerationContext.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace ombrel;

class NullSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

// The input is written into a scratch folder laid out like the repository's, so that the
// relative image paths of the seed files resolve: "../textures/..." from the bundled cities and
// the test images from the construction-file tests.
struct Harness {
    NullSink sink;
    ScopedLogSink scope{sink};
    CityFactory factory;
    std::filesystem::path folder;
    std::string file;

    Harness() {
        namespace fs = std::filesystem;
        const fs::path source = OMBREL_SOURCE_DIR;
        fs::current_path(source);
        folder = fs::temp_directory_path() / ("ombrel-fuzz-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder / "city");
        fs::create_directory_symlink(source / "examples" / "textures", folder / "textures");
        for (const fs::directory_entry& entry :
             fs::directory_iterator(source / "tests" / "config" / "data")) {
            if (entry.path().extension() != ".xml")
                fs::create_symlink(entry.path(), folder / "city" / entry.path().filename());
        }
        file = (folder / "city" / "input.xml").string();
    }
    ~Harness() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

constexpr std::uint32_t kMaxCells = 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    // Every input starts from a fresh generation context (the stack a Push left, the last
    // texture, the building colours), so a crash file replays alone exactly as it ran in the
    // session.
    static GenerationContext* context = nullptr;
    GenerationContext* fresh = new GenerationContext;
    setCurrentGenerationContext(fresh);
    delete context;
    context = fresh;
    {
        std::ofstream out(harness.file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CityFactory& factory = harness.factory;
    if (factory.load(harness.file)) {
        factory.numCellsX = std::min(factory.numCellsX, kMaxCells);
        factory.numCellsY = std::min(factory.numCellsY, kMaxCells);
        factory.generate();
    }
    return 0;
}
