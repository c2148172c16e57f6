// What the batch tool writes to standard error for each kind of message, plain and coloured.
#include "cli/StderrLogSink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace ombrel {
namespace {

// Runs `write` with a StreamLogSink on a memory stream and returns what it wrote.
template <class Write> std::string written(bool colour, Write write) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    {
        StreamLogSink sink(out, colour);
        ScopedLogSink scope(sink);
        write();
    }
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(StreamLogSink, LabelsPlainLinesAndWritesPlacesLikeACompiler) {
    const SourcePlace place{std::make_shared<const std::string>("town.xml"), 12, 5};
    const auto messages = [&] {
        infoLog << "Parsing town.xml ... ";
        warningLog.at(place).line("Unknown DrawBox closed value 'true' - ignored");
        warningLog.line("Last texture group used with no last texture");
        errorLog.at(place).line("broken");
        infoLog.line("Successfully loaded town.xml");
    };
    EXPECT_EQ(written(false, messages),
              "Parsing town.xml ... \n"
              "town.xml:12:5: warning: Unknown DrawBox closed value 'true' - ignored\n"
              "WARNING: Last texture group used with no last texture\n"
              "town.xml:12:5: error: broken\n"
              "Successfully loaded town.xml\n");
    EXPECT_EQ(
        written(true, messages),
        "Parsing town.xml ... \n"
        "\033[33mtown.xml:12:5: warning: Unknown DrawBox closed value 'true' - ignored\033[0m\n"
        "\033[33mWARNING: Last texture group used with no last texture\033[0m\n"
        "\033[31mtown.xml:12:5: error: broken\033[0m\n"
        "Successfully loaded town.xml\n");
}

} // namespace
} // namespace ombrel
