#pragma once

#include "vrml/StagedFolder.h"

#include <string>

namespace ombrel {

// What a 3D Tiles export writes into its folder, and so all that a folder it replaces may hold:
// the tileset's JSON (tileset.json, or the name the export was given: a regular file whose name
// ends in ".json") and the folders subtrees/, tiles/ and textures/. What those folders hold is
// not looked into: they are the writer's.
//
// True for a folder that holds at least one such JSON file, every one of them a well-formed JSON
// document of at most 16 MiB whose asset.generator starts with "Ombrel" (as the writer's always
// is), and nothing else than the names above; false for anything else, a folder that cannot be
// read included.
bool holdsOmbrelTileset(const std::string& folder);

// The kind of folder a tileset export replaces: an Ombrel tileset. Anything else is refused as
// "DIR is not a tileset folder".
StagedFolder::Kind tilesetFolder();

} // namespace ombrel
