#include "base/Log.h"
#include "config/CityFactory.h"
#include "config/Vocabulary.h"
#include "config/XmlSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace ombrel {
namespace {

TEST(XmlSupport, ReporterLogsErrorsAndIgnoresWarnings) {
    CityFactory library; // starts the XML library
    StringLogSink sink;
    ScopedLogSink scope(sink);
    DOMTreeErrorReporter reporter;
    // A long message with non-ASCII text: logged whole, as UTF-8.
    const std::u16string message = u"Stra\u00DFe " + std::u16string(1500, u'x');
    const xercesc::SAXParseException problem(message.c_str(), u"", u"/tmp/caf\u00E9.xml", 12, 34);

    reporter.warning(problem);
    EXPECT_FALSE(reporter.sawErrors()) << "a warning never fails a load";
    EXPECT_EQ(sink.text(), "");

    const std::string pair = "/tmp/caf\xC3\xA9.xml:12:34: "
                             "Error at file \"/tmp/caf\xC3\xA9.xml\", line 12, column 34\r\n"
                             "\tMessage: Stra\xC3\x9F"
                             "e " +
                             std::string(1500, 'x') + "\r\n";
    reporter.error(problem);
    EXPECT_TRUE(reporter.sawErrors());
    EXPECT_EQ(sink.text(), pair);
    reporter.resetErrors();
    EXPECT_FALSE(reporter.sawErrors());
    reporter.fatalError(problem);
    EXPECT_TRUE(reporter.sawErrors());
    EXPECT_EQ(sink.text(), pair + pair);

    // The "Parsing ..." line stays open during the parse; the first error ends it, once.
    sink.clear();
    reporter.openLine();
    reporter.error(problem);
    reporter.closeLine();
    EXPECT_EQ(sink.text(), "\r\n" + pair);
    sink.clear();
    reporter.openLine();
    reporter.closeLine();
    reporter.closeLine();
    EXPECT_EQ(sink.text(), "\r\n");
}

TEST(XmlSupport, ReporterNamesTheWordAMisspeltNameMeant) {
    CityFactory library;
    StringLogSink sink;
    ScopedLogSink scope(sink);
    DOMTreeErrorReporter reporter;
    const struct {
        const char16_t* message;
        const char* hint; // the third line, or ""
    } cases[] = {
        {u"no declaration found for element 'DrawBx'", "did you mean 'DrawBox'?\r\n"},
        {u"no declaration found for element 'Building'", ""},
        {u"no declaration found for element 'Tower'", ""},
        {u"attribute 'hieght' is not declared for element 'GoUp'", "did you mean 'height'?\r\n"},
        {u"attribute 'hieght' is not declared for element 'Tower'", ""},
        {u"missing required attribute 'hieght'", ""},
    };
    for (const auto& c : cases) {
        sink.clear();
        reporter.error(xercesc::SAXParseException(c.message, u"", u"a.xml", 2, 3));
        EXPECT_EQ(sink.text(),
                  "a.xml:2:3: Error at file \"a.xml\", line 2, column 3\r\n\tMessage: " +
                      utf16ToUtf8(c.message) + "\r\n" + c.hint)
            << utf16ToUtf8(c.message);
    }
}

TEST(XmlSupport, ClosestWord) {
    const struct {
        const char16_t* word;
        const char16_t* closest; // empty: none
    } cases[] = {
        {u"drawbox", u"DrawBox"},
        {u"DrawBx", u"DrawBox"},
        {u"Buidling", u"Building"},
        {u"GoUP", u"GoUp"},
        {u"Pops", u"Pop"},
        {u"Tower", u""},
        {u"GoDown", u""},
        {u"DrawBox", u""},
        {u"TexturGrop", u"TextureGroup"},
        {u"ChooseOptoin", u"ChooseOption"},
        {u"x", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(closestWord(c.word, vocab::elementNames), std::u16string_view(c.closest))
            << utf16ToUtf8(c.word);
    }
    EXPECT_EQ(closestWord(u"numCellX", vocab::attributeNames), u"numCellsX");
    EXPECT_EQ(closestWord(u"close", vocab::attributeNames), u"closed");
}

// The same rule for the file's own names: procedures and image files.
TEST(XmlSupport, ClosestName) {
    const std::vector<std::string> names{"storey", "roof", "grass.png", "facade1.png"};
    const struct {
        const char* word;
        const char* closest; // empty: none
    } cases[] = {
        {"story", "storey"},       {"Storey", "storey"},          {"storey", ""}, {"rof", "roof"},
        {"gras.png", "grass.png"}, {"facade.png", "facade1.png"}, {"tower", ""},  {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(closestName(c.word, names), c.closest) << c.word;
    }
    EXPECT_EQ(closestName("story", {}), "");
}

// The words "did you mean" offers are the schema's: every element and attribute it declares.
TEST(XmlSupport, VocabularyListsMatchTheSchema) {
    std::ifstream in(std::string(OMBREL_SOURCE_DIR) + "/xsd/Ombrel.xsd");
    const std::string schema((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    ASSERT_FALSE(schema.empty());
    const auto declared = [&](const std::string& kind) {
        std::set<std::string> names;
        const std::regex declaration("<xs:" + kind + " name=\"([A-Za-z]+)\"");
        for (std::sregex_iterator it(schema.begin(), schema.end(), declaration), end; it != end;
             ++it) {
            names.insert((*it)[1]);
        }
        return names;
    };
    const auto listed = [](std::span<const XMLCh* const> words) {
        std::set<std::string> names;
        for (const XMLCh* word : words) {
            names.insert(xmlToString(word));
        }
        return names;
    };
    EXPECT_EQ(listed(vocab::elementNames), declared("element"));
    EXPECT_EQ(listed(vocab::attributeNames), declared("attribute"));
}

TEST(XmlSupport, Conversions) {
    EXPECT_EQ(xmlToString(nullptr), "");
    EXPECT_EQ(xmlToString(u"r\u00E9sum\u00E9 \U0001F3D9"), "r\xC3\xA9sum\xC3\xA9 \xF0\x9F\x8F\x99");
    EXPECT_EQ(xmlToFloat(u" 12.5e1 m"), 125.0f);
    EXPECT_EQ(xmlToFloat(nullptr), 0.0f);
}

} // namespace
} // namespace ombrel
