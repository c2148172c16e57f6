// The road network lies on the roads of the mesh: every lane's centre line of every street in a
// bundled example's .xodr, turned into the axes of the glTF and OBJ exports (x, z, -y), lies over
// a face of the "Roads" object of the same city's .obj.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace ombrel {
namespace {

namespace fs = std::filesystem;

const std::string kSource = OMBREL_SOURCE_DIR;
const std::string kTool = std::string(OMBREL_BIN_DIR) + "/ombrel-export";

std::string readAll(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Point {
    double x, y; // in the ground plane of the glTF axes: (x, -y) of the city
};

struct Triangle {
    Point a, b, c;
};

double cross(const Point& o, const Point& p, const Point& q) {
    return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x);
}

bool inside(const Triangle& t, const Point& p) {
    const double d1 = cross(t.a, t.b, p), d2 = cross(t.b, t.c, p), d3 = cross(t.c, t.a, p);
    const double eps = 1e-6;
    const bool negative = d1 < -eps || d2 < -eps || d3 < -eps;
    const bool positive = d1 > eps || d2 > eps || d3 > eps;
    return !(negative && positive);
}

// The triangles of the OBJ's "Roads" object, seen from above: (x, z) of glTF's axes.
std::vector<Triangle> roadTriangles(const std::string& obj) {
    std::vector<Point> vertices;
    std::vector<Triangle> triangles;
    bool roads = false;
    std::istringstream lines(obj);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::string tag;
        in >> tag;
        if (tag == "v") {
            double x = 0, y = 0, z = 0;
            in >> x >> y >> z;
            vertices.push_back({x, z});
        } else if (tag == "o") {
            std::string name;
            in >> name;
            roads = name == "Roads";
        } else if (tag == "f" && roads) {
            std::vector<Point> corners;
            for (std::string corner; in >> corner;)
                corners.push_back(vertices.at(std::stoul(corner) - 1));
            for (std::size_t i = 2; i < corners.size(); ++i)
                triangles.push_back({corners[0], corners[i - 1], corners[i]});
        }
    }
    return triangles;
}

class Alignment : public testing::TestWithParam<const char*> {};

TEST_P(Alignment, EveryLaneCentreLiesOnTheRoadMesh) {
    const fs::path dir = testing::TempDir();
    const std::string example = GetParam();
    const std::string file = kSource + "/examples/" + example + "/" + example + ".xml";
    const fs::path xodrPath = dir / "city.xodr";
    const fs::path objPath = dir / "city.obj";
    for (const fs::path& out : {xodrPath, objPath}) {
        const std::string command = "'" + kTool + "' -q -o '" + out.string() + "' '" + file + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    const std::vector<Triangle> triangles = roadTriangles(readAll(objPath));
    ASSERT_FALSE(triangles.empty());

    const std::string xodr = readAll(xodrPath);
    const std::regex geometryRe(
        "<geometry s=\"0\" x=\"([^\"]+)\" y=\"([^\"]+)\" hdg=\"([^\"]+)\" length=\"([^\"]+)\"");
    const std::regex laneRe("<lane id=\"(-?[1-9][0-9]*)\" type=\"[a-z]+\" level=\"false\">"
                            "<width sOffset=\"0\" a=\"([^\"]+)\"");
    std::size_t roads = 0, samples = 0, missed = 0;
    for (std::size_t at = xodr.find("<road "); at != std::string::npos;
         at = xodr.find("<road ", at + 1)) {
        const std::string road = xodr.substr(at, xodr.find("</road>", at) - at);
        if (road.find(" junction=\"-1\"") == std::string::npos)
            continue; // a junction's connecting road
        ++roads;
        std::smatch g;
        ASSERT_TRUE(std::regex_search(road, g, geometryRe)) << road;
        const double x = std::stod(g[1]), y = std::stod(g[2]);
        const double heading = std::stod(g[3]), length = std::stod(g[4]);
        const std::string id = road.substr(0, road.find('>'));
        // Lane centres across the road: lane k's centre lies past lanes 1 .. k-1 of its side.
        std::map<int, double> widths;
        for (std::sregex_iterator l(road.begin(), road.end(), laneRe), end; l != end; ++l)
            widths[std::stoi((*l)[1])] = std::stod((*l)[2]);
        ASSERT_GE(widths.size(), 2u) << id;
        std::vector<double> offsets;
        for (int sign : {1, -1}) {
            double across = 0.0;
            for (int k = 1; widths.count(sign * k); ++k) {
                const double w = widths[sign * k];
                offsets.push_back(sign * (across + w / 2));
                across += w;
            }
        }
        for (double t : offsets) {
            for (int i = 0; i <= 10; ++i) {
                const double s = length * (0.02 + 0.96 * i / 10);
                const double px = x + s * std::cos(heading) - t * std::sin(heading);
                const double py = y + s * std::sin(heading) + t * std::cos(heading);
                const Point p{px, -py};
                ++samples;
                bool found = false;
                for (const Triangle& tri : triangles)
                    if (inside(tri, p)) {
                        found = true;
                        break;
                    }
                if (!found && ++missed <= 5)
                    ADD_FAILURE() << id << ": lane offset " << t << " s " << s << ": (" << px
                                  << ", " << py << ") lies on no road face";
            }
        }
    }
    EXPECT_GT(roads, 0u);
    EXPECT_GT(samples, roads * 22);
    EXPECT_EQ(missed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Examples, Alignment, testing::Values("town", "downtown", "metropolis"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace ombrel
