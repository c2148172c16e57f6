#include "export/OpenDriveWriter.h"

#include "base/Log.h"
#include "base/Progress.h"
#include "export/CityExport.h"
#include "export/Output.h"
#include "export/StreetNetwork.h"
#include "vrml/CommitGroup.h"
#include "vrml/ReplacingFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel {

namespace {

// The speed limit of every street: a town's.
constexpr std::string_view kSpeed = "50";

// Text for an attribute value or a comment: printable ASCII only (anything else becomes '?',
// so that no byte can break the document's UTF-8), with the XML specials escaped.
std::string safeText(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += u >= 0x20 && u < 0x7F ? c : '?';
        }
    }
    return out;
}

// A comment's text may hold neither "--" nor end in "-".
std::string commentText(std::string_view text) {
    std::string out;
    for (char c : safeText(text)) {
        if (c == '-' && !out.empty() && out.back() == '-')
            out += ' ';
        out += c;
    }
    return out;
}

// Builds a junction's worth of text at a time, then writes it.
class Out {
public:
    explicit Out(std::FILE* file) : file_(file) { text_.reserve(1 << 16); }

    Out& operator<<(std::string_view s) {
        text_ += s;
        return *this;
    }
    Out& operator<<(double value) {
        // Exact zeros of any sign read as "0".
        if (value == 0.0)
            value = 0.0;
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text_.append(buffer, result.ptr);
        return *this;
    }
    Out& operator<<(std::uint64_t value) {
        char buffer[24];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text_.append(buffer, result.ptr);
        return *this;
    }
    Out& operator<<(int value) {
        char buffer[16];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        text_.append(buffer, result.ptr);
        return *this;
    }
    // Writes what has gathered when it is enough, or always with `now`.
    bool flush(bool now = false) {
        if (!now && text_.size() < (1 << 16))
            return ok_;
        if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size())
            ok_ = false;
        text_.clear();
        return ok_;
    }

private:
    std::FILE* file_;
    std::string text_;
    bool ok_ = true;
};

void writeWidth(Out& out, double start, double end, double length) {
    const double slope = length > 0.0 ? (end - start) / length : 0.0;
    out << "<width sOffset=\"0\" a=\"" << start << "\" b=\"" << slope << "\" c=\"0\" d=\"0\"/>";
}

// One side's lanes of a street, `sign` 1 for the left side and -1 for the right, written from
// the outermost lane in for the left side and from the innermost out for the right, as the
// format orders them.
void writeStreetSide(Out& out, const SideLanes& lanes, int sign) {
    const int total = lanes.driving + (lanes.sidewalkWidth > 0.0 ? 1 : 0);
    for (int i = 0; i < total; ++i) {
        const int k = sign > 0 ? total - i : i + 1;
        const bool sidewalk = k > lanes.driving;
        out << "        <lane id=\"" << sign * k << "\" type=\""
            << (sidewalk ? "sidewalk" : "driving") << "\" level=\"false\">";
        const double width = sidewalk ? lanes.sidewalkWidth : lanes.drivingWidth;
        writeWidth(out, width, width, 0.0);
        // The outer edge of the outermost driving lane is the kerb.
        if (k == lanes.driving)
            out << "<roadMark sOffset=\"0\" type=\"solid\" weight=\"standard\" "
                   "color=\"standard\" width=\"0.12\"/>";
        else if (!sidewalk)
            out << "<roadMark sOffset=\"0\" type=\"broken\" weight=\"standard\" "
                   "color=\"standard\" width=\"0.12\"/>";
        out << "</lane>\n";
    }
}

void writeLink(Out& out, const char* which, std::uint64_t junction) {
    if (junction != 0)
        out << "      <" << which << " elementType=\"junction\" elementId=\"" << junction
            << "\"/>\n";
}

void writeStreet(Out& out, const NetworkRoad& road) {
    out << "  <road name=\"" << road.name() << "\" length=\"" << road.length << "\" id=\""
        << road.id << "\" junction=\"-1\" rule=\"RHT\">\n";
    if (road.startJunction != 0 || road.endJunction != 0) {
        out << "    <link>\n";
        writeLink(out, "predecessor", road.startJunction);
        writeLink(out, "successor", road.endJunction);
        out << "    </link>\n";
    }
    out << "    <type s=\"0\" type=\"town\"><speed max=\"" << kSpeed
        << "\" unit=\"km/h\"/></type>\n"
           "    <planView>\n"
           "      <geometry s=\"0\" x=\""
        << road.x << "\" y=\"" << road.y << "\" hdg=\"" << road.heading << "\" length=\""
        << road.length
        << "\"><line/></geometry>\n"
           "    </planView>\n"
           "    <lanes>\n"
           "      <laneSection s=\"0\">\n"
           "       <left>\n";
    writeStreetSide(out, road.lanes, 1);
    out << "       </left>\n"
           "       <center>\n"
           "        <lane id=\"0\" type=\"none\" level=\"false\"><roadMark sOffset=\"0\" "
           "type=\"solid\" weight=\"standard\" color=\"standard\" width=\"0.12\"/></lane>\n"
           "       </center>\n"
           "       <right>\n";
    writeStreetSide(out, road.lanes, -1);
    out << "       </right>\n"
           "      </laneSection>\n"
           "    </lanes>\n"
           "  </road>\n";
}

void writeConnecting(Out& out, const StreetNetwork& network, const ConnectingRoad& c) {
    const NetworkRoad& in = network.roads[c.incoming];
    const NetworkRoad& to = network.roads[c.outgoing];
    out << "  <road length=\"" << c.length << "\" id=\"" << c.id << "\" junction=\"" << c.junction
        << "\" rule=\"RHT\">\n"
        << "    <link>\n"
        << "      <predecessor elementType=\"road\" elementId=\"" << in.id << "\" contactPoint=\""
        << (c.incomingAtEnd ? "end" : "start") << "\"/>\n"
        << "      <successor elementType=\"road\" elementId=\"" << to.id << "\" contactPoint=\""
        << (c.outgoingAtEnd ? "end" : "start") << "\"/>\n"
        << "    </link>\n"
        << "    <type s=\"0\" type=\"town\"><speed max=\"" << kSpeed
        << "\" unit=\"km/h\"/></type>\n"
        << "    <planView>\n";
    for (const Geometry& g : c.geometry) {
        out << "      <geometry s=\"" << g.s << "\" x=\"" << g.x << "\" y=\"" << g.y << "\" hdg=\""
            << g.heading << "\" length=\"" << g.length << "\">";
        if (g.curvature == 0.0)
            out << "<line/>";
        else
            out << "<arc curvature=\"" << g.curvature << "\"/>";
        out << "</geometry>\n";
    }
    out << "    </planView>\n"
           "    <lanes>\n"
           "      <laneSection s=\"0\">\n"
           "       <center>\n"
           "        <lane id=\"0\" type=\"none\" level=\"false\"/>\n"
           "       </center>\n"
           "       <right>\n";
    for (int k = 1; k <= c.lanes; ++k) {
        out << "        <lane id=\"" << -k
            << "\" type=\"driving\" level=\"false\"><link><predecessor id=\"" << c.incomingLane(k)
            << "\"/><successor id=\"" << c.outgoingLane(k) << "\"/></link>";
        writeWidth(out, c.widthStart, c.widthEnd, c.length);
        out << "</lane>\n";
    }
    out << "       </right>\n"
           "      </laneSection>\n"
           "    </lanes>\n"
           "  </road>\n";
}

void writeJunction(Out& out, const StreetNetwork& network, const NetworkJunction& junction,
                   const std::vector<ConnectingRoad>& connecting) {
    out << "  <junction name=\"" << junction.name() << "\" id=\"" << junction.id << "\">\n";
    int id = 0;
    for (const ConnectingRoad& c : connecting) {
        out << "    <connection id=\"" << id++ << "\" incomingRoad=\""
            << network.roads[c.incoming].id << "\" connectingRoad=\"" << c.id
            << "\" contactPoint=\"start\">\n";
        for (int k = 1; k <= c.lanes; ++k)
            out << "      <laneLink from=\"" << c.incomingLane(k) << "\" to=\"" << -k << "\"/>\n";
        out << "    </connection>\n";
    }
    out << "  </junction>\n";
}

} // namespace

bool writeOpenDrive(const StreetNetwork& network, const OpenDriveHeader& header, std::FILE* out,
                    Progress* progress) {
    Out o(out);
    char seed[16];
    std::snprintf(seed, sizeof seed, "0x%08X", unsigned(header.seed));
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<!-- Ombrel V0.8 randomly generated urban model [see https://ombrel.example.org/] -->\n"
      << "<!-- Configuration: " << commentText(header.constructionFile) << " [randomSeed=" << seed
      << "] -->\n"
      << "<OpenDRIVE>\n"
      << "  <header revMajor=\"1\" revMinor=\"6\" name=\"" << safeText(header.name)
      << "\" version=\"1\" north=\"" << header.north << "\" south=\"" << header.south
      << "\" east=\"" << header.east << "\" west=\"" << header.west << "\" vendor=\"Ombrel\"/>\n";
    const std::uint64_t total = network.roads.size() + 2 * network.junctions.size();
    std::uint64_t done = 0;
    for (const NetworkRoad& road : network.roads) {
        writeStreet(o, road);
        if (!o.flush())
            return false;
        if (progress && ++done % 1024 == 0)
            progress->step("Exporting", done, total);
    }
    // Connecting roads come with all the roads, before the junctions that list them: each
    // junction's are worked out once for its roads and once more for the junction.
    std::vector<ConnectingRoad> connecting;
    for (const NetworkJunction& junction : network.junctions) {
        network.connectingRoads(junction, connecting);
        for (const ConnectingRoad& c : connecting)
            writeConnecting(o, network, c);
        if (!o.flush())
            return false;
        if (progress && ++done % 1024 == 0)
            progress->step("Exporting", done, total);
    }
    for (const NetworkJunction& junction : network.junctions) {
        network.connectingRoads(junction, connecting);
        writeJunction(o, network, junction, connecting);
        if (!o.flush())
            return false;
        if (progress && ++done % 1024 == 0)
            progress->step("Exporting", done, total);
    }
    o << "</OpenDRIVE>\n";
    if (progress)
        progress->step("Exporting", total, total);
    return o.flush(true);
}

bool exportCityOpenDrive(const std::string& path, const CityRecord& record, Progress* progress,
                         CommitGroup* together) {
    const StreetNetwork network =
        record.streets ? StreetNetwork::build(*record.streets) : StreetNetwork();
    if (network.empty()) {
        logSaveFailure("OpenDRIVE", path, "the city has no streets");
        return false;
    }
    OpenDriveHeader header;
    std::string name = fileNameOf(record.constructionFile);
    if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    header.name = name;
    header.constructionFile = record.constructionFile;
    header.seed = record.seed;
    // The cells' extent, and the city's box where that reaches further.
    header.west = std::min(0.0, double(record.minCorner.x));
    header.south = std::min(0.0, double(record.minCorner.y));
    header.east = std::max(network.east, double(record.maxCorner.x));
    header.north = std::max(network.north, double(record.maxCorner.y));

    auto file = std::make_unique<ReplacingFile>(path);
    if (!file->stream()) {
        logSaveFailure("OpenDRIVE", path, file->reason());
        return false;
    }
    errno = 0;
    if (!writeOpenDrive(network, header, file->stream(), progress)) {
        // The stream keeps the reason of its first failed write.
        const int error = file->error() ? file->error() : errno ? errno : EIO;
        file->discard();
        logSaveFailure("OpenDRIVE", path, std::strerror(error));
        return false;
    }
    const std::size_t roads = network.roads.size(), junctions = network.junctions.size(),
                      connecting = network.connectingRoadCount();
    std::vector<std::unique_ptr<ReplacingFile>> files;
    files.push_back(std::move(file));
    return CommitGroup::commitOrHand(
        together, std::move(files),
        [path, roads, junctions, connecting] {
            infoLog.line("Saved as OpenDRIVE to ", path);
            infoLog.line("(", roads, " roads, ", junctions, " junctions, ", connecting,
                         " connecting roads)");
        },
        [path](const ReplacingFile& failed) {
            logSaveFailure("OpenDRIVE", path, failed.reason());
        });
}

} // namespace ombrel
