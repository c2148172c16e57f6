#include "export/BuildingFeatures.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace ombrel {

namespace {

void appendUint(std::string& out, std::uint64_t value) {
    char text[24];
    out.append(text, std::to_chars(text, text + sizeof text, value).ptr);
}

template <class T> std::vector<char> bytesOf(const std::vector<T>& values) {
    std::vector<char> bytes(values.size() * sizeof(T));
    if (!values.empty())
        std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// The names of the properties, in the order of the columns (the name has two).
constexpr std::string_view kNumeric[] = {"number", "column", "row", "height"};

} // namespace

std::uint32_t BuildingFeatureTable::add(const BuildingFeature& building) {
    const auto id = size();
    numbers_.push_back(building.number);
    columns_.push_back(building.column);
    rows_.push_back(building.row);
    heights_.push_back(building.height);
    names_ += building.name;
    nameOffsets_.push_back(std::uint32_t(names_.size()));
    definitions_ += building.definition;
    definitionOffsets_.push_back(std::uint32_t(definitions_.size()));
    return id;
}

std::vector<char> BuildingFeatureTable::column(std::size_t i) const {
    switch (i) {
    case 0:
        return bytesOf(numbers_);
    case 1:
        return bytesOf(columns_);
    case 2:
        return bytesOf(rows_);
    case 3:
        return bytesOf(heights_);
    case 4:
        return std::vector<char>(names_.begin(), names_.end());
    case 5:
        return bytesOf(nameOffsets_);
    case 6:
        return std::vector<char>(definitions_.begin(), definitions_.end());
    default:
        return bytesOf(definitionOffsets_);
    }
}

std::string
BuildingFeatureTable::metadataJson(const std::array<std::uint32_t, kColumns>& views) const {
    std::string json =
        "\"EXT_structural_metadata\":{\"schema\":{\"id\":\"ombrel_city\",\"classes\":{"
        "\"building\":{\"name\":\"Building\",\"properties\":{"
        "\"number\":{\"description\":\"The building's place among the city's buildings\","
        "\"type\":\"SCALAR\",\"componentType\":\"UINT32\"},"
        "\"column\":{\"description\":\"The column of its cell\",\"type\":\"SCALAR\","
        "\"componentType\":\"UINT32\"},"
        "\"row\":{\"description\":\"The row of its cell\",\"type\":\"SCALAR\","
        "\"componentType\":\"UINT32\"},"
        "\"height\":{\"description\":\"Where its grammar stopped\",\"type\":\"SCALAR\","
        "\"componentType\":\"FLOAT32\"},"
        "\"name\":{\"description\":\"Its name from the vrmlTag; empty when it has none\","
        "\"type\":\"STRING\"},"
        "\"definition\":{\"description\":\"Where its Building element starts in the "
        "construction file, FILE:LINE\",\"type\":\"STRING\"}}}}},"
        "\"propertyTables\":[{\"name\":\"Buildings\",\"class\":\"building\",\"count\":";
    appendUint(json, size());
    json += ",\"properties\":{";
    for (std::size_t i = 0; i < 4; ++i) {
        json += '"';
        json += kNumeric[i];
        json += "\":{\"values\":";
        appendUint(json, views[i]);
        json += "},";
    }
    json += "\"name\":{\"values\":";
    appendUint(json, views[4]);
    json += ",\"stringOffsets\":";
    appendUint(json, views[5]);
    json += ",\"stringOffsetType\":\"UINT32\"},\"definition\":{\"values\":";
    appendUint(json, views[6]);
    json += ",\"stringOffsets\":";
    appendUint(json, views[7]);
    json += ",\"stringOffsetType\":\"UINT32\"}}}]}";
    return json;
}

std::string primitiveFeaturesJson(std::uint32_t featureCount, std::uint32_t attribute,
                                  std::uint32_t table) {
    std::string json = "\"EXT_mesh_features\":{\"featureIds\":[{\"featureCount\":";
    appendUint(json, featureCount);
    json += ",\"attribute\":";
    appendUint(json, attribute);
    json += ",\"propertyTable\":";
    appendUint(json, table);
    json += "}]}";
    return json;
}

} // namespace ombrel
