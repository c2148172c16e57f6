#include "cli/ExportTool.h"

#include "base/Log.h"
#include "base/Version.h"
#include "cli/PngWriter.h"
#include "cli/ProgressLine.h"
#include "cli/StderrLogSink.h"
#include "cli/WatchLoop.h"
#include "config/Attributes.h"
#include "config/CitySession.h"
#include "config/ConstructionReader.h"
#include "export/CityExport.h"
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

constexpr const char* kUsage =
    "Usage: ombrel-export [OPTIONS] CONSTRUCTION_FILE\n"
    "Generates a city from an XML construction file and exports it as a VRML 2.0, glTF 2.0 or\n"
    "Wavefront OBJ file, a 3D Tiles 1.1 tileset, or its streets as an OpenDRIVE 1.6 road\n"
    "network.\n"
    "\n"
    "  -o, --output PATH        file to write (required unless only --png is given), in the\n"
    "                           format its ending names: .wrl, .glb, .gltf, .obj or .xodr; a\n"
    "                           name ending in tileset.json is a 3D Tiles tileset written\n"
    "                           into that file's folder; a name without an ending is VRML;\n"
    "                           - writes VRML to standard output\n"
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
    "      --size WxH           size of that picture (default 1024x768)\n"
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
    if (o.output.empty() && o.png.empty())
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
    if (o.watch && (o.output == "-" || o.png == "-"))
        throw UsageError{"--watch writes files again and again, not to standard output"};
    return o;
}

// Draws the city as the preview shows it right after "Generate" (or from the overview) and
// writes the picture, handing the file to `outputs` to take its place with the export; with
// --frames, draws it that many times and tells the rate on `err`. Returns false after logging
// the reason.
bool drawPicture(const CitySession& session, const Options& o, std::unique_ptr<HeadlessGL>& gl,
                 std::ostream& err, CommitGroup& outputs) {
    if (!gl) {
        errorLog.line("Could not draw the picture ", o.png, ": no OpenGL context (",
                      "headless rendering is not available)");
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
    SceneToggles toggles;
    toggles.axes = o.axes;
    // Timed frames follow one that uploads the textures and builds the buffers in view: they
    // measure drawing alone.
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
    auto file = std::make_unique<ReplacingFile>(o.png);
    if (!file->stream() ||
        std::fwrite(picture.data(), 1, picture.size(), file->stream()) != picture.size()) {
        errorLog.line("Could not save the picture ", o.png, ": ", file->reason());
        return false;
    }
    std::vector<std::unique_ptr<ReplacingFile>> files;
    files.push_back(std::move(file));
    const std::string path = o.png;
    outputs.add(
        std::move(files), [path] { infoLog.line("Saved the picture to ", path); },
        [path](const ReplacingFile& failed) {
            errorLog.line("Could not save the picture ", path, ": ", failed.reason());
        });
    return true;
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
    if (!o.png.empty()) {
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
    // One round: load, generate, export. A later round (--watch) reloads as a fresh start would.
    const auto round = [&](bool first) {
        // Images are stretched to what the headless context, when there is one, can hold.
        const int largest = TextureCache::largestSize();
        long generated = 0;
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
            if (session->regenerate(o.constructionFile, largest, o.seed, &progress) !=
                CitySession::LoadResult::loaded)
                return int(kExitLoadFailed);
            generated = 1;
        }
        for (long i = generated; i < o.generations; ++i)
            session->generate(&progress);

        // The export and the picture change together: a run that fails replaces neither.
        CommitGroup outputs;
        int status = kExitExported;
        if (!o.output.empty() && !session->save(o.output, o.exportOptions, &progress, &outputs))
            status = kExitWriteFailed;
        progress.clear();
        if (!o.png.empty() && !drawPicture(*session, o, gl, err, outputs))
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
