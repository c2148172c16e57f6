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

} // namespace
} // namespace ombrel
