// The library folder choice: reveal it, pick another one (copying the library or not), or go
// back to the default; the switch reloads the library from the new folder and mirrors it.

#include "Platform/Async/Background.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"

#include <QPointer>

namespace {

constexpr int copyExistingButton = 0;
constexpr int useEmptyButton = 1;

// Absolute, without "." and ".." components and without a trailing separator.
std::filesystem::path standardized(const std::filesystem::path& url) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(url, error);
    if (error)
        absolute = url;
    std::filesystem::path normal = absolute.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// What a copy into a new folder left undone: a failure that stops the change, or the files it
// went on past.
struct CopyOutcome {
    std::optional<std::string> failure;
    std::optional<std::string> incomplete;
};

QCoro::Task<CopyOutcome> copyLibraryInBackground(std::shared_ptr<const BridgeSampleCache> from,
                                                 std::shared_ptr<const BridgeSampleCache> to) {
    auto copy = [from, to] { from->copyLibrary(*to); };
    CopyOutcome outcome;
    try {
        co_await vt::runInBackground(vt::userInitiatedPool(), std::move(copy));
    } catch (const BridgeIncompleteCopyError& error) {
        outcome.incomplete = error.what();
    } catch (...) {
        outcome.failure = BridgeLibraryWriter::failureText(std::current_exception());
    }
    co_return outcome;
}

// Sweeps the leftovers of interrupted writes, reads both files, settles the renders a crash left
// waiting for their edits and chops, and removes the files of deletions a crash left unfinished.
QCoro::Task<BridgeViewModel::LoadedLibrary> loadInBackground(std::shared_ptr<const BridgeSampleCache> cache) {
    auto load = [cache] {
        cache->removeLeftoverTemporaries();
        BridgeViewModel::LoadedLibrary loaded{cache->loadManifest(), cache->loadLocalMetadata()};
        cache->settlePendingEdits(loaded.metadata);
        cache->settlePendingChops(loaded.metadata);
        cache->removeFilesOfDeletedSamples(loaded.samples, loaded.metadata);
        return loaded;
    };
    return vt::runInBackground(vt::userInitiatedPool(), std::move(load));
}

} // namespace

void BridgeViewModel::openCacheFolder() {
    if (deps.urlOpener)
        deps.urlOpener->revealFolder(cache->rootURL());
}

QCoro::Task<> BridgeViewModel::chooseSampleFolder() {
    if (!deps.folderChooser)
        co_return;
    QPointer<BridgeViewModel> self(this);
    vt::FolderChoice choice;
    choice.title = QStringLiteral("Choose Vellumtide Sample Folder");
    choice.message =
        QStringLiteral("Choose where Bridge stores synced samples, edits, chops, and library metadata.");
    choice.prompt = QStringLiteral("Choose");
    choice.canCreateFolders = true;
    choice.startingFolder = cache->rootURL();
    std::optional<std::filesystem::path> chosen = co_await deps.folderChooser->chooseFolder(choice);
    if (!self || !chosen)
        co_return;
    co_await applySampleFolder(*chosen);
}

QCoro::Task<> BridgeViewModel::resetSampleFolderToDefault() {
    co_await applySampleFolder(BridgeSampleCache::defaultRootURL(deps.paths));
}

// A sync writes into the library folder and a render or chop into its files: the folder must not
// be pulled away from under any of them.
std::optional<std::string> BridgeViewModel::sampleFolderBusyText() const {
    if (isSyncing_ || isWatchSyncing)
        return std::string("Wait for the current sync to finish, then change the sample folder.");
    if (!choppingSampleIDs_.empty() || !renderingEditSampleIDs.empty())
        return std::string(
            "Wait until the current edit or chop render finishes, then change the sample folder.");
    return std::nullopt;
}

bool BridgeViewModel::refuseWhileBusy() {
    auto busy = sampleFolderBusyText();
    if (!busy)
        return false;
    setStatusMessage(isSyncing_ || isWatchSyncing ? "Sync in progress" : "Library is busy");
    setErrorMessage(*busy);
    return true;
}

QCoro::Task<> BridgeViewModel::applySampleFolder(std::filesystem::path url) {
    QPointer<BridgeViewModel> self(this);
    const std::filesystem::path target = standardized(url);
    auto unchanged = [&] { return target.string() == cache->rootURL().string(); };
    // An empty choice would otherwise resolve to the working folder.
    if (url.empty() || unchanged()) {
        setStatusMessage("Sample folder unchanged");
        co_return;
    }
    if (refuseWhileBusy())
        co_return;
    if (isChangingSampleFolder) {
        setStatusMessage("Library is busy");
        setErrorMessage("Wait until the current folder change finishes, then change the sample folder.");
        co_return;
    }
    isChangingSampleFolder = true;
    ScopeExit clearBusy([self] {
        if (self)
            self->isChangingSampleFolder = false;
    });

    bool copy = false;
    if (cache->hasLibraryContent()) {
        vt::AlertRequest alert;
        alert.style = vt::AlertRequest::Style::informational;
        alert.messageText = QStringLiteral("Use this sample folder?");
        alert.informativeText = QString::fromStdString(
            "Current:\n" + BridgeSampleCache::abbreviatedPath(cache->rootURL(), deps.paths) +
            "\n\nVellumtide can copy your existing synced samples into:\n" +
            BridgeSampleCache::abbreviatedPath(target, deps.paths));
        alert.buttons = {QStringLiteral("Copy Existing"), QStringLiteral("Use Empty"),
                         QStringLiteral("Cancel")};
        int answer = -1;
        if (deps.alerts)
            answer = co_await deps.alerts->present(alert);
        if (!self)
            co_return;
        if (answer != copyExistingButton && answer != useEmptyButton) {
            setStatusMessage("Sample folder unchanged");
            co_return;
        }
        copy = answer == copyExistingButton;
        // The world went on while the question was open.
        if (unchanged()) {
            setStatusMessage("Sample folder unchanged");
            co_return;
        }
        if (refuseWhileBusy())
            co_return;
    }

    std::shared_ptr<BridgeSampleCache> next;
    std::optional<std::string> failure;
    // Files the copy could not take stay in the old folder, which is never emptied: the switch
    // goes on and names them.
    std::optional<std::string> copyProblem;
    try {
        next = std::make_shared<BridgeSampleCache>(deps.paths, target, deps.wallClock);
        next->prepareDirectories();
    } catch (...) {
        failure = BridgeLibraryWriter::failureText(std::current_exception());
    }
    if (!failure && copy) {
        // The old folder takes the latest state (and every write queued for it) before it is copied.
        co_await writeLibrary({.manifest = true, .metadata = true});
        if (!self)
            co_return;
        CopyOutcome copied = co_await copyLibraryInBackground(cache, next);
        failure = std::move(copied.failure);
        copyProblem = std::move(copied.incomplete);
    }
    if (!self)
        co_return;
    if (failure) {
        reportFailure("Folder change failed", *failure);
        co_return;
    }
    co_await switchToLibrary(std::move(next), copy, copyProblem);
}

QCoro::Task<> BridgeViewModel::switchToLibrary(std::shared_ptr<BridgeSampleCache> next, bool copied,
                                               std::optional<std::string> copyProblem) {
    QPointer<BridgeViewModel> self(this);
    LoadedLibrary loaded = co_await loadInBackground(next);
    if (!self)
        co_return;
    // A sync or a render may have started while the files were read.
    if (refuseWhileBusy())
        co_return;
    stopPreview(false);
    BridgeSampleCache::saveRootURL(next->rootURL(), deps.paths, *deps.settings);
    queuePendingAnalysisSave(); // into the folder they belong to
    cache = std::move(next);
    ++libraryGeneration;
    librarySamples = std::move(loaded.samples);
    librarySnapshot = std::make_shared<const std::vector<SampleItem>>(librarySamples);
    sampleMetadata = std::move(loaded.metadata);
    storedMetadata = std::make_shared<const BridgeMetadataMap>(sampleMetadata);
    setSamples(displaySamples(librarySamples));
    setSampleFolderPath(BridgeSampleCache::abbreviatedPath(cache->rootURL(), deps.paths));
    std::optional<std::string> mirrorProblem;
    std::optional<std::string> failure = co_await mirrorLibrary(&mirrorProblem);
    if (!self)
        co_return;
    if (failure) {
        reportFailure("Folder change failed", *failure);
        co_return;
    }
    if (!reportLibraryProblems(copyProblem, mirrorProblem))
        setStatusMessage(copied ? "Sample folder changed and copied" : "Sample folder changed");
    std::string watchText = isWatchModeEnabled_ ? "Background sync on" : "Watch mode off";
    if (watchMessage_ != watchText)
        setWatchMessage(watchText);
}
