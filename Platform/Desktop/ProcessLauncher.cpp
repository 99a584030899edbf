#include "Platform/Desktop/ProcessLauncher.h"

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vt {

namespace {

// Runs in the grandchild, between fork and exec: only async-signal-safe calls.
[[noreturn]] void execDetached(const char* program, char* const* argv, int reportFd) {
    int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
    }
    // Every other inherited descriptor goes, except the report pipe (close-on-exec).
    if (reportFd > STDERR_FILENO + 1)
        ::close_range(STDERR_FILENO + 1, static_cast<unsigned>(reportFd - 1), 0);
    ::close_range(static_cast<unsigned>(reportFd + 1), ~0U, 0);
    ::execv(program, argv);
    int error = errno;
    [[maybe_unused]] auto written = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// A close-on-exec pipe whose ends lie above the standard descriptors, which the child replaces
// (a host may run with them closed).
bool openReportPipe(int (&ends)[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    for (int& end : ends) {
        if (end > STDERR_FILENO)
            continue;
        int moved = ::fcntl(end, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(end);
        end = moved;
    }
    if (ends[0] >= 0 && ends[1] >= 0)
        return true;
    for (int end : ends)
        if (end >= 0)
            ::close(end);
    return false;
}

} // namespace

bool PosixProcessLauncher::startDetached(const std::filesystem::path& program,
                                         const std::vector<std::string>& arguments) {
    if (!isExecutableFile(program))
        return false;
    // Everything exec needs is prepared before fork.
    std::string programText = program.string();
    std::vector<std::string> words{programText};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int report[2];
    if (!openReportPipe(report))
        return false;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0)
            execDetached(programText.c_str(), argv.data(), report[1]);
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int childStatus = 0;
    while (::waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
    }
    // End of file without an errno: exec succeeded (the pipe closed on exec).
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    bool forked = WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0;
    return forked && got == 0;
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
