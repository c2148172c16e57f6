#pragma once

// The VRML 2.0 text writer. The layout is fixed to the byte: CR LF line ends, one space per
// indentation level, fields at their VRML defaults left out, numbers in printf's "%g" form
// whatever the C locale. Readers of our files (and the export's header) rely on that.

#include "vrml/VRNode.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace ombrel {

// A DEF name as VRML readers accept it: characters that a name cannot hold (blanks, control
// characters, quotes, '#', ',', '.', brackets, braces, backslash) become '_', and a name that is
// empty, starts with a digit or sign, or is a keyword gets a leading '_'. Valid names are kept
// as they are.
std::string vrmlName(std::string_view name);

// The first line of every file, with its line end: 17 bytes.
inline constexpr std::string_view kVrmlFirstLine = "#VRML V2.0 utf8\r\n";

// Writes the scene to an open stream: the first line, `preamble` as given (comment lines with
// their own CR LF ends), the root (a plain Group root is unwrapped: its children are written at
// the outer level), then one ROUTE line per route node in the tree. Returns false when any
// write to the stream failed; the stream is not closed.
bool writeVrml(const VRNode* root, std::FILE* out, std::string_view preamble = {});

// Writes a scene piece by piece, so that a big model never has to be in memory whole: open a
// group, write its children one at a time (each freed once written), close the group. The bytes
// are those writeVrml gives for the same tree with a root that is not a plain Group; route
// nodes are not written. Nothing is written after a write fails; finish() tells.
class VRStreamWriter {
public:
    // Writes the first line and `preamble` at once. The stream is not closed.
    explicit VRStreamWriter(std::FILE* out, std::string_view preamble = {});
    explicit VRStreamWriter(std::string* out, std::string_view preamble = {});
    ~VRStreamWriter();
    VRStreamWriter(const VRStreamWriter&) = delete;
    VRStreamWriter& operator=(const VRStreamWriter&) = delete;

    // The header, the fields and the children list's opening of a Group, Transform or LOD
    // whose children are not written with it: call only when at least one child follows,
    // since a group without children is written without a list (write that one with node()).
    void openGroup(const VRGroup& group);
    // A whole node at the current level: a child of the innermost open group.
    void node(const VRNode* node);
    // Ends the innermost open group; does nothing when none is open.
    void closeGroup();
    // Closes the groups still open and flushes. Returns false when any write failed.
    bool finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The same text as a string (for tests and in-memory use).
std::string vrmlText(const VRNode* root, std::string_view preamble = {});

// Writes the scene into the file at path through a ReplacingFile: the previous file is replaced
// only once the new one is complete. Returns false when the file cannot be created or any write
// or the close fails (a full disk is not a written file); the previous file is then untouched.
bool writeVrmlFile(const VRNode* root, const std::string& path);

} // namespace ombrel
