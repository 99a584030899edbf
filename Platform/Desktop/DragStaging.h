#pragma once
// Files handed to other programs by a drag: each is staged once per version of its library file
// under the name the receiver should give it, in a per-user data folder, and stays there while
// its sample (or chop) is in the library, since a receiver may use the dropped file where it lies.
// Used by both windows' drag sources; the desktop program, which owns the library, prunes.

#include "Platform/Core/Paths.h"
#include "Platform/Core/Uuid.h"

#include <QByteArray>
#include <QFuture>
#include <QString>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace vt {

// A file staged for a drag under the name the receiver should give it, and what a drag offers
// for it.
struct StagedDragFile {
    std::filesystem::path path; // <store>/<sample>/<chop or "sample">/<version>/<sanitised name>
    QByteArray uriList;         // "file:///…percent-encoded…\r\n" (text/uri-list)
    QString plainText;          // the staged file's path (text/plain)
    // While the file is still being written: finishes with whether it now lies at path. Not
    // valid when it lay there already.
    QFuture<bool> written{};
};

// What a drag hands out: a file of the library and the sample (and chop) it belongs to.
struct DragSource {
    std::filesystem::path file;
    Uuid sample;
    std::optional<Uuid> chop;
};

// The per-user store of staged files: <data>/vellumtide/drag ($XDG_DATA_HOME, else
// ~/.local/share). Not a cache folder: a cache cleaner must not take a file a project still uses.
std::filesystem::path dragStagingFolder(const Paths& paths);

// One safe path component from a suggested name: "/" and NUL replaced, at most 255 bytes (UTF-8,
// never cutting a character), extension kept; empty/"."/".." fall back to the source's name.
QString sanitizedDragFileName(const QString& suggestedName, const std::filesystem::path& source);

// head + ending within the 255-byte limit: only head is cut (at a whole character), so the
// ending ("-Chop 03.wav") that tells files apart stays whole.
QString dragFileNameKeepingEnding(const QString& head, const QString& ending);

// The text/uri-list line of one local file: its percent-encoded file:// URL and "\r\n".
QByteArray fileUriListLine(const std::filesystem::path& file);

// Stages the source's file under suggestedName in store, as a reflink where the filesystem offers
// one, else a copy (never a link to the library's file, so a receiver that writes into the drop
// leaves the library alone), written whole under a temporary name first. The same version of the
// file (size and modification time) under the same name is staged once and reused; a staged file
// that was changed since is left to its user and a fresh one staged beside it. Nothing when the
// file is missing, not a regular file, or cannot be staged.
std::optional<StagedDragFile> stageFileForDrag(const std::filesystem::path& store, const DragSource& source,
                                               const QString& suggestedName);

// The same, returned at once: a version staged before is offered as it is; otherwise its place is
// chosen now and the file is written there on a background thread (see written), so that a
// large file never holds up the caller's thread. Nothing when the file is missing or has no place.
std::optional<StagedDragFile> stageFileForDragInBackground(const std::filesystem::path& store,
                                                           const DragSource& source,
                                                           const QString& suggestedName);

// The library's samples, each with the chops it has.
using DragSourcesInLibrary = std::map<Uuid, std::set<Uuid>>;

// Removes the staged files of the samples and chops that were in the library before and are not
// now; links are removed, never followed. Only what was seen to leave goes: a library that could
// not be read, or one on a drive not mounted yet, takes nothing with it.
void pruneStagedDragFiles(const std::filesystem::path& store, const DragSourcesInLibrary& before,
                          const DragSourcesInLibrary& now);

} // namespace vt
