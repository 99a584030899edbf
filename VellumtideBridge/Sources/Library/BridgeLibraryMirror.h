#pragma once
// Copying the library's files whole: into the plug-in's mirror (the mirror pass, on a few threads,
// and single files) and from one library folder into another. A reader of a copy sees the old
// file or the new one, never half, also after a crash.

#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace BridgeLibraryMirror {

using Path = std::filesystem::path;

// The path in double quotes, as the texts shown to the user name files.
std::string quoted(const Path& path);
// Creates the folder with its parents. Throws BridgeLibraryError.
void createFolder(const Path& folder);
bool itemExists(const Path& path);
// The size attribute of a file; nothing for a missing item, a folder or an unreadable item.
std::optional<std::uintmax_t> sizeOf(const Path& path);
// Gives target the modification time of source; failures are ignored (the next pass copies again).
void copyModificationTime(const Path& source, const Path& target);

// Copies source over destination so that a reader sees the old file or the new one, never half.
// The copy takes the source's modification time, so the mirror pass can tell it is unchanged.
// Throws BridgeLibraryError.
void copyReplacing(const Path& source, const Path& destination);
// Copies an existing file into the mirror; failures are ignored (the mirror is a convenience copy).
void copyIntoMirror(const Path& source, const Path& mirrorTarget);

// BridgeSampleCache::copyLibrary(): the JSON files and the three folders into another library.
void copyLibrary(const BridgeSampleCache& source, const BridgeSampleCache& destination);
// BridgeSampleCache::mirrorFiles(): the library's files and what it lists into its mirror.
void mirrorFiles(const BridgeSampleCache& library, const std::vector<SampleItem>& samples,
                 const BridgeMetadataMap& metadata);

} // namespace BridgeLibraryMirror
