#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/Uuid.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;
using vt::json::Json;
using Path = BridgeSampleCache::Path;

namespace {

// What the name of a damaged file set aside carries after its stem.
constexpr const char* unreadableMarker = ".unreadable-";

std::string quoted(const Path& path) {
    return "\"" + path.string() + "\"";
}

// An absolute path with "." and ".." resolved and no trailing separator.
Path standardized(const Path& path) {
    std::error_code error;
    Path absolute = fs::absolute(path, error);
    if (error)
        absolute = path;
    Path normal = absolute.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return Path(text);
}

void createFolder(const Path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder))
        throw BridgeLibraryError("Could not create the folder " + quoted(folder) + ": " +
                                 (error ? error.message() : std::string("Not a directory")) + ".");
}

void createFolderIgnoringFailure(const Path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
}

// The size attribute of a file; nothing for a missing item, a folder or an unreadable item.
std::optional<std::uintmax_t> sizeOf(const Path& path) {
    std::error_code error;
    auto size = fs::file_size(path, error);
    if (error)
        return std::nullopt;
    return size;
}

bool itemExists(const Path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

void writeOrThrow(const Path& target, std::string_view bytes) {
    try {
        vt::writeFileAtomically(target, bytes);
    } catch (const fs::filesystem_error& error) {
        throw BridgeSampleCache::saveFailure(target, error.code());
    }
}

void writeIgnoringFailure(const Path& target, std::string_view bytes) {
    try {
        vt::writeFileAtomically(target, bytes);
    } catch (const fs::filesystem_error&) {
    }
}

// Gives target the modification time of source; failures are ignored (the next pass copies again).
void copyModificationTime(const Path& source, const Path& target) {
    std::error_code error;
    auto time = fs::last_write_time(source, error);
    if (!error)
        fs::last_write_time(target, time, error);
}

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

// Copies source over destination so that a reader sees the old file or the new one, never half.
// The copy takes the source's modification time, so the mirror pass can tell it is unchanged.
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
    bool sourceExists = false;
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
    copy.sourceExists = wanted.has_value();
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

// Copies an existing file into the mirror; failures are ignored (the mirror is a convenience copy).
void copyIntoMirror(const Path& source, const Path& mirrorTarget) {
    if (!itemExists(source))
        return;
    try {
        copyReplacing(source, mirrorTarget);
    } catch (const BridgeLibraryError&) {
    }
}

// Gives each visible name in a folder (hidden names and "." and ".." left out) to take, as the
// folder lists them; nothing when it cannot be read.
template <typename Take> void forEachVisibleName(const Path& folder, Take take) {
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return;
    while (const dirent* entry = ::readdir(listing))
        if (entry->d_name[0] != '.')
            take(entry->d_name);
    ::closedir(listing);
}

// Removes the visible regular files of a mirror folder that the library no longer lists (no
// recursion; hidden names are temporaries of writes under way and stay).
void removeUnlisted(const Path& folder, const std::unordered_set<std::string>& listed) {
    std::vector<std::string> stale;
    forEachVisibleName(folder, [&](const char* name) {
        if (!listed.count(name))
            stale.emplace_back(name);
    });
    for (const auto& name : stale)
        vt::removeRegularFile(folder / name);
}

// The names of the visible entries of a folder (none when it cannot be read).
std::unordered_set<std::string> visibleFileNames(const Path& folder) {
    std::unordered_set<std::string> names;
    forEachVisibleName(folder, [&](const char* name) { names.emplace(name); });
    return names;
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
    // reason. The files are looked at and copied together, by copyPending(), which tells whose
    // source exists (whose copy the mirror keeps, the old one if the new copy failed) by adding
    // its name to listed.
    void mirrorIfChanged(const FolderPair& folders, std::string name,
                         std::unordered_set<std::string>* listed = nullptr) {
        pending.push_back({&folders, std::move(name), {}, false, false, {}});
        listings.push_back(listed);
        // In batches: the names of a whole large library would take megabytes at once.
        if (pending.size() >= copyBatchSize)
            copyPending();
    }

    // Makes the copies mirrorIfChanged() asked for.
    void copyPending() {
        copyAllReplacing(pending);
        for (std::size_t i = 0; i < pending.size(); ++i) {
            auto& copy = pending[i];
            if (copy.error) {
                const Path source = copy.source(), target = copy.target();
                failures.push_back({copy.name,
                                    "Could not copy " + quoted(source) + " to " + quoted(target) + ": " +
                                        copy.error.message() + ".",
                                    growth(source, target)});
            }
            if (copy.sourceExists && listings[i])
                listings[i]->insert(std::move(copy.name));
        }
        pending.clear();
        listings.clear();
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
    std::vector<std::unordered_set<std::string>*> listings;
};

bool hasEntries(const Path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    return !error && it != fs::directory_iterator();
}

// Removes the regular files of a folder whose names begin with the prefix.
void removeEntriesWithPrefix(const Path& folder, const std::string& prefix,
                             const std::unordered_set<std::string>& keep = {}) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error)
        return;
    std::vector<Path> matches;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix) && !keep.count(name))
            matches.push_back(it->path());
    }
    for (const auto& path : matches)
        vt::removeRegularFile(path);
}

// The library files' layout (two spaces a level, as the JSON writer indents) is written one value
// at a time: an array or object of values each dumped on its own, one level deep.
void appendNested(std::string& out, const Json& value) {
    const std::string text = vt::json::dump(value, 2);
    // Line breaks in the dump are only layout (texts escape their own): each one level deeper.
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        out.append(text, from, end + 1 - from);
        out += "  ";
    }
    out.append(text, from);
}

// Writes "[…]" of the values, handing the text to sink a piece at a time.
template <typename Item, typename Encode>
void emitArray(const std::vector<Item>& items, Encode encode, const BridgeSampleCache::Emit& sink) {
    if (items.empty()) {
        sink("[]");
        return;
    }
    std::string piece = "[\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        piece += i == 0 ? "  " : ",\n  ";
        appendNested(piece, encode(items[i]));
        sink(piece);
        piece.clear();
    }
    sink("\n]");
}

// Writes "{…}" of the members, given in key order, as emitArray().
template <typename Value, typename Encode>
void emitObject(const std::vector<std::pair<std::string, const Value*>>& members, Encode encode,
                const BridgeSampleCache::Emit& sink) {
    if (members.empty()) {
        sink("{}");
        return;
    }
    std::string piece = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i) {
        piece += i == 0 ? "  " : ",\n  ";
        piece += vt::json::dump(members[i].first) + ": ";
        appendNested(piece, encode(*members[i].second));
        sink(piece);
        piece.clear();
    }
    sink("\n}");
}

QString folderSettingsKey() {
    auto key = BridgeSampleCache::sampleFolderDefaultsKey;
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

} // namespace

// MARK: Folder choice

Path BridgeSampleCache::savedRootURL(const vt::Paths& paths, const vt::SettingsStore& settings) {
    auto stored = settings.value(folderSettingsKey());
    if (stored) {
        std::string text = stored->toString().toStdString();
        if (!isBlankText(text))
            return standardized(Path(text));
    }
    return defaultRootURL(paths);
}

Path BridgeSampleCache::defaultRootURL(const vt::Paths& paths) {
    Path base = paths.music;
    std::error_code error;
    if (!base.empty())
        fs::create_directories(base, error);
    if (base.empty() || error || !fs::is_directory(base, error))
        base = paths.home;
    return standardized(base / defaultFolderName);
}

void BridgeSampleCache::saveRootURL(const Path& folder, const vt::Paths& paths, vt::SettingsStore& settings) {
    QString key = folderSettingsKey();
    Path path = standardized(folder);
    if (path == defaultRootURL(paths))
        settings.remove(key);
    else
        settings.setValue(key, QString::fromStdString(path.string()));
}

std::string BridgeSampleCache::abbreviatedPath(const Path& path, const vt::Paths& paths) {
    std::string text = standardized(path).string();
    std::string home = standardized(paths.home).string();
    if (home.empty() || home == "/")
        return text;
    if (text == home)
        return "~";
    // Only a whole leading component matches: "/home/anna" is not inside "/home/ann".
    if (text.size() > home.size() && text.starts_with(home) && text[home.size()] == '/')
        return "~" + text.substr(home.size());
    return text;
}

// MARK: Construction and folders

BridgeSampleCache::BridgeSampleCache(const vt::Paths& paths, const vt::SettingsStore& settings,
                                     std::shared_ptr<const vt::WallClock> clock)
    : BridgeSampleCache(paths, savedRootURL(paths, settings), std::move(clock)) {}

BridgeSampleCache::BridgeSampleCache(const vt::Paths& paths, const Path& rootURL,
                                     std::shared_ptr<const vt::WallClock> wallClock)
    : root(standardized(rootURL)), mirrorRoot(standardized(paths.home / mirrorRelativePath)),
      clock(wallClock ? std::move(wallClock) : std::make_shared<vt::SystemWallClock>()) {
    createFolders();
}

void BridgeSampleCache::createFolders() const {
    for (const Path& folder :
         {samplesDirectory(), editedDirectory(), chopsDirectory(), auMirrorSamplesDirectory(),
          auMirrorEditedDirectory(), auMirrorChopsDirectory()})
        createFolderIgnoringFailure(folder);
}

void BridgeSampleCache::prepareDirectories() const {
    for (const Path& folder :
         {samplesDirectory(), editedDirectory(), chopsDirectory(), auMirrorSamplesDirectory(),
          auMirrorEditedDirectory(), auMirrorChopsDirectory()})
        createFolder(folder);
}

bool BridgeSampleCache::hasLibraryContent() const {
    return itemExists(manifestURL()) || hasEntries(samplesDirectory()) || hasEntries(editedDirectory()) ||
           hasEntries(chopsDirectory());
}

void BridgeSampleCache::copyLibrary(const BridgeSampleCache& destination) const {
    if (root == destination.root)
        return;
    destination.prepareDirectories();
    CopyFailures pass(quoted(destination.root));
    pass.copyIfNeeded(manifestURL(), destination.manifestURL());
    pass.copyIfNeeded(metadataURL(), destination.metadataURL());
    pass.copyDirectoryContents(samplesDirectory(), destination.samplesDirectory());
    pass.copyDirectoryContents(editedDirectory(), destination.editedDirectory());
    pass.copyDirectoryContents(chopsDirectory(), destination.chopsDirectory());
    pass.throwIfAny();
}

std::size_t BridgeSampleCache::removeLeftoverTemporaries() const {
    std::size_t removed = 0;
    for (const Path& folder : {root, editedDirectory(), chopsDirectory(), mirrorRoot,
                               auMirrorEditedDirectory(), auMirrorChopsDirectory()})
        removed += vt::removeLeftoverTemporaries(folder);
    // The phone names the files of "Samples": a name there that looks like an earlier version's
    // temporary may be the phone's own file, so only the temporaries' folder is swept.
    for (const Path& folder : {samplesDirectory(), auMirrorSamplesDirectory()})
        removed += vt::removeLeftoverTemporaries(folder, false);
    return removed;
}

namespace {

// The sample id of a render's file name: "<UUID>.wav" in "Edited", "<UUID>-chop-<UUID>.wav" in
// "Chops" (then also the chop's id); nothing for any other name.
struct RenderName {
    vt::Uuid sample;
    std::optional<vt::Uuid> chop;
};

std::optional<RenderName> renderName(std::string_view name, bool chop) {
    constexpr std::size_t uuidLength = 36;
    constexpr std::string_view chopMarker = "-chop-";
    const std::size_t expected = chop ? 2 * uuidLength + chopMarker.size() + 4 : uuidLength + 4;
    if (name.size() != expected || !name.ends_with(".wav"))
        return std::nullopt;
    const auto sample = vt::Uuid::parse(name.substr(0, uuidLength));
    if (!sample || sample->string() != name.substr(0, uuidLength))
        return std::nullopt;
    if (!chop)
        return RenderName{*sample, std::nullopt};
    const std::string_view chopText = name.substr(uuidLength + chopMarker.size(), uuidLength);
    const auto chopID = vt::Uuid::parse(chopText);
    if (name.substr(uuidLength, chopMarker.size()) != chopMarker || !chopID || chopID->string() != chopText)
        return std::nullopt;
    return RenderName{*sample, chopID};
}

bool namesRender(const BridgeMetadataMap& metadata, const RenderName& render) {
    const auto entry = metadata.find(render.sample);
    if (entry == metadata.end())
        return false;
    if (!render.chop)
        return !entry->second.edit.isNeutral();
    const auto& chops = entry->second.chops;
    return std::any_of(chops.begin(), chops.end(),
                       [&](const BridgeSampleChop& known) { return known.id == *render.chop; });
}

} // namespace

bool BridgeSampleCache::overlayMayBeIncomplete() const {
    if (metadataUnreadable)
        return true;
    const std::string prefix = Path(metadataFileName).stem().string() + unreadableMarker;
    std::error_code error;
    fs::directory_iterator it(root, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(Path(metadataFileName).extension().string()))
            return true;
    }
    return false;
}

std::size_t BridgeSampleCache::removeOrphanRenders(const BridgeMetadataMap& metadata) const {
    if (!itemExists(metadataURL()) || overlayMayBeIncomplete())
        return 0;
    std::size_t removed = 0;
    for (const bool chops : {false, true}) {
        const Path folder = chops ? chopsDirectory() : editedDirectory();
        std::vector<Path> orphans;
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            const auto render = renderName(it->path().filename().string(), chops);
            if (render && !namesRender(metadata, *render))
                orphans.push_back(it->path());
        }
        for (const auto& orphan : orphans)
            removed += vt::removeRegularFile(orphan) ? 1 : 0;
    }
    return removed;
}

namespace {

// "." + sample UUID + this + the edit's key + ".wav": a render waiting for its edit to be stored.
constexpr std::string_view pendingEditMarker = ".pending-";

std::string hexBits(double value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
    return text;
}

std::optional<double> fromHexBits(std::string_view text) {
    std::uint64_t bits = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits, 16);
    if (text.size() != 16 || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return std::bit_cast<double>(bits);
}

// The edit as "bridge-metadata.json" gives it back (a start or fade of 1 ms or less reads as 0).
BridgeSampleEdit asStored(const BridgeSampleEdit& edit) {
    try {
        return BridgeSampleEdit::fromJson(edit.toJson());
    } catch (const vt::json::JsonError&) {
        return edit; // not storable: no stored edit will equal it
    }
}

// The stored edit spelt exactly: start, end ("none" when open), fade-in and fade-out as the bits
// of their doubles, then the two switches.
std::string pendingEditKey(const BridgeSampleEdit& edit) {
    const BridgeSampleEdit stored = asStored(edit);
    return hexBits(stored.startTime) + "_" + (stored.endTime ? hexBits(*stored.endTime) : "none") + "_" +
           hexBits(stored.fadeIn) + "_" + hexBits(stored.fadeOut) + "_" + (stored.normalize ? "1" : "0") +
           (stored.denoise ? "1" : "0");
}

struct PendingEdit {
    vt::Uuid sample;
    BridgeSampleEdit edit;
};

std::optional<PendingEdit> pendingEditNamed(std::string_view name) {
    constexpr std::size_t uuidLength = 36;
    if (!name.starts_with(".") || !name.ends_with(".wav") ||
        name.size() < 1 + uuidLength + pendingEditMarker.size() + 4)
        return std::nullopt;
    const auto sample = vt::Uuid::parse(name.substr(1, uuidLength));
    if (!sample || name.substr(1 + uuidLength, pendingEditMarker.size()) != pendingEditMarker)
        return std::nullopt;
    std::string_view key = name.substr(1 + uuidLength + pendingEditMarker.size());
    key.remove_suffix(4);
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = key.find('_', at);
        parts.push_back(key.substr(at, next == std::string_view::npos ? key.npos : next - at));
        if (next == std::string_view::npos)
            break;
        at = next + 1;
    }
    if (parts.size() != 5 || parts[4].size() != 2)
        return std::nullopt;
    PendingEdit pending{*sample, {}};
    const auto start = fromHexBits(parts[0]), fadeIn = fromHexBits(parts[2]), fadeOut = fromHexBits(parts[3]);
    const auto end = parts[1] == "none" ? std::optional<double>() : fromHexBits(parts[1]);
    if (!start || !fadeIn || !fadeOut || (parts[1] != "none" && !end))
        return std::nullopt;
    pending.edit = {*start, end, *fadeIn, *fadeOut, parts[4][0] == '1', parts[4][1] == '1'};
    return pending;
}

// Equal as stored: times within a nanosecond (what a decoder's last digit may change).
bool sameStoredEdit(const BridgeSampleEdit& a, const BridgeSampleEdit& b) {
    auto near = [](double x, double y) { return std::abs(x - y) <= 1e-9; };
    return near(a.startTime, b.startTime) && a.endTime.has_value() == b.endTime.has_value() &&
           (!a.endTime || near(*a.endTime, *b.endTime)) && near(a.fadeIn, b.fadeIn) &&
           near(a.fadeOut, b.fadeOut) && a.normalize == b.normalize && a.denoise == b.denoise;
}

} // namespace

Path BridgeSampleCache::pendingEditedSampleURL(const SampleItem& sample, const BridgeSampleEdit& edit) const {
    return editedDirectory() /
           ("." + sample.id.string() + std::string(pendingEditMarker) + pendingEditKey(edit) + ".wav");
}

void BridgeSampleCache::placePendingEdit(const SampleItem& sample, const BridgeSampleEdit& edit) const {
    std::error_code error;
    fs::rename(pendingEditedSampleURL(sample, edit), editedSampleURL(sample), error);
    if (error)
        throw saveFailure(editedSampleURL(sample), error);
}

std::size_t BridgeSampleCache::settlePendingEdits(const BridgeMetadataMap& metadata) const {
    if (metadataUnreadable || !itemExists(metadataURL()))
        return 0;
    std::vector<std::pair<Path, PendingEdit>> waiting;
    std::error_code error;
    for (fs::directory_iterator it(editedDirectory(), error); !error && it != fs::directory_iterator();
         it.increment(error))
        if (auto pending = pendingEditNamed(it->path().filename().string()))
            waiting.emplace_back(it->path(), *pending);
    // A render whose sample has no entry while an entry could not be read waits: its edit may be
    // the one that could not be read.
    const bool entryMayBeUnread = !waiting.empty() && overlayMayBeIncomplete();
    std::size_t settled = 0;
    for (const auto& [path, pending] : waiting) {
        auto entry = metadata.find(pending.sample);
        if (entry == metadata.end() && entryMayBeUnread)
            continue;
        const BridgeSampleEdit stored = entry == metadata.end() ? BridgeSampleEdit() : entry->second.edit;
        std::error_code renamed;
        if (!stored.isNeutral() && sameStoredEdit(stored, pending.edit))
            fs::rename(path, editedDirectory() / (pending.sample.string() + ".wav"), renamed);
        else
            vt::removeRegularFile(path);
        settled += renamed ? 0 : 1;
    }
    return settled;
}

namespace {

// "." + sample UUID + "-chop-" + chop UUID + this + the chop's start and end as the bits of their
// doubles + ".wav": a chop render waiting for its chop to be stored.
constexpr std::string_view pendingChopMarker = ".pending-";

// The chop as "bridge-metadata.json" gives it back.
BridgeSampleChop chopAsStored(const BridgeSampleChop& chop) {
    try {
        return BridgeSampleChop::fromJson(chop.toJson());
    } catch (const vt::json::JsonError&) {
        return chop; // not storable: no stored chop will equal it
    }
}

struct PendingChop {
    vt::Uuid sample;
    vt::Uuid chop;
    double startTime = 0;
    double endTime = 0;
};

std::optional<PendingChop> pendingChopNamed(std::string_view name) {
    constexpr std::size_t uuidLength = 36;
    constexpr std::string_view chopMarker = "-chop-";
    constexpr std::size_t keyAt = 1 + 2 * uuidLength + chopMarker.size() + pendingChopMarker.size();
    constexpr std::size_t bitsLength = 16;
    if (name.size() != keyAt + 2 * bitsLength + 1 + 4 || !name.starts_with(".") || !name.ends_with(".wav") ||
        name.substr(1 + uuidLength, chopMarker.size()) != chopMarker ||
        name.substr(keyAt - pendingChopMarker.size(), pendingChopMarker.size()) != pendingChopMarker ||
        name[keyAt + bitsLength] != '_')
        return std::nullopt;
    const auto sample = vt::Uuid::parse(name.substr(1, uuidLength));
    const auto chop = vt::Uuid::parse(name.substr(1 + uuidLength + chopMarker.size(), uuidLength));
    const auto start = fromHexBits(name.substr(keyAt, bitsLength));
    const auto end = fromHexBits(name.substr(keyAt + bitsLength + 1, bitsLength));
    if (!sample || !chop || !start || !end)
        return std::nullopt;
    return PendingChop{*sample, *chop, *start, *end};
}

// The stored chop the waiting render was made for, if the overlay holds it.
bool holdsPendingChop(const BridgeSampleMetadata& entry, const PendingChop& pending) {
    auto near = [](double x, double y) { return std::abs(x - y) <= 1e-9; };
    return !entry.isDeleted &&
           std::any_of(entry.chops.begin(), entry.chops.end(), [&](const BridgeSampleChop& chop) {
               return chop.id == pending.chop && near(chop.startTime, pending.startTime) &&
                      near(chop.endTime, pending.endTime);
           });
}

} // namespace

Path BridgeSampleCache::pendingChopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    const BridgeSampleChop stored = chopAsStored(chop);
    return chopsDirectory() /
           ("." + sample.id.string() + "-chop-" + chop.id.string() + std::string(pendingChopMarker) +
            hexBits(stored.startTime) + "_" + hexBits(stored.endTime) + ".wav");
}

void BridgeSampleCache::placePendingChops(const SampleItem& sample,
                                          const std::vector<BridgeSampleChop>& chops) const {
    // The old files go first: a crash in between leaves only waiting renders, put in place at the
    // next start.
    removeChops(sample, chops);
    for (const auto& chop : chops) {
        std::error_code error;
        fs::rename(pendingChopSampleURL(sample, chop), chopSampleURL(sample, chop), error);
        if (error)
            throw saveFailure(chopSampleURL(sample, chop), error);
    }
}

std::size_t BridgeSampleCache::settlePendingChops(const BridgeMetadataMap& metadata) const {
    if (metadataUnreadable || !itemExists(metadataURL()))
        return 0;
    std::vector<std::pair<Path, PendingChop>> waiting;
    std::error_code error;
    for (fs::directory_iterator it(chopsDirectory(), error); !error && it != fs::directory_iterator();
         it.increment(error))
        if (auto pending = pendingChopNamed(it->path().filename().string()))
            waiting.emplace_back(it->path(), *pending);
    const bool entryMayBeUnread = !waiting.empty() && overlayMayBeIncomplete();
    std::size_t settled = 0;
    std::vector<vt::Uuid> placed;
    for (const auto& [path, pending] : waiting) {
        auto entry = metadata.find(pending.sample);
        if (entry == metadata.end() && entryMayBeUnread)
            continue;
        std::error_code renamed;
        if (entry != metadata.end() && holdsPendingChop(entry->second, pending)) {
            fs::rename(path,
                       chopsDirectory() /
                           (pending.sample.string() + "-chop-" + pending.chop.string() + ".wav"),
                       renamed);
            placed.push_back(pending.sample);
        } else {
            vt::removeRegularFile(path);
        }
        settled += renamed ? 0 : 1;
    }
    // The files of the chops the stored ones replaced may still be there.
    for (const auto& id : placed)
        removeChopsExcept(id, metadata.at(id).chops);
    return settled;
}

// MARK: JSON files

void BridgeSampleCache::noteLoad(std::atomic<bool>& loadedWhole, std::atomic<bool>& unreadable,
                                 std::vector<std::string>& leftOutNow, std::vector<std::string> leftOut,
                                 bool read) const {
    loadedWhole = read && leftOut.empty();
    unreadable = !read || !leftOut.empty();
    std::lock_guard lock(setAsideLock);
    leftOutNow = std::move(leftOut);
}

std::vector<SampleItem> BridgeSampleCache::loadManifest() const {
    manifestLoaded = false;
    if (!itemExists(manifestURL())) {
        manifestUnreadable = false;
        return {};
    }
    try {
        // Read as it comes off the disk: the whole text is never held.
        SampleItemListReader reader(DateForm::iso8601, SampleItemListReader::Records::tolerant);
        if (!vt::readFileInPieces(manifestURL(), [&](std::string_view piece) { reader.feed(piece); }))
            throw BridgeLibraryError("unreadable");
        auto list = reader.finish();
        noteLoad(manifestLoaded, manifestUnreadable, manifestLeftOut, std::move(list.unreadable), true);
        return std::move(list.samples);
    } catch (const std::exception&) {
        noteLoad(manifestLoaded, manifestUnreadable, manifestLeftOut, {}, false);
        return {};
    }
}

void BridgeSampleCache::saveManifest(const std::vector<SampleItem>& samples) const {
    createFolder(samplesDirectory());
    createFolderIgnoringFailure(mirrorRoot);
    try {
        writeLibraryFile(
            manifestURL(), mirrorRoot / manifestFileName,
            [&](const Emit& sink) {
                emitArray(
                    samples, [](const SampleItem& sample) { return sample.toJson(DateForm::iso8601); }, sink);
            },
            manifestUnreadable, manifestLeftOut);
    } catch (const vt::json::JsonError& error) {
        throw BridgeLibraryError(std::string("Could not encode the sample list: ") + error.what() + ".");
    }
}

BridgeMetadataMap BridgeSampleCache::loadLocalMetadata() const {
    metadataLoaded = false;
    if (!itemExists(metadataURL())) {
        metadataUnreadable = false;
        return {};
    }
    try {
        BridgeMetadataReader reader(DateForm::referenceSeconds);
        if (!vt::readFileInPieces(metadataURL(), [&](std::string_view piece) { reader.feed(piece); }))
            throw BridgeLibraryError("unreadable");
        auto file = reader.finish();
        noteLoad(metadataLoaded, metadataUnreadable, metadataLeftOut, std::move(file.unreadableKeys), true);
        return std::move(file.entries);
    } catch (const std::exception&) {
        noteLoad(metadataLoaded, metadataUnreadable, metadataLeftOut, {}, false);
        return {};
    }
}

void BridgeSampleCache::saveLocalMetadata(const BridgeMetadataMap& metadata) const {
    createFolder(samplesDirectory());
    createFolderIgnoringFailure(mirrorRoot);
    std::vector<std::pair<std::string, const BridgeSampleMetadata*>> entries;
    for (const auto& [id, entry] : metadata)
        if (!entry.isEmpty())
            entries.emplace_back(id.string(), &entry);
    std::sort(entries.begin(), entries.end());
    try {
        writeLibraryFile(
            metadataURL(), mirrorRoot / metadataFileName,
            [&](const Emit& sink) {
                emitObject(
                    entries,
                    [](const BridgeSampleMetadata& entry) {
                        return entry.toJson(DateForm::referenceSeconds);
                    },
                    sink);
            },
            metadataUnreadable, metadataLeftOut);
    } catch (const vt::json::JsonError& error) {
        throw BridgeLibraryError(std::string("Could not encode the library metadata: ") + error.what() + ".");
    }
}

void BridgeSampleCache::writeLibraryFile(const Path& target, const Path& mirrorTarget,
                                         const std::function<void(const Emit&)>& produce,
                                         std::atomic<bool>& unreadableFlag,
                                         std::vector<std::string>& leftOut) const {
    // The library folder's file and the mirror's copy take the same bytes as they are made, a
    // piece at a time, so that a large file is never held whole.
    std::optional<vt::PendingFile> file;
    try {
        file.emplace(target);
    } catch (const fs::filesystem_error& error) {
        throw saveFailure(target, error.code());
    }
    std::optional<vt::PendingFile> copy;
    try {
        copy.emplace(mirrorTarget);
    } catch (const fs::filesystem_error&) {
    }
    std::string pending;
    auto flush = [&] {
        try {
            file->append(pending);
        } catch (const fs::filesystem_error& error) {
            throw saveFailure(target, error.code());
        }
        try {
            if (copy)
                copy->append(pending);
        } catch (const fs::filesystem_error&) {
            copy.reset();
        }
        pending.clear();
    };
    constexpr std::size_t flushSize = 1u << 20;
    produce([&](std::string_view bytes) {
        pending += bytes;
        if (pending.size() >= flushSize)
            flush();
    });
    flush();
    // The file that could not be read whole is kept before the new one takes its place.
    if (unreadableFlag && itemExists(target)) {
        std::vector<std::string> names;
        {
            std::lock_guard lock(setAsideLock);
            names = std::exchange(leftOut, {});
        }
        setAsideUnreadable(target, std::move(names));
    }
    unreadableFlag = false;
    try {
        file->commit();
    } catch (const fs::filesystem_error& error) {
        throw saveFailure(target, error.code());
    }
    try {
        if (copy) {
            copy->commit();
            // The same bytes: the mirror pass must see the copy as unchanged.
            copyModificationTime(target, mirrorTarget);
        }
    } catch (const fs::filesystem_error&) {
    }
}

// Keeps a file that could not be read whole as "<stem>.unreadable-<UTC time><extension>" beside it.
void BridgeSampleCache::setAsideUnreadable(const Path& file, std::vector<std::string> leftOut) const {
    std::string stamp;
    for (char c : vt::formatISO8601(clock->now()))
        if (c != '-' && c != ':')
            stamp += c;
    std::string base = file.stem().string() + unreadableMarker + stamp;
    std::string extension = file.extension().string();
    Path aside = file.parent_path() / (base + extension);
    for (int counter = 2; itemExists(aside); ++counter)
        aside = file.parent_path() / (base + "-" + std::to_string(counter) + extension);
    std::error_code error;
    fs::rename(file, aside, error);
    if (error)
        throw BridgeLibraryError("Could not keep the unreadable file " + quoted(file) +
                                 " before replacing it: " + error.message() + ".");
    std::lock_guard lock(setAsideLock);
    setAside.push_back({file.filename().string(), aside, std::move(leftOut)});
}

std::vector<BridgeSampleCache::SetAsideFile> BridgeSampleCache::takeSetAsideFiles() const {
    std::lock_guard lock(setAsideLock);
    return std::exchange(setAside, {});
}

// MARK: Sample files

std::optional<Path> BridgeSampleCache::sampleURL(const SampleItem& sample) const {
    if (!vt::isSafeFileName(sample.fileName))
        return std::nullopt;
    return samplesDirectory() / sample.fileName;
}

Path BridgeSampleCache::editedSampleURL(const SampleItem& sample) const {
    return editedDirectory() / (sample.id.string() + ".wav");
}

Path BridgeSampleCache::mirroredEditedSampleURL(const SampleItem& sample) const {
    return auMirrorEditedDirectory() / (sample.id.string() + ".wav");
}

std::string BridgeSampleCache::chopFileName(const SampleItem& sample, const BridgeSampleChop& chop) const {
    return sample.id.string() + "-chop-" + chop.id.string() + ".wav";
}

Path BridgeSampleCache::chopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    return chopsDirectory() / chopFileName(sample, chop);
}

Path BridgeSampleCache::mirroredChopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    return auMirrorChopsDirectory() / chopFileName(sample, chop);
}

bool BridgeSampleCache::hasEditedSample(const SampleItem& sample) const {
    return itemExists(editedSampleURL(sample));
}

bool BridgeSampleCache::needsDownload(const SampleItem& sample) const {
    auto url = sampleURL(sample);
    if (!url)
        return false;
    auto size = sizeOf(*url);
    return !size || sample.byteCount < 0 || *size != static_cast<std::uintmax_t>(sample.byteCount);
}

std::optional<std::uint64_t> BridgeSampleCache::availableSpace(const Path& folder) {
    std::error_code error;
    const auto space = fs::space(folder, error);
    if (error)
        return std::nullopt;
    return space.available;
}

BridgeLibraryError BridgeSampleCache::saveFailure(const Path& target, const std::error_code& reason) {
    return BridgeLibraryError("Could not save " + quoted(target) + ": " + reason.message() + ".");
}

Path BridgeSampleCache::prepareSampleFile(const SampleItem& sample) const {
    auto url = sampleURL(sample);
    if (!url)
        throw BridgeLibraryError("The file name \"" + sample.fileName + "\" of \"" + sample.title +
                                 "\" cannot be used in the library folder.");
    createFolder(samplesDirectory());
    createFolderIgnoringFailure(auMirrorSamplesDirectory());
    return *url;
}

void BridgeSampleCache::saveSampleData(std::string_view bytes, const SampleItem& sample) const {
    writeOrThrow(prepareSampleFile(sample), bytes);
    writeIgnoringFailure(auMirrorSamplesDirectory() / sample.fileName, bytes);
}

void BridgeSampleCache::removeEditedSample(const SampleItem& sample) const {
    vt::removeRegularFile(editedSampleURL(sample));
    vt::removeRegularFile(mirroredEditedSampleURL(sample));
}

void BridgeSampleCache::removeChops(const SampleItem& sample) const {
    std::string prefix = sample.id.string() + "-chop-";
    removeEntriesWithPrefix(chopsDirectory(), prefix);
    removeEntriesWithPrefix(auMirrorChopsDirectory(), prefix);
}

void BridgeSampleCache::removeChops(const SampleItem& sample,
                                    const std::vector<BridgeSampleChop>& keep) const {
    removeChopsExcept(sample.id, keep);
}

void BridgeSampleCache::removeChopsExcept(const vt::Uuid& sampleID,
                                          const std::vector<BridgeSampleChop>& keep) const {
    const std::string prefix = sampleID.string() + "-chop-";
    std::unordered_set<std::string> kept;
    for (const auto& chop : keep)
        kept.insert(prefix + chop.id.string() + ".wav");
    removeEntriesWithPrefix(chopsDirectory(), prefix, kept);
    removeEntriesWithPrefix(auMirrorChopsDirectory(), prefix, kept);
}

void BridgeSampleCache::removeSampleFiles(const SampleItem& sample) const {
    if (vt::isSafeFileName(sample.fileName)) {
        vt::removeRegularFile(samplesDirectory() / sample.fileName);
        vt::removeRegularFile(auMirrorSamplesDirectory() / sample.fileName);
    }
    removeEditedSample(sample);
    removeChops(sample);
}

// MARK: Mirror

void BridgeSampleCache::mirrorEditedSample(const SampleItem& sample) const {
    copyIntoMirror(editedSampleURL(sample), mirroredEditedSampleURL(sample));
}

void BridgeSampleCache::mirrorLibrary(const std::vector<SampleItem>& samples,
                                      const BridgeMetadataMap& metadata) const {
    saveManifest(samples);
    saveLocalMetadata(metadata);
    mirrorFiles(samples, metadata);
}

void BridgeSampleCache::mirrorFiles(const std::vector<SampleItem>& samples,
                                    const BridgeMetadataMap& metadata) const {
    createFolder(auMirrorSamplesDirectory());
    createFolder(auMirrorEditedDirectory());
    createFolder(auMirrorChopsDirectory());
    const FolderPair rootFiles(root, mirrorRoot), sampleFiles(samplesDirectory(), auMirrorSamplesDirectory()),
        editedFiles(editedDirectory(), auMirrorEditedDirectory()),
        chopFiles(chopsDirectory(), auMirrorChopsDirectory());
    CopyFailures pass("the plug-in's library");
    pass.mirrorIfChanged(rootFiles, std::string(manifestFileName));
    pass.mirrorIfChanged(rootFiles, std::string(metadataFileName));
    // What the library no longer has (a deleted sample's files, old chops) goes from the mirror.
    std::unordered_set<std::string> listedSamples, listedEdits, listedChops;
    // One look at the folder of edits instead of one per sample: most samples have none.
    const std::unordered_set<std::string> rendered = visibleFileNames(editedDirectory());
    for (const auto& sample : samples) {
        if (vt::isSafeFileName(sample.fileName))
            pass.mirrorIfChanged(sampleFiles, sample.fileName, &listedSamples);
        if (!rendered.empty()) {
            std::string editedName = sample.id.string() + ".wav";
            if (rendered.count(editedName))
                pass.mirrorIfChanged(editedFiles, std::move(editedName), &listedEdits);
        }
        auto entry = metadata.find(sample.id);
        if (entry == metadata.end())
            continue;
        for (const auto& chop : entry->second.chops)
            pass.mirrorIfChanged(chopFiles, chopFileName(sample, chop), &listedChops);
    }
    pass.copyPending();
    removeUnlisted(auMirrorSamplesDirectory(), listedSamples);
    removeUnlisted(auMirrorEditedDirectory(), listedEdits);
    removeUnlisted(auMirrorChopsDirectory(), listedChops);
    pass.throwIfAny();
}
