#pragma once
// Files handed to other programs by a drag: each is staged under the name the receiver should
// give it, in a per-user cache folder, and stays there for a day so that a receiver that reads
// late still finds it. Used by both windows' drag sources.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <filesystem>
#include <optional>

namespace vt::ui {

// A file staged for a drag under the name the receiver should give it, and what a drag offers
// for it.
struct StagedDragFile {
    std::filesystem::path path; // the staged file: <folder>/<unique>/<sanitised name>
    QByteArray uriList;         // "file:///…percent-encoded…\r\n" (text/uri-list)
    QString plainText;          // the staged file's path (text/plain)
};

// The per-user staging folder: $XDG_CACHE_HOME/vellumtide/drag, else $HOME/.cache/vellumtide/drag.
std::filesystem::path dragStagingFolder();

// One safe path component from a suggested name: "/" and NUL replaced, at most 255 bytes (UTF-8,
// never cutting a character), extension kept; empty/"."/".." fall back to the source's name.
QString sanitizedDragFileName(const QString& suggestedName, const std::filesystem::path& source);

// The text/uri-list line of one local file: its percent-encoded file:// URL and "\r\n".
QByteArray fileUriListLine(const std::filesystem::path& file);

// Stages file under suggestedName (hard link when on the same filesystem, else a copy) in a fresh
// unique subfolder; nothing when the file is missing, not a regular file, or cannot be staged.
std::optional<StagedDragFile> stageFileForDrag(const std::filesystem::path& file,
                                               const QString& suggestedName);

// How long a staged file stays: a receiver may read the dropped file well after the drop.
inline constexpr std::chrono::hours stagedDragFileLifetime{24};

// Removes staged files (and their emptied subfolders) older than a day; called at start.
void sweepStagedDragFiles(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace vt::ui
