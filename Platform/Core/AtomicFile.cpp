#include "Platform/Core/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vt {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwErrno(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

// Creates an empty, uniquely named hidden file beside target and returns its path.
fs::path makeTemporarySibling(const fs::path& target) {
    fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        throwErrno("cannot create temporary file", target);
    fchmod(fd, 0644);
    close(fd);
    return fs::path(pattern);
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

void syncFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwErrno("cannot open file", path);
    int result = ::fsync(fd);
    int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    if (result != 0)
        throwErrno("cannot flush file", path);
}

} // namespace

PendingFile::PendingFile(fs::path targetPath)
    : target(std::move(targetPath)), temporary(makeTemporarySibling(target)) {}

PendingFile::~PendingFile() {
    if (!committed)
        removeRegularFile(temporary);
}

void PendingFile::commit() {
    syncFile(temporary);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        throwErrno("cannot replace file", target);
    committed = true;
}

void writeFileAtomically(const fs::path& path, std::string_view bytes) {
    PendingFile pending(path);
    int fd = ::open(pending.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        throwErrno("cannot open temporary file", pending.path());
    try {
        writeAll(fd, bytes, pending.path());
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        throwErrno("cannot close temporary file", pending.path());
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
