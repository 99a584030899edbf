#include "Platform/Core/AtomicFile.h"

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

// Creates a temporary in folder named by temporaryFilePrefix; returns its path and open descriptor.
} // namespace

std::pair<fs::path, int> openTemporaryFile(const fs::path& folder) {
    std::string pattern = (folder / (std::string(temporaryFilePrefix) + "XXXXXX")).string();
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        throwErrno("cannot create temporary file", folder);
    fchmod(fd, 0644);
    return {fs::path(pattern), fd};
}

fs::path createTemporaryFile(const fs::path& folder) {
    auto [path, fd] = openTemporaryFile(folder);
    ::close(fd);
    return path;
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

std::size_t removeLeftoverTemporaries(const fs::path& folder) noexcept {
    std::vector<fs::path> leftovers;
    try {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error))
            if (isTemporaryFileName(it->path().filename().string()))
                leftovers.push_back(it->path());
    } catch (...) {
        return 0;
    }
    std::size_t removed = 0;
    for (const auto& path : leftovers)
        removed += removeRegularFile(path) ? 1 : 0;
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
}

void PendingFile::discard() noexcept {
    if (descriptor >= 0)
        ::close(std::exchange(descriptor, -1));
    // Once settled, the temporary's name may already belong to another writer's file.
    if (!std::exchange(settled, true))
        removeRegularFile(temporary);
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

bool removeRegularFile(const fs::path& path) noexcept {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return ::unlink(path.c_str()) == 0;
}

bool isSafeFileName(std::string_view name) noexcept {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

} // namespace vt
