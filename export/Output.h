#pragma once

// Helpers of the glTF and OBJ writers: scratch files for what is written out of order, the
// names of the files written beside the main one, and JSON text.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace ombrel {

// A scratch file for reading and writing, removed when closed: in memory while it is small,
// then in a file without a name (in the folder of `near` where the file system allows, else
// the system's temporary folder). Null with errno set on failure.
std::FILE* openScratch(const std::string& near);

// Appends everything from the start of `from` (a scratch file) to `to`, inside the kernel when
// both are files. `descriptor` is the file behind `to` when fileno() cannot tell it (the stream of
// a ReplacingFile), else -1. False when reading or writing failed.
bool appendScratch(std::FILE* from, std::FILE* to, int descriptor = -1);

// True when ReplacingFile writes path in place: standard output ("-") or an existing file that
// is not a regular file (a device, a pipe). Such a target cannot have files beside it. A folder
// is not written in place: writing to it fails with its own reason.
bool writtenInPlace(const std::string& path);

// The path with its extension (the part from the last dot of the file name) replaced by
// `extension` (".mtl", "-1.bin"); a name without one gets it appended.
std::string besidePath(const std::string& path, std::string_view extension);

// The last part of a path.
std::string fileNameOf(const std::string& path);

// JSON text: a string in quotes (invalid UTF-8 bytes written as U+FFFD), a float that reads back
// as exactly the same value, and a float to six significant digits (as the VRML has it).
void appendJsonString(std::string& out, std::string_view text);
void appendExactFloat(std::string& out, float value);
void appendShortFloat(std::string& out, float value);

// A relative URL of a file with the characters a URI cannot hold percent-encoded.
std::string uriEncode(std::string_view url);

} // namespace ombrel
