#include "Platform/UI/DragStaging.h"

#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/Paths.h"

#include <QUrl>
#include <cstdlib>
#include <stdlib.h>

namespace vt::ui {
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

fs::path environmentFolder(const char* name) {
    const char* value = std::getenv(name);
    fs::path folder = value ? fs::path(value) : fs::path();
    // Relative values are ignored, as the XDG base directory rules ask.
    return folder.is_absolute() ? folder : fs::path();
}

std::optional<fs::path> makeUniqueFolder(const fs::path& parent) {
    std::error_code error;
    fs::create_directories(parent, error);
    std::string pattern = (parent / "XXXXXX").string();
    if (error || !mkdtemp(pattern.data()))
        return std::nullopt;
    return fs::path(pattern);
}

// Puts source at target: a hard link when the filesystem allows it, else a whole copy.
bool placeFile(const fs::path& source, const fs::path& target) {
    std::error_code error;
    fs::create_hard_link(source, target, error);
    if (!error)
        return true;
    try {
        PendingFile copy(target);
        fs::copy_file(source, copy.path(), fs::copy_options::overwrite_existing);
        copy.commit();
        return true;
    } catch (const fs::filesystem_error&) {
        return false;
    }
}

bool isOlderThanLifetime(const fs::path& entry, std::chrono::system_clock::time_point now) {
    std::error_code error;
    const auto written = fs::last_write_time(entry, error);
    if (error)
        return false;
    return std::chrono::file_clock::to_sys(written) + stagedDragFileLifetime < now;
}

// Removes the regular files in one staging subfolder, then the subfolder when that emptied it.
void removeStagedFolder(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        removeRegularFile(entry->path());
    fs::remove(folder, error); // fails, harmlessly, while anything else is left in it
}

} // namespace

fs::path dragStagingFolder() {
    fs::path cache = environmentFolder("XDG_CACHE_HOME");
    if (cache.empty())
        cache = Paths::fromEnvironment().home / ".cache";
    return cache / "vellumtide" / "drag";
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

std::optional<StagedDragFile> stageFileForDrag(const fs::path& file, const QString& suggestedName) {
    std::error_code error;
    if (file.empty() || !fs::is_regular_file(file, error))
        return std::nullopt;
    // A link to the file itself, never to a symbolic link that may point elsewhere later.
    const fs::path source = fs::canonical(file, error);
    if (error)
        return std::nullopt;
    const auto folder = makeUniqueFolder(dragStagingFolder());
    if (!folder)
        return std::nullopt;
    const fs::path target = *folder / sanitizedDragFileName(suggestedName, source).toStdString();
    if (!placeFile(source, target)) {
        fs::remove(*folder, error);
        return std::nullopt;
    }
    StagedDragFile staged;
    staged.path = target;
    staged.uriList = fileUriListLine(target);
    staged.plainText = QString::fromStdString(target.string());
    return staged;
}

void sweepStagedDragFiles(std::chrono::system_clock::time_point now) {
    std::error_code error;
    for (fs::directory_iterator entry(dragStagingFolder(), error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code statusError;
        const fs::file_type type = entry->symlink_status(statusError).type();
        if (statusError || !isOlderThanLifetime(entry->path(), now))
            continue;
        if (type == fs::file_type::directory)
            removeStagedFolder(entry->path());
        else if (type == fs::file_type::regular)
            removeRegularFile(entry->path());
    }
}

} // namespace vt::ui
