#pragma once

#include <xercesc/dom/DOM.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ombrel {

// The XML library's UTF-16 text as UTF-8, whole (no length limit); null gives "".
std::string xmlToString(const XMLCh* text);
// The XML library's text read as a float by the lenient rules of config/Attributes.h.
float xmlToFloat(const XMLCh* text);

// Null-safe view of the XML library's text.
inline std::u16string_view xmlView(const XMLCh* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

// The value of an attribute, "" when the element has none (and the schema supplies no default).
inline std::u16string_view attributeText(const xercesc::DOMElement* element, const XMLCh* name) {
    return xmlView(element->getAttribute(name));
}

inline bool hasName(const xercesc::DOMNode* node, const XMLCh* name) {
    return xmlView(node->getNodeName()) == xmlView(name);
}

// Where each element of a parsed document starts: the line and column (from 1, as the XML
// library counts them) of its "<", recorded while the document is parsed.
class ElementPlaces {
public:
    struct Position {
        std::uint32_t line = 0;
        std::uint32_t column = 0;
    };
    void record(const xercesc::DOMNode* element, Position position) {
        positions_[element] = position;
    }
    // Line 0 when the element was not recorded.
    Position of(const xercesc::DOMNode* element) const {
        const auto found = positions_.find(element);
        return found == positions_.end() ? Position() : found->second;
    }

private:
    std::unordered_map<const xercesc::DOMNode*, Position> positions_;
};

// The word of `vocabulary` closest to `word` when one is close enough to be a slip of the
// fingers: differing in letter case only, or by a few letters added, left out, changed or
// swapped (one for words up to five letters, two up to eight, three beyond). None (empty) when
// `word` is itself in the vocabulary or nothing is that close; of equally close words the first.
std::u16string_view closestWord(std::u16string_view word, std::span<const XMLCh* const> vocabulary);
// The same among names the file itself gives (procedure names, image file names), in UTF-8,
// byte by byte: empty when `word` is one of `names` or none is that close.
std::string closestName(std::string_view word, const std::vector<std::string>& names);

// Collects the parser's complaints: every error and fatal error goes to the error log as two
// lines, "Error at file "<system id>", line <n>, column <n>" (a message about that place, so the
// front ends start it with "<file>:<line>:<column>: error: ") and "\tMessage: <text>", and sets
// the error flag. When the error refuses an element or an attribute the vocabulary does not
// know, a third line names the closest word of the vocabulary, if there is one: "did you mean
// 'DrawBox'?". Warnings are dropped: they never fail a load.
class DOMTreeErrorReporter : public xercesc::ErrorHandler {
public:
    // While the parse runs, the "Parsing <file> ... " line stays open on the info log so the
    // user sees what is being worked on; the first error ends it before its own lines.
    void openLine() { lineOpen_ = true; }
    // Ends the open line, if any. Call before writing anything else to the log.
    void closeLine();

    ~DOMTreeErrorReporter() override = default;
    void warning(const xercesc::SAXParseException& e) override;
    void error(const xercesc::SAXParseException& e) override;
    void fatalError(const xercesc::SAXParseException& e) override;
    void resetErrors() override;

    bool sawErrors() const { return errors_; }

private:
    bool errors_ = false;
    bool lineOpen_ = false;
};

} // namespace ombrel
