#pragma once

#include "base/Vec.h"
#include "city/CityDrawable.h"
#include "config/CityFactory.h"
#include "export/CityExport.h"
#include "vrml/Export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel {

class CommitGroup;
class Progress;
class Texture;

// The work both front ends do on a construction file: load it, generate cities from it and save
// the last one. The window and ombrel-export each drive one session and keep only their own
// controls, messages and progress display. Qt-free; everything it reports goes to the log.
class CitySession {
public:
    // The text both front ends show when the construction file is not there.
    static constexpr std::string_view kMissingFile = "Specified configuration file doesn't exist";

    // Starts the XML library; throws XmlStartError when it cannot.
    CitySession();
    ~CitySession();
    CitySession(const CitySession&) = delete;
    CitySession& operator=(const CitySession&) = delete;

    enum class LoadResult {
        loaded,  // the file's definitions are loaded (now or already)
        missing, // nothing at path: "Specified configuration file doesn't exist: PATH" logged
        failed,  // the loader logged why; nothing stays loaded
    };
    enum class Reload {
        always,    // "Reload Cfg" and the batch tool: read the file again
        ifChanged, // "Generate": only when another file, or none, is loaded
    };
    // Loads the construction file at `path` (see CityFactory::load; images are stretched to at
    // most `largestTexture`). The last city stays until the next generate().
    LoadResult load(const std::string& path, int largestTexture, Reload reload = Reload::always);

    // Generates a city from the loaded definitions; it replaces the last city. Returns false,
    // with nothing changed, when nothing is loaded, and when a band sink stopped the generation.
    // Reports to `progress` when given.
    bool generate(Progress* progress = nullptr);

    // While set, generations (regenerate()'s too) hand their cities to `bands` band by band
    // instead of keeping them: a city too large to hold is written as it is made. The last city
    // is then one without buildings or roads, which the session's seed and box still describe.
    // Null goes back to keeping cities.
    void setBandSink(CityBandSink* bands) { bands_ = bands; }

    // The text logged after a failed regenerate() when a city from before stays.
    static constexpr std::string_view kKeptCity = "Kept the previous city";

    // Puts generation where a fresh start of the program is right after loading a file whose
    // randomSeed is `seed`: the random state is `seed`, the state stack is empty, the building
    // colours start their sequence again and no texture was picked yet.
    void startFresh(std::uint32_t seed);

    // What a watcher does when the construction file or one of its images changed: loads `path`
    // again and generates from the file's seed as a fresh start would (see startFresh), so an
    // edit shows the same city changed by the edit. `seed`, when given, replaces the file's;
    // a file without randomSeed keeps the seed of the load before it (a first load takes the
    // clock's). When the load does not succeed, nothing else changes: the last city stays (for
    // the preview and save()) and "Kept the previous city" is logged after the loader's lines
    // when there is one.
    LoadResult regenerate(const std::string& path, int largestTexture,
                          std::optional<std::uint32_t> seed = std::nullopt,
                          Progress* progress = nullptr);

    // The files a watcher follows, absolute and each named once: the construction file of the
    // last load that found one, then every texture image that the loaded definitions or the last
    // city use and that loaded. Empty before any load.
    std::vector<std::string> watchedFiles() const;
    // The construction file of the last load that found one, as it was named; empty before.
    const std::string& constructionFile() const { return constructionFile_; }

    // Writes the last city to `path` in options.format (see saveCity) with its construction
    // file's name, its seed and its bounding box. False when there is no city or the export failed
    // (reported on the error log; an existing file at path is then untouched). With `together`
    // the files are handed to that group, to take their places with the run's other outputs.
    bool save(const std::string& path, const ExportOptions& options, Progress* progress = nullptr,
              CommitGroup* together = nullptr) const;

    // What an export records of the last city: its construction file's name, its seed, its box
    // and its grid.
    CityRecord record() const;

    // The last city; null until one was generated.
    const CityDrawable* city() const { return city_.get(); }
    // randomState when the last city's generation began.
    std::uint32_t seed() const { return seed_; }
    // The last city's bounding box: (0, 0, lowest bottom) to (width, depth, highest top).
    Vec3 minCorner() const { return minCorner_; }
    Vec3 maxCorner() const { return maxCorner_; }

    CityFactory& factory() { return factory_; }
    const CityFactory& factory() const { return factory_; }

    // Every texture the loaded definitions or the last city use.
    std::vector<std::shared_ptr<Texture>> heldTextures() const;
    // Called after a load or a generation with the textures the session no longer uses, so the
    // drawing context can free their objects. Unset, they are simply dropped.
    using TextureReleaser = std::function<void(const std::vector<std::shared_ptr<Texture>>&)>;
    void setTextureReleaser(TextureReleaser releaser) { releaser_ = std::move(releaser); }

private:
    void releaseUnused(std::vector<std::shared_ptr<Texture>> before);

    CityFactory factory_;
    std::string constructionFile_;
    bool loadedBefore_ = false;
    std::unique_ptr<CityDrawable> city_;
    std::uint32_t seed_ = 0;
    Vec3 minCorner_;
    Vec3 maxCorner_;
    StreetGrid streets_; // the last city's grid
    CityBandSink* bands_ = nullptr;
    // Textures of the loaded definitions, and of the definitions the last city came from.
    std::vector<std::shared_ptr<Texture>> definitionTextures_;
    std::vector<std::shared_ptr<Texture>> cityTextures_;
    TextureReleaser releaser_;
};

} // namespace ombrel
