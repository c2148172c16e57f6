// The catalogue of bad construction files: each one runs through the built ombrel-export in a
// scratch folder of its own, and must give exactly its messages and exit status, without a
// crash, a hang, a memory blow-up, a file written beside the output or a half-written output.
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kTool = fs::path(OMBREL_BIN_DIR) / "ombrel-export";
const fs::path kData = OMBREL_TEST_DATA_DIR;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// Generous bounds: a case that needs more is hung or blowing up, not slow.
const std::chrono::seconds kTimeLimit(kSanitized ? 300 : 60);
constexpr long kMemoryLimitKiB = (kSanitized ? 3L : 1L) << 20;

const std::string kSecret = "TOP-SECRET-LOCAL-CONTENT";

using ombrel::testsupport::readFile;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Every file and folder below `dir` with its size and time: what a run may not touch.
std::map<std::string, std::string> listing(const fs::path& dir) {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
        std::ostringstream what;
        if (e.is_regular_file())
            what << "file " << e.file_size() << " "
                 << e.last_write_time().time_since_epoch().count();
        else
            what << (e.is_directory() ? "folder" : "other");
        entries[fs::relative(e.path(), dir).string()] = what.str();
    }
    return entries;
}

// Whether an output line is the expected one; "@HEX@" in `expected` stands for eight hexadecimal
// digits (a seed taken from the clock).
bool sameLine(const std::string& expected, const std::string& actual) {
    const std::size_t at = expected.find("@HEX@");
    if (at == std::string::npos)
        return expected == actual;
    const std::string tail = expected.substr(at + 5);
    return actual.size() == expected.size() + 3 && actual.compare(0, at, expected, 0, at) == 0 &&
           actual.compare(at + 8, std::string::npos, tail) == 0 &&
           actual.find_first_not_of("0123456789ABCDEF", at) >= at + 8;
}

struct Outcome {
    bool timedOut = false;
    bool signalled = false;
    int status = -1;
    long peakKiB = 0;
    std::string err;
};

// Runs ombrel-export with `args` from `dir`; its streams go to files beside `dir`.
Outcome runTool(const fs::path& dir, const std::vector<std::string>& args) {
    const fs::path errFile = dir.string() + ".stderr";
    const fs::path outFile = dir.string() + ".stdout";
    std::vector<std::string> strings{kTool.string()};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::chdir(dir.c_str()) != 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Outcome run;
    if (pid < 0)
        return run;
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    int raw = 0;
    rusage usage{};
    while (::wait4(pid, &raw, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            run.timedOut = true;
            ::kill(pid, SIGKILL);
            ::wait4(pid, &raw, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.signalled = WIFSIGNALED(raw);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.peakKiB = usage.ru_maxrss;
    run.err = readFile(errFile);
    fs::remove(errFile);
    fs::remove(outFile);
    return run;
}

struct BadInput {
    const char* file; // in files/; the case is named after it
    int status;       // expected exit status
    // The exact lines on standard error; "@DIR@" stands for the absolute scratch folder.
    std::vector<std::string> lines;
    // Writes inputs too big to keep in the repository into the scratch folder.
    std::function<void(const fs::path&)> prepare = nullptr;
};

std::string caseName(const BadInput& c) {
    std::string name = fs::path(c.file).stem().string();
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

void PrintTo(const BadInput& c, std::ostream* os) {
    *os << c.file;
}

class BadInputs : public testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, FailsCleanlyWithItsMessages) {
    const BadInput& c = GetParam();
    const fs::path dir = fs::path(testing::TempDir()) / "bad-inputs" / caseName(c);
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy(kData / "assets", dir / "assets", fs::copy_options::recursive);
    if (fs::exists(kData / "files" / c.file))
        fs::copy_file(kData / "files" / c.file, dir / c.file);
    if (c.prepare)
        c.prepare(dir);
    const auto before = listing(dir);

    const Outcome run = runTool(dir, {"-o", "out.wrl", c.file});

    ASSERT_FALSE(run.timedOut) << c.file << " still ran after " << kTimeLimit.count() << " s";
    ASSERT_FALSE(run.signalled) << c.file << " crashed:\n" << run.err;
    EXPECT_LE(run.peakKiB, kMemoryLimitKiB) << c.file;
    EXPECT_TRUE(run.status >= 0 && run.status <= 3) << c.file << " exited with " << run.status;
    EXPECT_EQ(run.status, c.status) << c.file << ":\n" << run.err;
    std::vector<std::string> expected;
    for (const std::string& line : c.lines)
        expected.push_back(replaceAll(line, "@DIR@", dir.string()));
    std::vector<std::string> lines = splitLines(run.err);
    for (std::size_t i = 0; i < lines.size() && i < expected.size(); ++i)
        if (sameLine(expected[i], lines[i]))
            lines[i] = expected[i];
    EXPECT_EQ(lines, expected) << c.file;
    EXPECT_EQ(run.err.find(kSecret), std::string::npos) << c.file;

    // Nothing appears or changes but the output, which is whole or absent.
    auto after = listing(dir);
    const fs::path output = dir / "out.wrl";
    if (run.status == 0) {
        ASSERT_TRUE(fs::is_regular_file(output)) << c.file;
        const std::string text = readFile(output);
        EXPECT_EQ(text.rfind("#VRML V2.0 utf8\r\n", 0), 0u) << c.file;
        const std::string end = "]\r\n}\r\n";
        EXPECT_TRUE(text.size() > end.size() &&
                    text.compare(text.size() - end.size(), end.size(), end) == 0)
            << c.file << " ends with: " << text.substr(text.size() > 80 ? text.size() - 80 : 0);
        EXPECT_EQ(text.find(kSecret), std::string::npos) << c.file;
        std::istringstream words(text);
        for (std::string word; words >> word;)
            EXPECT_TRUE(word != "nan" && word != "-nan" && word != "inf" && word != "-inf")
                << c.file << " holds the number " << word;
        after.erase("out.wrl");
    } else {
        EXPECT_FALSE(fs::exists(output)) << c.file;
    }
    EXPECT_EQ(after, before) << c.file;
    if (run.status != 0) {
        // A failed run leaves the city exported before as it was.
        std::ofstream(output, std::ios::binary) << "previous city\n";
        const auto kept = listing(dir);
        EXPECT_EQ(runTool(dir, {"-o", "out.wrl", c.file}).status, c.status) << c.file;
        EXPECT_EQ(readFile(output), "previous city\n") << c.file;
        EXPECT_EQ(listing(dir), kept) << c.file;
    }
    if (!testing::Test::HasFailure())
        fs::remove_all(dir);
}

// Lines shared by many cases.
const std::string kFailed = "ERROR  : Failed parsing input file - fix errors and reload";
// What the batch tool adds to the loader's failure line.
const std::string kRunAgain = "ERROR  : fix the file and run again";
// A failed load: the error lines (those that start with the file's name name their place and
// carry no label), the failure line and the batch tool's own.
std::vector<std::string> failedParse(const std::string& file, std::vector<std::string> errors) {
    std::vector<std::string> lines{"Parsing " + file + " ... "};
    for (std::string& e : errors)
        lines.push_back(e.rfind(file + ":", 0) == 0 ? e : "ERROR  : " + e);
    lines.push_back(kFailed);
    lines.push_back(kRunAgain);
    return lines;
}
// The parser's error line about a place, which it names first as a compiler would.
std::string at(const std::string& file, int line, int column) {
    const std::string place = file + ":" + std::to_string(line) + ":" + std::to_string(column);
    return place + ": error: Error at file \"" + file + "\", line " + std::to_string(line) +
           ", column " + std::to_string(column);
}
// An error of the loader at the place `line`:`column` of `file`.
std::string errorAt(const std::string& file, int line, int column, const std::string& text) {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": error: " + text;
}
// A successful run: the load's lines, the generation's, then the export's.
std::vector<std::string> exported(const std::string& file, std::vector<std::string> loading,
                                  std::vector<std::string> generating = {},
                                  const std::string& seed = "0x00000001") {
    std::vector<std::string> lines{"Parsing " + file + " ... "};
    lines.insert(lines.end(), loading.begin(), loading.end());
    lines.push_back("Successfully loaded " + file);
    lines.insert(lines.end(), generating.begin(), generating.end());
    lines.push_back("Generated city [randomSeed=" + seed + "]");
    lines.push_back("Triangulating the entire model");
    lines.push_back("Saved as VRML to out.wrl");
    lines.push_back("(normal, textured, triangulated, with roads)");
    return lines;
}

// The warnings of a root element at line 3 whose attributes `names` all hold `value`, which is
// no number of their type and reads as `readAs`, followed by `more` at the same place.
std::vector<std::string> rootRepairs(const std::string& file, const std::string& value,
                                     const std::string& readAs,
                                     const std::vector<std::string>& names,
                                     const std::vector<std::string>& more) {
    std::vector<std::string> lines;
    for (const std::string& name : names)
        lines.push_back(file + ":3:1: warning: " + name + " '" + value + "' read as " + readAs);
    for (const std::string& text : more)
        lines.push_back(file + ":3:1: warning: " + text);
    return lines;
}

void writeDeepElements(const fs::path& dir) {
    constexpr int kDepth = 100000;
    std::ofstream out(dir / "deep-elements.xml");
    out << "<Ombrel xmlns:x=\"urn:example:extension\" numCellsX=\"1\" numCellsY=\"1\" "
           "cellSizeX=\"10\" cellSizeY=\"10\" randomSeed=\"1\">";
    for (int i = 0; i < kDepth; ++i)
        out << "<x:e>";
    for (int i = 0; i < kDepth; ++i)
        out << "</x:e>";
    out << "</Ombrel>\n";
}

// A city in a folder of its own, with its images beside it, loaded from the folder above.
void writeCityInFolder(const fs::path& dir) {
    fs::create_directories(dir / "city" / "images");
    fs::copy_file(kData / "assets" / "one.png", dir / "city" / "images" / "wall.png");
    fs::copy_file(kData / "assets" / "one.png", dir / "city" / "roof.png");
    std::ofstream(dir / "city" / "pattern-beside.xml")
        << "<Ombrel numCellsX=\"1\" numCellsY=\"1\" cellSizeX=\"10\" cellSizeY=\"10\" "
           "randomSeed=\"1\">\n"
           "  <TextureGroup name=\"t\"><Texture imageURL=\"*.png\"/>"
           "<Texture imageURL=\"images/w*.png\"/></TextureGroup>\n"
           "  <Building><DrawBox height=\"5\" useTextureGroup=\"t\"/></Building>\n"
           "</Ombrel>\n";
}

// A city in a folder of its own with the slips of a first hour: a procedure name and an image
// name misspelt, a decimal comma, and an image that the current directory holds under the same
// relative path as the city's folder, but with other content.
void writeSlips(const fs::path& dir) {
    fs::create_directories(dir / "textures");
    fs::create_directories(dir / "city" / "textures");
    fs::copy_file(kData / "assets" / "one.png", dir / "textures" / "grass.png");
    fs::copy_file(kData / "assets" / "huge.png", dir / "city" / "textures" / "grass.png");
    std::ofstream(dir / "city" / "slips.xml")
        << "<Ombrel numCellsX=\"1\" numCellsY=\"1\" cellSizeX=\"10\" cellSizeY=\"10\" "
           "randomSeed=\"1\">\n"
           "  <Procedure name=\"storey\"><GoUp height=\"1\"/></Procedure>\n"
           "  <TextureGroup name=\"t\"><Texture imageURL=\"textures/grass.png\"/>"
           "<Texture imageURL=\"textures/gras.png\"/></TextureGroup>\n"
           "  <Building><Call name=\"story\"/><Call name=\"tower\"/>"
           "<DrawBox height=\"10,5\" useTextureGroup=\"t\"/></Building>\n"
           "</Ombrel>\n";
}

// A valid city followed by 65 MiB of comment: too big to be a construction file.
void writeHugeFile(const fs::path& dir) {
    std::ofstream out(dir / "huge-file.xml", std::ios::binary);
    out << "<Ombrel numCellsX=\"1\" numCellsY=\"1\" cellSizeX=\"10\" cellSizeY=\"10\"/>\n<!--";
    const std::string line(1023, ' ');
    for (int i = 0; i < 65 * 1024; ++i)
        out << line << '\n';
    out << "-->\n";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Catalogue, BadInputs, testing::Values(
    // Files that are no construction file at all.
    BadInput{"missing.xml", 1, {"ERROR  : Specified configuration file doesn't exist: missing.xml"}},
    BadInput{"folder.xml", 1, {"Parsing folder.xml ... ", "ERROR  : Cannot read folder.xml: it is not a file", kFailed, kRunAgain},
             [](const fs::path& dir) { fs::create_directory(dir / "folder.xml"); }},
    BadInput{"empty.xml", 1, failedParse("empty.xml", {
        at("empty.xml", 1, 1), "\tMessage: invalid document structure"})},
    BadInput{"binary.xml", 1, failedParse("binary.xml", {
        at("binary.xml", 1, 1), "\tMessage: invalid byte '\xef\xbf\xbd' at position 1 of a 1-byte sequence"})},
    BadInput{"not-well-formed.xml", 1, failedParse("not-well-formed.xml", {
        at("not-well-formed.xml", 6, 3), "\tMessage: expected end of tag 'Building'"})},
    BadInput{"truncated.xml", 1, failedParse("truncated.xml", {
        at("truncated.xml", 4, 26), "\tMessage: unexpected end of input"})},
    BadInput{"wrong-root.xml", 1, failedParse("wrong-root.xml", {
        at("wrong-root.xml", 2, 66), "\tMessage: no declaration found for element 'City'",
        at("wrong-root.xml", 2, 66), "\tMessage: attribute 'numCellsX' is not declared for element 'City'",
        at("wrong-root.xml", 2, 66), "\tMessage: attribute 'numCellsY' is not declared for element 'City'",
        at("wrong-root.xml", 2, 66), "\tMessage: attribute 'cellSizeX' is not declared for element 'City'",
        at("wrong-root.xml", 2, 66), "\tMessage: attribute 'cellSizeY' is not declared for element 'City'"})},
    BadInput{"schema-invalid.xml", 1, failedParse("schema-invalid.xml", {
        at("schema-invalid.xml", 3, 67), "\tMessage: missing required attribute 'cellSizeY'",
        at("schema-invalid.xml", 4, 22), "\tMessage: no declaration found for element 'Tower'",
        at("schema-invalid.xml", 4, 22), "\tMessage: attribute 'height' is not declared for element 'Tower'",
        at("schema-invalid.xml", 5, 39), "\tMessage: no character data is allowed by content model",
        at("schema-invalid.xml", 6, 10), "\tMessage: element 'Tower' is not allowed for content model '(Street|Building|Procedure|TextureGroup|())'"})},
    BadInput{"misspelt.xml", 1, failedParse("misspelt.xml", {
        at("misspelt.xml", 3, 81), "\tMessage: attribute 'randomSed' is not declared for element 'Ombrel'",
        "did you mean 'randomSeed'?",
        at("misspelt.xml", 5, 25), "\tMessage: no declaration found for element 'DrawBx'",
        "did you mean 'DrawBox'?",
        at("misspelt.xml", 5, 25), "\tMessage: attribute 'height' is not declared for element 'DrawBx'",
        at("misspelt.xml", 6, 23), "\tMessage: attribute 'hieght' is not declared for element 'GoUp'",
        "did you mean 'height'?",
        at("misspelt.xml", 6, 23), "\tMessage: missing required attribute 'height'",
        at("misspelt.xml", 7, 26), "\tMessage: no declaration found for element 'drawbox'",
        "did you mean 'DrawBox'?",
        at("misspelt.xml", 7, 26), "\tMessage: attribute 'height' is not declared for element 'drawbox'",
        at("misspelt.xml", 8, 24), "\tMessage: no declaration found for element 'Tower'",
        at("misspelt.xml", 8, 24), "\tMessage: attribute 'height' is not declared for element 'Tower'",
        at("misspelt.xml", 9, 14), "\tMessage: element 'DrawBx' is not allowed for content model '(DrawFloor|DrawBox|DrawPyramid|GoUp|Rotate|ScaleTo|Call|Choose|Maybe|Push|Pop|())'"})},
    BadInput{"own-schema.xml", 1, failedParse("own-schema.xml", {
        at("own-schema.xml", 6, 11), "\tMessage: no declaration found for element 'Tower'",
        at("own-schema.xml", 7, 10), "\tMessage: element 'Tower' is not allowed for content model '(Street|Building|Procedure|TextureGroup|())'"})},
    // Text encodings and entities.
    BadInput{"utf16-bom.xml", 0, exported("utf16-bom.xml", {})},
    BadInput{"entity-bomb.xml", 1, failedParse("entity-bomb.xml", {
        at("entity-bomb.xml", 14, 41), "\tMessage: parser has encountered more than '10000' entity expansions in the document; this is the limit imposed by the application"})},
    BadInput{"external-entity.xml", 1, failedParse("external-entity.xml", {
        at("external-entity.xml", 7, 37), "\tMessage: unable to open external entity 'assets/secret.txt'"})},
    BadInput{"external-dtd.xml", 1, failedParse("external-dtd.xml", {
        at("external-dtd.xml", 3, 45), "\tMessage: unable to open DTD document 'assets/secret.txt'"})},
    // Sizes and counts.
    BadInput{"huge-file.xml", 1, failedParse("huge-file.xml", {
        "Cannot read huge-file.xml: it is larger than 64 MiB"}), writeHugeFile},
    BadInput{"huge-grid.xml", 1, failedParse("huge-grid.xml", {errorAt("huge-grid.xml", 3, 1,
        "numCellsX x numCellsY is 100000 x 100000 = 10000000000 cells; at most 16777216 are allowed")})},
    BadInput{"negative-counts.xml", 1, failedParse("negative-counts.xml", {errorAt("negative-counts.xml", 3, 1,
        "numCellsX x numCellsY is 4294967291 x 4294967291 = 18446744030759878681 cells; at most 16777216 are allowed")})},
    BadInput{"long-numbers.xml", 1, failedParse("long-numbers.xml", {errorAt("long-numbers.xml", 3, 1,
        "numCellsX x numCellsY is 1 x 3825205247 = 3825205247 cells; at most 16777216 are allowed")})},
    BadInput{"negative-spacing.xml", 1, failedParse("negative-spacing.xml", {errorAt("negative-spacing.xml", 2, 1,
        "streetEveryX and streetEveryY must be below 4294967295 (a negative spacing is not allowed)")})},
    BadInput{"huge-repeat.xml", 0, exported("huge-repeat.xml", {}, {
        "huge-repeat.xml:5:26: warning: Grammar too large - 1 cell(s) stopped after 1048576 steps"})},
    BadInput{"huge-push.xml", 0, exported("huge-push.xml", {}, {
        "huge-push.xml:4:26: warning: State stack is full (1048576 entries) - Push cut short"})},
    BadInput{"negative-grammar-counts.xml", 0, exported("negative-grammar-counts.xml", {
        "negative-grammar-counts.xml:3:1: warning: firstStreetCrossX must not exceed streetEveryX - default value is taken instead",
        "negative-grammar-counts.xml:6:3: warning: probability '-1' is negative - kept: it lowers the total weight of its list, so the picks are skewed",
        "negative-grammar-counts.xml:9:5: warning: UINT range [4294967295,2] is in wrong order, flipping"}, {
        "negative-grammar-counts.xml:7:5: warning: State stack is full (1048576 entries) - Push cut short",
        "negative-grammar-counts.xml:8:5: warning: Grammar too large - 4 cell(s) stopped after 1048576 steps"})},
    BadInput{"zero-cells.xml", 0, exported("zero-cells.xml", {})},
    BadInput{"no-definitions.xml", 0, exported("no-definitions.xml", {})},
    // Numbers that are none, or too large for a float, in every numeric attribute.
    BadInput{"nan-root.xml", 0, exported("nan-root.xml", rootRepairs("nan-root.xml", "NaN", "0", {
        "numCellsX", "numCellsY", "streetEveryX", "streetEveryY", "cellSizeX", "cellSizeY",
        "streetSizeX", "streetSizeY", "firstStreetCrossX", "firstStreetCrossY"}, {
        "randomSeed 'NaN' is not a hexadecimal number - a seed from the clock is taken instead"}),
        {}, "0x@HEX@")},
    BadInput{"nan-grammar.xml", 0, exported("nan-grammar.xml", {
        "nan-grammar.xml:5:5: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:5:5: warning: scalex 'NaN' read as 0",
        "nan-grammar.xml:5:5: warning: scaley 'NaN' read as 0",
        "nan-grammar.xml:7:23: warning: height 'NaN' read as 0",
        "nan-grammar.xml:8:3: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:9:3: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:10:3: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:11:3: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:12:5: warning: count 'NaN' read as 0",
        "nan-grammar.xml:13:5: warning: scalex 'NaN' read as 0",
        "nan-grammar.xml:13:5: warning: scaley '[1,NaN]' read as [1,0]",
        "nan-grammar.xml:13:5: warning: Float range [1,0] is in wrong order, flipping",
        "nan-grammar.xml:14:5: warning: scalex '[NaN,NaN]' read as [0,0]",
        "nan-grammar.xml:14:5: warning: scaley 'NaN' read as 0",
        "nan-grammar.xml:15:5: warning: theta 'NaN' read as 0",
        "nan-grammar.xml:15:5: warning: distance '[NaN,1]' read as [0,1]",
        "nan-grammar.xml:16:5: warning: height 'NaN' read as 0",
        "nan-grammar.xml:17:5: warning: height 'NaN' read as 0",
        "nan-grammar.xml:18:5: warning: height '[0,NaN]' read as [0,0]",
        "nan-grammar.xml:19:7: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:19:7: warning: scalex 'NaN' read as 0",
        "nan-grammar.xml:19:7: warning: scaley 'NaN' read as 0",
        "nan-grammar.xml:22:5: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:22:30: warning: height '[NaN,NaN]' read as [0,0]",
        "nan-grammar.xml:23:13: warning: probability 'NaN' read as 0",
        "nan-grammar.xml:23:45: warning: height '[NaN,2]' read as [0,2]",
        "nan-grammar.xml:24:5: warning: repeat 'NaN' read as 0",
        "nan-grammar.xml:25:5: warning: repeat '[1,NaN]' read as [1,0]",
        "nan-grammar.xml:25:5: warning: UINT range [1,0] is in wrong order, flipping"}, {
        "nan-grammar.xml:14:5: warning: ScaleTo exact on an edge of length 0 ignored",
        "nan-grammar.xml:26:5: warning: Poping from an empty stack ignored"})},
    BadInput{"inf-root.xml", 0, exported("inf-root.xml", rootRepairs("inf-root.xml", "-inf", "0", {
        "numCellsX", "numCellsY", "streetEveryX", "streetEveryY", "cellSizeX", "cellSizeY",
        "streetSizeX", "streetSizeY", "firstStreetCrossX", "firstStreetCrossY"}, {
        "randomSeed '-inf' is not a hexadecimal number - a seed from the clock is taken instead"}),
        {}, "0x@HEX@")},
    BadInput{"inf-grammar.xml", 0, exported("inf-grammar.xml", {
        "inf-grammar.xml:5:5: warning: probability '-inf' read as 0",
        "inf-grammar.xml:5:5: warning: scalex '-inf' read as 0",
        "inf-grammar.xml:5:5: warning: scaley '-inf' read as 0",
        "inf-grammar.xml:7:23: warning: height '-inf' read as 0",
        "inf-grammar.xml:8:3: warning: probability '-inf' read as 0",
        "inf-grammar.xml:9:3: warning: probability '-inf' read as 0",
        "inf-grammar.xml:10:3: warning: probability '-inf' read as 0",
        "inf-grammar.xml:11:3: warning: probability '-inf' read as 0",
        "inf-grammar.xml:12:5: warning: count '-inf' read as 0",
        "inf-grammar.xml:13:5: warning: scalex '-inf' read as 0",
        "inf-grammar.xml:13:5: warning: scaley '[1,-inf]' read as [1,0]",
        "inf-grammar.xml:13:5: warning: Float range [1,0] is in wrong order, flipping",
        "inf-grammar.xml:14:5: warning: scalex '[-inf,-inf]' read as [0,0]",
        "inf-grammar.xml:14:5: warning: scaley '-inf' read as 0",
        "inf-grammar.xml:15:5: warning: theta '-inf' read as 0",
        "inf-grammar.xml:15:5: warning: distance '[-inf,1]' read as [0,1]",
        "inf-grammar.xml:16:5: warning: height '-inf' read as 0",
        "inf-grammar.xml:17:5: warning: height '-inf' read as 0",
        "inf-grammar.xml:18:5: warning: height '[0,-inf]' read as [0,0]",
        "inf-grammar.xml:19:7: warning: probability '-inf' read as 0",
        "inf-grammar.xml:19:7: warning: scalex '-inf' read as 0",
        "inf-grammar.xml:19:7: warning: scaley '-inf' read as 0",
        "inf-grammar.xml:22:5: warning: probability '-inf' read as 0",
        "inf-grammar.xml:22:31: warning: height '[-inf,-inf]' read as [0,0]",
        "inf-grammar.xml:23:13: warning: probability '-inf' read as 0",
        "inf-grammar.xml:23:46: warning: height '[-inf,2]' read as [0,2]",
        "inf-grammar.xml:24:5: warning: repeat '-inf' read as 0",
        "inf-grammar.xml:25:5: warning: repeat '[1,-inf]' read as [1,0]",
        "inf-grammar.xml:25:5: warning: UINT range [1,0] is in wrong order, flipping"}, {
        "inf-grammar.xml:14:5: warning: ScaleTo exact on an edge of length 0 ignored",
        "inf-grammar.xml:26:5: warning: Poping from an empty stack ignored"})},
    BadInput{"1e39-root.xml", 0, exported("1e39-root.xml", rootRepairs("1e39-root.xml", "1e39", "1", {
        "numCellsX", "numCellsY", "streetEveryX", "streetEveryY", "firstStreetCrossX",
        "firstStreetCrossY"}, {}), {}, "0x00001E39")},
    BadInput{"1e39-grammar.xml", 0, exported("1e39-grammar.xml", {
        "1e39-grammar.xml:12:5: warning: count '1e39' read as 1",
        "1e39-grammar.xml:15:5: warning: Float range [3.40282e+38,1] is in wrong order, flipping",
        "1e39-grammar.xml:23:46: warning: Float range [3.40282e+38,2] is in wrong order, flipping",
        "1e39-grammar.xml:24:5: warning: repeat '1e39' read as 1",
        "1e39-grammar.xml:25:5: warning: repeat '[1,1e39]' read as [1,1]"}, {
        "1e39-grammar.xml:17:5: warning: DrawBox with coordinates out of range ignored",
        "1e39-grammar.xml:18:5: warning: DrawPyramid with coordinates out of range ignored",
        "1e39-grammar.xml:21:5: warning: DrawFloor with coordinates out of range ignored",
        "1e39-grammar.xml:23:46: warning: DrawBox with coordinates out of range ignored",
        "1e39-grammar.xml:7:23: warning: DrawBox with coordinates out of range ignored",
        "1e39-grammar.xml:7:23: warning: DrawBox with coordinates out of range ignored"})},
    BadInput{"bad-seed.xml", 0, exported("bad-seed.xml", {}, {}, "0x9ABCDEF0")},
    // Grammar shapes.
    BadInput{"ranges-without-brackets.xml", 0, exported("ranges-without-brackets.xml", {
        "ranges-without-brackets.xml:6:5: warning: height '10,20' read as [0,20]",
        "ranges-without-brackets.xml:6:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:7:5: warning: height '[10,20' read as [10,20]",
        "ranges-without-brackets.xml:7:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:8:5: warning: height '10,20]' read as [0,20]",
        "ranges-without-brackets.xml:8:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:9:5: warning: height '[3]' read as 0",
        "ranges-without-brackets.xml:10:5: warning: height '[,]' read as [0,0]",
        "ranges-without-brackets.xml:11:5: warning: height ',' read as [0,0]",
        "ranges-without-brackets.xml:11:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:12:5: warning: theta '[30,5' read as [30,5]",
        "ranges-without-brackets.xml:12:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:12:5: warning: Float range [30,5] is in wrong order, flipping",
        "ranges-without-brackets.xml:12:5: warning: distance '0.5]' read as 0.5",
        "ranges-without-brackets.xml:13:5: warning: scalex '[' read as 0",
        "ranges-without-brackets.xml:13:5: warning: scaley ']' read as 0",
        "ranges-without-brackets.xml:14:5: warning: height '5,2' read as [0,2]",
        "ranges-without-brackets.xml:14:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:15:5: warning: repeat '[3,1' read as [3,1]",
        "ranges-without-brackets.xml:15:5: warning: write a decimal with a point (10.5), a range as [low,high]",
        "ranges-without-brackets.xml:15:5: warning: UINT range [3,1] is in wrong order, flipping",
        "ranges-without-brackets.xml:16:5: warning: repeat '2,]' read as [0,0]",
        "ranges-without-brackets.xml:16:5: warning: write a decimal with a point (10.5), a range as [low,high]"})},
    BadInput{"empty-names.xml", 0, exported("empty-names.xml", {
        "empty-names.xml:4:25: warning: Failed loading texture  (it will not be used)",
        "empty-names.xml:4:25: warning: imageURL is empty",
        "empty-names.xml:8:5: warning: Placing an undefined building part named ' ' - ignored",
        "empty-names.xml:8:5: warning: procedures defined before it: ''",
        "empty-names.xml:9:5: warning: Use of undefined texture group ' ' ignored"})},
    BadInput{"call-itself.xml", 0, exported("call-itself.xml", {
        "call-itself.xml:4:65: warning: Placing an undefined building part named 'self' - ignored",
        "call-itself.xml:4:65: warning: (a Procedure cannot call itself)",
        "call-itself.xml:5:26: warning: Placing an undefined building part named 'pong' - ignored",
        "call-itself.xml:5:26: warning: (a Procedure 'pong' is defined at line 6: procedures must come before the elements that call them)"})},
    BadInput{"repairs.xml", 0, exported("repairs.xml", {
        "repairs.xml:4:1: warning: cellSizeX '1,5' read as 1",
        "repairs.xml:4:1: warning: write a decimal with a point (10.5), a range as [low,high]",
        "repairs.xml:4:1: warning: randomSeed '12 monkeys' read as 0x00000012",
        "repairs.xml:5:30: warning: probability '-2' is negative - kept: it lowers the total weight of its list, so the picks are skewed",
        "repairs.xml:6:3: warning: TextureGroup 'walls' replaces the one at line 5",
        "repairs.xml:6:30: warning: scalex '2x' read as 2",
        "repairs.xml:7:26: warning: Placing an undefined building part named 'tower' - ignored",
        "repairs.xml:7:26: warning: (a Procedure 'tower' is defined at line 8: procedures must come before the elements that call them)",
        "repairs.xml:8:27: warning: noColor 'yes' read as false",
        "repairs.xml:8:27: warning: height 'tall' read as 0",
        "repairs.xml:9:3: warning: Procedure 'tower' replaces the one at line 8",
        "repairs.xml:9:27: warning: height '1,5' read as [0,5]",
        "repairs.xml:9:27: warning: write a decimal with a point (10.5), a range as [low,high]",
        "repairs.xml:10:3: warning: probability '50%' read as 50",
        "repairs.xml:11:5: warning: probability '-0.5' is negative - the Maybe never runs",
        "repairs.xml:12:13: warning: probability '-1' is negative - kept: it lowers the total weight of its list, so the picks are skewed",
        "repairs.xml:12:44: warning: repeat '2 times' read as 2",
        "repairs.xml:13:5: warning: count '1.5' read as 1",
        "repairs.xml:14:5: warning: popHeight 'TRUE' read as false"}, {}, "0x00000012")},
    BadInput{"deep-300.xml", 1, failedParse("deep-300.xml", {errorAt("deep-300.xml", 3, 1,
        "Grammar elements are nested more than 256 levels deep (Maybe and ChooseOption inside each other)")})},
    BadInput{"deep-elements.xml", 1, failedParse("deep-elements.xml", {errorAt("deep-elements.xml", 1, 5109,
        "Elements are nested more than 1000 levels deep")}), writeDeepElements},
    BadInput{"unknown-words.xml", 0, exported("unknown-words.xml", {
        "unknown-words.xml:3:1: warning: firstStreetCrossX must not exceed streetEveryX - default value is taken instead",
        "unknown-words.xml:5:3: warning: Unknown road type \"diagonal\" - road definition ignored",
        "unknown-words.xml:6:3: warning: Ignoring unknown element name \"x:Park\"",
        "unknown-words.xml:8:5: warning: Unknown DrawBox closed value 'maybe' - ignored",
        "unknown-words.xml:9:5: warning: Unknown where 'middle' in scaleTo node, overriding with 'center'",
        "unknown-words.xml:9:5: warning: Unknown scaleType 'huge' in scaleTo node, overriding with 'relative'",
        "unknown-words.xml:10:5: warning: Use of undefined texture group 'nowhere' ignored",
        "unknown-words.xml:12:13: warning: Ignoring not-supported x:Option under ChooseOption",
        "unknown-words.xml:3:1: warning: Ignoring streetSizeX since there are no \"vertical\" typed streets defined"}, {
        "unknown-words.xml:11:5: warning: Last texture group used with no last texture",
        "unknown-words.xml:13:5: warning: Poping from an empty stack ignored",
        "unknown-words.xml:11:5: warning: Last texture group used with no last texture",
        "unknown-words.xml:13:5: warning: Poping from an empty stack ignored"})},
    // Textures.
    BadInput{"pattern-directory.xml", 0, exported("pattern-directory.xml", {
        "Looking for texture files from pattern 'assets/o*'",
        "\tAdding '@DIR@/assets/ofolder'",
        "pattern-directory.xml:4:26: warning: Failed loading texture @DIR@/assets/ofolder (it will not be used)",
        "pattern-directory.xml:4:26: warning: it is a folder, not an image",
        "\tAdding '@DIR@/assets/one.png'"})},
    BadInput{"pattern-not-image.xml", 0, exported("pattern-not-image.xml", {
        "Looking for texture files from pattern 'assets/*.txt'",
        "\tAdding '@DIR@/assets/notes.txt'",
        "pattern-not-image.xml:5:5: warning: Failed loading texture @DIR@/assets/notes.txt (it will not be used)",
        "pattern-not-image.xml:5:5: warning: cannot be decoded: Image not of any known type, or corrupt",
        "\tAdding '@DIR@/assets/secret.txt'",
        "pattern-not-image.xml:5:5: warning: Failed loading texture @DIR@/assets/secret.txt (it will not be used)",
        "pattern-not-image.xml:5:5: warning: cannot be decoded: Image not of any known type, or corrupt",
        "pattern-not-image.xml:6:5: warning: Failed loading texture assets/text.png (it will not be used)",
        "pattern-not-image.xml:6:5: warning: cannot be decoded: Image not of any known type, or corrupt"})},
    BadInput{"city/pattern-beside.xml", 0, exported("city/pattern-beside.xml", {
        "Looking for texture files from pattern '*.png'",
        "\tAdding '@DIR@/city/roof.png'",
        "Looking for texture files from pattern 'images/w*.png'",
        "\tAdding '@DIR@/city/images/wall.png'"}), writeCityInFolder},
    BadInput{"city/slips.xml", 0, exported("city/slips.xml", {
        "city/slips.xml:3:26: warning: Texture textures/grass.png is @DIR@/textures/grass.png, from the current directory; the different @DIR@/city/textures/grass.png beside the construction file is not used",
        "city/slips.xml:3:66: warning: Failed loading texture textures/gras.png (it will not be used)",
        "city/slips.xml:3:66: warning: not found; looked in @DIR@/textures and @DIR@/city/textures",
        "city/slips.xml:3:66: warning: did you mean 'textures/grass.png'?",
        "city/slips.xml:4:13: warning: Placing an undefined building part named 'story' - ignored",
        "city/slips.xml:4:13: warning: did you mean 'storey'?",
        "city/slips.xml:4:33: warning: Placing an undefined building part named 'tower' - ignored",
        "city/slips.xml:4:33: warning: procedures defined before it: 'storey'",
        "city/slips.xml:4:53: warning: height '10,5' read as [0,5]",
        "city/slips.xml:4:53: warning: write a decimal with a point (10.5), a range as [low,high]"}),
        writeSlips},
    BadInput{"image-1x1.xml", 0, exported("image-1x1.xml", {})},
    BadInput{"image-20000.xml", 0, exported("image-20000.xml", {
        "image-20000.xml:5:25: warning: Failed loading texture assets/huge.png (it will not be used)",
        "image-20000.xml:5:25: warning: it is 20000 x 20000 pixels; images up to 16384 pixels a side and 64 megapixels are read"})},
    BadInput{"texture-spaces-accents.xml", 0, exported("texture-spaces-accents.xml", {
        "Looking for texture files from pattern 'assets/vieille façade/*été.png'",
        "\tAdding '@DIR@/assets/vieille façade/brique rouge été.png'"})}
), [](const testing::TestParamInfo<BadInput>& info) { return caseName(info.param); });
// clang-format on

} // namespace
