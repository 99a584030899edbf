#include "Platform/Core/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vt {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwErrno(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

fs::path folderOf(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

bool isAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isUpperHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Ends with six letters or digits after marker (mkstemp's suffix).
bool endsWithRandomSuffix(std::string_view name, std::string_view marker) {
    if (name.size() < marker.size() + 6)
        return false;
    const std::string_view suffix = name.substr(name.size() - 6);
    for (char c : suffix)
        if (!isAlphanumeric(c))
            return false;
    return name.substr(name.size() - 6 - marker.size(), marker.size()) == marker;
}

// Ends with "-" and an upper-case UUID.
bool endsWithUuid(std::string_view name) {
    constexpr std::size_t length = 36;
    if (name.size() < length + 2)
        return false;
    const std::string_view uuid = name.substr(name.size() - length);
    for (std::size_t i = 0; i < length; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? uuid[i] != '-' : !isUpperHex(uuid[i]))
            return false;
    }
    return name[name.size() - length - 1] == '-';
}

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throwErrno("cannot write file", path);
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

// Removes the temporaries' folder when it is empty; another write's temporary keeps it.
void removeFolderIfEmpty(const fs::path& temporaries) noexcept {
    ::rmdir(temporaries.c_str());
}

} // namespace

fs::path temporaryFolderOf(const fs::path& folder) {
    return folder / temporaryFolderName;
}

// The folder of temporaries (or one of its lanes) may vanish between its creation and the file's
// (another write ending): try again.
std::pair<fs::path, int> openTemporaryFile(const fs::path& folder, std::string_view lane) {
    const fs::path temporaries = temporaryFolderOf(folder);
    const fs::path place = lane.empty() ? temporaries : temporaries / lane;
    for (int attempt = 0;; ++attempt) {
        if (::mkdir(temporaries.c_str(), 0755) != 0 && errno != EEXIST)
            throwErrno("cannot create temporary folder", temporaries);
        if (!lane.empty() && ::mkdir(place.c_str(), 0755) != 0 && errno != EEXIST && errno != ENOENT)
            throwErrno("cannot create temporary folder", place);
        std::string pattern = (place / "XXXXXX").string();
        int fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) {
            fchmod(fd, 0644);
            return {fs::path(pattern), fd};
        }
        if (errno != ENOENT || attempt == 8)
            throwErrno("cannot create temporary file", folder);
    }
}

fs::path createTemporaryFile(const fs::path& folder) {
    auto [path, fd] = openTemporaryFile(folder);
    ::close(fd);
    return path;
}

void removeTemporaryFile(const fs::path& temporary) noexcept {
    removeRegularFile(temporary);
    fs::path folder = temporary.parent_path();
    if (folder.parent_path().filename() == temporaryFolderName) { // a lane
        removeFolderIfEmpty(folder);
        folder = folder.parent_path();
    }
    if (folder.filename() == temporaryFolderName)
        removeFolderIfEmpty(folder);
}

bool isTemporaryFileName(std::string_view name) noexcept {
    if (name.size() < 2 || name[0] != '.')
        return false;
    if (name.size() == temporaryFilePrefix.size() + 6 && name.starts_with(temporaryFilePrefix))
        return endsWithRandomSuffix(name, temporaryFilePrefix);
    if (endsWithRandomSuffix(name, ".tmp-"))
        return name.size() > 1 + 5 + 6;
    if (name.ends_with(".wav"))
        name.remove_suffix(4);
    return endsWithUuid(name);
}

std::size_t removeLeftoverTemporaries(const fs::path& folder, bool oldNamesToo) noexcept {
    std::vector<fs::path> leftovers;
    std::vector<fs::path> lanes;
    try {
        std::error_code error;
        fs::directory_iterator inside(temporaryFolderOf(folder), error);
        for (; !error && inside != fs::directory_iterator(); inside.increment(error)) {
            std::error_code notLane;
            if (inside->is_directory(notLane) && !inside->is_symlink(notLane)) {
                lanes.push_back(inside->path());
                fs::directory_iterator lane(inside->path(), notLane);
                for (; !notLane && lane != fs::directory_iterator(); lane.increment(notLane))
                    leftovers.push_back(lane->path());
            } else {
                leftovers.push_back(inside->path());
            }
        }
        if (oldNamesToo) {
            fs::directory_iterator beside(folder, error);
            for (; !error && beside != fs::directory_iterator(); beside.increment(error))
                if (isTemporaryFileName(beside->path().filename().string()))
                    leftovers.push_back(beside->path());
        }
    } catch (...) {
        return 0;
    }
    std::size_t removed = 0;
    for (const auto& path : leftovers)
        removed += removeRegularFile(path) ? 1 : 0;
    for (const auto& lane : lanes)
        removeFolderIfEmpty(lane);
    removeFolderIfEmpty(temporaryFolderOf(folder));
    return removed;
}

PendingFile::PendingFile(fs::path targetPath) : target(std::move(targetPath)) {
    std::tie(temporary, descriptor) = openTemporaryFile(folderOf(target));
}

PendingFile::~PendingFile() {
    discard();
}

void PendingFile::append(std::string_view bytes) {
    if (descriptor < 0)
        throw fs::filesystem_error("cannot write file", temporary,
                                   std::make_error_code(std::errc::bad_file_descriptor));
    writeAll(descriptor, bytes, temporary);
}

void PendingFile::close() {
    const int fd = std::exchange(descriptor, -1);
    if (fd >= 0 && ::close(fd) != 0)
        throwErrno("cannot close temporary file", temporary);
}

void PendingFile::commit() {
    if (settled)
        throw fs::filesystem_error("cannot replace file", target,
                                   std::make_error_code(std::errc::bad_file_descriptor));
    try {
        if (descriptor >= 0 && ::fsync(descriptor) != 0)
            throwErrno("cannot flush file", temporary);
        close();
        if (::rename(temporary.c_str(), target.c_str()) != 0)
            throwErrno("cannot replace file", target);
    } catch (...) {
        discard();
        throw;
    }
    settled = true;
    removeFolderIfEmpty(temporary.parent_path());
}

void PendingFile::discard() noexcept {
    if (descriptor >= 0)
        ::close(std::exchange(descriptor, -1));
    // Once settled, the temporary's name may already belong to another writer's file.
    if (!std::exchange(settled, true))
        removeTemporaryFile(temporary);
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    PendingFile pending(path);
    pending.append(bytes);
    pending.commit();
}

std::optional<std::string> readWholeFile(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return std::nullopt;
    return std::move(content).str();
}

bool readFileInPieces(const fs::path& path, const std::function<void(std::string_view)>& onPiece) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    constexpr std::size_t pieceSize = 1u << 20;
    std::string piece(static_cast<std::size_t>(std::min<off_t>(info.st_size, pieceSize)) + 1, '\0');
    try {
        for (;;) {
            const ssize_t got = ::read(fd, piece.data(), piece.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ::close(fd);
                return got == 0;
            }
            onPiece(std::string_view(piece.data(), static_cast<std::size_t>(got)));
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
}

bool removeRegularFile(const fs::path& path) noexcept {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return ::unlink(path.c_str()) == 0;
}

bool isSafeFileName(std::string_view name) noexcept {
    if (name.empty() || name == "." || name == ".." || name == temporaryFolderName)
        return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

} // namespace vt
