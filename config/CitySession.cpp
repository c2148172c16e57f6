#include "config/CitySession.h"

#include "base/Log.h"
#include "export/CityExport.h"
#include "grammar/GenerationContext.h"
#include "grammar/Texture.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <unordered_set>

namespace ombrel {

namespace {

void collectTextures(const TextureGroup& group, std::vector<std::shared_ptr<Texture>>& out) {
    for (const auto& entry : group.textures.entries()) {
        if (entry.item) {
            out.push_back(entry.item);
        }
    }
}

} // namespace

CitySession::CitySession() = default;

CitySession::~CitySession() {
    // The city refers to the definitions' textures; it goes first.
    city_.reset();
}

CitySession::LoadResult CitySession::load(const std::string& path, int largestTexture,
                                          Reload reload) {
    if (reload == Reload::ifChanged && factory_.loaded && factory_.fileName == path) {
        return LoadResult::loaded;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        errorLog.line(kMissingFile, ": ", path);
        return LoadResult::missing;
    }
    constructionFile_ = path;
    std::vector<std::shared_ptr<Texture>> before = heldTextures();
    const bool ok = factory_.load(path, largestTexture);
    loadedBefore_ = loadedBefore_ || ok;
    definitionTextures_.clear();
    if (ok) {
        for (const auto& [name, group] : factory_.textureGroups) {
            if (group) {
                collectTextures(*group, definitionTextures_);
            }
        }
        for (const auto& group : factory_.inlineTextureGroups) {
            if (group) {
                collectTextures(*group, definitionTextures_);
            }
        }
    }
    releaseUnused(std::move(before));
    return ok ? LoadResult::loaded : LoadResult::failed;
}

bool CitySession::generate(Progress* progress) {
    if (!factory_.loaded) {
        return false;
    }
    std::vector<std::shared_ptr<Texture>> before = heldTextures();
    CityFactory::Generated generated = factory_.generate(progress, bands_);
    city_ = std::move(generated.city);
    seed_ = generated.seed;
    minCorner_ = generated.minCorner;
    maxCorner_ = generated.maxCorner;
    streets_ = generated.streets;
    cityTextures_ = definitionTextures_;
    releaseUnused(std::move(before));
    return generated.complete;
}

void CitySession::startFresh(std::uint32_t seed) {
    GenerationContext& context = generationContext();
    context.randomState = seed;
    context.stateStack.clear();
    context.buildingColours = BuildingColourSource();
    context.lastTexture.reset();
}

CitySession::LoadResult CitySession::regenerate(const std::string& path, int largestTexture,
                                                std::optional<std::uint32_t> seed,
                                                Progress* progress) {
    const bool hadSeed = loadedBefore_;
    const std::uint32_t previousSeed = factory_.randomSeed;
    const LoadResult result = load(path, largestTexture, Reload::always);
    if (result != LoadResult::loaded) {
        if (city_) {
            infoLog.line(kKeptCity);
        }
        return result;
    }
    if (seed) {
        factory_.randomSeed = *seed;
    } else if (!factory_.seedFromFile && hadSeed) {
        factory_.randomSeed = previousSeed;
    }
    startFresh(factory_.randomSeed);
    generate(progress);
    return result;
}

std::vector<std::string> CitySession::watchedFiles() const {
    std::vector<std::string> files;
    // Looked up by name, not searched: a city may draw from many thousands of images.
    std::unordered_set<std::string> named;
    const auto add = [&files, &named](const std::string& path) {
        std::error_code ec;
        std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
        if (ec) {
            absolute = path;
        }
        if (named.insert(absolute).second) {
            files.push_back(std::move(absolute));
        }
    };
    if (!constructionFile_.empty()) {
        add(constructionFile_);
    }
    for (const auto& texture : heldTextures()) {
        if (texture && !texture->image.empty()) {
            add(texture->path);
        }
    }
    return files;
}

bool CitySession::save(const std::string& path, const ExportOptions& options, Progress* progress,
                       CommitGroup* together) const {
    if (!city_) {
        return false;
    }
    return saveCity(*city_, path, record(), options, progress, together);
}

CityRecord CitySession::record() const {
    CityRecord record;
    record.constructionFile = factory_.fileName;
    record.seed = seed_;
    record.minCorner = minCorner_;
    record.maxCorner = maxCorner_;
    record.streets = streets_;
    return record;
}

std::vector<std::shared_ptr<Texture>> CitySession::heldTextures() const {
    std::vector<std::shared_ptr<Texture>> all = definitionTextures_;
    all.insert(all.end(), cityTextures_.begin(), cityTextures_.end());
    return all;
}

void CitySession::releaseUnused(std::vector<std::shared_ptr<Texture>> before) {
    if (!releaser_) {
        return;
    }
    std::vector<std::shared_ptr<Texture>> after = heldTextures();
    std::sort(before.begin(), before.end());
    before.erase(std::unique(before.begin(), before.end()), before.end());
    std::sort(after.begin(), after.end());
    std::vector<std::shared_ptr<Texture>> gone;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::back_inserter(gone));
    if (!gone.empty()) {
        releaser_(gone);
    }
}

} // namespace ombrel
