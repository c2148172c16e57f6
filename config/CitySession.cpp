#include "config/CitySession.h"

#include "base/Log.h"
#include "export/CityExport.h"
#include "grammar/Texture.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

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
    std::vector<std::shared_ptr<Texture>> before = heldTextures();
    const bool ok = factory_.load(path, largestTexture);
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
    CityFactory::Generated generated = factory_.generate(progress);
    city_ = std::move(generated.city);
    seed_ = generated.seed;
    minCorner_ = generated.minCorner;
    maxCorner_ = generated.maxCorner;
    cityTextures_ = definitionTextures_;
    releaseUnused(std::move(before));
    return true;
}

bool CitySession::save(const std::string& path, const ExportOptions& options,
                       Progress* progress) const {
    if (!city_) {
        return false;
    }
    CityRecord record;
    record.constructionFile = factory_.fileName;
    record.seed = seed_;
    record.minCorner = minCorner_;
    record.maxCorner = maxCorner_;
    return saveCity(*city_, path, record, options, progress);
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
