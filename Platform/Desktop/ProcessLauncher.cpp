#include "Platform/Desktop/ProcessLauncher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vt {

namespace {

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace

// posix_spawn starts the program without copying this process's memory map (which in a large
// host takes tens of milliseconds of its thread), and reports a failed exec.
bool PosixProcessLauncher::startDetached(const std::filesystem::path& program,
                                         const std::vector<std::string>& arguments) {
    if (!isExecutableFile(program))
        return false;
    std::string programText = program.string();
    std::vector<std::string> words{programText};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, programText.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return false;
    // The program stays this process's child until it ends; a thread of its own waits for that, so
    // it never lingers as a zombie.
    std::thread([child] {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

std::filesystem::path findExecutableOnPath(const std::string& name, const std::string& pathVariable) {
    if (name.empty() || name.find('/') != std::string::npos)
        return {};
    std::stringstream folders(pathVariable);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty())
            continue; // an empty entry would mean the working folder: never searched
        std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

} // namespace vt
