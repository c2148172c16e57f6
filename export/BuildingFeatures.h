#pragma once

// The buildings of a city as features of a mesh: a property table of what each building is
// (EXT_structural_metadata) that the feature IDs of its vertices point into (EXT_mesh_features).
// Built once for every writer that keeps buildings apart inside shared meshes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ombrel {

// One row of the table.
struct BuildingFeature {
    std::uint32_t number = 0; // the building's place among the city's buildings, from 0
    std::uint32_t column = 0; // its cell
    std::uint32_t row = 0;
    float height = 0.0f;
    std::string name; // from its vrmlTag; empty when it has none
    // Where its Building element starts in the construction file, "FILE:LINE"; empty when not
    // known.
    std::string definition;
};

// The property table of the buildings, in the order they are added.
class BuildingFeatureTable {
public:
    // The binary columns, in this order: number, column, row (UINT32 each), height (FLOAT32),
    // the names' UTF-8 bytes, the names' start offsets (UINT32, one more than rows), the
    // definitions' UTF-8 bytes and their start offsets.
    static constexpr std::size_t kColumns = 8;

    // Adds a building; returns its feature ID, its row in the table.
    std::uint32_t add(const BuildingFeature& building);
    std::uint32_t size() const { return std::uint32_t(numbers_.size()); }

    // The bytes of column `i`, little-endian as the binary data holds them.
    std::vector<char> column(std::size_t i) const;

    // The root's `"EXT_structural_metadata":{...}` member (without a leading comma): the schema
    // of a building and the one property table, whose columns lie in the buffer views `views`
    // (each starting at a multiple of 8 bytes, as the extension asks).
    std::string metadataJson(const std::array<std::uint32_t, kColumns>& views) const;

private:
    std::vector<std::uint32_t> numbers_, columns_, rows_;
    std::vector<float> heights_;
    std::string names_;
    std::vector<std::uint32_t> nameOffsets_{0};
    std::string definitions_;
    std::vector<std::uint32_t> definitionOffsets_{0};
};

// A primitive's `"EXT_mesh_features":{...}` member (without a leading comma): its vertex
// attribute `_FEATURE_ID_<attribute>` holds `featureCount` distinct rows of property table
// `table`.
std::string primitiveFeaturesJson(std::uint32_t featureCount, std::uint32_t attribute,
                                  std::uint32_t table);

// The extensions a file with building features uses, for its root's `extensionsUsed`.
inline constexpr const char* kFeatureExtensionsUsed =
    "\"EXT_mesh_features\",\"EXT_structural_metadata\"";

} // namespace ombrel
