#pragma once
// Whole-file writes and careful file removal: a reader never sees half a file, and nothing
// but a regular file is ever removed.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vt {

// Every temporary is written in a hidden folder of its own inside the target's folder, named
// ".vellumtide-tmp", as a file of six random letters or digits. No name of another's file can
// collide with it, and everything in that folder may be swept after a crash. The folder is
// removed again when the last write under way in it ends.
inline constexpr std::string_view temporaryFolderName = ".vellumtide-tmp";
// The prefix of the temporaries earlier versions wrote beside the target itself.
inline constexpr std::string_view temporaryFilePrefix = ".vt-tmp-";

// The folder of the temporaries of the files in folder.
std::filesystem::path temporaryFolderOf(const std::filesystem::path& folder);

// Creates an empty temporary (mode 0644) for a file in folder and returns its path. Throws
// std::filesystem::filesystem_error on failure. Remove it with removeTemporaryFile() unless it
// was renamed into place.
std::filesystem::path createTemporaryFile(const std::filesystem::path& folder);
// The same, open for writing: its path and descriptor (the caller closes it). Threads that write
// many temporaries at once each name a lane of their own, a subfolder of the temporaries' folder,
// so that they do not wait for one another on one folder's lock.
std::pair<std::filesystem::path, int> openTemporaryFile(const std::filesystem::path& folder,
                                                        std::string_view lane = {});
// Removes a temporary made by createTemporaryFile() or openTemporaryFile() (when still there), and
// its lane and the temporaries' folder when they are now empty.
void removeTemporaryFile(const std::filesystem::path& temporary) noexcept;

// True for the name of a temporary that earlier versions wrote beside the target: ".vt-tmp-"
// and six letters or digits, ".<name>.tmp-XXXXXX" and ".<name>-<UUID>" (optionally ".wav").
bool isTemporaryFileName(std::string_view name) noexcept;

// Removes the temporaries left for folder by writes that never finished (a crash or a kill):
// every regular file in its temporaries' folder and its lanes, then those folders when empty, and, with
// oldNamesToo, the regular files in folder itself whose names isTemporaryFileName() accepts
// (never ask this of a folder where others' files may carry such names). Returns how many files.
std::size_t removeLeftoverTemporaries(const std::filesystem::path& folder, bool oldNamesToo = true) noexcept;

// A file being written as a temporary for the target's folder (see temporaryFolderName), piece by piece as
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
// Hands the content of a regular file to onPiece a piece at a time (pieces of at most 1 MiB), so
// that a large file is read in little memory. False when it is missing or cannot be read to its
// end; onPiece's exceptions pass through.
bool readFileInPieces(const std::filesystem::path& path,
                      const std::function<void(std::string_view)>& onPiece);

// Removes path only when it is a regular file (never a folder, never through a symbolic link
// to one). Returns true when a file was removed.
bool removeRegularFile(const std::filesystem::path& path) noexcept;

// True when name is one usable path component: not empty, not "." or "..", no "/" and no NUL,
// and not the name of the temporaries' folder.
bool isSafeFileName(std::string_view name) noexcept;

} // namespace vt
