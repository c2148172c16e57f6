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

// Every element named `name` below `root`, in document order.
template <class Visit> void forEachNamed(const DOMElement& root, const XMLCh* name, Visit visit) {
    DOMDocument* document = root.getOwnerDocument();
    DOMNameFilter filter(name);
    DOMNodeIterator* it = document->createNodeIterator(const_cast<DOMElement*>(&root),
                                                       DOMNodeFilter::SHOW_ELEMENT, &filter, false);
    std::vector<const DOMElement*> found;
    for (DOMNode* node = it->nextNode(); node; node = it->nextNode()) {
        if (node != &root && node->getNamespaceURI() == nullptr) {
            found.push_back(static_cast<const DOMElement*>(node));
        }
    }
    it->release();
    for (const DOMElement* element : found) {
        visit(*element);
    }
}

// Direct child elements of `parent`, in document order.
template <class Visit> void forEachChildElement(const DOMElement& parent, Visit visit) {
    const DOMNodeList* children = parent.getChildNodes();
    for (XMLSize_t i = 0; i < children->getLength(); ++i) {
        const DOMNode* node = children->item(i);
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
                                       int largestTexture)
    : factory_(factory), baseFolder_(fs::path(constructionFile).parent_path()),
      largestTexture_(std::clamp(largestTexture, 1, kMostLargestTexture)) {}

bool ConstructionReader::read(const DOMDocument& document) {
    const DOMNodeList* roots = document.getElementsByTagName(vocab::Ombrel);
    const DOMElement* root =
        roots->getLength() ? static_cast<const DOMElement*>(roots->item(0)) : nullptr;
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
    checkStreetSizes();
    generationContext().randomState = factory_.randomSeed;
    return true;
}

void ConstructionReader::readParameters(const DOMElement& root) {
    CityFactory& f = factory_;
    f.numCellsX = readUnsigned(attributeText(&root, vocab::numCellsX));
    f.numCellsY = readUnsigned(attributeText(&root, vocab::numCellsY));
    f.streetEveryX = readUnsigned(attributeText(&root, vocab::streetEveryX));
    f.streetEveryY = readUnsigned(attributeText(&root, vocab::streetEveryY));
    f.cellSizeX = readFloat(attributeText(&root, vocab::cellSizeX));
    f.cellSizeY = readFloat(attributeText(&root, vocab::cellSizeY));
    f.streetSizeX = readFloat(attributeText(&root, vocab::streetSizeX));
    f.streetSizeY = readFloat(attributeText(&root, vocab::streetSizeY));
    if (f.streetSizeX == 0.0f) {
        f.streetSizeX = f.cellSizeX;
    }
    if (f.streetSizeY == 0.0f) {
        f.streetSizeY = f.cellSizeY;
    }

    // "-1" means "at the spacing"; anything above the spacing is repaired the same way.
    f.firstStreetCrossX = readUnsigned(attributeText(&root, vocab::firstStreetCrossX));
    f.firstStreetCrossY = readUnsigned(attributeText(&root, vocab::firstStreetCrossY));
    if (f.firstStreetCrossX == 4294967295u) {
        f.firstStreetCrossX = f.streetEveryX;
    } else if (f.firstStreetCrossX > f.streetEveryX) {
        f.firstStreetCrossX = f.streetEveryX;
        warningLog.line(
            "firstStreetCrossX must not exceed streetEveryX - default value is taken instead");
    }
    if (f.firstStreetCrossY == 4294967295u) {
        f.firstStreetCrossY = f.streetEveryY;
    } else if (f.firstStreetCrossY > f.streetEveryY) {
        f.firstStreetCrossY = f.streetEveryY;
        warningLog.line(
            "firstStreetCrossY must not exceed streetEveryY - default value is taken instead");
    }
}

bool ConstructionReader::checkLimits(const DOMElement& root) {
    const CityFactory& f = factory_;
    const std::uint64_t cells = std::uint64_t(f.numCellsX) * f.numCellsY;
    if (cells > kMaxCells) {
        errorLog.line("numCellsX x numCellsY is ", f.numCellsX, " x ", f.numCellsY, " = ", cells,
                      " cells; at most ", kMaxCells, " are allowed");
        return false;
    }
    if (f.streetEveryX == 4294967295u || f.streetEveryY == 4294967295u) {
        errorLog.line(
            "streetEveryX and streetEveryY must be below 4294967295 (a negative spacing is "
            "not allowed)");
        return false;
    }
    if (grammarNesting(root) > kMaxGrammarNesting) {
        errorLog.line("Grammar elements are nested more than ", kMaxGrammarNesting,
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
    if (const std::optional<std::uint32_t> seed = ombrel::readSeed(text)) {
        factory_.randomSeed = *seed;
        factory_.seedFromFile = true;
    } else {
        factory_.randomSeed = millisecondClock();
        warningLog.line("randomSeed '", text,
                        "' is not a hexadecimal number - a seed from the clock is taken instead");
    }
}

void ConstructionReader::readTextureGroups(const DOMElement& root) {
    forEachNamed(root, vocab::TextureGroup, [&](const DOMElement& element) {
        std::string name = xmlToString(element.getAttribute(vocab::name));
        std::shared_ptr<TextureGroup> group = parseTextureGroup(element);
        factory_.textureGroups[std::move(name)] = std::move(group);
    });
}

void ConstructionReader::readProcedures(const DOMElement& root) {
    forEachNamed(root, vocab::Procedure, [&](const DOMElement& element) {
        std::string name = xmlToString(element.getAttribute(vocab::name));
        auto body = std::make_shared<BBlockFactory>();
        parseGrammarChildren(element, *body);
        // Stored only now, so the body's own Calls see only the procedures before it. Calls
        // bound to a body this one replaces share its ownership and keep it alive.
        factory_.procedures[std::move(name)] = std::move(body);
    });
}

void ConstructionReader::readDefinitions(const DOMElement& root) {
    forEachChildElement(root, [&](const DOMElement& element) {
        if (isVocab(&element, vocab::Building)) {
            const float weight = xmlToFloat(element.getAttribute(vocab::probability));
            std::string tag;
            if (element.hasAttribute(vocab::vrmlTag)) {
                tag = xmlToString(element.getAttribute(vocab::vrmlTag));
            }
            auto building = std::make_unique<CityBuildingFactory>(std::move(tag));
            parseGrammarChildren(element, *building);
            factory_.buildings.add(weight, std::move(building));
        } else if (isVocab(&element, vocab::Street)) {
            const float weight = xmlToFloat(element.getAttribute(vocab::probability));
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
                warningLog.line("Unknown road type \"", type, "\" - road definition ignored");
                return;
            }
            auto street = std::make_unique<CityStreetFactory>();
            parseGrammarChildren(element, *street);
            list->add(weight, std::move(street));
        } else if (isVocab(&element, vocab::Procedure) || isVocab(&element, vocab::TextureGroup)) {
            // Already read.
        } else {
            warningLog.line("Ignoring unknown element name \"", xmlView(element.getNodeName()),
                            "\"");
        }
    });
}

void ConstructionReader::checkStreetSizes() {
    CityFactory& f = factory_;
    if (f.horizontalStreets.empty() && f.streetSizeY != f.cellSizeY) {
        warningLog.line(
            "Ignoring streetSizeY since there are no \"horizontal\" typed streets defined");
        f.streetSizeY = f.cellSizeY;
    }
    if (f.verticalStreets.empty() && f.streetSizeX != f.cellSizeX) {
        warningLog.line(
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
    const std::string imageURL = xmlToString(element.getAttribute(vocab::imageURL));
    const float weight = xmlToFloat(element.getAttribute(vocab::probability));
    const float scalex = xmlToFloat(element.getAttribute(vocab::scalex));
    const float scaley = xmlToFloat(element.getAttribute(vocab::scaley));
    const bool relativeToWidth = readBool(attributeText(&element, vocab::relativeToWidth));
    const bool relativeToHeight = readBool(attributeText(&element, vocab::relativeToHeight));

    const auto add = [&](const std::string& name, const fs::path& file) {
        auto texture =
            std::make_shared<Texture>(name, scalex, scaley, relativeToWidth, relativeToHeight);
        texture->image = decodeTextureFile(file.string(), largestTexture_);
        if (texture->image.empty()) {
            warningLog.line("Failed loading texture ", name, " (it will not be used)");
            return;
        }
        group.textures.add(weight, std::move(texture));
    };

    if (imageURL.find('*') == std::string::npos) {
        const Located located = locate(imageURL);
        add(located.name.empty() ? imageURL : located.name, located.file);
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
        add(match.string(), match);
    }
}

std::shared_ptr<TextureGroup> ConstructionReader::parseTextureOptions(const DOMElement& element) {
    if (element.hasAttribute(vocab::useTextureGroup)) {
        const std::string name = xmlToString(element.getAttribute(vocab::useTextureGroup));
        const auto found = factory_.textureGroups.find(name);
        if (found != factory_.textureGroups.end()) {
            return found->second;
        }
        warningLog.line("Use of undefined texture group '", name, "' ignored");
        return nullptr;
    }
    bool hasTextures = false;
    forEachNamed(element, vocab::Texture, [&](const DOMElement&) { hasTextures = true; });
    if (hasTextures) {
        std::shared_ptr<TextureGroup> group = parseTextureGroup(element);
        factory_.inlineTextureGroups.push_back(group);
        return group;
    }
    if (readBool(attributeText(&element, vocab::useLastTexture))) {
        return factory_.lastTextureGroup;
    }
    return nullptr;
}

// ---- Grammar elements ----

void ConstructionReader::parseGrammarChildren(const DOMElement& parent,
                                              CityCellFactory& container) {
    forEachChildElement(parent, [&](const DOMElement& e) {
        const auto text = [&](const XMLCh* name) { return attributeText(&e, name); };
        const auto flag = [&](const XMLCh* name) { return readBool(text(name)); };
        const auto floats = [&](const XMLCh* name) {
            return readFloatRange(xmlToString(e.getAttribute(name)));
        };

        if (isVocab(&e, vocab::DrawFloor)) {
            const bool noColor = flag(vocab::noColor);
            const bool pointingDown = flag(vocab::pointingDown);
            container.add(
                std::make_unique<DrawFloorFactory>(noColor, parseTextureOptions(e), pointingDown));
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
                warningLog.line("Unknown DrawBox closed value '", word, "' - ignored");
            }
            const FloatRange height = floats(vocab::height);
            container.add(
                std::make_unique<DrawBoxFactory>(noColor, parseTextureOptions(e), height, closed));
        } else if (isVocab(&e, vocab::DrawPyramid)) {
            const bool noColor = flag(vocab::noColor);
            const FloatRange height = floats(vocab::height);
            container.add(
                std::make_unique<DrawPyramidFactory>(noColor, parseTextureOptions(e), height));
        } else if (isVocab(&e, vocab::GoUp)) {
            container.add(std::make_unique<GoUpFactory>(floats(vocab::height)));
        } else if (isVocab(&e, vocab::Rotate)) {
            const FloatRange theta = floats(vocab::theta);
            const FloatRange distance = floats(vocab::distance);
            container.add(std::make_unique<RotateFactory>(theta, distance));
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
                warningLog.line("Unknown where '", whereWord,
                                "' in scaleTo node, overriding with 'center'");
            }
            const FloatRange scalex = floats(vocab::scalex);
            const FloatRange scaley = floats(vocab::scaley);
            const std::u16string_view typeWord = text(vocab::scaleType);
            ScaleType scaleType = ScaleType::relative;
            if (typeWord == vocab::exact) {
                scaleType = ScaleType::exact;
            } else if (typeWord != vocab::relative) {
                warningLog.line("Unknown scaleType '", typeWord,
                                "' in scaleTo node, overriding with 'relative'");
            }
            container.add(std::make_unique<ScaleToFactory>(where, scalex, scaley, scaleType));
        } else if (isVocab(&e, vocab::Call)) {
            const std::string name = xmlToString(e.getAttribute(vocab::name));
            const auto found = factory_.procedures.find(name);
            if (found == factory_.procedures.end()) {
                warningLog.line("Placing an undefined building part named '", name, "' - ignored");
                return;
            }
            const UintRange repeat = readUintRange(xmlToString(e.getAttribute(vocab::repeat)));
            container.add(std::make_unique<CallFactory>(found->second, repeat));
        } else if (isVocab(&e, vocab::Choose)) {
            container.add(parseChoose(e));
        } else if (isVocab(&e, vocab::Maybe)) {
            auto maybe =
                std::make_unique<MaybeFactory>(xmlToFloat(e.getAttribute(vocab::probability)));
            parseGrammarChildren(e, *maybe);
            container.add(std::move(maybe));
        } else if (isVocab(&e, vocab::Push)) {
            container.add(std::make_unique<PushFactory>(readUnsigned(text(vocab::count))));
        } else if (isVocab(&e, vocab::Pop)) {
            const bool vertices = flag(vocab::popCellVertices);
            const bool height = flag(vocab::popHeight);
            const bool seed = flag(vocab::popRandomSeed);
            container.add(std::make_unique<PopFactory>(vertices, height, seed));
        } else {
            warningLog.line("Unknown Drawable \"", xmlView(e.getNodeName()), "\"");
        }
    });
}

std::unique_ptr<ChooseFactory> ConstructionReader::parseChoose(const DOMElement& element) {
    auto choose = std::make_unique<ChooseFactory>();
    forEachChildElement(element, [&](const DOMElement& child) {
        if (!isVocab(&child, vocab::ChooseOption)) {
            warningLog.line("Ignoring not-supported ", xmlView(child.getNodeName()),
                            " under ChooseOption");
            return;
        }
        const float weight = xmlToFloat(child.getAttribute(vocab::probability));
        auto body = std::make_unique<CityCellFactory>();
        parseGrammarChildren(child, *body);
        choose->addOption(weight, std::move(body));
    });
    return choose;
}

} // namespace ombrel
