// The progress line's timing and text, with a clock the test moves and a stream it reads.
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace ombrel {
namespace {

class ProgressText : public testing::Test {
protected:
    void SetUp() override { out_ = open_memstream(&buffer_, &size_); }
    void TearDown() override {
        std::fclose(out_);
        std::free(buffer_);
    }
    std::string written() {
        std::fflush(out_);
        return std::string(buffer_, size_);
    }
    ProgressLine::Clock clock() {
        return [this] { return now_; };
    }

    std::FILE* out_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::uint64_t now_ = 5000;
};

TEST_F(ProgressText, ShowsNothingBeforeTwoSecondsThenRedrawsInPlace) {
    ProgressLine line(out_, true, clock());
    line.step("Generating", 1, 4);
    now_ += 1999;
    line.step("Generating", 2, 4);
    EXPECT_EQ(written(), "");
    now_ += 1;
    line.step("Generating", 2, 4);
    line.step("Generating", 2, 4); // same text: not drawn again
    line.step("Generating", 4, 4);
    line.step("Exporting", 1, 3);
    EXPECT_EQ(written(), "\rGenerating 50%\rGenerating 100%\rExporting 33%  ");
    line.clear();
    line.clear();
    EXPECT_EQ(written(), "\rGenerating 50%\rGenerating 100%\rExporting 33%  "
                         "\r               \r");
    line.step("Exporting", 3, 3);
    EXPECT_EQ(written().substr(size_ - 15), "\rExporting 100%");
}

TEST_F(ProgressText, EdgeCounts) {
    struct Case {
        const char* name;
        std::uint64_t done, total;
        const char* text;
    };
    for (const Case& c :
         {Case{"NoSteps", 0, 0, "\rWriting 100%"}, Case{"PastTheEnd", 7, 5, "\rWriting 100%"},
          Case{"RoundsDown", 999, 1000, "\rWriting 99%"},
          Case{"Huge", ~0ull - 1, ~0ull, "\rWriting 99%"}}) {
        TearDown();
        SetUp();
        ProgressLine line(out_, true, clock());
        now_ += ProgressLine::kDelayMs;
        line.step("Writing", c.done, c.total);
        EXPECT_EQ(written(), c.text) << c.name;
        line.clear();
    }
}

TEST_F(ProgressText, NeverWritesWhenNotATerminal) {
    {
        ProgressLine line(out_, false, clock());
        now_ += 60000;
        line.step("Generating", 1, 2);
        line.clear();
    }
    EXPECT_EQ(written(), "");
}

} // namespace
} // namespace ombrel
