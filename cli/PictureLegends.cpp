#include "cli/PictureLegends.h"

#include <algorithm>
#include <cstdio>

namespace ombrel {

namespace {

std::size_t countOf(const ValueCounts& counts, std::uint32_t value) {
    const auto it =
        std::lower_bound(counts.begin(), counts.end(), std::make_pair(value, std::size_t(0)));
    return it != counts.end() && it->first == value ? it->second : 0;
}

std::string rgb(std::uint32_t value) {
    char text[48];
    std::snprintf(text, sizeof text, "[%u, %u, %u]", (value >> 16) & 0xFF, (value >> 8) & 0xFF,
                  value & 0xFF);
    return text;
}

std::string header(const std::string& picture, int width, int height) {
    return "{\n  \"picture\": " + jsonString(picture) + ",\n  \"width\": " + std::to_string(width) +
           ",\n  \"height\": " + std::to_string(height) + ",\n";
}

} // namespace

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::string labelsLegend(const std::string& picture, int width, int height,
                         const std::vector<FacePictures::SurfaceClass>& classes,
                         const ValueCounts& counts) {
    std::string json = header(picture, width, height) + "  \"classes\": [";
    for (std::size_t i = 0; i < classes.size(); ++i) {
        json += i == 0 ? "\n" : ",\n";
        json += "    {\"class\": " + jsonString(classes[i].name) +
                ", \"colour\": " + rgb(classes[i].colour) +
                ", \"pixels\": " + std::to_string(countOf(counts, classes[i].colour)) + "}";
    }
    return json + "\n  ]\n}\n";
}

std::string instancesLegend(const std::string& picture, int width, int height,
                            const std::vector<InstanceCell>& buildings, const ValueCounts& counts) {
    std::string json =
        header(picture, width, height) +
        "  \"background\": {\"value\": 0, \"pixels\": " + std::to_string(countOf(counts, 0)) +
        "},\n  \"buildings\": [";
    for (std::size_t i = 0; i < buildings.size(); ++i) {
        const std::uint32_t value = std::uint32_t(i + 1) & 0xFFFFFF;
        json += i == 0 ? "\n" : ",\n";
        json += "    {\"building\": " + std::to_string(i) +
                ", \"value\": " + std::to_string(value) + ", \"colour\": " + rgb(value) +
                ", \"column\": " + std::to_string(buildings[i].column) +
                ", \"row\": " + std::to_string(buildings[i].row) + ", \"definition\": " +
                (buildings[i].definition.empty() ? std::string("null")
                                                 : jsonString(buildings[i].definition)) +
                ", \"pixels\": " + std::to_string(countOf(counts, value)) + "}";
    }
    return json + "\n  ]\n}\n";
}

} // namespace ombrel
