#include "base/Log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
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

// A message written with line() reaches the sink in one append, with exactly the bytes the same
// pieces give when inserted one by one and ended with "\r\n".
TEST(LogTest, LineGivesTheInsertedBytesInOneAppend) {
    struct Case {
        const char* name;
        void (*line)();
        void (*inserted)();
        const char* text;
    };
    static const char16_t* const noText16 = nullptr;
    static const char* const noText = nullptr;
    static const char seed[16] = "0x0000002A";
    const Case cases[] = {
        {"text only", [] { warningLog.line("Poping from an empty stack ignored"); },
         [] {
             warningLog << "Poping from an empty stack ignored"
                        << "\r\n";
         },
         "Poping from an empty stack ignored\r\n"},
        {"no pieces", [] { infoLog.line(); }, [] { infoLog << "\r\n"; }, "\r\n"},
        {"strings",
         [] { errorLog.line("Cannot read ", std::string("a.xml"), std::string_view(": x")); },
         [] {
             errorLog << "Cannot read " << std::string("a.xml") << std::string_view(": x")
                      << "\r\n";
         },
         "Cannot read a.xml: x\r\n"},
        {"char array and null text", [] { infoLog.line("[", seed, "]", noText); },
         [] { infoLog << "[" << seed << "]" << noText << "\r\n"; }, "[0x0000002A]\r\n"},
        {"numbers",
         [] {
             warningLog.line("Float range [", 2.5f, ",", 0.1234567, "] ", -42, " ", 4294967295u,
                             " ", std::uint64_t(1) << 40, " ", 1234567.0f, " ", 'c');
         },
         [] {
             warningLog << "Float range [" << 2.5f << "," << 0.1234567 << "] " << -42 << " "
                        << 4294967295u << " " << (std::uint64_t(1) << 40) << " " << 1234567.0f
                        << " " << 'c' << "\r\n";
         },
         "Float range [2.5,0.123457] -42 4294967295 1099511627776 1.23457e+06 c\r\n"},
        {"utf16",
         [] {
             warningLog.line("Unknown where '", std::u16string_view(u"Stra\u00DFe"), "' ",
                             u"\U0001F3D9", noText16);
         },
         [] {
             warningLog << "Unknown where '" << std::u16string_view(u"Stra\u00DFe") << "' "
                        << u"\U0001F3D9" << noText16 << "\r\n";
         },
         "Unknown where 'Stra\xC3\x9F"
         "e' \xF0\x9F\x8F\x99\r\n"},
        {"bare line feed kept", [] { errorLog.line("An error occurred during parsing\n "); },
         [] {
             errorLog << "An error occurred during parsing\n "
                      << "\r\n";
         },
         "An error occurred during parsing\n \r\n"},
    };
    for (const Case& c : cases) {
        RecordingSink lineSink;
        {
            ScopedLogSink scope(lineSink);
            c.line();
        }
        StringLogSink insertedSink;
        {
            ScopedLogSink scope(insertedSink);
            c.inserted();
        }
        ASSERT_EQ(lineSink.pieces.size(), 1u) << c.name;
        EXPECT_EQ(lineSink.pieces[0].text, c.text) << c.name;
        EXPECT_EQ(insertedSink.text(), c.text) << c.name;
    }
}

TEST(LogTest, LineGoesToItsOwnChannel) {
    RecordingSink sink;
    ScopedLogSink scope(sink);
    errorLog.line("e");
    infoLog.line("i");
    warningLog.line("w");
    ASSERT_EQ(sink.pieces.size(), 3u);
    EXPECT_EQ(sink.pieces[0].channel, &errorLog);
    EXPECT_EQ(sink.pieces[1].channel, &infoLog);
    EXPECT_EQ(sink.pieces[2].channel, &warningLog);
    EXPECT_EQ(sink.pieces[2].text, "w\r\n");
}

TEST(LogTest, LineWrittenWithoutSinkIsHeldWhole) {
    LogSink* previous = setLogSink(nullptr);
    warningLog.line("early ", 1);
    RecordingSink sink;
    setLogSink(&sink);
    ASSERT_EQ(sink.pieces.size(), 1u);
    EXPECT_EQ(sink.pieces[0].text, "early 1\r\n");
    EXPECT_EQ(sink.pieces[0].channel, &warningLog);
    setLogSink(previous);
}

// A message about a place reaches the sink with its place, also when it was held; a sink that
// does not format places itself puts "file:line:column: " first.
TEST(LogTest, PlacedMessagesCarryTheirPlace) {
    struct PlaceSink : RecordingSink {
        std::vector<std::string> places;
        void appendAt(const LogChannel& channel, const SourcePlace& place,
                      std::string_view text) override {
            places.push_back(place.text());
            append(channel, text);
        }
    };
    const SourcePlace place{std::make_shared<const std::string>("city/town.xml"), 12, 5};
    LogSink* previous = setLogSink(nullptr);
    warningLog.at(place).line("held ", 1);
    PlaceSink sink;
    setLogSink(&sink);
    errorLog.at(place).line("now");
    warningLog.at(SourcePlace()).line("nowhere");
    ASSERT_EQ(sink.pieces.size(), 3u);
    EXPECT_EQ(sink.places, (std::vector<std::string>{"city/town.xml:12:5", "city/town.xml:12:5"}));
    EXPECT_EQ(sink.pieces[0].text, "held 1\r\n");
    EXPECT_EQ(sink.pieces[1].channel, &errorLog);
    EXPECT_EQ(sink.pieces[2].text, "nowhere\r\n") << "no place, a plain message";

    StringLogSink text;
    setLogSink(&text);
    warningLog.at(place).line("Unknown DrawBox closed value 'x' - ignored");
    EXPECT_EQ(text.text(), "city/town.xml:12:5: Unknown DrawBox closed value 'x' - ignored\r\n");
    setLogSink(previous);

    EXPECT_EQ(compilerStyleStart(warningLog, place), "city/town.xml:12:5: warning: ");
    EXPECT_EQ(compilerStyleStart(errorLog, place), "city/town.xml:12:5: error: ");
    EXPECT_EQ(compilerStyleStart(infoLog, place), "city/town.xml:12:5: ");
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
