#include "Platform/Core/Paths.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <string>
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
    paths.temp = environmentPath("TMPDIR");
    if (paths.temp.empty())
        paths.temp = "/tmp";
    paths.runtime = environmentPath("XDG_RUNTIME_DIR");
    if (paths.runtime.empty())
        paths.runtime = paths.temp;
    return paths;
}

Paths Paths::underRoot(const fs::path& root) {
    Paths paths;
    paths.home = root / "home";
    paths.music = paths.home / "Music";
    paths.runtime = root / "run";
    paths.temp = root / "tmp";
    paths.config = paths.home / ".config";
    return paths;
}

} // namespace vt
