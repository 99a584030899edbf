#include "VellumtideBridge/Sources/Library/BridgeLibraryMirror.h"

#include "Platform/Core/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;

namespace BridgeLibraryMirror {

std::string quoted(const Path& path) {
    return "\"" + path.string() + "\"";
}

void createFolder(const Path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder))
        throw BridgeLibraryError("Could not create the folder " + quoted(folder) + ": " +
                                 (error ? error.message() : std::string("Not a directory")) + ".");
}

bool itemExists(const Path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::optional<std::uintmax_t> sizeOf(const Path& path) {
    std::error_code error;
    auto size = fs::file_size(path, error);
    if (error)
        return std::nullopt;
    return size;
}

void copyModificationTime(const Path& source, const Path& target) {
    std::error_code error;
    auto time = fs::last_write_time(source, error);
    if (!error)
        fs::last_write_time(target, time, error);
}

namespace {

// Size and modification time of a regular file: what the mirror pass compares.
struct FileIdentity {
    std::uintmax_t size = 0;
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// One stat: nothing for a missing or unreadable item or anything but a regular file.
std::optional<FileIdentity> identityOf(const Path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<std::uintmax_t>(info.st_size), info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

void syncFile(const Path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

void copyReplacing(const Path& source, const Path& destination) {
    createFolder(destination.parent_path());
    std::error_code error;
    Path temporary;
    try {
        temporary = vt::createTemporaryFile(destination.parent_path());
    } catch (const fs::filesystem_error& failure) {
        error = failure.code();
    }
    if (!error) {
        if (fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, error)) {
            syncFile(temporary);
            copyModificationTime(source, temporary);
            fs::rename(temporary, destination, error);
        } else if (!error) {
            error = std::make_error_code(std::errc::io_error);
        }
        vt::removeTemporaryFile(temporary);
    }
    if (error)
        throw BridgeLibraryError("Could not copy " + quoted(source) + " to " + quoted(destination) + ": " +
                                 error.message() + ".");
}

namespace {

// A folder of the library and the mirror's folder of its copies, each held open for the pass so
// that a look at one of their files does not walk the whole path again.
class FolderPair {
public:
    FolderPair(Path source, Path target)
        : source(std::move(source)), target(std::move(target)), sourceFd(openFolder(this->source)),
          targetFd(openFolder(this->target)) {}
    ~FolderPair() {
        for (int fd : {sourceFd, targetFd})
            if (fd >= 0)
                ::close(fd);
    }
    FolderPair(const FolderPair&) = delete;
    FolderPair& operator=(const FolderPair&) = delete;

    const Path source;
    const Path target;
    std::optional<FileIdentity> sourceIdentity(const std::string& name) const {
        return identityIn(sourceFd, source, name);
    }
    std::optional<FileIdentity> targetIdentity(const std::string& name) const {
        return identityIn(targetFd, target, name);
    }

private:
    static int openFolder(const Path& folder) {
        return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    // By the open folder, or by the whole path when the folder could not be opened.
    static std::optional<FileIdentity> identityIn(int folderFd, const Path& folder, const std::string& name) {
        if (folderFd < 0)
            return identityOf(folder / name);
        struct stat info {};
        if (::fstatat(folderFd, name.c_str(), &info, 0) != 0 || !S_ISREG(info.st_mode))
            return std::nullopt;
        return FileIdentity{static_cast<std::uintmax_t>(info.st_size), info.st_mtim.tv_sec,
                            info.st_mtim.tv_nsec};
    }
    const int sourceFd;
    const int targetFd;
};

// One file of a mirror batch: its name in a pair of folders, and the temporary that takes the
// bytes first. The full paths are only made for the files that are copied.
struct BatchCopy {
    const FolderPair* folders = nullptr;
    std::string name;
    Path temporary;
    bool copied = false; // a new copy was made (or tried: see error)
    std::error_code error;
    Path source() const { return folders->source / name; }
    Path target() const { return folders->target / name; }
};

// Copies the open source into the open target: in the kernel when it can, else through a buffer.
bool copyContents(int from, int to) {
    for (;;) {
        ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
        if (copied == 0)
            return true;
        if (copied > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return false;
        break;
    }
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t written = 0; written < got;) {
            ssize_t put = ::write(to, buffer + written, static_cast<std::size_t>(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            written += put;
        }
    }
}

// The lane of the temporaries' folder in which one copying thread writes: each thread its own, so
// that they do not wait for one another on one folder's lock.
std::string copyLane(std::size_t worker) {
    return "copy-" + std::to_string(worker);
}
constexpr std::size_t maximumCopyThreads = 8;

// Writes the source's bytes and modification time into a new temporary for the target.
void copyToTemporary(BatchCopy& copy, const std::string& lane) {
    int to = -1;
    try {
        std::tie(copy.temporary, to) = vt::openTemporaryFile(copy.folders->target, lane);
    } catch (const fs::filesystem_error& failure) {
        copy.error = failure.code();
        return;
    }
    int from = ::open(copy.source().c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (from < 0 || ::fstat(from, &info) != 0 || !copyContents(from, to)) {
        copy.error = std::error_code(errno ? errno : EIO, std::generic_category());
    } else {
        const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
        ::futimens(to, times); // a failure only means the next pass copies again
    }
    if (::close(to) != 0 && !copy.error)
        copy.error = std::error_code(errno, std::generic_category());
    if (from >= 0)
        ::close(from);
}

// Looks at one file of the batch and, when its copy is missing or differs from the source in size
// or modification time, writes the new copy's temporary.
void prepareCopy(BatchCopy& copy, const std::string& lane) {
    auto wanted = copy.folders->sourceIdentity(copy.name);
    if (!wanted || copy.folders->targetIdentity(copy.name) == wanted)
        return;
    copy.copied = true;
    copyToTemporary(copy, lane);
}

// Makes every temporary of the batch durable with one syncfs per file system (each folder's is
// asked; a second call on the same one finds nothing left to write).
void syncFolders(const std::vector<BatchCopy>& copies) {
    std::unordered_set<std::string> folders;
    for (const auto& copy : copies)
        if (copy.copied && !copy.error)
            folders.insert(copy.folders->target.string());
    for (const auto& folder : folders) {
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::syncfs(fd);
        ::close(fd);
    }
}

// Brings each copy in line with its source at the speed of the disk, keeping what copyReplacing
// promises: a reader sees the old file or the new one, never half, also after a crash. The files
// are compared and copied into temporaries on a few threads (each in its own lane),
// one syncfs makes the new bytes durable, and only then are they renamed into place. Failed
// copies keep their error.
void copyAllReplacing(std::vector<BatchCopy>& copies) {
    if (copies.empty())
        return;
    std::atomic<std::size_t> next = 0;
    auto work = [&](std::size_t worker) {
        const std::string lane = copyLane(worker);
        for (std::size_t i = next++; i < copies.size(); i = next++)
            prepareCopy(copies[i], lane);
    };
    const std::size_t threads = std::min<std::size_t>(
        {maximumCopyThreads, std::max(1u, std::thread::hardware_concurrency()), copies.size() / 16 + 1});
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t)
        workers.emplace_back(work, t);
    work(0);
    for (auto& worker : workers)
        worker.join();
    syncFolders(copies);
    for (auto& copy : copies) {
        if (!copy.copied)
            continue;
        if (!copy.error)
            fs::rename(copy.temporary, copy.target(), copy.error);
        if (!copy.temporary.empty() && copy.error)
            vt::removeRegularFile(copy.temporary);
    }
    // The lanes, and the temporaries' folders, now empty: one temporary of each lane names it.
    std::unordered_map<std::string, Path> lanes;
    for (const auto& copy : copies)
        if (copy.copied && !copy.temporary.empty())
            lanes.emplace(copy.temporary.parent_path().string(), copy.temporary);
    for (const auto& [lane, temporary] : lanes)
        vt::removeTemporaryFile(temporary);
}

// Gives each visible name in a folder (hidden names and "." and ".." left out) to take, as the
// folder lists them; false when it cannot be read (or not to the end).
template <typename Take> bool forEachVisibleName(const Path& folder, Take take) {
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return false;
    errno = 0;
    while (const dirent* entry = ::readdir(listing))
        if (entry->d_name[0] != '.')
            take(entry->d_name);
    const bool complete = errno == 0;
    ::closedir(listing);
    return complete;
}

// The names of the visible entries of a folder (none when it cannot be read).
std::unordered_set<std::string> visibleFileNames(const Path& folder) {
    std::unordered_set<std::string> names;
    forEachVisibleName(folder, [&](const char* name) { names.emplace(name); });
    return names;
}

// Removes the visible regular files of a mirror folder whose file the library folder no longer
// has (a deleted sample's, a removed edit's, old chops). A file the library still has stays, listed
// or not: a library file that is lost or names too little never costs the plug-in's copy a file.
// The mirror is read first, so a file written meanwhile (library first, then mirror) is found in
// the library; nothing goes when the library folder cannot be read whole. No recursion; hidden
// names are temporaries of writes under way and stay.
void removeVanished(const Path& mirrorFolder, const Path& libraryFolder) {
    std::vector<std::string> copies;
    forEachVisibleName(mirrorFolder, [&](const char* name) { copies.emplace_back(name); });
    if (copies.empty())
        return;
    std::unordered_set<std::string> kept;
    if (!forEachVisibleName(libraryFolder, [&](const char* name) { kept.emplace(name); }))
        return;
    for (const auto& name : copies)
        if (!kept.count(name))
            vt::removeRegularFile(mirrorFolder / name);
}

// The files a copy pass could not copy; the pass goes on past each of them.
class CopyFailures {
    static constexpr std::size_t copyBatchSize = 2048;

public:
    explicit CopyFailures(std::string destination) : destination(std::move(destination)) {}

    // Copies when the source exists and the two sizes differ (only sizes are compared); a
    // failure is noted with the system's reason.
    void copyIfNeeded(const Path& source, const Path& target) {
        if (!itemExists(source) || sizeOf(source) == sizeOf(target))
            return;
        try {
            copyReplacing(source, target);
        } catch (const BridgeLibraryError& error) {
            failures.push_back({source.filename().string(), error.what(), growth(source, target)});
        }
    }

    // One file of the mirror pass, the file name in a folder of the library and in the mirror's
    // folder of its copies (both open until the pass ends): copied when the source exists and the
    // copy differs from it in size or modification time; a failure is noted with the system's
    // reason. The files are looked at and copied together, by copyPending().
    void mirrorIfChanged(const FolderPair& folders, std::string name) {
        pending.push_back({&folders, std::move(name), {}, false, {}});
        // In batches: the names of a whole large library would take megabytes at once.
        if (pending.size() >= copyBatchSize)
            copyPending();
    }

    // Makes the copies mirrorIfChanged() asked for.
    void copyPending() {
        copyAllReplacing(pending);
        for (const auto& copy : pending) {
            if (copy.error) {
                const Path source = copy.source(), target = copy.target();
                failures.push_back({copy.name,
                                    "Could not copy " + quoted(source) + " to " + quoted(target) + ": " +
                                        copy.error.message() + ".",
                                    growth(source, target)});
            }
        }
        pending.clear();
    }

    // Copies the visible files of a folder (no sub-folders, no recursion) into another folder.
    void copyDirectoryContents(const Path& folder, const Path& target) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error)
            return;
        std::vector<fs::directory_entry> entries;
        for (; it != fs::directory_iterator(); it.increment(error)) {
            if (error)
                break;
            if (!it->path().filename().string().starts_with("."))
                entries.push_back(*it);
        }
        createFolder(target);
        for (const auto& entry : entries) {
            std::error_code kindError;
            if (entry.is_directory(kindError))
                continue;
            copyIfNeeded(entry.path(), target / entry.path().filename());
        }
    }

    // Throws BridgeIncompleteCopyError naming every file that was not copied, if any.
    void throwIfAny() const {
        if (failures.empty())
            return;
        std::vector<std::string> names;
        std::uint64_t bytes = 0;
        for (const auto& failure : failures) {
            names.push_back(failure.name);
            bytes += failure.bytes;
        }
        if (failures.size() == 1)
            throw BridgeIncompleteCopyError(failures.front().text, names, bytes);
        std::string text =
            "Could not copy " + std::to_string(failures.size()) + " files into " + destination + ":";
        constexpr std::size_t listed = 5;
        for (std::size_t i = 0; i < failures.size() && i < listed; ++i)
            text += "\n" + failures[i].text;
        if (failures.size() > listed)
            text += "\n… and " + std::to_string(failures.size() - listed) + " more.";
        throw BridgeIncompleteCopyError(text, names, bytes);
    }

private:
    struct Failure {
        std::string name;
        std::string text;
        std::uint64_t bytes; // the room its copy needs beyond what it replaces
    };
    static std::uint64_t growth(const Path& source, const Path& target) {
        const std::uint64_t wanted = sizeOf(source).value_or(0);
        return wanted - std::min<std::uint64_t>(wanted, sizeOf(target).value_or(0));
    }
    std::string destination;
    std::vector<Failure> failures;
    std::vector<BatchCopy> pending;
};

} // namespace

void copyIntoMirror(const Path& source, const Path& mirrorTarget) {
    if (!itemExists(source))
        return;
    try {
        copyReplacing(source, mirrorTarget);
    } catch (const BridgeLibraryError&) {
    }
}

void copyLibrary(const BridgeSampleCache& source, const BridgeSampleCache& destination) {
    destination.prepareDirectories();
    CopyFailures pass(quoted(destination.rootURL()));
    pass.copyIfNeeded(source.manifestURL(), destination.manifestURL());
    pass.copyIfNeeded(source.metadataURL(), destination.metadataURL());
    pass.copyDirectoryContents(source.samplesDirectory(), destination.samplesDirectory());
    pass.copyDirectoryContents(source.editedDirectory(), destination.editedDirectory());
    pass.copyDirectoryContents(source.chopsDirectory(), destination.chopsDirectory());
    pass.throwIfAny();
}

void mirrorFiles(const BridgeSampleCache& library, const std::vector<SampleItem>& samples,
                 const BridgeMetadataMap& metadata) {
    createFolder(library.auMirrorSamplesDirectory());
    createFolder(library.auMirrorEditedDirectory());
    createFolder(library.auMirrorChopsDirectory());
    const FolderPair rootFiles(library.rootURL(), library.auMirrorRootURL()),
        sampleFiles(library.samplesDirectory(), library.auMirrorSamplesDirectory()),
        editedFiles(library.editedDirectory(), library.auMirrorEditedDirectory()),
        chopFiles(library.chopsDirectory(), library.auMirrorChopsDirectory());
    CopyFailures pass("the plug-in's library");
    pass.mirrorIfChanged(rootFiles, std::string(BridgeSampleCache::manifestFileName));
    pass.mirrorIfChanged(rootFiles, std::string(BridgeSampleCache::metadataFileName));
    // One look at the folder of edits instead of one per sample: most samples have none.
    const std::unordered_set<std::string> rendered = visibleFileNames(library.editedDirectory());
    for (const auto& sample : samples) {
        if (vt::isSafeFileName(sample.fileName))
            pass.mirrorIfChanged(sampleFiles, sample.fileName);
        if (!rendered.empty()) {
            std::string editedName = sample.id.string() + ".wav";
            if (rendered.count(editedName))
                pass.mirrorIfChanged(editedFiles, std::move(editedName));
        }
        auto entry = metadata.find(sample.id);
        if (entry == metadata.end())
            continue;
        for (const auto& chop : entry->second.chops)
            pass.mirrorIfChanged(chopFiles, BridgeSampleCache::chopFileName(sample, chop));
    }
    pass.copyPending();
    // What the library folder no longer has goes from the mirror; nothing goes for want of an entry.
    removeVanished(library.auMirrorSamplesDirectory(), library.samplesDirectory());
    removeVanished(library.auMirrorEditedDirectory(), library.editedDirectory());
    removeVanished(library.auMirrorChopsDirectory(), library.chopsDirectory());
    pass.throwIfAny();
}

} // namespace BridgeLibraryMirror
