#include "base/Log.h"

#include <gtest/gtest.h>

#include <vector>

namespace ombrel {
namespace {

struct RecordingSink : LogSink {
    struct Piece {
        const LogChannel* channel;
        std::string text;
    };
    std::vector<Piece> pieces;
    void append(const LogChannel& channel, std::string_view text) override {
        pieces.push_back({&channel, std::string(text)});
    }
};

TEST(LogTest, EachInsertionReachesTheSinkAtOnce) {
    RecordingSink sink;
    ScopedLogSink scope(sink);
    infoLog << "Parsing " << std::string("a.xml") << " ... ";
    ASSERT_EQ(sink.pieces.size(), 3u);
    EXPECT_EQ(sink.pieces[2].text, " ... ");
    infoLog << "";
    EXPECT_EQ(sink.pieces.size(), 4u) << "an empty insertion still reaches the sink";
    EXPECT_EQ(sink.pieces[0].channel, &infoLog);
}

TEST(LogTest, DefaultStreamFormatting) {
    StringLogSink sink;
    ScopedLogSink scope(sink);
    struct Case {
        const char* name;
        void (*write)();
        const char* text;
    };
    const Case cases[] = {
        {"float", [] { warningLog << 3.14159265; }, "3.14159"},
        {"float large", [] { warningLog << 1234567.0f; }, "1.23457e+06"},
        {"int", [] { warningLog << -42; }, "-42"},
        {"unsigned", [] { warningLog << 4294967295u; }, "4294967295"},
        {"char array", [] { warningLog << "abc"; }, "abc"},
        {"utf16", [] { warningLog << u"Stra\u00DFe \U0001F3D9"; },
         "Stra\xC3\x9F"
         "e \xF0\x9F\x8F\x99"},
    };
    for (const Case& c : cases) {
        sink.clear();
        c.write();
        EXPECT_EQ(sink.text(), c.text) << c.name;
    }
}

TEST(LogTest, MessagesWithoutLineEndContinue) {
    StringLogSink sink;
    ScopedLogSink scope(sink);
    warningLog << "first";
    errorLog << " continued"
             << "\r\n";
    EXPECT_EQ(sink.text(), "first continued\r\n");
}

TEST(LogTest, LabelsHaveOneWidth) {
    EXPECT_STREQ(errorLog.label(), "ERROR  : ");
    EXPECT_STREQ(infoLog.label(), "INFO   : ");
    EXPECT_STREQ(warningLog.label(), "WARNING: ");
}

TEST(LogTest, TextWithoutSinkIsHeldUntilOneIsInstalled) {
    LogSink* previous = setLogSink(nullptr);
    infoLog << "early"
            << "\r\n";
    StringLogSink sink;
    setLogSink(&sink);
    EXPECT_EQ(sink.text(), "early\r\n");
    setLogSink(previous);
}

TEST(LogTest, UnpairedSurrogateBecomesReplacement) {
    const char16_t bad[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(utf16ToUtf8(bad), "a\xEF\xBF\xBD"
                                "b");
}

} // namespace
} // namespace ombrel
