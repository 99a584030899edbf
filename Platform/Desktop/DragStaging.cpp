#include "Platform/Desktop/DragStaging.h"

#include "Platform/Core/AtomicFile.h"

#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vt {
namespace fs = std::filesystem;

namespace {

// The longest file name most Linux filesystems take, in bytes.
constexpr qsizetype nameMaxBytes = 255;
// A longer tail after the last dot is part of the name rather than its extension.
constexpr qsizetype extensionMaxBytes = 32;

qsizetype utf8Size(QStringView text) {
    return text.toUtf8().size();
}

// The longest start of text, whole characters only, that takes at most maxBytes in UTF-8.
QString leadingCharacters(const QString& text, qsizetype maxBytes) {
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype next = end + (text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1);
        bytes += utf8Size(QStringView(text).mid(end, next - end));
        if (bytes > maxBytes)
            break;
        end = next;
    }
    return text.left(end);
}

// Cuts the name to the byte limit, keeping its extension whole.
QString withinNameMax(const QString& name) {
    if (utf8Size(name) <= nameMaxBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString extension;
    if (dot > 0 && utf8Size(QStringView(name).mid(dot)) <= extensionMaxBytes)
        extension = name.mid(dot);
    const QString stem = name.left(name.size() - extension.size());
    return leadingCharacters(stem, nameMaxBytes - utf8Size(extension)) + extension;
}

QString withSeparatorsReplaced(QString name) {
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QChar(u'\0'), QLatin1Char('_'));
    return name;
}

bool isUsableName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
}

struct FileVersion {
    std::uintmax_t size = 0;
    timespec modified{};
};

std::optional<FileVersion> versionOf(const fs::path& file, bool followLinks) {
    struct stat info {};
    if ((followLinks ? ::stat(file.c_str(), &info) : ::lstat(file.c_str(), &info)) != 0 ||
        !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileVersion{static_cast<std::uintmax_t>(info.st_size), info.st_mtim};
}

bool operator==(const FileVersion& a, const FileVersion& b) {
    return a.size == b.size && a.modified.tv_sec == b.modified.tv_sec &&
           a.modified.tv_nsec == b.modified.tv_nsec;
}

// 32-bit FNV-1a: tells the files of one sample (its download, its rendered edit) apart.
std::uint32_t nameHash(const std::string& name) {
    std::uint32_t hash = 2166136261u;
    for (const unsigned char byte : name)
        hash = (hash ^ byte) * 16777619u;
    return hash;
}

// The folder name of one version of a library file: its size, modification time and name.
std::string versionFolderName(const fs::path& source, const FileVersion& version) {
    const auto nanoseconds = static_cast<unsigned long long>(version.modified.tv_sec) * 1'000'000'000ull +
                             static_cast<unsigned long long>(version.modified.tv_nsec);
    char text[64];
    std::snprintf(text, sizeof text, "%llx-%llx-%08x", static_cast<unsigned long long>(version.size),
                  nanoseconds, nameHash(source.filename().string()));
    return text;
}

// Fills the open file to with the bytes of source: shares its blocks where the filesystem can
// (the copy-on-write clone), else copies them.
void cloneOrCopy(const fs::path& source, const fs::path& temporary, int to) {
    const int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        throw fs::filesystem_error("cannot open", source, std::error_code(errno, std::generic_category()));
    const bool cloned = ::ioctl(to, FICLONE, from) == 0;
    ::close(from);
    if (!cloned)
        fs::copy_file(source, temporary, fs::copy_options::overwrite_existing);
}

// Writes the staged file whole under a temporary name, with the source's modification time (the
// mark of an untouched staged file), then gives it its name. Not flushed to the disk first: a drag
// starts inside a host's idle call, which must not wait for the disk.
bool placeFile(const fs::path& source, const FileVersion& version, const fs::path& target) {
    fs::path temporary;
    int descriptor = -1;
    try {
        temporary = createTemporaryFile(target.parent_path());
        descriptor = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
        if (descriptor < 0)
            throw fs::filesystem_error("cannot open", temporary,
                                       std::error_code(errno, std::generic_category()));
        cloneOrCopy(source, temporary, descriptor);
        const timespec times[2] = {{0, UTIME_OMIT}, version.modified};
        if (::futimens(descriptor, times) != 0 || ::close(std::exchange(descriptor, -1)) != 0)
            throw fs::filesystem_error("cannot finish", temporary,
                                       std::error_code(errno, std::generic_category()));
        fs::rename(temporary, target);
        removeTemporaryFile(temporary); // the temporaries' folder, now empty
        return true;
    } catch (const fs::filesystem_error&) {
        if (descriptor >= 0)
            ::close(descriptor);
        if (!temporary.empty())
            removeTemporaryFile(temporary);
        return false;
    }
}

// How many staged files one version may have under one name: the first, and fresh ones beside
// those their receivers changed.
constexpr int stagedSlotsPerVersion = 16;

// Where one version of a file is staged under one name: the first slot that holds it untouched
// (already is true), else the first free one; nothing when every slot was taken by receivers.
struct StagedPlace {
    fs::path target;
    bool already = false;
};
std::optional<StagedPlace> stagedPlace(const fs::path& entry, const fs::path& source,
                                       const FileVersion& version, const std::string& name) {
    const std::string versionName = versionFolderName(source, version);
    for (int slot = 1; slot <= stagedSlotsPerVersion; ++slot) {
        const fs::path folder = entry / (slot == 1 ? versionName : versionName + "." + std::to_string(slot));
        const fs::path target = folder / name;
        std::error_code error;
        if (!fs::exists(fs::symlink_status(target, error)))
            return StagedPlace{target, false};
        if (versionOf(target, false) == version)
            return StagedPlace{target, true}; // staged before and untouched since
        // changed by whoever took it: theirs now
    }
    return std::nullopt;
}

bool writeStagedFile(const fs::path& source, const FileVersion& version, const fs::path& target) {
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    return !error && placeFile(source, version, target);
}

// What a drag offers for the staged file.
StagedDragFile offered(const fs::path& target) {
    StagedDragFile staged;
    staged.path = target;
    staged.uriList = fileUriListLine(target);
    staged.plainText = QString::fromStdString(target.string());
    return staged;
}

// The source's file itself (never a symbolic link that may point elsewhere later), its version
// and its place among the staged files; nothing when it is missing or every place is taken.
struct StagingPlan {
    fs::path file;
    FileVersion version;
    StagedPlace place;
};
std::optional<StagingPlan> planStaging(const fs::path& store, const DragSource& source,
                                       const QString& suggestedName) {
    std::error_code error;
    if (store.empty() || source.file.empty() || !fs::is_regular_file(source.file, error))
        return std::nullopt;
    const fs::path file = fs::canonical(source.file, error);
    const auto version = error ? std::nullopt : versionOf(file, true);
    if (!version)
        return std::nullopt;
    const fs::path entry =
        store / source.sample.string() / (source.chop ? source.chop->string() : std::string("sample"));
    const auto place =
        stagedPlace(entry, file, *version, sanitizedDragFileName(suggestedName, file).toStdString());
    if (!place)
        return std::nullopt;
    return StagingPlan{file, *version, *place};
}

// The staged files being written on background threads, by where they go: a drag of the same
// version meanwhile waits for the same write rather than writing the file a second time.
std::mutex writesMutex;
std::map<fs::path, QFuture<bool>> writes;

QFuture<bool> backgroundWrite(const StagingPlan& plan) {
    const std::lock_guard lock(writesMutex);
    std::erase_if(writes, [](const auto& write) { return write.second.isFinished(); });
    auto& write = writes[plan.place.target];
    if (!write.isValid())
        write = QtConcurrent::run([file = plan.file, version = plan.version, target = plan.place.target] {
            return writeStagedFile(file, version, target);
        });
    return write;
}

void removeStagedFolder(const fs::path& folder) {
    std::error_code error;
    fs::remove_all(folder, error); // removes links, never what they point to
}

} // namespace

fs::path dragStagingFolder(const Paths& paths) {
    return paths.data / "vellumtide" / "drag";
}

QString sanitizedDragFileName(const QString& suggestedName, const fs::path& source) {
    QString name = withSeparatorsReplaced(suggestedName);
    if (!isUsableName(name))
        name = withSeparatorsReplaced(QString::fromStdString(source.filename().string()));
    if (!isUsableName(name))
        name = QStringLiteral("file");
    return withinNameMax(name);
}

QByteArray fileUriListLine(const fs::path& file) {
    return QUrl::fromLocalFile(QString::fromStdString(file.string())).toEncoded() + "\r\n";
}

QString dragFileNameKeepingEnding(const QString& head, const QString& ending) {
    const qsizetype endingBytes = utf8Size(ending);
    if (endingBytes >= nameMaxBytes)
        return withinNameMax(head + ending);
    return leadingCharacters(head, nameMaxBytes - endingBytes) + ending;
}

std::optional<StagedDragFile> stageFileForDrag(const fs::path& store, const DragSource& source,
                                               const QString& suggestedName) {
    const auto plan = planStaging(store, source, suggestedName);
    if (!plan || (!plan->place.already && !writeStagedFile(plan->file, plan->version, plan->place.target)))
        return std::nullopt;
    return offered(plan->place.target);
}

std::optional<StagedDragFile> stageFileForDragInBackground(const fs::path& store, const DragSource& source,
                                                           const QString& suggestedName) {
    const auto plan = planStaging(store, source, suggestedName);
    if (!plan)
        return std::nullopt;
    StagedDragFile staged = offered(plan->place.target);
    if (!plan->place.already)
        staged.written = backgroundWrite(*plan);
    return staged;
}

void pruneStagedDragFiles(const fs::path& store, const DragSourcesInLibrary& before,
                          const DragSourcesInLibrary& now) {
    for (const auto& [sample, chops] : before) {
        const fs::path sampleFolder = store / sample.string();
        const auto kept = now.find(sample);
        if (kept == now.end()) {
            removeStagedFolder(sampleFolder);
            continue;
        }
        for (const Uuid& chop : chops)
            if (!kept->second.contains(chop))
                removeStagedFolder(sampleFolder / chop.string());
    }
}

} // namespace vt
