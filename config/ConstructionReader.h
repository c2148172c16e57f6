#pragma once

#include "config/CityFactory.h"

#include <xercesc/dom/DOM.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ombrel {

class ChooseFactory;

// Limits that keep a construction file from breaking generation or the loader itself.
inline constexpr std::uint64_t kMaxCells = 16777216; // numCellsX * numCellsY
inline constexpr int kMaxGrammarNesting = 256;       // Maybe / ChooseOption levels

// Reads a parsed and validated construction file into a CityFactory: the root's parameters,
// the texture groups (decoding their images), the procedures and the street and building
// definitions, each grammar element becoming one factory. Content problems are repaired and
// reported as warnings; only the limits above make read() fail.
class ConstructionReader {
public:
    // `constructionFile` is the path the document was read from; relative texture paths that
    // do not exist relative to the current directory are looked up beside it.
    ConstructionReader(CityFactory& factory, const std::string& constructionFile,
                       int largestTexture);

    // Fills the factory from the document. When the file breaks a limit, writes one line saying
    // which to the error log and returns false before any definition or texture is built, with
    // the parameters as they were. Sets randomState from the seed only on success.
    bool read(const xercesc::DOMDocument& document);

    // A new group of every Texture element below `element`, in document order. Textures whose
    // image does not load are announced with a warning and left out.
    std::shared_ptr<TextureGroup> parseTextureGroup(const xercesc::DOMElement& element);
    // The group a drawing element draws from: its useTextureGroup, else its own Texture
    // elements, else the last-texture group when useLastTexture is "true", else none.
    std::shared_ptr<TextureGroup> parseTextureOptions(const xercesc::DOMElement& element);
    // Appends one factory per usable grammar element among `element`'s children to `container`.
    void parseGrammarChildren(const xercesc::DOMElement& element, CityCellFactory& container);
    std::unique_ptr<ChooseFactory> parseChoose(const xercesc::DOMElement& element);

private:
    void readParameters(const xercesc::DOMElement& root);
    bool checkLimits(const xercesc::DOMElement& root);
    void readSeed(const xercesc::DOMElement& root);
    void readTextureGroups(const xercesc::DOMElement& root);
    void readProcedures(const xercesc::DOMElement& root);
    void readDefinitions(const xercesc::DOMElement& root);
    void checkStreetSizes();
    void addTextures(TextureGroup& group, const xercesc::DOMElement& texture);
    // Where the image of a texture path is, and the path the texture is known by; empty when
    // it is nowhere (or is a URL, which is never fetched).
    struct Located {
        std::filesystem::path file;
        std::string name;
    };
    Located locate(const std::string& imageURL) const;
    std::filesystem::path patternFolder(const std::filesystem::path& folder) const;

    CityFactory& factory_;
    std::filesystem::path baseFolder_; // the construction file's folder
    int largestTexture_;
};

// The deepest nesting of grammar containers (a definition, Maybe, ChooseOption) below `root`:
// 1 for a definition with a flat grammar. Walks without recursion.
int grammarNesting(const xercesc::DOMElement& root);

// The places the schema every construction file is validated against is looked for, in order:
// "xsd/Ombrel.xsd" in the current directory (as written, relative), then beside the program
// (<program folder>/../xsd, where the build tree has it, and <program folder>/xsd), then where
// it is installed (<program folder>/../share/ombrel/xsd).
std::vector<std::string> schemaCandidates();
// The first of schemaCandidates() that is a file; empty when there is none.
std::string findSchemaFile();

} // namespace ombrel
