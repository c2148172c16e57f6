// CityFactory::load: parsing and validating a construction file and rebuilding every
// definition from it.

#include "base/Log.h"
#include "config/CityFactory.h"
#include "config/ConstructionReader.h"
#include "config/XmlSupport.h"

#include <xercesc/dom/DOMException.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace xercesc;
namespace fs = std::filesystem;

// Where the installed data lie seen from the installed programs (the build sets it from the
// install folders).
#ifndef OMBREL_DATA_FROM_PROGRAMS
#define OMBREL_DATA_FROM_PROGRAMS "../share/ombrel"
#endif

namespace ombrel {

namespace {

// Entities may expand this often in one document; more is an attack, not a city.
constexpr XMLSize_t kEntityExpansionLimit = 10000;
// A construction file is text of a few kilobytes; anything near this is not one.
constexpr std::uintmax_t kMaxFileSize = 64u * 1024 * 1024;
// Elements may nest this deep. A city needs far less; and the XML library looks namespace
// prefixes up through every open element, so each level makes every element below it slower:
// a hundred thousand levels would take minutes before failing anyway.
constexpr XMLSize_t kMaxElementDepth = 1000;

// Thrown out of the parse when the elements nest deeper than kMaxElementDepth, with where the
// element that goes too deep starts.
struct ElementsTooDeep {
    ElementPlaces::Position at;
};

// Memory for one parse: the parser, its grammar and the document it builds. The document takes
// its memory in blocks that grow to half a megabyte, thousands of them for a large file; blocks of
// that size are mapped with their pages already in place, in one call, where the heap would fault
// them in one page at a time as the document fills them. A mapped block given back is kept for the
// next request of its size until the parse is over, up to kKeptAtMost bytes. Smaller blocks (all
// of a small file's, and the reader of 160 KiB the parser makes for every entity it expands) come
// from the heap, which reuses them from one load to the next.
class ParseMemory : public MemoryManager {
public:
    ParseMemory() = default;
    ParseMemory(const ParseMemory&) = delete;
    ParseMemory& operator=(const ParseMemory&) = delete;
    ~ParseMemory() override {
        for (const auto& [length, block] : kept_) {
            munmap(block, length);
        }
    }

    MemoryManager* getExceptionMemoryManager() override {
        return XMLPlatformUtils::fgMemoryManager;
    }

    void* allocate(XMLSize_t size) override {
        if (size < kMappedFrom) {
            void* block = ::operator new(size + kHeader, std::nothrow);
            if (!block) {
                throw OutOfMemoryException();
            }
            return withHeader(block, 0);
        }
        const std::size_t length = size + kHeader;
        if (const auto kept = kept_.find(length); kept != kept_.end()) {
            char* block = kept->second;
            kept_.erase(kept);
            keptBytes_ -= length;
            return block + kHeader;
        }
        void* block = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (block == MAP_FAILED) {
            throw OutOfMemoryException();
        }
        return withHeader(block, length);
    }

    void deallocate(void* p) override {
        if (!p) {
            return;
        }
        char* block = static_cast<char*>(p) - kHeader;
        const std::size_t length = *reinterpret_cast<std::size_t*>(block);
        if (length == 0) {
            ::operator delete(block);
        } else if (keptBytes_ + length <= kKeptAtMost) {
            kept_.emplace(length, block);
            keptBytes_ += length;
        } else {
            munmap(block, length);
        }
    }

private:
    // The mapped length in front of each block (0 for the heap's), keeping the block aligned.
    static constexpr std::size_t kHeader = alignof(std::max_align_t);
    static constexpr std::size_t kMappedFrom = 512 * 1024;
    static constexpr std::size_t kKeptAtMost = 64 * 1024 * 1024;

    static void* withHeader(void* block, std::size_t length) {
        *static_cast<std::size_t*>(block) = length;
        return static_cast<char*>(block) + kHeader;
    }

    // Mapped blocks given back, by length.
    std::multimap<std::size_t, char*> kept_;
    std::size_t keptBytes_ = 0;
};

// The DOM parser, stopping as soon as an element opens deeper than kMaxElementDepth, and
// recording where each element starts. The library tells where it is in the text at each event
// it reports; an element starts where the event before its start tag ended (the text, white
// space, comment or tag before it).
class ConstructionParser : public XercesDOMParser {
public:
    ConstructionParser(ElementPlaces& places, MemoryManager& memory)
        : XercesDOMParser(nullptr, &memory, nullptr), places_(places) {}

    void startElement(const XMLElementDecl& elemDecl, const unsigned int urlId,
                      const XMLCh* const elemPrefix, const RefVectorOf<XMLAttr>& attrList,
                      const XMLSize_t attrCount, const bool isEmpty, const bool isRoot) override {
        if (++depth_ > kMaxElementDepth) {
            throw ElementsTooDeep{lastEnd_};
        }
        const XMLSize_t depth = depth_;
        const ElementPlaces::Position start = lastEnd_;
        XercesDOMParser::startElement(elemDecl, urlId, elemPrefix, attrList, attrCount, isEmpty,
                                      isRoot);
        // The new element is the current node, also once an empty one has ended.
        places_.record(getCurrentNode(), start);
        // An empty element has no end event of its own unless the base class made one.
        if (isEmpty && depth_ == depth) {
            --depth_;
        }
        markEnd();
    }
    void endElement(const XMLElementDecl& elemDecl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const elemPrefix) override {
        --depth_;
        XercesDOMParser::endElement(elemDecl, urlId, isRoot, elemPrefix);
        markEnd();
    }
    void docCharacters(const XMLCh* const chars, const XMLSize_t length,
                       const bool cdataSection) override {
        XercesDOMParser::docCharacters(chars, length, cdataSection);
        markEnd();
    }
    void ignorableWhitespace(const XMLCh* const chars, const XMLSize_t length,
                             const bool cdataSection) override {
        XercesDOMParser::ignorableWhitespace(chars, length, cdataSection);
        markEnd();
    }
    void docComment(const XMLCh* const comment) override {
        XercesDOMParser::docComment(comment);
        markEnd();
    }
    void docPI(const XMLCh* const target, const XMLCh* const data) override {
        XercesDOMParser::docPI(target, data);
        markEnd();
    }
    void XMLDecl(const XMLCh* const versionStr, const XMLCh* const encodingStr,
                 const XMLCh* const standaloneStr, const XMLCh* const actualEncStr) override {
        XercesDOMParser::XMLDecl(versionStr, encodingStr, standaloneStr, actualEncStr);
        markEnd();
    }
    void endIntSubset() override {
        XercesDOMParser::endIntSubset();
        markEnd();
    }

private:
    void markEnd() {
        if (const Locator* locator = getScanner()->getLocator()) {
            lastEnd_ = {static_cast<std::uint32_t>(locator->getLineNumber()),
                        static_cast<std::uint32_t>(locator->getColumnNumber())};
        }
    }

    ElementPlaces& places_;
    XMLSize_t depth_ = 0;
    ElementPlaces::Position lastEnd_{1, 1};
};

std::u16string toXml(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0xFFFD;
        std::size_t length = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3F);
            length = 2;
        } else if ((c >> 4) == 0xE && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            length = 3;
        } else if ((c >> 3) == 0x1E && i + 3 < utf8.size()) {
            cp = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3F) << 12) | ((utf8[i + 2] & 0x3F) << 6) |
                 (utf8[i + 3] & 0x3F);
            length = 4;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

// The whole file, or nothing when it cannot be read (or is far too big to be a city).
std::optional<std::string> readWholeFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || fs::file_size(path, ec) > kMaxFileSize || ec) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

fs::path executableFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

// A parse source over bytes we read ourselves, known to the parser (and its messages) by `id`.
class BytesSource {
public:
    BytesSource(const std::string& bytes, const std::string& id)
        : id_(toXml(id)), source_(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                  id_.c_str(), false) {}
    MemBufInputSource& get() { return source_; }

private:
    std::u16string id_;
    MemBufInputSource source_;
};

} // namespace

std::vector<std::string> schemaCandidates() {
    const fs::path relative = fs::path("xsd") / "Ombrel.xsd";
    std::vector<std::string> places{relative.string()};
    const fs::path folder = executableFolder();
    if (!folder.empty()) {
        for (const fs::path& candidate : {folder / ".." / relative, folder / relative,
                                          folder / OMBREL_DATA_FROM_PROGRAMS / relative}) {
            places.push_back(candidate.lexically_normal().string());
        }
    }
    return places;
}

std::string findSchemaFile() {
    std::error_code ec;
    for (const std::string& candidate : schemaCandidates()) {
        if (fs::is_regular_file(candidate, ec)) {
            return candidate;
        }
    }
    return {};
}

bool CityFactory::load(const std::string& path, int largestTexture) {
    clear();

    ElementPlaces places;
    ParseMemory memory;
    ConstructionParser parser(places, memory);
    parser.setValidationScheme(XercesDOMParser::Val_Always);
    parser.setDoNamespaces(true);
    parser.setDoSchema(true);
    parser.setValidationSchemaFullChecking(true);
    // The white space between elements is never read; keeping it would add a text node for
    // every element.
    parser.setIncludeIgnorableWhitespace(false);
    DOMTreeErrorReporter reporter;
    parser.setErrorHandler(&reporter);
    // Nothing but the file itself and the schema is ever read: no DTD, no external entity, no
    // schema named by the document, nothing from the network; entity expansion is bounded.
    SecurityManager security;
    security.setEntityExpansionLimit(kEntityExpansionLimit);
    parser.setSecurityManager(&security);
    parser.setDisableDefaultEntityResolution(true);
    parser.setLoadExternalDTD(false);
    parser.setCreateEntityReferenceNodes(false);

    // The line ends when the parse does (or at the first problem), so it shows while it runs.
    infoLog << "Parsing " << path << " ... ";
    reporter.openLine();

    bool failed = false;
    try {
        const std::string schemaFile = findSchemaFile();
        if (schemaFile.empty()) {
            reporter.closeLine();
            errorLog.line(
                "Cannot find the schema xsd/Ombrel.xsd in the current directory or beside "
                "the program");
            std::string places;
            for (const std::string& candidate : schemaCandidates()) {
                std::error_code ec;
                const fs::path shown = fs::path(candidate).is_relative()
                                           ? fs::current_path(ec) / candidate
                                           : fs::path(candidate);
                places += (places.empty() ? "" : ", ") + shown.string();
            }
            errorLog.line("\tLooked for it at ", places);
            failed = true;
        } else if (const std::optional<std::string> schema = readWholeFile(schemaFile)) {
            BytesSource schemaSource(*schema, schemaFile);
            parser.loadGrammar(schemaSource.get(), Grammar::SchemaGrammarType, true);
            parser.useCachedGrammarInParse(true);
            parser.setLoadSchema(false);
            parser.setExternalNoNamespaceSchemaLocation(toXml(schemaFile).c_str());
        } else {
            reporter.closeLine();
            errorLog.line("Cannot read the schema ", schemaFile);
            failed = true;
        }
        std::error_code ec;
        const bool special = fs::exists(path, ec) && !fs::is_regular_file(path, ec);
        if (!failed && special) {
            // A folder, pipe or device: reading it could block or never end.
            reporter.closeLine();
            errorLog.line("Cannot read ", path, ": it is not a file");
            failed = true;
        }
        if (!failed && !special && fs::file_size(path, ec) > kMaxFileSize && !ec) {
            // Refused before the parser sees it: parsing it would build a document of
            // gigabytes.
            reporter.closeLine();
            errorLog.line("Cannot read ", path, ": it is larger than ",
                          kMaxFileSize / (1024 * 1024), " MiB");
            failed = true;
        }
        if (!failed && !reporter.sawErrors()) {
            if (const std::optional<std::string> bytes = readWholeFile(path)) {
                BytesSource source(*bytes, path);
                parser.parse(source.get());
            } else {
                // Let the parser try and say in its own words why the file cannot be read.
                parser.parse(toXml(path).c_str());
            }
        }
    } catch (const XMLException& e) {
        reporter.closeLine();
        errorLog.line("An error occurred during parsing");
        errorLog.line("\tMessage: ", xmlView(e.getMessage()));
        failed = true;
    } catch (const DOMException& e) {
        reporter.closeLine();
        errorLog.line("DOM Error during parsing: '", path);
        errorLog.line("\t DOMException code is:  ", e.code);
        XMLCh message[2048];
        if (DOMImplementation::loadDOMExceptionMsg(e.code, message, 2047)) {
            errorLog.line("\tMessage is: ", xmlView(message));
        }
        failed = true;
    } catch (const ElementsTooDeep& e) {
        reporter.closeLine();
        const SourcePlace place{std::make_shared<const std::string>(path), e.at.line, e.at.column};
        errorLog.at(place).line("Elements are nested more than ", kMaxElementDepth, " levels deep");
        failed = true;
    } catch (...) {
        reporter.closeLine();
        errorLog.line("An error occurred during parsing\n ");
        failed = true;
    }

    reporter.closeLine();
    const DOMDocument* document = failed ? nullptr : parser.getDocument();
    if (failed || reporter.sawErrors() || !document) {
        errorLog.line("Failed parsing input file - fix errors and reload");
        return false;
    }

    bool read = false;
    try {
        read = ConstructionReader(*this, path, largestTexture, &places).read(*document);
    } catch (const std::exception& e) {
        errorLog.line("Loading stopped: ", e.what());
    } catch (...) {
        errorLog.line("Loading stopped by an unexpected error");
    }
    if (!read) {
        // Nothing of a rejected file stays.
        loaded = true;
        clear();
        errorLog.line("Failed parsing input file - fix errors and reload");
        return false;
    }

    loaded = true;
    fileName = path;
    infoLog.line("Successfully loaded ", fileName);
    return true;
}

} // namespace ombrel
