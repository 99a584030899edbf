#include "VellumtideAU/LibraryReader/LibraryEnvironment.h"

#include "Platform/Core/Paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

std::filesystem::path environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? std::filesystem::path(value) : std::filesystem::path();
}

} // namespace

std::optional<LibraryEnvironment::AccountEntry> LibraryEnvironment::currentAccount() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    return AccountEntry{found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
}

LibraryEnvironment LibraryEnvironment::fromProcess(const AccountLookup& lookupAccount) {
    const std::optional<AccountEntry> account = lookupAccount ? lookupAccount() : std::nullopt;
    LibraryEnvironment environment;
    if (account)
        environment.accountHome = account->home;
    environment.home = environmentPath("HOME");
    if (environment.home.empty())
        environment.home = environment.accountHome;
    if (environment.home.empty())
        environment.home = std::filesystem::temp_directory_path();
    std::filesystem::path config = environmentPath("XDG_CONFIG_HOME");
    if (config.empty())
        config = environment.home / ".config";
    environment.musicFolder = vt::musicFolderFromUserDirs(environment.home, config);
    if (const char* user = std::getenv("USER"); user && *user)
        environment.userName = std::string(user);
    else if (account && !account->name.empty())
        environment.userName = account->name;
    return environment;
}
