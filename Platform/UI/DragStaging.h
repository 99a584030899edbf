#pragma once
// Files offered to other programs by a drag: each is staged under the name the receiver should
// give it, in a per-user folder where it stays for a day, so a receiver that reads late still
// finds it.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <filesystem>
#include <optional>

namespace vt::ui {

// One staged file and what a drag offers for it.
struct StagedDragFile {
    std::filesystem::path path;
    QByteArray uriList; // the staged file's percent-encoded file:// URL, CRLF-terminated
    QString plainText;
};

// $XDG_CACHE_HOME/vellumtide/drag, or $HOME/.cache/vellumtide/drag.
std::filesystem::path dragStagingFolder();

// The suggested name as one safe path component that keeps the source's extension.
QString sanitizedDragFileName(const QString& suggestedName, const std::filesystem::path& source);

// Stages the file under the suggested name (a hard link, else a copy) in a folder of its own;
// nothing for a missing file.
std::optional<StagedDragFile> stageFileForDrag(const std::filesystem::path& file,
                                               const QString& suggestedName);

// Removes staged files a day old or older.
void sweepStagedDragFiles(std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

} // namespace vt::ui
