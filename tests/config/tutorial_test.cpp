// The tutorial works as written: its snippets, pasted into one file step by step as its text
// says, load without a warning and give, at every step, the city of that step's example file
// (the one its picture is drawn from).

#include "base/Log.h"
#include "config/CitySession.h"
#include "config/XmlLibrary.h"
#include "config/XmlSupport.h"
#include "tests/support/FreshContext.h"

#include <gtest/gtest.h>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace ombrel {
namespace {

using namespace xercesc;
namespace fs = std::filesystem;

const fs::path kSource = OMBREL_SOURCE_DIR;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Step {
    int number = 0;
    std::string snippet; // the first xml block under the step's heading
};

// The "## Step N: ..." sections of the tutorial with their first xml block, in order.
std::vector<Step> tutorialSteps(const std::string& markdown) {
    std::vector<Step> steps;
    std::istringstream in(markdown);
    bool inBlock = false;
    bool wanted = false;
    for (std::string line; std::getline(in, line);) {
        if (!inBlock && line.rfind("## Step ", 0) == 0) {
            steps.push_back({std::stoi(line.substr(8)), {}});
            wanted = true;
        } else if (!inBlock && line.rfind("```", 0) == 0) {
            inBlock = true;
        } else if (inBlock && line.rfind("```", 0) == 0) {
            inBlock = false;
            wanted = false;
        } else if (inBlock && wanted && !steps.empty() && line.size() > 0) {
            steps.back().snippet += line + "\n";
        }
    }
    return steps;
}

std::string utf8(const XMLCh* text) {
    return xmlToString(text);
}

// The construction file a reader builds by pasting the snippets: the tutorial's rule, element by
// element, on a DOM document.
class PastedFile {
public:
    PastedFile() {
        DOMImplementation* dom = DOMImplementationRegistry::getDOMImplementation(u"LS");
        document_ = dom->createDocument(nullptr, u"Ombrel", nullptr);
    }
    ~PastedFile() { document_->release(); }
    PastedFile(const PastedFile&) = delete;
    PastedFile& operator=(const PastedFile&) = delete;

    // Pastes one snippet; false when it does not parse.
    bool paste(const std::string& snippet) {
        const bool rootTag = snippet.rfind("<Ombrel", 0) == 0;
        const bool wholeFile = rootTag && snippet.find("</Ombrel>") != std::string::npos;
        std::string text = snippet;
        if (rootTag && !wholeFile) {
            text += "</Ombrel>";
        } else if (!rootTag) {
            text = "<Ombrel>" + text + "</Ombrel>";
        }
        XercesDOMParser parser;
        parser.setValidationScheme(XercesDOMParser::Val_Never);
        parser.setDoNamespaces(true);
        MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(),
                                 u"snippet");
        parser.parse(source);
        if (parser.getErrorCount() != 0 || !parser.getDocument()) {
            return false;
        }
        const DOMElement* pasted = parser.getDocument()->getDocumentElement();
        DOMElement* root = document_->getDocumentElement();
        if (wholeFile) {
            while (root->getFirstChild()) {
                root->removeChild(root->getFirstChild())->release();
            }
        }
        if (rootTag) {
            while (root->getAttributes()->getLength() > 0) {
                root->removeAttributeNode(static_cast<DOMAttr*>(root->getAttributes()->item(0)))
                    ->release();
            }
            const DOMNamedNodeMap* attributes = pasted->getAttributes();
            for (XMLSize_t i = 0; i < attributes->getLength(); ++i) {
                root->setAttribute(attributes->item(i)->getNodeName(),
                                   attributes->item(i)->getNodeValue());
            }
        }
        bool buildingsGone = false;
        for (const DOMElement* e = pasted->getFirstElementChild(); e;
             e = e->getNextElementSibling()) {
            auto* copy = static_cast<DOMElement*>(document_->importNode(e, true));
            if (utf8(e->getTagName()) == "Building") {
                if (!buildingsGone) {
                    removeAll("Building");
                    buildingsGone = true;
                }
                root->appendChild(copy);
            } else if (DOMElement* same = sameKind(*e)) {
                root->replaceChild(copy, same)->release();
            } else {
                root->insertBefore(copy,
                                   firstOf(utf8(e->getTagName()) == "Street"
                                               ? std::vector<std::string>{"Building"}
                                               : std::vector<std::string>{"Street", "Building"}));
            }
        }
        return true;
    }

    // The file as text, without an XML declaration (the serializer would declare UTF-16).
    std::string text() const {
        DOMImplementation* dom = DOMImplementationRegistry::getDOMImplementation(u"LS");
        DOMLSSerializer* serializer = dom->createLSSerializer();
        XMLCh* xml = serializer->writeToString(document_->getDocumentElement());
        std::string out = utf8(xml);
        XMLString::release(&xml);
        serializer->release();
        return out;
    }

private:
    // The element of the file that one of the snippet's takes the place of: the Street of the same
    // type, the TextureGroup or Procedure of the same name.
    DOMElement* sameKind(const DOMElement& e) const {
        const std::string tag = utf8(e.getTagName());
        const XMLCh* key = tag == "Street" ? u"type" : u"name";
        for (DOMElement* c = document_->getDocumentElement()->getFirstElementChild(); c;
             c = c->getNextElementSibling()) {
            if (utf8(c->getTagName()) == tag &&
                xmlView(c->getAttribute(key)) == xmlView(e.getAttribute(key))) {
                return c;
            }
        }
        return nullptr;
    }
    DOMElement* firstOf(const std::vector<std::string>& tags) const {
        for (DOMElement* c = document_->getDocumentElement()->getFirstElementChild(); c;
             c = c->getNextElementSibling()) {
            for (const std::string& tag : tags) {
                if (utf8(c->getTagName()) == tag) {
                    return c;
                }
            }
        }
        return nullptr;
    }
    void removeAll(const std::string& tag) {
        DOMElement* root = document_->getDocumentElement();
        for (DOMElement* c = root->getFirstElementChild(); c;) {
            DOMElement* next = c->getNextElementSibling();
            if (utf8(c->getTagName()) == tag) {
                root->removeChild(c)->release();
            }
            c = next;
        }
    }

    DOMDocument* document_ = nullptr;
};

// Keeps the warnings and errors of a load and a generation apart from the info lines.
class ProblemSink : public LogSink {
public:
    void append(const LogChannel& channel, std::string_view text) override {
        if (channel.severity() != LogSeverity::info) {
            problems_.append(text);
        }
    }
    const std::string& problems() const { return problems_; }

private:
    std::string problems_;
};

// Loads, generates and saves the city of `file` as VRML (textures named relative to `wrl`);
// returns the file without its comment lines, which name the construction file.
std::string exportedCity(const fs::path& file, const fs::path& wrl, std::string& problems) {
    testsupport::useFreshGenerationContext();
    ProblemSink sink;
    ScopedLogSink scope(sink);
    CitySession session;
    EXPECT_EQ(session.load(file.string(), 256), CitySession::LoadResult::loaded) << file;
    EXPECT_TRUE(session.generate()) << file;
    EXPECT_TRUE(session.save(wrl.string(), ExportOptions())) << file;
    problems = sink.problems();
    std::istringstream in(readText(wrl));
    std::string body;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("#", 0) != 0) {
            body += line + "\n";
        }
    }
    return body;
}

TEST(Tutorial, SnippetsPastedInOrderGiveEachStepsCity) {
    XmlLibrary xml;
    const std::vector<Step> steps = tutorialSteps(readText(kSource / "docs" / "tutorial.md"));
    ASSERT_EQ(steps.size(), 6u);

    // As the tutorial sets out: the city's folder, and the bundled textures copied beside it.
    // The step files of docs/examples sit where their "../../examples/textures/" finds the same
    // copy, so both exports name the images alike.
    const fs::path scratch = fs::path(::testing::TempDir());
    const fs::path mytown = scratch / "examples" / "mytown";
    fs::create_directories(mytown);
    fs::create_directories(scratch / "docs" / "examples");
    fs::copy(kSource / "examples" / "textures", scratch / "examples" / "textures",
             fs::copy_options::recursive);
    fs::current_path(mytown);

    PastedFile pasted;
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(step.number));
        ASSERT_EQ(step.number, &step - steps.data() + 1);
        ASSERT_FALSE(step.snippet.empty());
        ASSERT_TRUE(pasted.paste(step.snippet)) << step.snippet;
        std::ofstream(mytown / "town.xml") << pasted.text() << "\n";

        const std::string name = "tutorial-" + std::to_string(step.number) + ".xml";
        const fs::path reference = scratch / "docs" / "examples" / name;
        fs::copy_file(kSource / "docs" / "examples" / name, reference,
                      fs::copy_options::overwrite_existing);

        std::string problems;
        const std::string mine = exportedCity(mytown / "town.xml", scratch / "mine.wrl", problems);
        EXPECT_EQ(problems, "") << pasted.text();
        std::string referenceProblems;
        const std::string expected =
            exportedCity(reference, scratch / "expected.wrl", referenceProblems);
        EXPECT_EQ(referenceProblems, "");
        EXPECT_GT(expected.size(), 1000u);
        EXPECT_TRUE(mine == expected) << "the pasted file gives another city than " << name << ":\n"
                                      << pasted.text();
    }
}

} // namespace
} // namespace ombrel
