#pragma once
// Whole-file writes and careful file removal: a reader never sees half a file, and nothing
// but a regular file is ever removed.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vt {

// Every temporary this program writes beside a file is named ".vt-tmp-" and six random letters
// or digits: short whatever the target's name, and recognisable after a crash.
inline constexpr std::string_view temporaryFilePrefix = ".vt-tmp-";

// Creates an empty temporary (mode 0644) in folder and returns its path. Throws
// std::filesystem::filesystem_error on failure.
std::filesystem::path createTemporaryFile(const std::filesystem::path& folder);
// The same, open for writing: its path and descriptor (the caller closes it).
std::pair<std::filesystem::path, int> openTemporaryFile(const std::filesystem::path& folder);

// True for the name of a temporary this program writes, or wrote under its earlier names
// (".<name>.tmp-XXXXXX" and ".<name>-<UUID>", optionally followed by ".wav").
bool isTemporaryFileName(std::string_view name) noexcept;

// Removes the temporaries left in folder by a write that never finished (a crash or a kill):
// regular files whose names isTemporaryFileName() accepts, nothing else. Returns how many.
std::size_t removeLeftoverTemporaries(const std::filesystem::path& folder) noexcept;

// A file being written under a hidden temporary name in the target's folder, piece by piece as
// its bytes become known. commit() moves it onto the target (after fsync); discard() and the
// destructor remove the temporary when it was not committed, so no partial file stays behind.
class PendingFile {
public:
    // Creates the temporary file (empty, open for writing). Throws std::filesystem::filesystem_error
    // on failure.
    explicit PendingFile(std::filesystem::path target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::filesystem::path& path() const { return temporary; }
    const std::filesystem::path& targetPath() const { return target; }
    // Writes bytes at the end of the temporary. Throws std::filesystem::filesystem_error.
    void append(std::string_view bytes);
    // Flushes the temporary to disk and renames it onto the target. On failure the temporary is
    // removed and std::filesystem::filesystem_error thrown.
    void commit();
    // Closes and removes the temporary now (nothing once committed).
    void discard() noexcept;

private:
    void close();

    std::filesystem::path target;
    std::filesystem::path temporary;
    int descriptor = -1;
    bool settled = false; // committed or discarded
};

// Writes bytes to a temporary in the same folder, fsyncs and renames it onto path. On failure the
// temporary is removed, the old file stays as it was and std::filesystem::filesystem_error is
// thrown.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// The whole content of a regular file, or nothing when it is missing or unreadable.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// Removes path only when it is a regular file (never a folder, never through a symbolic link
// to one). Returns true when a file was removed.
bool removeRegularFile(const std::filesystem::path& path) noexcept;

// True when name is one usable path component: not empty, not "." or "..", no "/" and no NUL.
bool isSafeFileName(std::string_view name) noexcept;

} // namespace vt
