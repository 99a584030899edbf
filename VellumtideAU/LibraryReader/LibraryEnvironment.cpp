#include "VellumtideAU/LibraryReader/LibraryEnvironment.h"

#include "Platform/Core/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

std::filesystem::path passwordDatabaseHome() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return {};
    return found->pw_dir;
}

} // namespace

LibraryEnvironment LibraryEnvironment::fromProcess() {
    const vt::Paths paths = vt::Paths::fromEnvironment();
    LibraryEnvironment environment;
    environment.home = paths.home;
    environment.accountHome = passwordDatabaseHome();
    environment.musicFolder = paths.music;
    if (const char* user = std::getenv("USER"))
        environment.userName = std::string(user);
    return environment;
}
