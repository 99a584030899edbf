#include "Platform/Core/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vt {
namespace fs = std::filesystem;

namespace {

fs::path environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

fs::path currentHome() {
    if (auto home = environmentPath("HOME"); !home.empty())
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return fs::temp_directory_path();
}

// Reads the quoted value of one "XDG_MUSIC_DIR=..." line, expanding a leading $HOME.
std::optional<fs::path> parseUserDirsLine(const std::string& line, const fs::path& home) {
    const std::string key = "XDG_MUSIC_DIR=";
    auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
        return std::nullopt;
    std::string value = line.substr(start + key.size());
    if (value.size() < 2 || value.front() != '"')
        return std::nullopt;
    auto close = value.find('"', 1);
    if (close == std::string::npos)
        return std::nullopt;
    value = value.substr(1, close - 1);
    if (value.rfind("$HOME", 0) == 0) {
        std::string rest = value.substr(5);
        if (!rest.empty() && rest.front() != '/')
            return std::nullopt;
        return rest.empty() || rest == "/" ? home : home / fs::path(rest).relative_path();
    }
    if (value.empty() || value.front() != '/')
        return std::nullopt;
    return fs::path(value);
}

} // namespace

fs::path musicFolderFromUserDirs(const fs::path& home, const fs::path& configHome) {
    std::ifstream file(configHome / "user-dirs.dirs");
    std::string line;
    std::optional<fs::path> found;
    while (file && std::getline(file, line)) {
        if (auto value = parseUserDirsLine(line, home))
            found = value;
    }
    // A music folder equal to the home folder means "disabled" to the XDG tools.
    if (found && *found != home)
        return *found;
    return home / "Music";
}

Paths Paths::fromEnvironment() {
    Paths paths;
    paths.home = currentHome();
    paths.config = environmentPath("XDG_CONFIG_HOME");
    if (paths.config.empty())
        paths.config = paths.home / ".config";
    paths.music = musicFolderFromUserDirs(paths.home, paths.config);
    paths.data = environmentPath("XDG_DATA_HOME");
    if (!paths.data.is_absolute()) // unset, or relative, which the XDG rules say to ignore
        paths.data = paths.home / ".local" / "share";
    paths.temp = environmentPath("TMPDIR");
    if (paths.temp.empty())
        paths.temp = "/tmp";
    paths.runtime = environmentPath("XDG_RUNTIME_DIR");
    if (!paths.runtime.is_absolute()) { // unset, or not usable as the XDG rules say
        paths.runtime = fallbackRuntimeFolder(paths.temp, ::getuid());
        paths.runtimeIsFallback = true;
    }
    return paths;
}

fs::path fallbackRuntimeFolder(const fs::path& temp, unsigned int uid) {
    return temp / ("vellumtide-" + std::to_string(uid));
}

namespace {

std::string octal(unsigned int mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode);
    return text;
}

// A folder this call has just made is ours alone: give it 0700 whatever the umask took away,
// through a handle that cannot follow a link put in its place.
void settleNewFolderMode(const fs::path& folder) {
    int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0)
        return;
    ::fchmod(handle, 0700);
    ::close(handle);
}

} // namespace

std::string preparePrivateFolder(const fs::path& folder, FolderAccess access) {
    const std::string name = folder.string();
    std::error_code error;
    if (folder.has_parent_path())
        fs::create_directories(folder.parent_path(), error);
    if (::mkdir(folder.c_str(), 0700) == 0)
        settleNewFolderMode(folder);
    else if (errno != EEXIST)
        return name + " cannot be created: " + std::strerror(errno);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0)
        return name + " cannot be read: " + std::strerror(errno);
    if (S_ISLNK(info.st_mode))
        return name + " is a symbolic link, not a folder of this user's own";
    if (!S_ISDIR(info.st_mode))
        return name + " is not a folder";
    if (info.st_uid != ::geteuid())
        return name + " belongs to another user";
    const unsigned int mode = info.st_mode & 07777;
    if (access == FolderAccess::ownerOnly && mode != 0700)
        return name + " has mode " + octal(mode) + ", not 0700";
    if (access == FolderAccess::noOtherWriters && (mode & (S_IWGRP | S_IWOTH)) != 0)
        return name + " can be written by other users (mode " + octal(mode) + ")";
    return {};
}

Paths Paths::underRoot(const fs::path& root) {
    Paths paths;
    paths.home = root / "home";
    paths.music = paths.home / "Music";
    paths.runtime = root / "run";
    paths.temp = root / "tmp";
    paths.config = paths.home / ".config";
    paths.data = paths.home / ".local" / "share";
    return paths;
}

} // namespace vt
