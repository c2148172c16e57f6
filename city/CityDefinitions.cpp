#include "city/CityDefinitions.h"

#include "grammar/BuildingColour.h"

#include "base/Log.h"
#include "grammar/GenerationContext.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace ombrel {

std::unique_ptr<Drawable> CityStreetFactory::createCell(float x0, float y0, float x1,
                                                        float y1) const {
    GrammarState state = GrammarState::forRect(x0, y0, x1, y1, kStreetColour);
    state.surfaces = &surfaces;
    beginCell();
    return sequence(state);
}

std::unique_ptr<CompoundDrawable> CityBuildingFactory::createBuilding(float x0, float y0, float x1,
                                                                      float y1, float& low,
                                                                      float& high,
                                                                      Colour& colour) const {
    low = 0.0f;
    high = 0.0f;
    colour = randomBuildingColour();
    GrammarState state = GrammarState::forRect(x0, y0, x1, y1, colour);
    state.surfaces = &surfaces;
    beginCell();
    std::unique_ptr<CompoundDrawable> compound = sequence(state);
    high = state.height;
    colour = state.colour;
    if (vrmlTag.empty()) {
        return compound;
    }
    if (std::optional<std::string> name = expandVrmlTag(vrmlTag)) {
        compound->vrmlName = std::move(*name);
    } else {
        warningLog.at(place).line("VRML tag error, ", generationContext().vrmlTagCodes.lastError,
                                  " - ignored");
    }
    return compound;
}

std::optional<std::string> expandVrmlTag(const std::string& tag) {
    VrmlTagCodes& codes = generationContext().vrmlTagCodes;
    std::string result;
    std::size_t p = 0;
    for (;;) {
        const std::size_t percent = tag.find('%', p);
        if (percent == std::string::npos) {
            result.append(tag, p, std::string::npos);
            return result;
        }
        result.append(tag, p, percent - p);
        if (percent + 1 >= tag.size()) {
            codes.lastError = "vrmlTag '%' must be followed by an appropriate code character";
            return std::nullopt;
        }
        const char code =
            static_cast<char>(std::toupper(static_cast<unsigned char>(tag[percent + 1])));
        if (code == '%') {
            result.push_back('%');
        } else if (code == 'X' || code == 'Y') {
            result.append(codes.codes[code]);
        } else {
            codes.lastError = std::string("not support vrmlTag code '%") + code + "'";
            return std::nullopt;
        }
        codes.lastError.clear();
        p = percent + 2;
    }
}

} // namespace ombrel
