// The construction-file reference cannot fall behind the schema: every element the schema
// declares has a heading, every attribute a table row that gives the schema's default.
#include "config/XmlLibrary.h"
#include "config/XmlSupport.h"

#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

using namespace xercesc;

const std::string kSource = OMBREL_SOURCE_DIR;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Declared {
    std::set<std::string> elements;
    // attribute name and what the reference's default column must say for it
    std::set<std::pair<std::string, std::string>> attributes;
};

void collect(const DOMElement& e, Declared& out) {
    const std::string local = xmlToString(e.getLocalName());
    const std::string name = xmlToString(e.getAttribute(u"name"));
    if (local == "element" && !name.empty()) {
        out.elements.insert(name);
    } else if (local == "attribute" && !name.empty()) {
        std::string fallback = "none";
        if (e.hasAttribute(u"default")) {
            fallback = xmlToString(e.getAttribute(u"default"));
        } else if (xmlToString(e.getAttribute(u"use")) == "required") {
            fallback = "required";
        }
        out.attributes.insert({name, fallback});
    }
    for (DOMElement* c = e.getFirstElementChild(); c; c = c->getNextElementSibling()) {
        collect(*c, out);
    }
}

Declared declaredBySchema() {
    XmlLibrary xml;
    XercesDOMParser parser;
    parser.setDoNamespaces(true);
    parser.parse((kSource + "/xsd/Ombrel.xsd").c_str());
    Declared d;
    if (DOMDocument* doc = parser.getDocument(); doc && doc->getDocumentElement()) {
        collect(*doc->getDocumentElement(), d);
    }
    return d;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(Reference, DocumentsEveryElementOfTheSchema) {
    const Declared schema = declaredBySchema();
    ASSERT_GE(schema.elements.size(), 18u) << "the schema did not parse";
    const std::vector<std::string> doc = lines(readText(kSource + "/docs/construction-files.md"));
    ASSERT_FALSE(doc.empty());
    for (const std::string& element : schema.elements) {
        bool heading = false;
        for (const std::string& line : doc) {
            heading = heading || (line.rfind("#", 0) == 0 &&
                                  line.find("`" + element + "`") != std::string::npos);
        }
        EXPECT_TRUE(heading) << "no heading names `" << element << "`";
    }
}

TEST(Reference, DocumentsEveryAttributeWithItsDefault) {
    const Declared schema = declaredBySchema();
    ASSERT_GE(schema.attributes.size(), 30u) << "the schema did not parse";
    const std::vector<std::string> doc = lines(readText(kSource + "/docs/construction-files.md"));
    for (const auto& [attribute, fallback] : schema.attributes) {
        bool row = false;
        bool withDefault = false;
        for (const std::string& line : doc) {
            if (line.find("| `" + attribute + "` |") == std::string::npos) {
                continue;
            }
            row = true;
            withDefault = withDefault || line.find("| " + fallback + " |") != std::string::npos;
        }
        EXPECT_TRUE(row) << "no table row for `" << attribute << "`";
        EXPECT_TRUE(withDefault) << "no row for `" << attribute << "` gives its default "
                                 << fallback;
    }
}

// The other way round: every row of an attribute table names an attribute the schema has.
TEST(Reference, DocumentsNoAttributeTheSchemaLacks) {
    const Declared schema = declaredBySchema();
    std::set<std::string> names;
    for (const auto& [attribute, fallback] : schema.attributes) {
        names.insert(attribute);
    }
    const std::vector<std::string> doc = lines(readText(kSource + "/docs/construction-files.md"));
    int column = -1; // the attribute's cell in the current table's rows, -1 outside one
    int rows = 0;
    for (const std::string& line : doc) {
        if (line.rfind("| attribute |", 0) == 0) {
            column = 1;
            continue;
        }
        if (line.rfind("| element | attribute |", 0) == 0) {
            column = 2;
            continue;
        }
        if (line.rfind("|", 0) != 0) {
            column = -1;
            continue;
        }
        if (column < 0 || line.rfind("|---", 0) == 0) {
            continue;
        }
        std::size_t at = 0;
        for (int c = 0; c < column && at != std::string::npos; ++c) {
            at = line.find('|', at + (c == 0 ? 0 : 1));
        }
        const std::size_t open = line.find('`', at);
        const std::size_t close = line.find('`', open + 1);
        ASSERT_NE(close, std::string::npos) << line;
        const std::string name = line.substr(open + 1, close - open - 1);
        EXPECT_TRUE(names.count(name)) << "`" << name << "` is documented but not in the schema";
        ++rows;
    }
    EXPECT_GE(rows, static_cast<int>(names.size()));
}

} // namespace
} // namespace ombrel
