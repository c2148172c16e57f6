#include "config/ConstructionReader.h"

#include "base/Log.h"
#include "config/Attributes.h"
#include "config/TextureImage.h"
#include "config/Vocabulary.h"
#include "config/XmlSupport.h"
#include "grammar/DrawFactories.h"
#include "grammar/GenerationContext.h"
#include "grammar/Operators.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <system_error>
#include <tuple>
#include <vector>

using namespace xercesc;
namespace fs = std::filesystem;

namespace ombrel {

namespace {

// Vocabulary elements carry no namespace; a namespaced element of the same local name is an
// extension, not ours.
bool isVocab(const DOMNode* node, const XMLCh* name) {
    return node->getNamespaceURI() == nullptr && hasName(node, name);
}

bool isGrammarContainer(const DOMNode* node) {
    return node->getNodeType() == DOMNode::ELEMENT_NODE &&
           (isVocab(node, vocab::Street) || isVocab(node, vocab::Building) ||
            isVocab(node, vocab::Procedure) || isVocab(node, vocab::Maybe) ||
            isVocab(node, vocab::ChooseOption));
}

// Every element named `name` below `root`, in document order. Walks the tree by its links,
// without recursion and without the XML library's node iterators, which each take memory from
// the document that is only given back with it.
template <class Visit> void forEachNamed(const DOMElement& root, const XMLCh* name, Visit visit) {
    const DOMNode* node = root.getFirstChild();
    while (node) {
        const bool element = node->getNodeType() == DOMNode::ELEMENT_NODE;
        if (element && isVocab(node, name)) {
            visit(*static_cast<const DOMElement*>(node));
        }
        if (const DOMNode* child = element ? node->getFirstChild() : nullptr) {
            node = child;
            continue;
        }
        while (node != &root && !node->getNextSibling()) {
            node = node->getParentNode();
        }
        node = node == &root ? nullptr : node->getNextSibling();
    }
}

// Direct child elements of `parent`, in document order. Follows the sibling links: the XML
// library's child list counts and indexes by walking the children from the first each time, which
// would make reading an element's children take the square of their number.
template <class Visit> void forEachChildElement(const DOMElement& parent, Visit visit) {
    for (const DOMNode* node = parent.getFirstChild(); node; node = node->getNextSibling()) {
        if (node->getNodeType() == DOMNode::ELEMENT_NODE) {
            visit(*static_cast<const DOMElement*>(node));
        }
    }
}

std::uint32_t millisecondClock() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// "*" any run of characters, "?" one character; everything else matches itself.
bool globMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool pathExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// A range's bounds as the lenient reading gave them: one number, or "[lower,upper]".
template <class Bound> std::string boundsText(Bound lower, Bound upper, bool single) {
    std::ostringstream os;
    if (single) {
        os << lower;
    } else {
        os << '[' << lower << ',' << upper << ']';
    }
    return os.str();
}

// What follows a repaired value whose text holds a comma.
constexpr const char* kCommaHint = "write a decimal with a point (10.5), a range as [low,high]";

// Reads the attributes of one element by the lenient rules of config/Attributes.h and says so,
// at the element, wherever the text was not exactly a value of its kind:
// "<attribute> '<text>' read as <value>". Absent attributes (with no default in the schema)
// read as "" silently.
class ValueReader {
public:
    ValueReader(const DOMElement& element, const SourcePlace& place)
        : element_(element), place_(place) {}

    std::uint32_t unsignedValue(const XMLCh* name) const {
        const std::string text = utf8(name);
        const std::uint32_t value = readUnsigned(text);
        if (present(name) && !isPlainInt(text)) {
            readAs(name, value);
        }
        return value;
    }
    float floatValue(const XMLCh* name) const {
        const std::string text = utf8(name);
        const float value = readFloat(text);
        if (present(name) && !isPlainFloat(text)) {
            readAs(name, value);
        }
        return value;
    }
    bool flag(const XMLCh* name) const {
        const std::u16string_view text = attributeText(&element_, name);
        const bool value = readBool(text);
        if (present(name) && !isPlainBool(text)) {
            readAs(name, "false");
        }
        return value;
    }
    FloatRange floatRange(const XMLCh* name) const {
        const std::string text = utf8(name);
        if (present(name) && !isPlainFloatRange(text)) {
            const FloatRange bounds = readFloatBounds(text);
            readAs(name, boundsText(bounds.lower, bounds.upper, isSingle(text)), true);
        }
        return readFloatRange(text, place_);
    }
    UintRange uintRange(const XMLCh* name) const {
        const std::string text = utf8(name);
        if (present(name) && !isPlainUintRange(text)) {
            const UintRange bounds = readUintBounds(text);
            readAs(name, boundsText(bounds.lower, bounds.upper, isSingle(text)), true);
        }
        return readUintRange(text, place_);
    }
    // A probability that weighs an entry of a list against the others. A negative one is kept
    // as it is: it lowers the list's total, of which every weight is a share.
    float weight(const XMLCh* name) const {
        const float value = floatValue(name);
        if (value < 0.0f) {
            warningLog.at(place_).line(xmlView(name), " '", attributeText(&element_, name),
                                       "' is negative - kept: it lowers the total weight of "
                                       "its list, so the picks are skewed");
        }
        return value;
    }
    // Maybe's probability: a negative one is below every draw.
    float chance(const XMLCh* name) const {
        const float value = floatValue(name);
        if (value < 0.0f) {
            warningLog.at(place_).line(xmlView(name), " '", attributeText(&element_, name),
                                       "' is negative - the Maybe never runs");
        }
        return value;
    }

private:
    bool present(const XMLCh* name) const { return element_.hasAttribute(name); }
    std::string utf8(const XMLCh* name) const { return xmlToString(element_.getAttribute(name)); }
    static bool isSingle(std::string_view text) { return text.find(',') == std::string::npos; }
    // A comma in a plain number is a decimal comma; in a range without both brackets it may be
    // either. Inside "[...]" it is where it belongs.
    static bool commaMisplaced(std::string_view text, bool range) {
        if (text.find(',') == std::string_view::npos) {
            return false;
        }
        const std::size_t first = text.find_first_not_of(" \t\r\n");
        const std::size_t last = text.find_last_not_of(" \t\r\n");
        return !range || text[first] != '[' || text[last] != ']';
    }
    template <class Value>
    void readAs(const XMLCh* name, const Value& value, bool range = false) const {
        const std::u16string_view text = attributeText(&element_, name);
        warningLog.at(place_).line(xmlView(name), " '", text, "' read as ", value);
        if (commaMisplaced(utf16ToUtf8(text), range)) {
            warningLog.at(place_).line(kCommaHint);
        }
    }

    const DOMElement& element_;
    const SourcePlace& place_;
};

// Whether two files hold different bytes (a file that cannot be read differs from any).
bool differentFiles(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) {
        return false;
    }
    if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) {
        return true;
    }
    std::ifstream ina(a, std::ios::binary);
    std::ifstream inb(b, std::ios::binary);
    if (!ina || !inb) {
        return true;
    }
    return !std::equal(std::istreambuf_iterator<char>(ina), std::istreambuf_iterator<char>(),
                       std::istreambuf_iterator<char>(inb), std::istreambuf_iterator<char>());
}

// The name of a file in `folder` closest to `name` (see closestName); empty when none is.
std::string closestFileIn(const fs::path& folder, const std::string& name) {
    // A folder of thousands of files is no image folder; looking through all of it is not worth
    // the wait.
    constexpr int kMostLooked = 10000;
    std::vector<std::string> names;
    std::error_code ec;
    int looked = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && looked < kMostLooked;
         it.increment(ec), ++looked) {
        if (it->is_regular_file(ec)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return closestName(name, names);
}

template <class Factory>
std::unique_ptr<Factory> withPlace(std::unique_ptr<Factory> factory, SourcePlace place) {
    factory->place = std::move(place);
    return factory;
}

} // namespace

int grammarNesting(const DOMElement& root) {
    int depth = 0;
    int deepest = 0;
    const DOMNode* node = root.getFirstChild();
    while (node) {
        if (isGrammarContainer(node)) {
            deepest = std::max(deepest, ++depth);
        }
        if (const DOMNode* child = node->getFirstChild()) {
            node = child;
            continue;
        }
        // Climb until a node with a next sibling; leaving a container closes its level.
        const DOMNode* next = nullptr;
        while (node && node != &root) {
            if (isGrammarContainer(node)) {
                --depth;
            }
            if ((next = node->getNextSibling())) {
                break;
            }
            node = node->getParentNode();
        }
        node = next;
    }
    return deepest;
}

ConstructionReader::ConstructionReader(CityFactory& factory, const std::string& constructionFile,
                                       int largestTexture, const ElementPlaces* places)
    : factory_(factory), baseFolder_(fs::path(constructionFile).parent_path()),
      largestTexture_(std::clamp(largestTexture, 1, kMostLargestTexture)),
      file_(std::make_shared<const std::string>(constructionFile)), places_(places) {}

SourcePlace ConstructionReader::placeOf(const DOMElement& element) const {
    if (!places_) {
        return {};
    }
    const ElementPlaces::Position at = places_->of(&element);
    if (at.line == 0) {
        return {};
    }
    return {file_, at.line, at.column};
}

void ConstructionReader::warnUndefinedCall(const std::string& name,
                                           const SourcePlace& place) const {
    warningLog.at(place).line("Placing an undefined building part named '", name, "' - ignored");
    const auto found = procedureLines_.find(name);
    if (found != procedureLines_.end()) {
        // The Procedure being read, or the first of that name after it; they are listed in order.
        const auto& defined = found->second;
        const auto at = std::lower_bound(
            defined.begin(), defined.end(), readingProcedure_,
            [](const auto& procedure, std::size_t reading) { return procedure.first < reading; });
        if (at != defined.end() && at->first == readingProcedure_) {
            warningLog.at(place).line("(a Procedure cannot call itself)");
            return;
        }
        if (at != defined.end()) {
            warningLog.at(place).line("(a Procedure '", name, "' is defined at line ", at->second,
                                      ": procedures must come before the elements that call "
                                      "them)");
            return;
        }
    }
    // A slip of the fingers, as for element names; else what may be called here.
    std::vector<std::string> known;
    for (const auto& [procedure, body] : factory_.procedures) {
        known.push_back(procedure);
    }
    if (const std::string closest = closestName(name, known); !closest.empty()) {
        warningLog.at(place).line("did you mean '", closest, "'?");
    } else if (known.empty()) {
        warningLog.at(place).line("no Procedure is defined before it");
    } else {
        constexpr std::size_t kListed = 10;
        std::string list;
        for (std::size_t i = 0; i < known.size() && i < kListed; ++i) {
            list += (i ? ", '" : "'") + known[i] + "'";
        }
        if (known.size() > kListed) {
            list += ", ...";
        }
        warningLog.at(place).line("procedures defined before it: ", list);
    }
}

bool ConstructionReader::read(const DOMDocument& document) {
    // The first Ombrel element; item() stops there, where counting the list walks the whole
    // document.
    const DOMElement* root =
        static_cast<const DOMElement*>(document.getElementsByTagName(vocab::Ombrel)->item(0));
    if (!root) {
        errorLog.line("The file has no Ombrel element");
        return false;
    }
    // A refused file leaves the parameters as they were, like a file that does not parse.
    const CityFactory& f = factory_;
    const auto saved = std::make_tuple(f.numCellsX, f.numCellsY, f.streetEveryX, f.streetEveryY,
                                       f.firstStreetCrossX, f.firstStreetCrossY, f.cellSizeX,
                                       f.cellSizeY, f.streetSizeX, f.streetSizeY);
    readParameters(*root);
    if (!checkLimits(*root)) {
        CityFactory& g = factory_;
        std::tie(g.numCellsX, g.numCellsY, g.streetEveryX, g.streetEveryY, g.firstStreetCrossX,
                 g.firstStreetCrossY, g.cellSizeX, g.cellSizeY, g.streetSizeX, g.streetSizeY) =
            saved;
        return false;
    }
    readSeed(*root);
    readTextureGroups(*root);
    readProcedures(*root);
    readDefinitions(*root);
    checkStreetSizes(*root);
    generationContext().randomState = factory_.randomSeed;
    return true;
}

void ConstructionReader::readParameters(const DOMElement& root) {
    CityFactory& f = factory_;
    const SourcePlace place = placeOf(root);
    const ValueReader values(root, place);
    f.numCellsX = values.unsignedValue(vocab::numCellsX);
    f.numCellsY = values.unsignedValue(vocab::numCellsY);
    f.streetEveryX = values.unsignedValue(vocab::streetEveryX);
    f.streetEveryY = values.unsignedValue(vocab::streetEveryY);
    f.cellSizeX = values.floatValue(vocab::cellSizeX);
    f.cellSizeY = values.floatValue(vocab::cellSizeY);
    f.streetSizeX = values.floatValue(vocab::streetSizeX);
    f.streetSizeY = values.floatValue(vocab::streetSizeY);
    if (f.streetSizeX == 0.0f) {
        f.streetSizeX = f.cellSizeX;
    }
    if (f.streetSizeY == 0.0f) {
        f.streetSizeY = f.cellSizeY;
    }

    // "-1" means "at the spacing"; anything above the spacing is repaired the same way.
    f.firstStreetCrossX = values.unsignedValue(vocab::firstStreetCrossX);
    f.firstStreetCrossY = values.unsignedValue(vocab::firstStreetCrossY);
    if (f.firstStreetCrossX == 4294967295u) {
        f.firstStreetCrossX = f.streetEveryX;
    } else if (f.firstStreetCrossX > f.streetEveryX) {
        f.firstStreetCrossX = f.streetEveryX;
        warningLog.at(place).line(
            "firstStreetCrossX must not exceed streetEveryX - default value is taken instead");
    }
    if (f.firstStreetCrossY == 4294967295u) {
        f.firstStreetCrossY = f.streetEveryY;
    } else if (f.firstStreetCrossY > f.streetEveryY) {
        f.firstStreetCrossY = f.streetEveryY;
        warningLog.at(place).line(
            "firstStreetCrossY must not exceed streetEveryY - default value is taken instead");
    }
}

bool ConstructionReader::checkLimits(const DOMElement& root) {
    const CityFactory& f = factory_;
    const std::uint64_t cells = std::uint64_t(f.numCellsX) * f.numCellsY;
    const SourcePlace place = placeOf(root);
    if (cells > kMaxCells) {
        errorLog.at(place).line("numCellsX x numCellsY is ", f.numCellsX, " x ", f.numCellsY, " = ",
                                cells, " cells; at most ", kMaxCells, " are allowed");
        return false;
    }
    if (f.streetEveryX == 4294967295u || f.streetEveryY == 4294967295u) {
        errorLog.at(place).line(
            "streetEveryX and streetEveryY must be below 4294967295 (a negative spacing is "
            "not allowed)");
        return false;
    }
    if (grammarNesting(root) > kMaxGrammarNesting) {
        errorLog.at(place).line("Grammar elements are nested more than ", kMaxGrammarNesting,
                                " levels deep (Maybe and ChooseOption inside each other)");
        return false;
    }
    return true;
}

void ConstructionReader::readSeed(const DOMElement& root) {
    factory_.seedFromFile = false;
    if (!root.hasAttribute(vocab::randomSeed)) {
        factory_.randomSeed = millisecondClock();
        return;
    }
    const std::u16string_view text = attributeText(&root, vocab::randomSeed);
    const SourcePlace place = placeOf(root);
    if (const std::optional<std::uint32_t> seed = ombrel::readSeed(text)) {
        factory_.randomSeed = *seed;
        if (!isPlainSeed(text)) {
            char seedText[16];
            std::snprintf(seedText, sizeof seedText, "0x%08X", *seed);
            warningLog.at(place).line("randomSeed '", text, "' read as ", seedText);
        }
        factory_.seedFromFile = true;
    } else {
        factory_.randomSeed = millisecondClock();
        warningLog.at(place).line(
            "randomSeed '", text,
            "' is not a hexadecimal number - a seed from the clock is taken instead");
    }
}

void ConstructionReader::readTextureGroups(const DOMElement& root) {
    std::map<std::string, std::uint32_t> lines;
    forEachNamed(root, vocab::TextureGroup, [&](const DOMElement& element) {
        std::string name = xmlToString(element.getAttribute(vocab::name));
        const SourcePlace place = placeOf(element);
        if (const auto earlier = lines.find(name); earlier != lines.end()) {
            warningLog.at(place).line("TextureGroup '", name, "' replaces the one at line ",
                                      earlier->second);
        }
        lines[name] = place.line;
        std::shared_ptr<TextureGroup> group = parseTextureGroup(element);
        factory_.textureGroups[std::move(name)] = std::move(group);
    });
}

void ConstructionReader::readProcedures(const DOMElement& root) {
    std::vector<const DOMElement*> elements;
    forEachNamed(root, vocab::Procedure,
                 [&](const DOMElement& element) { elements.push_back(&element); });
    for (std::size_t i = 0; i < elements.size(); ++i) {
        procedureLines_[xmlToString(elements[i]->getAttribute(vocab::name))].emplace_back(
            i, placeOf(*elements[i]).line);
    }
    std::map<std::string, std::uint32_t> lines;
    for (readingProcedure_ = 0; readingProcedure_ < elements.size(); ++readingProcedure_) {
        const DOMElement& element = *elements[readingProcedure_];
        std::string name = xmlToString(element.getAttribute(vocab::name));
        const SourcePlace place = placeOf(element);
        if (const auto earlier = lines.find(name); earlier != lines.end()) {
            warningLog.at(place).line("Procedure '", name, "' replaces the one at line ",
                                      earlier->second);
        }
        lines[name] = place.line;
        auto body = std::make_shared<BBlockFactory>();
        parseGrammarChildren(element, *body);
        // Stored only now, so the body's own Calls see only the procedures before it. Calls
        // bound to a body this one replaces share its ownership and keep it alive.
        factory_.procedures[std::move(name)] = std::move(body);
    }
}

void ConstructionReader::readDefinitions(const DOMElement& root) {
    forEachChildElement(root, [&](const DOMElement& element) {
        const SourcePlace place = placeOf(element);
        if (isVocab(&element, vocab::Building)) {
            const float weight = ValueReader(element, place).weight(vocab::probability);
            std::string tag;
            if (element.hasAttribute(vocab::vrmlTag)) {
                tag = xmlToString(element.getAttribute(vocab::vrmlTag));
            }
            auto building = std::make_unique<CityBuildingFactory>(std::move(tag));
            building->place = place;
            building->surfaces.material = xmlToString(element.getAttribute(vocab::material));
            parseGrammarChildren(element, *building);
            factory_.buildings.add(weight, std::move(building));
        } else if (isVocab(&element, vocab::Street)) {
            const float weight = ValueReader(element, place).weight(vocab::probability);
            const std::u16string_view type = attributeText(&element, vocab::type);
            WeightedList<std::unique_ptr<CityStreetFactory>>* list = nullptr;
            if (type == vocab::cross) {
                list = &factory_.crossStreets;
            } else if (type == vocab::horizontal) {
                list = &factory_.horizontalStreets;
            } else if (type == vocab::vertical) {
                list = &factory_.verticalStreets;
            }
            if (!list) {
                warningLog.at(place).line("Unknown road type \"", type,
                                          "\" - road definition ignored");
                return;
            }
            auto street = std::make_unique<CityStreetFactory>();
            if (list == &factory_.crossStreets) {
                street->surfaces.floorSurface = kCrossingSurface;
            }
            street->surfaces.material = xmlToString(element.getAttribute(vocab::material));
            parseGrammarChildren(element, *street);
            list->add(weight, std::move(street));
        } else if (isVocab(&element, vocab::Procedure) || isVocab(&element, vocab::TextureGroup)) {
            // Already read.
        } else {
            warningLog.at(place).line("Ignoring unknown element name \"",
                                      xmlView(element.getNodeName()), "\"");
        }
    });
}

void ConstructionReader::checkStreetSizes(const DOMElement& root) {
    CityFactory& f = factory_;
    const SourcePlace place = placeOf(root);
    if (f.horizontalStreets.empty() && f.streetSizeY != f.cellSizeY) {
        warningLog.at(place).line(
            "Ignoring streetSizeY since there are no \"horizontal\" typed streets defined");
        f.streetSizeY = f.cellSizeY;
    }
    if (f.verticalStreets.empty() && f.streetSizeX != f.cellSizeX) {
        warningLog.at(place).line(
            "Ignoring streetSizeX since there are no \"vertical\" typed streets defined");
        f.streetSizeX = f.cellSizeX;
    }
}

// ---- Textures ----

std::shared_ptr<TextureGroup> ConstructionReader::parseTextureGroup(const DOMElement& element) {
    auto group = std::make_shared<TextureGroup>();
    forEachNamed(element, vocab::Texture,
                 [&](const DOMElement& texture) { addTextures(*group, texture); });
    return group;
}

fs::path ConstructionReader::patternFolder(const fs::path& folder) const {
    std::error_code ec;
    // A pattern without a folder ("*.png") searches the current directory itself; absolute()
    // refuses an empty path.
    fs::path absolute = folder.empty() ? fs::current_path(ec) : fs::absolute(folder, ec);
    if (!folder.is_absolute() && !fs::is_directory(absolute, ec) && !baseFolder_.empty()) {
        const fs::path beside = fs::absolute(baseFolder_ / folder, ec);
        if (fs::is_directory(beside, ec)) {
            absolute = beside;
        }
    }
    return absolute.lexically_normal();
}

ConstructionReader::Located ConstructionReader::locate(const std::string& imageURL) const {
    // Images come from files only: nothing is ever fetched from the network.
    if (imageURL.empty() || imageURL.find("://") != std::string::npos) {
        return {};
    }
    const fs::path path(imageURL);
    if (path.is_absolute() || pathExists(path) || baseFolder_.empty()) {
        return {path, imageURL};
    }
    // Not found relative to the current directory: try beside the construction file, so the
    // bundled cities load from anywhere. The texture is then known by that path, so exported
    // models name a file that exists.
    const fs::path beside = (baseFolder_ / path).lexically_normal();
    if (pathExists(beside)) {
        return {beside, beside.string()};
    }
    return {path, imageURL};
}

void ConstructionReader::addTextures(TextureGroup& group, const DOMElement& element) {
    const SourcePlace place = placeOf(element);
    const ValueReader values(element, place);
    const std::string imageURL = xmlToString(element.getAttribute(vocab::imageURL));
    const float weight = values.weight(vocab::probability);
    const float scalex = values.floatValue(vocab::scalex);
    const float scaley = values.floatValue(vocab::scaley);
    const bool relativeToWidth = values.flag(vocab::relativeToWidth);
    const bool relativeToHeight = values.flag(vocab::relativeToHeight);

    // A failed image is reported with the reason on the following line(s); `explain` says it
    // for a path written in the file (nothing found, a URL), otherwise the decoder's reason.
    const auto add = [&](const std::string& name, const fs::path& file,
                         const std::function<bool(const std::string&)>& explain) {
        auto texture =
            std::make_shared<Texture>(name, scalex, scaley, relativeToWidth, relativeToHeight);
        std::string why;
        texture->image = decodeTextureFile(file.string(), largestTexture_, &why);
        if (texture->image.empty()) {
            warningLog.at(place).line("Failed loading texture ", name, " (it will not be used)");
            if (!explain || !explain(why)) {
                warningLog.at(place).line(why);
            }
            return;
        }
        group.textures.add(weight, std::move(texture));
    };

    if (imageURL.find('*') == std::string::npos) {
        const Located located = locate(imageURL);
        const fs::path path(imageURL);
        std::error_code ec;
        // The current directory comes first; when the construction file's folder holds another
        // image under the same relative path, the user may well have meant that one.
        if (!located.file.empty() && !path.is_absolute() && !baseFolder_.empty() &&
            located.file == path) {
            const fs::path beside = (baseFolder_ / path).lexically_normal();
            if (pathExists(beside) && differentFiles(path, beside)) {
                warningLog.at(place).line("Texture ", imageURL, " is ",
                                          fs::absolute(path, ec).lexically_normal().string(),
                                          ", from the current directory; the different ",
                                          fs::absolute(beside, ec).lexically_normal().string(),
                                          " beside the construction file is not used");
            }
        }
        const auto explain = [&](const std::string& why) {
            if (imageURL.empty()) {
                warningLog.at(place).line("imageURL is empty");
                return true;
            }
            if (imageURL.find("://") != std::string::npos) {
                warningLog.at(place).line("images are read from files only: URLs are never "
                                          "fetched");
                return true;
            }
            if (why != "not found") {
                return false;
            }
            std::vector<fs::path> folders{fs::absolute(path, ec).lexically_normal().parent_path()};
            if (!path.is_absolute() && !baseFolder_.empty()) {
                const fs::path beside =
                    fs::absolute(baseFolder_ / path, ec).lexically_normal().parent_path();
                if (beside != folders[0]) {
                    folders.push_back(beside);
                }
            }
            std::string looked = folders[0].string();
            if (folders.size() > 1) {
                looked += " and " + folders[1].string();
            }
            warningLog.at(place).line("not found; looked in ", looked);
            for (const fs::path& folder : folders) {
                const std::string closest = closestFileIn(folder, path.filename().string());
                if (!closest.empty()) {
                    warningLog.at(place).line("did you mean '",
                                              (path.parent_path() / closest).string(), "'?");
                    break;
                }
            }
            return true;
        };
        add(located.name.empty() ? imageURL : located.name, located.file, explain);
        return;
    }

    infoLog.line("Looking for texture files from pattern '", imageURL, "'");
    if (imageURL.find("://") != std::string::npos) {
        return;
    }
    const fs::path pattern(imageURL);
    const std::string namePattern = pattern.filename().string();
    // Wildcards only work in the last part of the path.
    if (pattern.parent_path().string().find('*') != std::string::npos) {
        return;
    }
    const auto search = [&](const fs::path& folder) {
        std::vector<fs::path> found;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (globMatch(namePattern, it->path().filename().string())) {
                found.push_back(it->path());
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    };
    std::vector<fs::path> matches = search(patternFolder(pattern.parent_path()));
    // Like a plain path, a relative pattern that matches nothing from the current directory
    // is tried beside the construction file, so "*.png" finds the images next to the file.
    if (matches.empty() && !pattern.is_absolute() && !baseFolder_.empty()) {
        std::error_code ec;
        matches = search(fs::absolute(baseFolder_ / pattern.parent_path(), ec).lexically_normal());
    }
    for (const fs::path& match : matches) {
        infoLog.line("\tAdding '", match.string(), "'");
        add(match.string(), match, nullptr);
    }
}

std::shared_ptr<TextureGroup> ConstructionReader::parseTextureOptions(const DOMElement& element) {
    if (element.hasAttribute(vocab::useTextureGroup)) {
        const std::string name = xmlToString(element.getAttribute(vocab::useTextureGroup));
        const auto found = factory_.textureGroups.find(name);
        if (found != factory_.textureGroups.end()) {
            return found->second;
        }
        warningLog.at(placeOf(element)).line("Use of undefined texture group '", name, "' ignored");
        return nullptr;
    }
    bool hasTextures = false;
    forEachNamed(element, vocab::Texture, [&](const DOMElement&) { hasTextures = true; });
    if (hasTextures) {
        std::shared_ptr<TextureGroup> group = parseTextureGroup(element);
        factory_.inlineTextureGroups.push_back(group);
        return group;
    }
    if (ValueReader(element, placeOf(element)).flag(vocab::useLastTexture)) {
        return factory_.lastTextureGroup;
    }
    return nullptr;
}

// ---- Grammar elements ----

void ConstructionReader::parseGrammarChildren(const DOMElement& parent,
                                              CityCellFactory& container) {
    forEachChildElement(parent, [&](const DOMElement& e) {
        const SourcePlace place = placeOf(e);
        const ValueReader values(e, place);
        const auto text = [&](const XMLCh* name) { return attributeText(&e, name); };
        const auto flag = [&](const XMLCh* name) { return values.flag(name); };
        const auto floats = [&](const XMLCh* name) { return values.floatRange(name); };
        const auto add = [&](auto factory) { container.add(withPlace(std::move(factory), place)); };
        // The labels a drawing element gives its faces; an attribute that is absent or empty
        // says nothing.
        const auto labelled = [&](auto factory) {
            factory->labels.surface = xmlToString(e.getAttribute(vocab::surface));
            factory->labels.material = xmlToString(e.getAttribute(vocab::material));
            return factory;
        };

        if (isVocab(&e, vocab::DrawFloor)) {
            const bool noColor = flag(vocab::noColor);
            const bool pointingDown = flag(vocab::pointingDown);
            add(labelled(
                std::make_unique<DrawFloorFactory>(noColor, parseTextureOptions(e), pointingDown)));
        } else if (isVocab(&e, vocab::DrawBox)) {
            const bool noColor = flag(vocab::noColor);
            const std::u16string_view word = text(vocab::closed);
            ClosedMode closed = ClosedMode::no;
            if (word == vocab::onlyBottom) {
                closed = ClosedMode::onlyBottom;
            } else if (word == vocab::onlyTop) {
                closed = ClosedMode::onlyTop;
            } else if (word == vocab::yes) {
                closed = ClosedMode::yes;
            } else if (word != vocab::no) {
                warningLog.at(place).line("Unknown DrawBox closed value '", word, "' - ignored");
            }
            const FloatRange height = floats(vocab::height);
            auto box = labelled(
                std::make_unique<DrawBoxFactory>(noColor, parseTextureOptions(e), height, closed));
            box->labels.roofSurface = xmlToString(e.getAttribute(vocab::roofSurface));
            add(std::move(box));
        } else if (isVocab(&e, vocab::DrawPyramid)) {
            const bool noColor = flag(vocab::noColor);
            const FloatRange height = floats(vocab::height);
            add(labelled(
                std::make_unique<DrawPyramidFactory>(noColor, parseTextureOptions(e), height)));
        } else if (isVocab(&e, vocab::GoUp)) {
            add(std::make_unique<GoUpFactory>(floats(vocab::height)));
        } else if (isVocab(&e, vocab::Rotate)) {
            const FloatRange theta = floats(vocab::theta);
            const FloatRange distance = floats(vocab::distance);
            add(std::make_unique<RotateFactory>(theta, distance));
        } else if (isVocab(&e, vocab::ScaleTo)) {
            const std::u16string_view whereWord = text(vocab::where);
            ScaleWhere where = ScaleWhere::center;
            if (whereWord == vocab::v0) {
                where = ScaleWhere::v0;
            } else if (whereWord == vocab::v1) {
                where = ScaleWhere::v1;
            } else if (whereWord == vocab::v2) {
                where = ScaleWhere::v2;
            } else if (whereWord == vocab::v3) {
                where = ScaleWhere::v3;
            } else if (whereWord != vocab::center) {
                warningLog.at(place).line("Unknown where '", whereWord,
                                          "' in scaleTo node, overriding with 'center'");
            }
            const FloatRange scalex = floats(vocab::scalex);
            const FloatRange scaley = floats(vocab::scaley);
            const std::u16string_view typeWord = text(vocab::scaleType);
            ScaleType scaleType = ScaleType::relative;
            if (typeWord == vocab::exact) {
                scaleType = ScaleType::exact;
            } else if (typeWord != vocab::relative) {
                warningLog.at(place).line("Unknown scaleType '", typeWord,
                                          "' in scaleTo node, overriding with 'relative'");
            }
            add(std::make_unique<ScaleToFactory>(where, scalex, scaley, scaleType));
        } else if (isVocab(&e, vocab::Call)) {
            const std::string name = xmlToString(e.getAttribute(vocab::name));
            const auto found = factory_.procedures.find(name);
            if (found == factory_.procedures.end()) {
                warnUndefinedCall(name, place);
                return;
            }
            const UintRange repeat = values.uintRange(vocab::repeat);
            add(std::make_unique<CallFactory>(found->second, repeat));
        } else if (isVocab(&e, vocab::Choose)) {
            add(parseChoose(e));
        } else if (isVocab(&e, vocab::Maybe)) {
            auto maybe = std::make_unique<MaybeFactory>(values.chance(vocab::probability));
            parseGrammarChildren(e, *maybe);
            add(std::move(maybe));
        } else if (isVocab(&e, vocab::Push)) {
            add(std::make_unique<PushFactory>(values.unsignedValue(vocab::count)));
        } else if (isVocab(&e, vocab::Pop)) {
            const bool vertices = flag(vocab::popCellVertices);
            const bool height = flag(vocab::popHeight);
            const bool seed = flag(vocab::popRandomSeed);
            add(std::make_unique<PopFactory>(vertices, height, seed));
        } else {
            warningLog.at(place).line("Unknown Drawable \"", xmlView(e.getNodeName()), "\"");
        }
    });
}

std::unique_ptr<ChooseFactory> ConstructionReader::parseChoose(const DOMElement& element) {
    auto choose = std::make_unique<ChooseFactory>();
    forEachChildElement(element, [&](const DOMElement& child) {
        const SourcePlace place = placeOf(child);
        if (!isVocab(&child, vocab::ChooseOption)) {
            warningLog.at(place).line("Ignoring not-supported ", xmlView(child.getNodeName()),
                                      " under ChooseOption");
            return;
        }
        const float weight = ValueReader(child, place).weight(vocab::probability);
        auto body = std::make_unique<CityCellFactory>();
        parseGrammarChildren(child, *body);
        choose->addOption(weight, std::move(body));
    });
    return choose;
}

} // namespace ombrel
