#include "config/XmlSupport.h"

#include "base/Log.h"
#include "config/Attributes.h"
#include "config/Vocabulary.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace ombrel {

namespace {

template <class Char> Char lower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// Edits (insertions, deletions, changes, swaps of neighbours) between two words, letter case
// aside: the optimal string alignment distance.
template <class Char>
std::size_t editDistance(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    const std::size_t n = b.size();
    std::vector<std::size_t> before(n + 1), previous(n + 1), current(n + 1);
    for (std::size_t j = 0; j <= n; ++j) {
        previous[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= n; ++j) {
            const bool same = lower(a[i - 1]) == lower(b[j - 1]);
            current[j] =
                std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (same ? 0 : 1)});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
                lower(a[i - 2]) == lower(b[j - 1])) {
                current[j] = std::min(current[j], before[j - 2] + 1);
            }
        }
        before.swap(previous);
        previous.swap(current);
    }
    return previous[n];
}

// The quoted name that follows `prefix` at the start of `message`.
std::optional<std::u16string_view> quotedAfter(std::u16string_view message,
                                               std::u16string_view prefix) {
    if (message.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::u16string_view rest = message.substr(prefix.size());
    const std::size_t quote = rest.find(u'\'');
    if (quote == std::u16string_view::npos) {
        return std::nullopt;
    }
    return rest.substr(0, quote);
}

bool inVocabulary(std::u16string_view word, std::span<const XMLCh* const> vocabulary) {
    return std::any_of(vocabulary.begin(), vocabulary.end(),
                       [&](const XMLCh* known) { return word == known; });
}

// The vocabulary's word for what the library's message refuses as unknown, or none.
std::u16string_view suggestionFor(std::u16string_view message) {
    if (const auto element = quotedAfter(message, u"no declaration found for element '")) {
        return closestWord(*element, vocab::elementNames);
    }
    if (const auto attribute = quotedAfter(message, u"attribute '")) {
        const std::u16string_view rest = message.substr(11 + attribute->size());
        // An unknown element's attributes are refused with it; its name is what to fix.
        const auto element = quotedAfter(rest, u"' is not declared for element '");
        if (element && inVocabulary(*element, vocab::elementNames)) {
            return closestWord(*attribute, vocab::attributeNames);
        }
    }
    return {};
}

} // namespace

namespace {

// How many edits still count as a slip of the fingers for a word of this length.
std::size_t allowedEdits(std::size_t length) {
    return length <= 5 ? 1 : length <= 8 ? 2 : 3;
}

} // namespace

std::u16string_view closestWord(std::u16string_view word,
                                std::span<const XMLCh* const> vocabulary) {
    if (inVocabulary(word, vocabulary)) {
        return {};
    }
    std::u16string_view best;
    std::size_t bestDistance = allowedEdits(word.size()) + 1;
    for (const XMLCh* known : vocabulary) {
        const std::size_t distance = editDistance(word, std::u16string_view(known));
        if (distance < bestDistance) {
            best = known;
            bestDistance = distance;
        }
    }
    return best;
}

std::string closestName(std::string_view word, const std::vector<std::string>& names) {
    if (std::find(names.begin(), names.end(), word) != names.end()) {
        return {};
    }
    std::string best;
    std::size_t bestDistance = allowedEdits(word.size()) + 1;
    for (const std::string& name : names) {
        const std::size_t distance = editDistance(word, std::string_view(name));
        if (distance < bestDistance) {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

std::string xmlToString(const XMLCh* text) {
    return utf16ToUtf8(xmlView(text));
}

float xmlToFloat(const XMLCh* text) {
    return readFloat(xmlToString(text));
}

void DOMTreeErrorReporter::warning(const xercesc::SAXParseException&) {}

void DOMTreeErrorReporter::closeLine() {
    if (lineOpen_) {
        lineOpen_ = false;
        infoLog << "\r\n";
    }
}

void DOMTreeErrorReporter::error(const xercesc::SAXParseException& e) {
    errors_ = true;
    closeLine();
    // The place first, as warnings have it, so that editors and terminals jump to it; a
    // problem without a file or a line (a file that cannot be opened) has no place.
    SourcePlace place;
    if (xmlView(e.getSystemId()).size() > 0 && e.getLineNumber() > 0) {
        place = {std::make_shared<const std::string>(xmlToString(e.getSystemId())),
                 static_cast<std::uint32_t>(e.getLineNumber()),
                 static_cast<std::uint32_t>(e.getColumnNumber())};
    }
    errorLog.at(place).line("Error at file \"", xmlView(e.getSystemId()), "\", line ",
                            e.getLineNumber(), ", column ", e.getColumnNumber());
    errorLog.line("\tMessage: ", xmlView(e.getMessage()));
    const std::u16string_view suggestion = suggestionFor(xmlView(e.getMessage()));
    if (!suggestion.empty()) {
        errorLog.line("did you mean '", suggestion, "'?");
    }
}

void DOMTreeErrorReporter::fatalError(const xercesc::SAXParseException& e) {
    error(e);
}

void DOMTreeErrorReporter::resetErrors() {
    errors_ = false;
}

} // namespace ombrel
