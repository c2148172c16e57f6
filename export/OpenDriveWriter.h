#pragma once

// A street network as an ASAM OpenDRIVE 1.6 document (.xodr), the road-network format that
// driving and traffic simulators read (SUMO's netconvert among them).

#include <cstdint>
#include <cstdio>
#include <string>

namespace ombrel {

class Progress;
class StreetNetwork;

// What the document says about where the network comes from.
struct OpenDriveHeader {
    std::string name;             // the header's name: the construction file's name
    std::string constructionFile; // recorded in a comment with the seed
    std::uint32_t seed = 0;
    // The area the city covers, in its coordinates.
    double west = 0.0, south = 0.0, east = 0.0, north = 0.0;
};

// Writes the document to `out`: the header with the bounds, every road with its straight
// reference line, its lanes and the junctions at its ends, then every junction's connecting
// roads (lines and quarter circles), then the junctions with their connections and lane links.
// Numbers are written in the C locale's form whatever the locale, each the shortest text that
// reads back as the same double. Reports the junctions done to `progress` as stage "Exporting".
// Returns false when a write failed.
bool writeOpenDrive(const StreetNetwork& network, const OpenDriveHeader& header, std::FILE* out,
                    Progress* progress = nullptr);

} // namespace ombrel
