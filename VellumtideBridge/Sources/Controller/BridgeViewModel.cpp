#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"

#include <QPointer>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <future>
#include <utility>

namespace {

// A stored number (bool and text do not count), else nothing.
std::optional<double> storedNumber(const std::optional<QVariant>& value) {
    if (!value)
        return std::nullopt;
    switch (value->typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value->toDouble();
    case QMetaType::QString: {
        // An INI store gives numbers back as text.
        bool ok = false;
        double number = value->toString().toDouble(&ok);
        return ok ? std::optional<double>(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

bool storedBool(const std::optional<QVariant>& value) {
    if (!value)
        return false;
    if (value->typeId() == QMetaType::Bool)
        return value->toBool();
    if (value->typeId() == QMetaType::QString)
        return value->toString() == QLatin1String("true");
    return false;
}

} // namespace

BridgeViewModel::BridgeViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent), deps(std::move(dependencies)),
      cache(std::make_shared<BridgeSampleCache>(deps.paths, *deps.settings, deps.wallClock)),
      client(*deps.scheduler, deps.addressBook), lanScanner(*deps.scheduler, *deps.interfaces),
      pairingStore(*deps.settings) {
    previewLevel_ = storedNumber(deps.settings->value(QString::fromLatin1(previewLevelKey)))
                        .value_or(defaultPreviewLevel);
    // A stored NaN would reach the player as its volume: it counts as silence.
    if (std::isnan(previewLevel_))
        previewLevel_ = 0;
    isPreviewLooping_ = storedBool(deps.settings->value(QString::fromLatin1(previewLoopingKey)));
    sampleFolderPath_ = BridgeSampleCache::abbreviatedPath(cache->rootURL(), deps.paths);

    // Start-up never fails: what went wrong with the library files is told, not thrown.
    cache->removeLeftoverTemporaries();
    loadLibraryAtStart();
    // A render that a crash left waiting for its edit or chop to be stored is put in place or
    // goes, as the overlay on disk says. No other render is ever removed for want of an entry:
    // the entry may be in a file that was lost and is put back.
    cache->settlePendingEdits(sampleMetadata);
    cache->settlePendingChops(sampleMetadata);
    // A deletion stored before a crash loses its files now (else the mirror pass would copy the
    // sample back into the plug-in's copy).
    cache->removeFilesOfDeletedSamples(librarySamples, sampleMetadata);
    setSamples(displaySamples(librarySamples));
    // Files read whole are not written again at start; the mirror pass still copies them.
    librarySnapshot = std::make_shared<const std::vector<SampleItem>>(librarySamples);
    BridgeLibraryWriter::Snapshot onDisk{cache, nullptr, nullptr};
    if (cache->manifestLoadedWhole())
        onDisk.samples = librarySnapshot;
    storedMetadata = std::make_shared<const BridgeMetadataMap>(sampleMetadata);
    if (cache->metadataLoadedWhole())
        onDisk.metadata = storedMetadata;
    libraryWriter.assumeWritten(onDisk);
    libraryWriter.setOverlayOutcomeHandler(
        [this](const std::shared_ptr<const BridgeSampleCache>& folder,
               const std::shared_ptr<const BridgeMetadataMap>& overlay,
               bool stored) { overlayWriteEnded(folder, overlay, stored); });
    // The mirror pass runs off the main thread; what it could not do (and the damaged files the
    // saves set aside) is told once it ends. The next write tries the mirror again.
    vt::spawnStarted(reportStartupMirror());
    startWatchMode();

    QPointer<BridgeViewModel> self(this);
    vt::spawn([self]() -> QCoro::Task<> {
        if (!self)
            co_return;
        co_await self->analyzeSamplesIfNeeded(self->librarySamples, {}, true);
    });
}

void BridgeViewModel::loadLibraryAtStart() {
    // The two files are read side by side: the start waits for the larger one only.
    auto metadataRead =
        std::async(std::launch::async, [library = cache] { return library->loadLocalMetadata(); });
    librarySamples = cache->loadManifest();
    sampleMetadata = metadataRead.get();
    // A file that is missing or cannot be read at all comes back from the plug-in's copy.
    lostAtStart = cache->takeBackLostFiles();
    for (const auto& file : lostAtStart) {
        if (!file.takenBack)
            continue;
        if (file.fileName == BridgeSampleCache::manifestFileName)
            librarySamples = cache->loadManifest();
        else
            sampleMetadata = cache->loadLocalMetadata();
    }
}

BridgeViewModel::~BridgeViewModel() {
    // Every analysis result reported is on disk after a quit: the writer finishes it below.
    queuePendingAnalysisSave();
    for (auto* task : {&watchTask, &lanScanTask, &autoSyncTask})
        if (*task)
            (*task)->cancel();
    if (browser)
        browser->cancel();
    cancelPreviewTimer();
    if (previewPlayer) {
        previewPlayer->setFinishHandler(nullptr);
        previewPlayer->setErrorHandler(nullptr);
        previewPlayer->stop();
    }
}

void BridgeViewModel::publish(Field field) {
    emit changed(field);
    switch (field) {
    case Field::previewLevel:
        previewLevelDidSet();
        break;
    case Field::isPreviewLooping:
        isPreviewLoopingDidSet();
        break;
    case Field::showFavoritesOnly:
        stopPreviewIfHidden();
        break;
    case Field::isWatchModeEnabled:
        isWatchModeEnabledDidSet();
        break;
    case Field::samples:
        pruneStagedDragFiles();
        break;
    default:
        break;
    }
}

namespace {
double clampedLevel(double level) {
    if (std::isnan(level))
        return 0;
    return std::clamp(level, 0.0, 1.0);
}
} // namespace

void BridgeViewModel::previewLevelDidSet() {
    double level = clampedLevel(previewLevel_);
    deps.settings->setValue(QString::fromLatin1(previewLevelKey), level);
    if (previewPlayer)
        previewPlayer->setVolume(static_cast<float>(level));
}

void BridgeViewModel::isPreviewLoopingDidSet() {
    deps.settings->setValue(QString::fromLatin1(previewLoopingKey), isPreviewLooping_);
    if (previewPlayer)
        previewPlayer->setNumberOfLoops(isPreviewLooping_ ? -1 : 0);
}

void BridgeViewModel::isWatchModeEnabledDidSet() {
    if (isWatchModeEnabled_)
        startWatchMode();
    else
        stopWatchMode();
}

bool BridgeViewModel::isUsingDefaultSampleFolder() const {
    return cache->rootURL().string() == BridgeSampleCache::defaultRootURL(deps.paths).string();
}

int BridgeViewModel::favoriteCount() const {
    return static_cast<int>(
        std::count_if(samples_.begin(), samples_.end(), [](const SampleItem& s) { return s.isFavorite; }));
}

std::vector<SampleItem> BridgeViewModel::visibleSamples() const {
    if (!showFavoritesOnly_)
        return samples_;
    std::vector<SampleItem> favourites;
    std::copy_if(samples_.begin(), samples_.end(), std::back_inserter(favourites),
                 [](const SampleItem& s) { return s.isFavorite; });
    return favourites;
}

std::optional<VellumtideDevice> BridgeViewModel::selectedDevice() const {
    if (!selectedDeviceID_) {
        if (devices_.empty())
            return std::nullopt;
        return devices_.front();
    }
    for (const auto& device : devices_)
        if (device.id == *selectedDeviceID_)
            return device;
    return std::nullopt;
}

std::string BridgeViewModel::watchIdleStatus() const {
    if (auto device = selectedDevice())
        return "Watching " + device->name;
    return "Watch waiting for iPhone";
}

std::string BridgeViewModel::displayTitle(const SampleItem& sample) const {
    auto found = sampleMetadata.find(sample.id);
    if (found != sampleMetadata.end() && found->second.titleOverride) {
        std::string trimmed = trimmedText(*found->second.titleOverride);
        if (!trimmed.empty())
            return trimmed;
    }
    return sample.title;
}

const SampleItem* BridgeViewModel::librarySample(const vt::Uuid& id) const {
    for (const auto& sample : librarySamples)
        if (sample.id == id)
            return &sample;
    return nullptr;
}

BridgeSampleMetadata BridgeViewModel::entryFor(const vt::Uuid& id) const {
    auto found = sampleMetadata.find(id);
    return found == sampleMetadata.end() ? BridgeSampleMetadata() : found->second;
}

bool BridgeViewModel::isTombstoned(const vt::Uuid& id) const {
    auto found = sampleMetadata.find(id);
    return found != sampleMetadata.end() && found->second.isDeleted;
}

namespace {

// "A", "B" and 3 more: at most five names.
std::string listedNames(const std::vector<std::string>& names) {
    constexpr std::size_t shown = 5;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    if (names.size() > shown)
        text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

} // namespace

// The samples that metadata keys name: their titles where the list knows them, else the keys.
std::vector<std::string> BridgeViewModel::namesOfEntries(const std::vector<std::string>& keys) const {
    std::vector<std::string> names;
    for (const auto& key : keys) {
        const auto id = vt::Uuid::parse(key);
        const SampleItem* sample = id ? librarySample(*id) : nullptr;
        names.push_back("\"" + (sample ? sample->title : key) + "\"");
    }
    return names;
}

// "library.json" could not be read and was kept as "library.unreadable-….json". …
std::string BridgeViewModel::setAsideText() const {
    std::string text;
    for (const auto& file : cache->takeSetAsideFiles()) {
        if (!text.empty())
            text += "\n";
        const bool manifest = file.fileName == BridgeSampleCache::manifestFileName;
        const std::string keptAs = "\"" + file.keptAs.filename().string() + "\"";
        const std::size_t count = file.unreadableEntries.size();
        if (file.takenBack) {
            text += "\"" + file.fileName + "\" could not be read and was kept as " + keptAs +
                    " beside it. The plug-in's copy of it was taken back in its place.";
        } else if (count == 0) {
            text += "\"" + file.fileName + "\" could not be read and was kept as " + keptAs + " beside it. ";
            text += manifest ? "The sample list starts over from the next sync."
                             : "Renames, favourites, deletions, edits, chops and analyses start over.";
        } else if (manifest) {
            text += "\"" + file.fileName + "\" was kept as " + keptAs +
                    " beside it: " + PhoneLink::counted(count, " sample record") +
                    " in it could not be read (" + listedNames(file.unreadableEntries) + ") and " +
                    (count == 1 ? "is" : "are") + " left out until a sync lists " +
                    (count == 1 ? "it" : "them") + " again.";
        } else {
            text += "\"" + file.fileName + "\" was kept as " + keptAs + " beside it: the saved changes of " +
                    listedNames(namesOfEntries(file.unreadableEntries)) +
                    " could not be read and start over. Every other sample keeps its renames, favourites, "
                    "deletions, edits, chops and analyses.";
        }
    }
    return text;
}

// What start-up did about a library file it did not find: the status line and the alert's text.
std::pair<std::string, std::string> BridgeViewModel::lostFileText(const BridgeSampleCache::LostFile& file) {
    const bool manifest = file.fileName == BridgeSampleCache::manifestFileName;
    const std::string name = "\"" + file.fileName + "\"";
    if (file.takenBack)
        return {"Library file taken back from the plug-in's copy",
                name + " was missing from the library folder and was taken back from the plug-in's copy" +
                    (manifest ? ": the sample list is back."
                              : ": renames, favourites, deletions, edits, chops and analyses are back.")};
    if (manifest)
        return {"Sample list not found",
                name + " was not found in the library folder or the plug-in's copy: the sample list is "
                       "empty until the next sync. No sample, edit or chop file was removed; put the file "
                       "back into the library folder and start again to list them now."};
    return {"Saved changes not found",
            name + " was not found in the library folder or the plug-in's copy: renames, favourites, "
                   "deletions, edits and chops are not shown. No rendered edit or chop was removed; put the "
                   "file back into the library folder and start again to bring them back."};
}

QCoro::Task<> BridgeViewModel::reportStartupMirror() {
    QPointer<BridgeViewModel> self(this);
    std::optional<std::string> mirrorProblem;
    std::optional<std::string> failure = co_await mirrorLibrary(&mirrorProblem);
    if (!self)
        co_return;
    reportLibraryProblems({}, failure ? failure : mirrorProblem, std::exchange(self->lostAtStart, {}));
}

bool BridgeViewModel::reportLibraryProblems(std::optional<std::string> copyProblem,
                                            std::optional<std::string> mirrorProblem,
                                            const std::vector<BridgeSampleCache::LostFile>& lostFiles) {
    const std::string setAside = setAsideText();
    std::string status;
    std::string alert;
    auto add = [&](const std::string& statusText, const std::string& text) {
        if (status.empty())
            status = statusText;
        alert += (alert.empty() ? "" : "\n\n") + text;
    };
    for (const auto& file : lostFiles)
        if (file.missing) {
            const auto [statusText, text] = lostFileText(file);
            add(statusText, text);
        }
    if (!setAside.empty())
        add("Damaged library file set aside", setAside);
    if (copyProblem)
        add("Sample folder changed, some files not copied", *copyProblem);
    if (mirrorProblem)
        add("Plug-in library incomplete", *mirrorProblem);
    if (alert.empty())
        return false;
    reportFailure(status, alert);
    return true;
}

void BridgeViewModel::reportFailure(const std::string& status, const std::string& alert) {
    setStatusMessage(status);
    setErrorMessage(alert);
}

bool BridgeViewModel::isRenderingEdit(const vt::Uuid& id) const {
    return std::find(renderingEditSampleIDs.begin(), renderingEditSampleIDs.end(), id) !=
           renderingEditSampleIDs.end();
}

bool BridgeViewModel::isSampleBusy(const vt::Uuid& id) const {
    return choppingSampleIDs_.count(id) > 0 || isRenderingEdit(id);
}
