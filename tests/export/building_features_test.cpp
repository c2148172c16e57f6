#include "export/BuildingFeatures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace ombrel {
namespace {

template <class T> std::vector<T> valuesOf(const std::vector<char>& bytes) {
    std::vector<T> values(bytes.size() / sizeof(T));
    std::memcpy(values.data(), bytes.data(), bytes.size());
    return values;
}

TEST(BuildingFeatures, RowsInTheOrderAddedWithTheirNamesOffsets) {
    BuildingFeatureTable table;
    EXPECT_EQ(table.add({7, 1, 2, 12.5f, "Tower_1_2", "town.xml:4"}), 0u);
    EXPECT_EQ(table.add({9, 3, 4, 1.0f, "", ""}), 1u);
    EXPECT_EQ(table.add({10, 5, 0, 2.0f, "Shed", "town.xml:40"}), 2u);
    EXPECT_EQ(table.size(), 3u);
    EXPECT_EQ(valuesOf<std::uint32_t>(table.column(0)), (std::vector<std::uint32_t>{7, 9, 10}));
    EXPECT_EQ(valuesOf<std::uint32_t>(table.column(1)), (std::vector<std::uint32_t>{1, 3, 5}));
    EXPECT_EQ(valuesOf<std::uint32_t>(table.column(2)), (std::vector<std::uint32_t>{2, 4, 0}));
    EXPECT_EQ(valuesOf<float>(table.column(3)), (std::vector<float>{12.5f, 1.0f, 2.0f}));
    const std::vector<char> names = table.column(4);
    EXPECT_EQ(std::string(names.begin(), names.end()), "Tower_1_2Shed");
    EXPECT_EQ(valuesOf<std::uint32_t>(table.column(5)), (std::vector<std::uint32_t>{0, 9, 9, 13}));
    const std::vector<char> definitions = table.column(6);
    EXPECT_EQ(std::string(definitions.begin(), definitions.end()), "town.xml:4town.xml:40");
    EXPECT_EQ(valuesOf<std::uint32_t>(table.column(7)),
              (std::vector<std::uint32_t>{0, 10, 10, 21}));
}

TEST(BuildingFeatures, TheTableNamesItsViewsAndAPrimitiveItsFeatures) {
    BuildingFeatureTable table;
    table.add({0, 0, 0, 1.0f, "A", "a.xml:3"});
    const std::string json = table.metadataJson({10, 11, 12, 13, 14, 15, 16, 17});
    for (const char* part :
         {"\"EXT_structural_metadata\":{\"schema\":{\"id\":\"ombrel_city\",\"classes\":{"
          "\"building\"",
          "\"height\":{\"description\":\"Where its grammar stopped\",\"type\":\"SCALAR\","
          "\"componentType\":\"FLOAT32\"}",
          "\"propertyTables\":[{\"name\":\"Buildings\",\"class\":\"building\",\"count\":1,"
          "\"properties\":{\"number\":{\"values\":10},\"column\":{\"values\":11},\"row\":{"
          "\"values\":12},\"height\":{\"values\":13},\"name\":{\"values\":14,\"stringOffsets\":15,"
          "\"stringOffsetType\":\"UINT32\"},\"definition\":{\"values\":16,\"stringOffsets\":17,"
          "\"stringOffsetType\":\"UINT32\"}}}]}"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    EXPECT_EQ(primitiveFeaturesJson(4, 0, 0),
              "\"EXT_mesh_features\":{\"featureIds\":[{\"featureCount\":4,\"attribute\":0,"
              "\"propertyTable\":0}]}");
}

} // namespace
} // namespace ombrel
