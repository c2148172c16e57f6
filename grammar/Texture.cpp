#include "grammar/Texture.h"

#include "base/Log.h"
#include "grammar/GenerationContext.h"
#include "grammar/Random.h"

#include <utility>
#include <vector>

namespace ombrel {

Texture::Texture(std::string path_, float scalex_, float scaley_, bool relativeToWidth_,
                 bool relativeToHeight_)
    : path(std::move(path_)), scalex(scalex_), scaley(scaley_), relativeToWidth(relativeToWidth_),
      relativeToHeight(relativeToHeight_) {}

std::shared_ptr<Texture> TextureGroup::pick(const SourcePlace&) const {
    if (textures.empty()) {
        // Every texture of the group was left out (its patterns matched nothing, or no image
        // loaded): there is nothing to choose from, so no draw is made and the last texture
        // stays the one picked before.
        return nullptr;
    }
    const std::shared_ptr<Texture>& chosen = pickWeighted(textures);
    std::shared_ptr<Texture>& last = generationContext().lastTexture;
    if (last != chosen) {
        last = chosen;
    }
    return chosen;
}

std::shared_ptr<Texture> LastTextureGroup::pick(const SourcePlace& asking) const {
    randomUnit();
    std::shared_ptr<Texture>& last = generationContext().lastTexture;
    if (!last) {
        warningLog.at(asking).line("Last texture group used with no last texture");
    }
    return last;
}

} // namespace ombrel
