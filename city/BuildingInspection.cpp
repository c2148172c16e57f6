#include "city/BuildingInspection.h"

#include "city/CityDrawable.h"
#include "grammar/Drawables.h"
#include "grammar/GeometrySink.h"

#include <algorithm>
#include <sstream>

namespace ombrel {

namespace {

// One drawing element that drew part of the building.
struct ElementLine {
    std::string kind;
    std::string place;
    std::vector<std::string> classes;
    std::vector<std::string> materials;
};

void addOnce(std::vector<std::string>& list, std::string_view word) {
    if (!word.empty() && std::find(list.begin(), list.end(), word) == list.end()) {
        list.emplace_back(word);
    }
}

class ElementSink : public GeometrySink {
public:
    explicit ElementSink(ElementLine& line) : line_(line) {}
    void face(const Face& face) override {
        addOnce(line_.classes, face.surface);
        addOnce(line_.materials, face.material);
    }

private:
    ElementLine& line_;
};

std::string kindOf(const Drawable& drawable) {
    if (dynamic_cast<const DrawBox*>(&drawable)) {
        return "DrawBox";
    }
    if (dynamic_cast<const DrawFloor*>(&drawable)) {
        return "DrawFloor";
    }
    if (dynamic_cast<const DrawPyramid*>(&drawable)) {
        return "DrawPyramid";
    }
    return "a drawing element";
}

void walk(const Drawable& drawable, std::vector<ElementLine>& lines) {
    if (const auto* compound = dynamic_cast<const CompoundDrawable*>(&drawable)) {
        for (const auto& child : compound->children) {
            if (child) {
                walk(*child, lines);
            }
        }
        return;
    }
    std::string place = "an unknown place";
    if (const auto* base = dynamic_cast<const DrawableBase*>(&drawable);
        base && base->labels && base->labels->place) {
        place = base->labels->place.text();
    }
    const std::string kind = kindOf(drawable);
    auto it = std::find_if(lines.begin(), lines.end(), [&](const ElementLine& line) {
        return line.kind == kind && line.place == place;
    });
    if (it == lines.end()) {
        lines.push_back({kind, place, {}, {}});
        it = lines.end() - 1;
    }
    ElementSink sink(*it);
    drawable.collect(sink);
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += text.empty() ? word : ", " + word;
    }
    return text;
}

} // namespace

std::optional<std::size_t> buildingInCell(const CityDrawable& city, std::uint32_t column,
                                          std::uint32_t row) {
    const std::size_t count = std::min(city.buildingCells.size(), city.buildingDrawables.size());
    for (std::size_t i = 0; i < count; ++i) {
        if (city.buildingCells[i].column == column && city.buildingCells[i].row == row) {
            return i;
        }
    }
    return std::nullopt;
}

std::vector<std::string> describeBuilding(const CityDrawable& city, std::size_t index) {
    std::vector<std::string> text;
    if (index >= city.buildingDrawables.size() || !city.buildingDrawables[index]) {
        return text;
    }
    const Drawable& building = *city.buildingDrawables[index];
    CityDrawable::BuildingCell cell;
    if (index < city.buildingCells.size()) {
        cell = city.buildingCells[index];
    }
    std::string name;
    if (const auto* compound = dynamic_cast<const CompoundDrawable*>(&building)) {
        name = compound->vrmlName;
    }
    // Heights as the log writes every number: default stream formatting.
    std::ostringstream head;
    head << "Selected the building in column " << cell.column << ", row " << cell.row << ": height "
         << cell.height << ", "
         << (name.empty() ? std::string("no vrmlTag name") : "vrmlTag name " + name) << ", "
         << "definition "
         << (cell.definition < city.definitions.size() ? city.definitions[cell.definition]
                                                       : std::string("unknown"));
    text.push_back(head.str());

    std::vector<ElementLine> lines;
    walk(building, lines);
    for (const ElementLine& line : lines) {
        std::string said =
            "Drawn by " + line.kind + " at " + line.place + ": " + joined(line.classes) + "; ";
        said += line.materials.empty() ? "no material" : "material " + joined(line.materials);
        text.push_back(said);
    }
    return text;
}

} // namespace ombrel
