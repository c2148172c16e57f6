#include "cli/ExportTool.h"

#include "base/Log.h"
#include "base/Version.h"
#include "city/CityDrawable.h"
#include "city/CityGenerator.h"
#include "cli/PictureLegends.h"
#include "cli/PngWriter.h"
#include "cli/ProgressLine.h"
#include "cli/StderrLogSink.h"
#include "cli/WatchLoop.h"
#include "config/Attributes.h"
#include "config/CitySession.h"
#include "config/ConstructionReader.h"
#include "export/CityExport.h"
#include "export/TilesetWriter.h"
#include "preview/gl/Camera.h"
#include "preview/gl/HeadlessGL.h"
#include "preview/gl/SceneView.h"
#include "preview/gl/TextureCache.h"
#include "vrml/CommitGroup.h"
#include "vrml/Export.h"
#include "vrml/ReplacingFile.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace ombrel {

namespace {

// Hands the bands of a city as it is generated to a tileset export.
class TilesetBands : public CityBandSink {
public:
    TilesetBands(TilesetExport& tiles, Progress& progress) : tiles_(tiles), progress_(progress) {}
    bool begin(const StreetGrid& grid) override {
        failed_ = !tiles_.begin(grid);
        return !failed_;
    }
    std::uint32_t bandColumns() const override { return tiles_.bandColumns(); }
    bool band(const CityDrawable& band, std::uint32_t first, std::uint32_t end) override {
        failed_ = !tiles_.addBand(band, first, end, &progress_);
        return !failed_;
    }
    // A band or the folder could not be written (logged); the generation stopped there.
    bool failed() const { return failed_; }

private:
    TilesetExport& tiles_;
    Progress& progress_;
    bool failed_ = false;
};

// Drops a city band by band: the cities a run generates before the one it exports.
class DroppedBands : public CityBandSink {
public:
    bool begin(const StreetGrid&) override { return true; }
    std::uint32_t bandColumns() const override { return 16; }
    bool band(const CityDrawable&, std::uint32_t, std::uint32_t) override { return true; }
};

constexpr const char* kUsage =
    "Usage: ombrel-export [OPTIONS] CONSTRUCTION_FILE\n"
    "Generates a city from an XML construction file and exports it as a VRML 2.0, glTF 2.0 or\n"
    "Wavefront OBJ file, a 3D Tiles 1.1 tileset, or its streets as an OpenDRIVE 1.6 road\n"
    "network.\n"
    "\n"
    "  -o, --output PATH        file to write (required unless only pictures are asked for),\n"
    "                           in the format its ending names: .wrl, .glb, .gltf, .obj or\n"
    "                           .xodr; a name ending in tileset.json is a 3D Tiles tileset\n"
    "                           written into that file's folder; a name without an ending is\n"
    "                           VRML; - writes VRML to standard output\n"
    "      --format FORMAT      wrl | glb | gltf | obj | xodr | 3dtiles, whatever the ending\n"
    "                           (3dtiles: an output not ending in .json is the folder)\n"
    "      --origin LAT,LON[,HEIGHT]\n"
    "                           where a tileset puts the city's origin corner on the globe:\n"
    "                           WGS84 degrees, metres above the ellipsoid (default 0,0,0)\n"
    "  -m, --collapse MODE      normal | building | model      (default normal)\n"
    "      --no-triangulate     keep the faces as generated    (default: triangulate)\n"
    "      --no-roads           leave the roads out            (default: roads saved)\n"
    "      --merge WHAT         none | blocks: in glTF and OBJ, each building an object of its\n"
    "                           own, or the buildings of each street block one object with\n"
    "                           every building still told apart inside it (default none)\n"
    "  -n, --generations N      generate N cities in a row without reloading, export the last\n"
    "                           (default 1)\n"
    "      --seed HEX           generate from this seed instead of the file's randomSeed\n"
    "                           (hexadecimal, read as randomSeed is)\n"
    "      --watch              export, then export again each time the construction file or\n"
    "                           one of its images changes, until interrupted\n"
    "      --png PATH           also draw the city to a picture, seen from the preview's home\n"
    "                           camera: JPEG for .jpg or .jpeg, PNG for .png or a name\n"
    "                           without an ending; - writes a PNG to standard output\n"
    "      --labels PATH        also draw a PNG of the surface classes, each pixel the flat\n"
    "                           colour of its face's class (black for the sky), with a\n"
    "                           legend PATH.json: class, colour and pixel count\n"
    "      --instances PATH     also draw a PNG of the buildings, each pixel the building's\n"
    "                           number + 1 as red * 65536 + green * 256 + blue, 0 for roads\n"
    "                           and sky, with a legend PATH.json: each building's column,\n"
    "                           row and pixel count\n"
    "      --depth PATH         also draw a 16-bit grey PNG of the distance along the view\n"
    "                           axis in hundredths of a unit (at most 65535), 0 for the sky\n"
    "                           (--labels, --instances and --depth are pixel-aligned with\n"
    "                           --png: the same camera, size and view)\n"
    "      --size WxH           size of the pictures (default 1024x768)\n"
    "      --view VIEW          home | overview: the preview's home camera, or the whole\n"
    "                           city from above at 45 degrees, framed (default home)\n"
    "      --no-axes            leave the coordinate axes out of the picture\n"
    "      --renderer KIND      batched | immediate: draw the picture from vertex buffers or\n"
    "                           with OpenGL immediate mode (default batched)\n"
    "      --frames N           draw the picture N more times, each finished, after one\n"
    "                           that uploads textures and builds buffers, and print how\n"
    "                           long they took on standard error\n"
    "  -q, --quiet              print no log but errors\n"
    "  -h, --help               show this help and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "An existing file is replaced only once the new one is complete; a device or named pipe\n"
    "(such as /dev/null) is written to directly, and a read-only file is refused. The files\n"
    "of one run (a .gltf and its .bin files, an .obj and its .mtl, the picture) change\n"
    "together: a run that fails or is interrupted replaces none of them.\n"
    "\n"
    "Exit status: 0 exported, 1 the construction file is missing or fails to load,\n"
    "2 bad usage, 3 an output could not be written (or a road network was asked of a city\n"
    "without streets), 128 + N ended by signal N (SIGINT,\n"
    "SIGTERM, SIGHUP), which leaves the earlier files as they were.\n";

struct Options {
    std::string output;
    std::optional<ExportFormat> format; // --format
    std::optional<GeoOrigin> origin;    // --origin
    std::string png;
    PictureFormat pictureFormat = PictureFormat::png;
    std::string labels;    // --labels
    std::string instances; // --instances
    std::string depth;     // --depth
    std::string constructionFile;
    ExportOptions exportOptions;
    long generations = 1;
    std::optional<std::uint32_t> seed;
    bool watch = false;
    int width = 1024;
    int height = 768;
    bool overview = false;
    bool axes = true;
    CityRenderer renderer = CityRenderer::batched;
    long frames = 1;
    bool framesGiven = false;
    bool quiet = false;
    bool help = false;
    bool version = false;

    bool datasetPictures() const { return !labels.empty() || !instances.empty() || !depth.empty(); }
    bool anyPicture() const { return !png.empty() || datasetPictures(); }
};

struct UsageError {
    std::string message;
};

std::optional<long> parseCount(std::string_view text, long min, long max) {
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

// "LAT,LON" or "LAT,LON,HEIGHT" as a point on the globe; none when a number is missing, not a
// number, not finite, or the latitude or longitude is out of range.
std::optional<GeoOrigin> parseOrigin(std::string_view text) {
    double values[3] = {0.0, 0.0, 0.0};
    int count = 0;
    for (;;) {
        if (count == 3)
            return std::nullopt;
        const std::size_t comma = text.find(',');
        const std::string_view part = text.substr(0, comma);
        double v = 0.0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() ||
            !std::isfinite(v))
            return std::nullopt;
        values[count++] = v;
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (count < 2 || values[0] < -90.0 || values[0] > 90.0 || values[1] < -180.0 ||
        values[1] > 180.0)
        return std::nullopt;
    return GeoOrigin{values[0], values[1], values[2]};
}

Options parse(int argc, char** argv) {
    Options o;
    bool sawFile = false;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (onlyFiles || arg.empty() || arg == "-" || arg[0] != '-') {
            if (sawFile)
                throw UsageError{"more than one construction file given ('" + o.constructionFile +
                                 "' and '" + std::string(arg) + "')"};
            o.constructionFile = std::string(arg);
            sawFile = true;
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        // --name=value gives the value inline.
        std::optional<std::string> inlineValue;
        if (arg.substr(0, 2) == "--") {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                inlineValue = std::string(arg.substr(eq + 1));
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                throw UsageError{"option '" + std::string(arg) + "' needs a value"};
            return argv[++i];
        };
        auto flag = [&] {
            if (inlineValue)
                throw UsageError{"option '" + std::string(arg) + "' takes no value"};
        };
        if (arg == "-o" || arg == "--output") {
            o.output = value();
            if (o.output.empty())
                throw UsageError{"the output path is empty"};
        } else if (arg == "--format") {
            const std::string name = value();
            o.format = formatNamed(name);
            if (!o.format)
                throw UsageError{"unknown format '" + name +
                                 "' (use wrl, glb, gltf, obj, xodr or 3dtiles)"};
        } else if (arg == "--origin") {
            const std::string text = value();
            o.origin = parseOrigin(text);
            if (!o.origin)
                throw UsageError{"bad origin '" + text +
                                 "' (LAT,LON or LAT,LON,HEIGHT: latitude -90 to 90 and longitude "
                                 "-180 to 180 in degrees, height in metres)"};
        } else if (arg == "-m" || arg == "--collapse") {
            const std::string mode = value();
            if (mode == "normal")
                o.exportOptions.collapseMode = CollapseMode::normal;
            else if (mode == "building")
                o.exportOptions.collapseMode = CollapseMode::building;
            else if (mode == "model")
                o.exportOptions.collapseMode = CollapseMode::model;
            else
                throw UsageError{"unknown collapse mode '" + mode +
                                 "' (use normal, building or model)"};
        } else if (arg == "--merge") {
            const std::string what = value();
            if (what == "none")
                o.exportOptions.merge = MergeMode::none;
            else if (what == "blocks")
                o.exportOptions.merge = MergeMode::blocks;
            else
                throw UsageError{"unknown merge '" + what + "' (use none or blocks)"};
        } else if (arg == "--no-triangulate") {
            flag();
            o.exportOptions.triangulateEverything = false;
        } else if (arg == "--no-roads") {
            flag();
            o.exportOptions.saveRoads = false;
        } else if (arg == "-n" || arg == "--generations") {
            const std::string n = value();
            const auto count = parseCount(n, 1, 1000000);
            if (!count)
                throw UsageError{"bad number of generations '" + n + "' (1 to 1000000)"};
            o.generations = *count;
        } else if (arg == "--seed") {
            const std::string text = value();
            o.seed = readSeed(std::u16string(text.begin(), text.end()));
            if (!o.seed)
                throw UsageError{"bad seed '" + text + "' (a hexadecimal number such as 1A2B)"};
        } else if (arg == "--watch") {
            flag();
            o.watch = true;
        } else if (arg == "--png") {
            o.png = value();
            if (o.png.empty())
                throw UsageError{"the picture path is empty"};
            const std::optional<PictureFormat> format = pictureFormatFor(o.png);
            if (!format)
                throw UsageError{"cannot tell the picture format of '" + o.png +
                                 "' (name it .png for PNG, .jpg or .jpeg for JPEG)"};
            o.pictureFormat = *format;
        } else if (arg == "--labels" || arg == "--instances" || arg == "--depth") {
            std::string& path = arg == "--labels"      ? o.labels
                                : arg == "--instances" ? o.instances
                                                       : o.depth;
            path = value();
            if (path.empty())
                throw UsageError{"the " + std::string(arg.substr(2)) + " picture path is empty"};
            if (path == "-")
                throw UsageError{"the " + std::string(arg.substr(2)) +
                                 " picture goes to a file, not to standard output"};
            if (pictureFormatFor(path) != PictureFormat::png)
                throw UsageError{"the " + std::string(arg.substr(2)) + " picture '" + path +
                                 "' is a PNG (name it .png)"};
        } else if (arg == "--size") {
            const std::string size = value();
            const auto x = size.find('x');
            const auto w = x == std::string::npos
                               ? std::nullopt
                               : parseCount(std::string_view(size).substr(0, x), 1, 16384);
            const auto h = x == std::string::npos
                               ? std::nullopt
                               : parseCount(std::string_view(size).substr(x + 1), 1, 16384);
            if (!w || !h)
                throw UsageError{"bad picture size '" + size + "' (WxH, 1 to 16384 each)"};
            o.width = int(*w);
            o.height = int(*h);
        } else if (arg == "--view") {
            const std::string view = value();
            if (view != "home" && view != "overview")
                throw UsageError{"unknown view '" + view + "' (use home or overview)"};
            o.overview = view == "overview";
        } else if (arg == "--no-axes") {
            flag();
            o.axes = false;
        } else if (arg == "--renderer") {
            const std::string kind = value();
            if (kind != "batched" && kind != "immediate")
                throw UsageError{"unknown renderer '" + kind + "' (use batched or immediate)"};
            o.renderer = kind == "batched" ? CityRenderer::batched : CityRenderer::immediate;
        } else if (arg == "--frames") {
            const std::string n = value();
            const auto count = parseCount(n, 1, 1000000);
            if (!count)
                throw UsageError{"bad number of frames '" + n + "' (1 to 1000000)"};
            o.frames = *count;
            o.framesGiven = true;
        } else if (arg == "-q" || arg == "--quiet") {
            flag();
            o.quiet = true;
        } else if (arg == "-h" || arg == "--help") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else {
            throw UsageError{"unknown option '" + std::string(argv[i]) + "'"};
        }
    }
    if (o.help || o.version)
        return o;
    if (!sawFile)
        throw UsageError{"no construction file given"};
    if (o.output.empty() && !o.anyPicture())
        throw UsageError{"no output given (use --output PATH)"};
    if (!o.output.empty()) {
        // The ending names the format unless --format does; a name without one stays VRML.
        const std::string name = std::filesystem::path(o.output).filename().string();
        const std::size_t dot = name.find_last_of('.');
        // A tileset named by its folder gets its tileset.json inside it.
        if (o.format == ExportFormat::tiles && !formatForPath(o.output) &&
            std::filesystem::path(o.output).extension() != ".json")
            o.output = (std::filesystem::path(o.output) / "tileset.json").string();
        if (o.format)
            o.exportOptions.format = *o.format;
        else if (const std::optional<ExportFormat> format = formatForPath(o.output))
            o.exportOptions.format = *format;
        else if (dot != std::string::npos && dot > 0)
            throw UsageError{"cannot tell the format of '" + o.output +
                             "' (name it .wrl, .glb, .gltf, .obj or .xodr, or give --format)"};
    }
    if (o.origin) {
        if (o.exportOptions.format != ExportFormat::tiles)
            throw UsageError{"--origin places a tileset on the globe; the output is not one "
                             "(name it DIR/tileset.json or give --format 3dtiles)"};
        o.exportOptions.origin = *o.origin;
    }
    if (o.output == "-" && o.png == "-")
        throw UsageError{"the VRML file and the picture cannot both go to standard output"};
    {
        // Two outputs written to one file would leave one of them lost; a device or a pipe
        // (such as /dev/null) takes whatever is written to it.
        std::vector<std::string> paths;
        const auto regular = [](const std::string& p) {
            std::error_code ec;
            const auto status = std::filesystem::status(p, ec);
            return !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
        };
        for (const std::string* p : {&o.output, &o.png, &o.labels, &o.instances, &o.depth})
            if (!p->empty() && *p != "-" && regular(*p))
                paths.push_back(*p);
        for (const std::string* p : {&o.labels, &o.instances})
            if (!p->empty())
                paths.push_back(*p + ".json");
        for (std::size_t i = 0; i < paths.size(); ++i)
            for (std::size_t j = i + 1; j < paths.size(); ++j)
                if (paths[i] == paths[j])
                    throw UsageError{"two outputs are written to '" + paths[i] + "'"};
    }
    if (o.watch && (o.output == "-" || o.png == "-"))
        throw UsageError{"--watch writes files again and again, not to standard output"};
    return o;
}

// Hands `files` (written whole) to `outputs` to take their places with the export; `what`
// names them in the log ("the picture", "the labels picture").
void addOutputs(CommitGroup& outputs, std::vector<std::unique_ptr<ReplacingFile>> files,
                const std::string& what, const std::string& path, const std::string& legend) {
    const std::string said = legend.empty() ? path : path + " (legend " + legend + ")";
    outputs.add(
        std::move(files), [what, said] { infoLog.line("Saved ", what, " to ", said); },
        [what, path](const ReplacingFile& failed) {
            errorLog.line("Could not save ", what, " ", path, ": ", failed.reason());
        });
}

// A new file at `path` holding `bytes`, or none after logging why.
std::unique_ptr<ReplacingFile> writeFile(const std::string& path, const std::string& what,
                                         const std::string& picture, const void* bytes,
                                         std::size_t size) {
    auto file = std::make_unique<ReplacingFile>(path);
    if (!file->stream() || std::fwrite(bytes, 1, size, file->stream()) != size) {
        errorLog.line("Could not save ", what, " ", picture, ": ", file->reason());
        return nullptr;
    }
    return file;
}

// Draws one dataset picture of the city (see FacePass) from `camera` and writes it, with its
// legend for labels and instances. Returns false after logging the reason.
bool drawFacePicture(const CitySession& session, const Options& o, SceneView& view, HeadlessGL& gl,
                     const CameraState& camera, FacePass pass, CommitGroup& outputs) {
    const std::string& path = pass == FacePass::labels      ? o.labels
                              : pass == FacePass::instances ? o.instances
                                                            : o.depth;
    const std::string what = pass == FacePass::labels      ? "the labels picture"
                             : pass == FacePass::instances ? "the instances picture"
                                                           : "the depth picture";
    std::string why;
    if (!session.city() || !view.drawFacePass(*session.city(), pass, camera, &why)) {
        errorLog.line("Could not draw ", what, " ", path, ": ",
                      session.city() ? why : std::string("there is no city"));
        return false;
    }
    const std::vector<std::uint8_t> rgba = gl.readPixels();
    std::vector<std::uint8_t> encoded;
    std::string legend;
    if (pass == FacePass::depth) {
        std::vector<std::uint16_t> samples(rgba.size() / 4);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::uint16_t(FacePictures::valueAt(pass, rgba.data() + 4 * i));
        encoded = encodeGrey16Png(o.width, o.height, samples);
    } else {
        encoded = encodePicture(PictureFormat::png, o.width, o.height, rgba);
        const ValueCounts counts = countValues(pass, rgba);
        const std::string name = std::filesystem::path(path).filename().string();
        if (pass == FacePass::labels) {
            legend = labelsLegend(name, o.width, o.height, view.facePictures().classes(), counts);
        } else {
            std::vector<InstanceCell> cells;
            if (const auto* city = dynamic_cast<const CityDrawable*>(session.city())) {
                cells.resize(city->buildingDrawables.size());
                for (std::size_t i = 0; i < cells.size() && i < city->buildingCells.size(); ++i) {
                    const CityDrawable::BuildingCell& cell = city->buildingCells[i];
                    cells[i] = {cell.column, cell.row,
                                cell.definition < city->definitions.size()
                                    ? city->definitions[cell.definition]
                                    : std::string()};
                }
            }
            legend = instancesLegend(name, o.width, o.height, cells, counts);
        }
    }
    if (encoded.empty()) {
        errorLog.line("Could not save ", what, " ", path, ": it could not be encoded");
        return false;
    }
    std::vector<std::unique_ptr<ReplacingFile>> files;
    files.push_back(writeFile(path, what, path, encoded.data(), encoded.size()));
    if (!files.back())
        return false;
    const std::string legendPath = legend.empty() ? std::string() : path + ".json";
    if (!legend.empty()) {
        files.push_back(writeFile(legendPath, what, path, legend.data(), legend.size()));
        if (!files.back())
            return false;
    }
    addOutputs(outputs, std::move(files), what, path, legendPath);
    return true;
}

// Draws the city as the preview shows it right after "Generate" (or from the overview) and
// writes the picture, handing the file to `outputs` to take its place with the export; with
// --frames, draws it that many times and tells the rate on `err`. Then the dataset pictures
// asked for, from the same camera. Returns false after logging the reason.
bool drawPicture(const CitySession& session, const Options& o, std::unique_ptr<HeadlessGL>& gl,
                 std::ostream& err, CommitGroup& outputs) {
    if (!gl) {
        errorLog.line("Could not draw the picture ",
                      o.png.empty() ? o.labels + o.instances + o.depth : o.png,
                      ": no OpenGL context (", "headless rendering is not available)");
        return false;
    }
    SceneView view;
    view.initGL();
    view.resizeGL(o.width, o.height);
    view.setRenderer(o.renderer);
    const CameraState camera = o.overview
                                   ? overviewCamera(session.minCorner(), session.maxCorner(),
                                                    double(o.width) / double(o.height))
                                   : cameraFacingCity(session.minCorner(), session.maxCorner());
    if (o.overview) {
        // The whole city, however deep: the overview of a big city lies beyond the far plane.
        view.setDepthRange(depthRangeFor(camera, session.minCorner(), session.maxCorner()));
    }
    bool ok = true;
    if (!o.png.empty()) {
        SceneToggles toggles;
        toggles.axes = o.axes;
        // Timed frames follow one that uploads the textures and builds the buffers in view:
        // they measure drawing alone.
        view.prepareCity(session.city());
        if (o.framesGiven) {
            view.drawGL(session.city(), camera, toggles);
            gl->finish();
        }
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < o.frames; ++i) {
            view.drawGL(session.city(), camera, toggles);
            gl->finish();
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (o.framesGiven) {
            char text[128];
            std::snprintf(text, sizeof text, "%ld frames in %.3f s (%.1f frames per second)\n",
                          o.frames, seconds, seconds > 0.0 ? double(o.frames) / seconds : 0.0);
            err << text << std::flush;
        }
        const std::vector<std::uint8_t> picture =
            encodePicture(o.pictureFormat, o.width, o.height, gl->readPixels());
        if (picture.empty()) {
            errorLog.line("Could not save the picture ", o.png, ": it could not be encoded");
            return false;
        }
        std::vector<std::unique_ptr<ReplacingFile>> files;
        files.push_back(writeFile(o.png, "the picture", o.png, picture.data(), picture.size()));
        if (!files.back())
            return false;
        addOutputs(outputs, std::move(files), "the picture", o.png, "");
    }
    for (const FacePass pass : {FacePass::labels, FacePass::instances, FacePass::depth}) {
        const std::string& path = pass == FacePass::labels      ? o.labels
                                  : pass == FacePass::instances ? o.instances
                                                                : o.depth;
        if (!path.empty())
            ok = drawFacePicture(session, o, view, *gl, camera, pass, outputs) && ok;
    }
    view.releaseGL();
    return ok;
}

} // namespace

int runExportTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options o;
    try {
        o = parse(argc, argv);
    } catch (const UsageError& e) {
        err << "ombrel-export: " << e.message << " (see ombrel-export --help)\n";
        return kExitUsage;
    }
    if (o.help) {
        out << kUsage;
        return kExitExported;
    }
    if (o.version) {
        out << "ombrel-export " << kVersion << "\n";
        return kExitExported;
    }

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    // Long runs show how far they are on a terminal; --quiet shows nothing but errors.
    ProgressLine progress(stderr, terminal && !o.quiet);
    StreamLogSink stderrSink(stderr, terminal);
    stderrSink.setProgressLine(&progress);
    ErrorsOnlyLogSink errorsOnly(stderrSink);
    ScopedLogSink scopedSink(o.quiet ? static_cast<LogSink&>(errorsOnly) : stderrSink);

    // The context outlives the factory, whose textures are uploaded into it on first use and
    // deleted from it when the factory goes.
    std::unique_ptr<HeadlessGL> gl;
    if (o.anyPicture()) {
        std::string why;
        gl = HeadlessGL::create(o.width, o.height, &why);
        if (!gl)
            warningLog.line("No headless OpenGL context: ", why);
    }

    // Without the XML library nothing can be loaded: say why and fail like a bad file.
    std::optional<CitySession> session;
    try {
        session.emplace();
    } catch (const XmlStartError& e) {
        errorLog.line(e.what());
        stderrSink.finish();
        return kExitLoadFailed;
    }
    // A tileset without pictures is written while its city is generated, a band of columns at a
    // time, so that the city is never held whole; the cities of -n before it are generated just
    // as far, and dropped band by band. A picture needs the whole city: with one the tileset is
    // written from the city held, as the window writes it.
    const bool streamed =
        o.exportOptions.format == ExportFormat::tiles && !o.output.empty() && !o.anyPicture();

    // One round: load, generate, export. A later round (--watch) reloads as a fresh start would.
    const auto round = [&](bool first) {
        // Images are stretched to what the headless context, when there is one, can hold.
        const int largest = TextureCache::largestSize();
        long generated = 0;
        std::optional<TilesetExport> tiles;
        std::optional<TilesetBands> tileBands;
        DroppedBands dropped;
        if (streamed) {
            TilesetOptions options;
            options.exportOptions = o.exportOptions;
            tiles.emplace(o.output, options);
            tileBands.emplace(*tiles, progress);
        }
        // The last generation of the round goes to the tileset, those before it nowhere.
        const auto routeGeneration = [&](long index) {
            if (streamed)
                session->setBandSink(index + 1 == o.generations
                                         ? static_cast<CityBandSink*>(&*tileBands)
                                         : &dropped);
        };
        struct Unroute {
            CitySession& session;
            ~Unroute() { session.setBandSink(nullptr); }
        } unroute{*session};
        if (first) {
            const CitySession::LoadResult loaded = session->load(o.constructionFile, largest);
            // The loader's last line asks for a reload, which a batch run has not: say what is.
            // Without a schema the file is not at fault (the loader said where it looked).
            if (loaded == CitySession::LoadResult::failed && !o.watch && !findSchemaFile().empty())
                errorLog.line("fix the file and run again");
            if (loaded != CitySession::LoadResult::loaded)
                return int(kExitLoadFailed);
            if (o.seed)
                session->startFresh(*o.seed);
        } else {
            routeGeneration(0);
            if (session->regenerate(o.constructionFile, largest, o.seed, &progress) !=
                CitySession::LoadResult::loaded)
                return int(kExitLoadFailed);
            generated = 1;
        }
        for (long i = generated; i < o.generations; ++i) {
            routeGeneration(i);
            session->generate(&progress);
        }

        // The export and the picture change together: a run that fails replaces neither.
        CommitGroup outputs;
        int status = kExitExported;
        if (streamed) {
            // A band that could not be written stopped the generation; that is logged already.
            if (!tileBands->failed() && !tiles->finish(session->record(), &progress, &outputs))
                status = kExitWriteFailed;
            if (tileBands->failed())
                status = kExitWriteFailed;
        } else if (!o.output.empty() &&
                   !session->save(o.output, o.exportOptions, &progress, &outputs))
            status = kExitWriteFailed;
        progress.clear();
        if (o.anyPicture() && !drawPicture(*session, o, gl, err, outputs))
            status = kExitWriteFailed;
        if (status == kExitExported && !outputs.commit())
            status = kExitWriteFailed;
        outputs.discard();
        stderrSink.finish();
        return status;
    };
    if (!o.watch) {
        const int status = round(true);
        stderrSink.finish();
        return status;
    }
    // Stamps taken before a round's load, so that an edit made while the round runs still
    // counts as a change after it.
    std::error_code ec;
    const std::string file = std::filesystem::absolute(o.constructionFile, ec).string();
    FileStamps before = stampFiles({file});
    round(true);
    for (;;) {
        std::vector<std::string> files = session->watchedFiles();
        if (files.empty())
            files = {file};
        FileStamps seen = stampFiles(files);
        for (auto& [path, stamp] : seen)
            if (const auto it = before.find(path); it != before.end())
                stamp = it->second;
        waitForChange(std::move(seen));
        before = stampFiles(files);
        round(false);
    }
}

} // namespace ombrel
