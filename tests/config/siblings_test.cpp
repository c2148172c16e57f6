// Construction files of many sibling elements: 20,000 Procedures, 50,000 Calls in one Building,
// 20,000 Buildings, 20,000 texture groups. Each loads whole and quietly, every element in its
// place. Reading must take time in step with the number of elements: a reader that goes back over
// the siblings before each one takes minutes over each of these files, and fails on the time limit
// every test of this module runs under (tests/config/CMakeLists.txt).

#include "config/CityFactory.h"
#include "grammar/Operators.h"
#include "tests/config/LoadSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

constexpr int kSiblings = 20000;
// Calls are the quickest siblings to read, so there are more of them.
constexpr int kCalls = 50000;

// "p12" and the like: the names and tags the files give their elements.
std::string numbered(const char* prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

class ManySiblings : public testsupport::SourceDirTest {
protected:
    // Writes a construction file whose root holds the header line and then what `body` writes;
    // the root element opens on line 2, so the body starts on line 3.
    std::string write(const std::string& name, const std::function<void(std::ostream&)>& body) {
        const std::string path = (fs::path(::testing::TempDir()) / name).string();
        std::ofstream out(path, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<Ombrel numCellsX=\"4\" numCellsY=\"4\" cellSizeX=\"10\" cellSizeY=\"10\" "
               "randomSeed=\"1\">\n";
        body(out);
        out << "</Ombrel>\n";
        return path;
    }

    CityFactory factory;
};

TEST_F(ManySiblings, ProceduresEachCallingTheOneBefore) {
    const std::string path = write("procedures.xml", [](std::ostream& out) {
        out << "<Procedure name=\"p0\"><GoUp height=\"1\"/></Procedure>\n";
        for (int i = 1; i < kSiblings; ++i) {
            out << "<Procedure name=\"p" << i << "\"><Call name=\"p" << i - 1
                << "\"/><GoUp height=\"1\"/></Procedure>\n";
        }
        out << "<Building><Call name=\"p" << kSiblings - 1 << "\"/></Building>\n";
    });
    const testsupport::Logged r = testsupport::loadBody(factory, path);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.log, "");
    ASSERT_EQ(factory.procedures.size(), std::size_t(kSiblings));
    // Every Call is bound to the Procedure just before its own.
    for (int i = 1; i < kSiblings; i += 997) {
        const BBlockFactory& body = *factory.procedures.at(numbered("p", i));
        ASSERT_EQ(body.children.size(), 2u) << "p" << i;
        const auto* call = dynamic_cast<const CallFactory*>(body.children[0].get());
        ASSERT_NE(call, nullptr) << "p" << i;
        EXPECT_EQ(call->procedure, factory.procedures.at(numbered("p", i - 1))) << "p" << i;
        EXPECT_EQ(call->place.line, std::uint32_t(3 + i)) << "p" << i;
    }
}

TEST_F(ManySiblings, CallsInOneBuilding) {
    const std::string path = write("calls.xml", [](std::ostream& out) {
        out << "<Procedure name=\"storey\"><GoUp height=\"1\"/></Procedure>\n<Building>\n";
        for (int i = 0; i < kCalls; ++i) {
            out << "<Call name=\"storey\"/>\n";
        }
        out << "</Building>\n";
    });
    const testsupport::Logged r = testsupport::loadBody(factory, path);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.log, "");
    ASSERT_EQ(factory.buildings.size(), 1u);
    const CityBuildingFactory& building = *factory.buildings.entries()[0].item;
    ASSERT_EQ(building.children.size(), std::size_t(kCalls));
    EXPECT_EQ(building.children.front()->place.line, 5u);
    EXPECT_EQ(building.children.back()->place.line, std::uint32_t(4 + kCalls));
}

TEST_F(ManySiblings, Buildings) {
    const std::string path = write("buildings.xml", [](std::ostream& out) {
        for (int i = 0; i < kSiblings; ++i) {
            out << "<Building probability=\"" << 1 + i % 3 << "\" vrmlTag=\"B" << i
                << "\"><DrawBox height=\"[5,20]\"/></Building>\n";
        }
    });
    const testsupport::Logged r = testsupport::loadBody(factory, path);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.log, "");
    ASSERT_EQ(factory.buildings.size(), std::size_t(kSiblings));
    for (int i = 0; i < kSiblings; i += 997) {
        const auto& entry = factory.buildings.entries()[std::size_t(i)];
        EXPECT_EQ(entry.weight, float(1 + i % 3)) << "Building " << i;
        EXPECT_EQ(entry.item->vrmlTag, numbered("B", i));
        EXPECT_EQ(entry.item->place.line, std::uint32_t(3 + i)) << "Building " << i;
    }
    EXPECT_EQ(factory.buildings.total(), float(kSiblings / 3 * 6 + 1 + 2));
}

TEST_F(ManySiblings, TextureGroups) {
    const std::string image = testsupport::dataFile("white.png");
    const std::string path = write("groups.xml", [&](std::ostream& out) {
        for (int i = 0; i < kSiblings; ++i) {
            out << "<TextureGroup name=\"g" << i << "\"><Texture imageURL=\"" << image
                << "\"/></TextureGroup>\n";
        }
        out << "<Building><DrawBox height=\"1\" useTextureGroup=\"g" << kSiblings - 1
            << "\"/></Building>\n";
    });
    const testsupport::Logged r = testsupport::loadBody(factory, path);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.log, "");
    ASSERT_EQ(factory.textureGroups.size(), std::size_t(kSiblings));
    EXPECT_EQ(factory.textureGroups.at("g0")->textures.size(), 1u);
    EXPECT_EQ(factory.textureGroups.at(numbered("g", kSiblings - 1))->textures.size(), 1u);
}

} // namespace
} // namespace ombrel
