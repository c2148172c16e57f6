// Feeds arbitrary bytes to the construction-file loader (and, when they load and describe a small
// city, to the generator). Seed it with the bundled cities and the test files:
//   build-fuzz/bin/fuzz_config_load -max_len=20000 corpus examples/*/*.xml tests/config/data
// Texture paths resolve against the repository root, where the fuzzer runs from.

#include "config/Attributes.h"
#include "config/CityFactory.h"
#include "grammar/Log.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

using namespace ombrel;

class NullSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

struct Harness {
    NullSink sink;
    ScopedLogSink scope{sink};
    CityFactory factory;
    std::string file;

    Harness() {
        std::filesystem::current_path(OMBREL_SOURCE_DIR);
        file = (std::filesystem::temp_directory_path() /
                ("ombrel-fuzz-" + std::to_string(getpid()) + ".xml"))
                   .string();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The readers see the raw text too.
    readFloatRange(text);
    readUintRange(text);

    {
        std::ofstream out(harness.file, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    CityFactory& factory = harness.factory;
    if (factory.load(harness.file) &&
        std::uint64_t(factory.numCellsX) * factory.numCellsY <= 1024) {
        factory.generate();
    }
    return 0;
}
