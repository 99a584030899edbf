#pragma once
// The desktop program's one state object and composition root. It lives on the main thread,
// owns the library folder, the phone link and the preview player, and publishes every value the
// window shows. Every write of a published field emits changed(field), also when the value is
// equal, so views and tests can follow each change in order. Everything outside the program is
// injected through Dependencies, so the controller runs headless.
//
// The class is one; its operations live in BridgeViewModel*.cpp by concern.

#include "Platform/Async/CancellationToken.h"
#include "Platform/Async/Completion.h"
#include "Platform/Async/Scheduler.h"
#include "Platform/Audio/Player/AudioPlayer.h"
#include "Platform/Core/Dates.h"
#include "Platform/Core/Paths.h"
#include "Platform/Core/SettingsStore.h"
#include "Platform/Core/Uuid.h"
#include "Platform/Desktop/DesktopServices.h"
#include "Platform/Desktop/DragStaging.h"
#include "Platform/Net/DnsSdBrowser.h"
#include "Platform/Net/NetworkInterfaces.h"
#include "VellumtideBridge/Sources/Controller/BridgeLibraryWriter.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"
#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"
#include "VellumtideBridge/Sources/PhoneLink/BridgePairing.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideLANScanner.h"

#include <QObject>
#include <QUrl>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <set>
#include <string>
#include <vector>

// The audio work the controller awaits: render an edit to a WAV file, find chops, analyse.
// Each runs off the main thread and returns its result by value; failures are thrown with a
// user-facing what().
struct BridgeAudioServices {
    std::function<QCoro::Task<void>(std::filesystem::path input, std::filesystem::path output,
                                    BridgeSampleEdit edit)>
        render;
    std::function<QCoro::Task<std::vector<BridgeSampleChop>>(std::filesystem::path input, double sensitivity)>
        detectChops;
    std::function<QCoro::Task<BridgeSampleAnalysis>(std::filesystem::path input)> analyze;

    // The program's own renderer, chop detector and analyser.
    static BridgeAudioServices standard();
};

// Declares a published field: name() reads it, setName() writes it and notifies, modifyName(f)
// changes it in place and notifies.
#define VT_PUBLISHED(Type, name, Name)                                                                       \
public:                                                                                                      \
    const Type& name() const {                                                                               \
        return name##_;                                                                                      \
    }                                                                                                        \
    void set##Name(Type value) {                                                                             \
        name##_ = std::move(value);                                                                          \
        publish(Field::name);                                                                                \
    }                                                                                                        \
    template <typename F> void modify##Name(F&& change) {                                                    \
        change(name##_);                                                                                     \
        publish(Field::name);                                                                                \
    }                                                                                                        \
                                                                                                             \
private:                                                                                                     \
    Type name##_

class BridgeViewModel final : public QObject {
    Q_OBJECT

public:
    // The published fields, in declaration order.
    enum class Field {
        devices,
        samples,
        isBrowsing,
        isSyncing,
        isScanningLAN,
        playingSampleID,
        playingChopID,
        previewCurrentTime,
        previewDuration,
        previewProgress,
        watchMessage,
        renderingEditSampleID,
        analyzingSampleIDs,
        choppingSampleIDs,
        pairingRequest,
        statusMessage,
        discoveryMessage,
        sampleFolderPath,
        isWatchModeEnabled,
        selectedDeviceID,
        manualAddress,
        errorMessage,
        editingSample,
        showFavoritesOnly,
        previewLevel,
        isPreviewLooping,
    };
    Q_ENUM(Field)

    // Who started a sync: the user (status texts, alerts) or the background (watch texts).
    enum class SyncMode { manual, automatic };

    static constexpr const char* previewLevelKey = "VellumtideBridge.previewLevel";
    static constexpr const char* previewLoopingKey = "VellumtideBridge.previewLooping";
    static constexpr double defaultPreviewLevel = 0.82;

    // Everything the controller uses from outside the program.
    struct Dependencies {
        vt::Paths paths;
        std::shared_ptr<vt::SettingsStore> settings;
        std::shared_ptr<vt::Scheduler> scheduler; // timers, sleeps and the monotonic clock
        std::shared_ptr<const vt::WallClock> wallClock;
        std::shared_ptr<vt::net::DnsSdBrowserFactory> browserFactory;
        std::shared_ptr<vt::net::ServiceAddressBook> addressBook; // shared by browser and client
        std::shared_ptr<const vt::net::InterfaceSource> interfaces;
        std::shared_ptr<vt::AudioPlayerFactory> audioPlayers;
        std::shared_ptr<vt::FolderChooser> folderChooser;
        std::shared_ptr<vt::AlertPresenter> alerts;
        std::shared_ptr<vt::UrlOpener> urlOpener; // also reveals folders in the file manager
        std::shared_ptr<vt::Clipboard> clipboard;
        std::shared_ptr<vt::WindowActivator> windowActivator;
        BridgeAudioServices audio;
        // Free bytes of the file system holding a folder (nothing when unknown); empty: the
        // file system's own figure.
        std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeSpace;
    };

    explicit BridgeViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~BridgeViewModel() override;
    BridgeViewModel(const BridgeViewModel&) = delete;
    BridgeViewModel& operator=(const BridgeViewModel&) = delete;

signals:
    // Emitted after every write of a published field, also of an equal value.
    void changed(BridgeViewModel::Field field);

    // ---- Published state (declaration order; see Field) ----
    VT_PUBLISHED(std::vector<VellumtideDevice>, devices, Devices){};
    VT_PUBLISHED(std::vector<SampleItem>, samples, Samples){};
    VT_PUBLISHED(bool, isBrowsing, IsBrowsing){false};
    VT_PUBLISHED(bool, isSyncing, IsSyncing){false};
    VT_PUBLISHED(bool, isScanningLAN, IsScanningLAN){false};
    VT_PUBLISHED(std::optional<vt::Uuid>, playingSampleID, PlayingSampleID){};
    VT_PUBLISHED(std::optional<vt::Uuid>, playingChopID, PlayingChopID){};
    VT_PUBLISHED(double, previewCurrentTime, PreviewCurrentTime){0};
    VT_PUBLISHED(double, previewDuration, PreviewDuration){0};
    VT_PUBLISHED(double, previewProgress, PreviewProgress){0};
    VT_PUBLISHED(std::string, watchMessage, WatchMessage){"Live sync starting"};

public:
    // The sample whose edit is being rendered: the latest application still running. Read from
    // the one record of running applications; published whenever that record changes.
    std::optional<vt::Uuid> renderingEditSampleID() const {
        return renderingEditSampleIDs.empty() ? std::nullopt
                                              : std::optional<vt::Uuid>(renderingEditSampleIDs.back());
    }

private:
    // Samples whose edit is being applied, in the order the applications started.
    std::vector<vt::Uuid> renderingEditSampleIDs;

    VT_PUBLISHED(std::set<vt::Uuid>, analyzingSampleIDs, AnalyzingSampleIDs){};
    VT_PUBLISHED(std::set<vt::Uuid>, choppingSampleIDs, ChoppingSampleIDs){};
    VT_PUBLISHED(std::optional<BridgePairingRequest>, pairingRequest, PairingRequest){};
    VT_PUBLISHED(std::string, statusMessage, StatusMessage){"Searching for Vellumtide"};
    VT_PUBLISHED(std::string, discoveryMessage, DiscoveryMessage){"Browser not started"};
    VT_PUBLISHED(std::string, sampleFolderPath, SampleFolderPath){};
    VT_PUBLISHED(bool, isWatchModeEnabled, IsWatchModeEnabled){true};
    VT_PUBLISHED(std::optional<std::string>, selectedDeviceID, SelectedDeviceID){};
    VT_PUBLISHED(std::string, manualAddress, ManualAddress){};
    VT_PUBLISHED(std::optional<std::string>, errorMessage, ErrorMessage){};
    VT_PUBLISHED(std::optional<SampleItem>, editingSample, EditingSample){};
    VT_PUBLISHED(bool, showFavoritesOnly, ShowFavoritesOnly){false};
    VT_PUBLISHED(double, previewLevel, PreviewLevel){defaultPreviewLevel};
    VT_PUBLISHED(bool, isPreviewLooping, IsPreviewLooping){false};

public:
    // ---- Derived values ----
    std::filesystem::path cacheURL() const { return cache->rootURL(); }
    bool isUsingDefaultSampleFolder() const;
    int favoriteCount() const;
    std::vector<SampleItem> visibleSamples() const;
    std::optional<VellumtideDevice> selectedDevice() const;
    std::string watchIdleStatus() const;
    std::string displayTitle(const SampleItem& sample) const;

    // ---- Display list ----
    std::vector<SampleItem> displaySamples(const std::vector<SampleItem>& library) const;
    void stopPreviewIfHidden();

    // ---- Analysis ----
    QCoro::Task<> analyzeSamplesIfNeeded(std::vector<SampleItem> samples, std::set<vt::Uuid> forceIDs,
                                         bool quiet);
    // The text that says which file and edit an analysis was made from.
    static std::string analysisFingerprint(const SampleItem& sample, const BridgeSampleEdit& sanitizedEdit);

    // ---- Library operations ----
    void updateSampleMetadata(const BridgeSampleMetadata& entry, const vt::Uuid& id);
    // Puts the entry in memory at once; the file is written off the main thread and the display
    // list rebuilt once it is. False when the file could not be written (the texts say why): the
    // change is then taken back, so no later save stores it.
    QCoro::Task<bool> saveMetadata(BridgeSampleMetadata entry, vt::Uuid id);
    // Writes the current state (or the given sample list) off the main thread; ends when it is
    // on disk, with the failure text of the parts asked for (none when they succeeded). Given
    // mirrorProblem, a mirror pass that copied all but some files is no failure: the text naming
    // those files goes there (it stays empty otherwise). followUp changes files once the overlay
    // is stored, in the same pass.
    QCoro::Task<std::optional<std::string>>
    writeLibrary(BridgeLibraryWriter::Parts parts,
                 std::shared_ptr<const std::vector<SampleItem>> samples = nullptr,
                 BridgeLibraryWriter::FollowUp followUp = nullptr,
                 std::optional<std::string>* mirrorProblem = nullptr);
    // Both files, then the mirror pass, off the main thread (mirrorProblem as for writeLibrary).
    QCoro::Task<std::optional<std::string>>
    mirrorLibrary(std::optional<std::string>* mirrorProblem = nullptr);
    void renameSample(const SampleItem& sample, const std::string& title);
    void toggleFavorite(const SampleItem& sample);
    void toggleFavoriteFilter();
    void deleteSample(const SampleItem& sample);
    void editSample(const SampleItem& sample);

    // ---- Preview player ----
    std::filesystem::path sampleURL(const SampleItem& sample) const;
    std::filesystem::path rawSampleURL(const SampleItem& sample) const;
    std::filesystem::path chopURL(const SampleItem& sample, const BridgeSampleChop& chop) const;
    void togglePreview(const SampleItem& sample);
    void toggleChopPreview(const SampleItem& sample, const BridgeSampleChop& chop);
    void stopPreview() { stopPreview(true); }
    void stopPreview(bool resetStatus);
    void togglePreviewLooping();

    // ---- Library folder ----
    // The two JSON files of a library folder as read (off the main thread at a folder change).
    struct LoadedLibrary {
        std::vector<SampleItem> samples;
        BridgeMetadataMap metadata;
    };
    void openCacheFolder();
    QCoro::Task<> chooseSampleFolder();
    QCoro::Task<> resetSampleFolderToDefault();

    // ---- Automatic chopping and edit application ----
    QCoro::Task<> autoChop(SampleItem sample, double sensitivity);
    QCoro::Task<bool> applyEdit(BridgeSampleEdit edit, SampleItem sample);

    // ---- URL-scheme entry ----
    void handleOpenURL(const QString& url);
    // The sample a "vellumtide" URL names, read from the raw text (scheme and host compared
    // exactly, as typed).
    static std::optional<vt::Uuid> editSampleID(const QString& url);

    // ---- Phone link operations ----
    // Defined in BridgeViewModelPhone*.cpp (discovery, LAN scan, pairing, sync, watch, chops).

    // Discovery: the DNS-SD browse, the device list and the LAN fallback loop.
    void startBrowsing();
    void restartBrowsing();
    void applyBrowseResults(const std::vector<VellumtideBrowseResult>& results);
    // Adds the devices whose id is not listed yet, sorts, selects the first when none is.
    void merge(const std::vector<VellumtideDevice>& found);
    QCoro::Task<> scanLANIfNeeded();
    QCoro::Task<> scanLAN();

    // Pairing and the typed-address field.
    void promptPairing(const VellumtideDevice& device, const std::string& deviceID,
                       const std::string& deviceName, SyncMode mode);
    void requestPairingCode(const BridgePairingRequest& request);
    QCoro::Task<> pair(BridgePairingRequest request, QString code);
    void cancelPairing();
    bool isPaired(const VellumtideDevice& device) const;
    void forgetPairing(const VellumtideDevice& device);
    void pasteManualAddress();

    // Library sync.
    QCoro::Task<> sync(VellumtideDevice device, SyncMode mode);
    QCoro::Task<> syncManualAddress();
    QCoro::Task<> syncSelectedDevice();

    // Watch loop and automatic sync.
    void startWatchMode();
    void stopWatchMode();
    QCoro::Task<> runWatchTick();
    void requestAutoSync();
    QCoro::Task<> syncSelectedDeviceIfDue();

    // Takes over the chops the phone made, unless the desktop program owns the sample's chops.
    QCoro::Task<> syncPhoneChops(std::vector<SampleItem> phoneSamples);

    // What the controller was made with (the views reach the program's services through it).
    const Dependencies& dependencies() const { return deps; }

private:
    // The tests' window into the plain state below (Tests/VellumtideBridge/Controller).
    friend class BridgeViewModelProbe;

    // Bumped by every new browser; reports of an older (cancelled or replaced) one are dropped.
    std::uint64_t browserGeneration = 0;

    // ---- Steps of the phone link operations ----
    void applyBrowserState(const vt::net::DnsSdBrowserStateUpdate& update);
    void startLANFallbackLoop();
    // Ascending by name, locale-aware and case-insensitive; stable.
    static void sortInDeviceOrder(std::vector<VellumtideDevice>& devices);
    // The phone's pairing id, its name and the token header of the requests that follow.
    struct AuthorizedDevice {
        std::string deviceID;
        std::string deviceName;
        VellumtideHTTPClient::Headers headers;
    };
    QCoro::Task<AuthorizedDevice> authorize(VellumtideDevice device, SyncMode mode);
    // The steps of sync() after it marked itself busy.
    QCoro::Task<> syncSteps(VellumtideDevice device, SyncMode mode);
    // The samples of a fetched list whose chops the import may change, in the list's order: those
    // the phone offers chops for (chopsOffered: their places in list) and those holding the
    // phone's chops, which it may have withdrawn. The import has nothing to do for the others.
    QCoro::Task<std::vector<SampleItem>> phoneChopCandidates(const std::vector<SampleItem>& list,
                                                             const std::vector<std::size_t>& chopsOffered);
    void applySyncSuccess(std::size_t downloaded, const VellumtideDevice& device, SyncMode mode);
    void applySyncFailure(std::exception_ptr error, const VellumtideDevice& device, SyncMode mode);
    // Background texts are written only when they change.
    void setWatchMessageIfChanged(const std::string& text);
    // Names the samples a sync could not store (texts: one per sample, starting with its quoted
    // title) and what the plug-in's copy lacks (mirrorProblem): the status line and an alert for
    // a manual sync, the watch text in the background. missingSpace: how much more free space
    // the samples that did not fit need.
    void reportSyncShortfall(const std::vector<std::string>& texts, SyncMode mode,
                             std::optional<std::uint64_t> missingSpace,
                             const std::optional<std::string>& mirrorProblem);
    // How much space is missing for pending[index] onwards, when pending[index] and the JSON
    // files (jsonRoom) do not fit in the free space of the samples folder; nothing otherwise.
    std::optional<std::uint64_t> spaceShortfall(const std::vector<const SampleItem*>& pending,
                                                std::size_t index, std::uint64_t jsonRoom) const;

    // The free bytes of the file system holding folder (deps.freeSpace when given); nothing when
    // unknown.
    std::optional<std::uint64_t> freeSpaceOf(const std::filesystem::path& folder) const;

    // ---- Plain state, shared by the operations of every concern ----
    Dependencies deps;
    // Shared with the writes still under way into it.
    std::shared_ptr<BridgeSampleCache> cache;
    VellumtideHTTPClient client;
    VellumtideLANScanner lanScanner;
    BridgePairingStore pairingStore;
    std::uint64_t watchIntervalNanoseconds = 1'500'000'000;
    std::uint64_t autoSyncDebounceNanoseconds = 350'000'000;
    double minimumAutoSyncInterval = 1.25;
    std::unique_ptr<vt::net::DnsSdBrowser> browser;
    std::unique_ptr<vt::AudioPlayer> previewPlayer;
    std::optional<vt::Scheduler::TimerId> previewTimer;
    // The three replaceable tasks: each is stopped by cancelling its token and replaced by a new
    // token for the new task.
    std::optional<vt::CancellationToken> watchTask;
    std::optional<vt::CancellationToken> lanScanTask;
    std::optional<vt::CancellationToken> autoSyncTask;
    bool isWatchSyncing = false;
    // Monotonic time (deps.scheduler's clock) of the last automatic sync of each phone.
    std::map<std::string, vt::Nanoseconds> lastAutoSyncAtByDeviceID;
    std::set<std::string> dismissedPairingIDs;
    std::vector<SampleItem> librarySamples;
    BridgeMetadataMap sampleMetadata;
    // The overlay as "bridge-metadata.json" holds it: as loaded, then as last stored.
    std::shared_ptr<const BridgeMetadataMap> storedMetadata;
    // The library files start-up found lost, told with the start-up mirror pass's outcome.
    std::vector<BridgeSampleCache::LostFile> lostAtStart;
    std::string bridgeChopSource{BridgeSampleMetadata::chopSourceBridge};
    std::string phoneChopSource{BridgeSampleMetadata::chopSourcePhone};
    // Bumped by every switch of the library folder; work started on another folder is dropped.
    std::uint64_t libraryGeneration = 0;
    // Bumped by every stopPreview(); a player callback of an older preview is ignored.
    std::uint64_t previewGeneration = 0;
    // Set while a folder change runs (it awaits copies, reads and the mirror pass).
    bool isChangingSampleFolder = false;
    // The library's samples and chops as last seen, and in which library folder: what leaves it
    // takes its staged drag files along.
    struct SeenDragSources {
        std::uint64_t libraryGeneration = 0;
        vt::DragSourcesInLibrary sources;
    };
    std::optional<SeenDragSources> seenDragSources;
    // The samples whose phone chops an import renders or stores, each with what ends when it has
    // ended for that sample.
    std::map<vt::Uuid, vt::Completion<bool>> phoneChopImports;
    // The last mirror pass left the plug-in's copy short of the library: a sync tries it again.
    bool isMirrorIncomplete = false;
    // librarySamples as a list to share with work off the main thread (the library writer, the
    // sync's look at a fetched list): set whenever librarySamples is.
    std::shared_ptr<const std::vector<SampleItem>> librarySnapshot;
    // The library files and the mirror, written off the main thread; declared last so that it is
    // destroyed first, finishing every queued write.
    BridgeLibraryWriter libraryWriter;

    void publish(Field field);
    // The library's samples and chops, deleted ones left out: what staged drag files may stay for.
    vt::DragSourcesInLibrary dragSourcesInLibrary() const;
    // Removes the staged drag files of the samples and chops that left this library folder since
    // they were last seen in it.
    void pruneStagedDragFiles();
    void previewLevelDidSet();
    void isPreviewLoopingDidSet();
    void isWatchModeEnabledDidSet();

    void playPreview(const SampleItem& sample);
    void playChopPreview(const SampleItem& sample, const BridgeSampleChop& chop);
    struct PreviewTarget;
    void startPlayer(const std::filesystem::path& file, const PreviewTarget& target);
    void startPreviewTimer();
    void schedulePreviewTick();
    void cancelPreviewTimer();
    void updatePreviewProgress();
    void audioPlayerDidFinishPlaying(std::uint64_t generation);
    void audioPlayerDecodeErrorDidOccur(std::uint64_t generation, const std::string& description);

    QCoro::Task<> applySampleFolder(std::filesystem::path url);
    std::optional<std::string> sampleFolderBusyText() const;
    bool refuseWhileBusy();
    QCoro::Task<> switchToLibrary(std::shared_ptr<BridgeSampleCache> newCache, bool copied,
                                  std::optional<std::string> copyProblem);
    // Tells, in the status line and one alert, which library files start-up did not find (and
    // which it took back from the plug-in's copy), which damaged ones were set aside (and under
    // which names), which files a copy into a new folder left out, and which the mirror lacks.
    // False when there was nothing to tell.
    bool reportLibraryProblems(std::optional<std::string> copyProblem,
                               std::optional<std::string> mirrorProblem,
                               const std::vector<BridgeSampleCache::LostFile>& lostFiles = {});
    std::string setAsideText() const;
    static std::pair<std::string, std::string> lostFileText(const BridgeSampleCache::LostFile& file);
    // Reads both library files, taking back from the plug-in's copy one that is lost.
    void loadLibraryAtStart();
    std::vector<std::string> namesOfEntries(const std::vector<std::string>& keys) const;
    // Start-up's mirror pass, then what it and the start-up reads found wrong.
    QCoro::Task<> reportStartupMirror();
    // Writes the overlay off the main thread, then rebuilds the display list; false (with the
    // failure texts shown) when the file could not be written.
    QCoro::Task<bool> saveOverlayAndRefresh(BridgeLibraryWriter::FollowUp followUp = nullptr);
    // The library writer's word on an overlay write: a stored overlay is what the file holds now;
    // a failed one has its changes taken back (revertUnsavedChanges).
    void overlayWriteEnded(const std::shared_ptr<const BridgeSampleCache>& folder,
                           const std::shared_ptr<const BridgeMetadataMap>& overlay, bool stored);
    // Each change the failed overlay carried, field by field, goes back to what the file holds,
    // unless a newer change replaced it meanwhile. Analyses stay: they describe the files.
    void revertUnsavedChanges(const BridgeMetadataMap& attempted);
    // Analysis results go into the overlay at once; the ones that arrive within this window
    // share one save and one display-list rebuild, and a run ends with one.
    static constexpr vt::Nanoseconds analysisSaveWindow{250'000'000};
    std::optional<vt::Scheduler::TimerId> analysisSaveTimer;
    bool analysisSavePending = false;
    void scheduleAnalysisSave();
    QCoro::Task<bool> saveAnalysisResults();
    // Hands results not saved yet to the writer without waiting (at quit, before a folder switch).
    void queuePendingAnalysisSave();
    // Removes the sample's chop files but those of keep, in the library and the mirror.
    QCoro::Task<> removeChopFiles(SampleItem sample, std::vector<BridgeSampleChop> keep);
    // Marks a sample an import of the phone's chops works on (noted in working, once).
    void startPhoneChopImport(const vt::Uuid& id, std::vector<vt::Uuid>& working);
    // The import has ended for these samples: the user's chopping waiting for one goes on.
    void endPhoneChopImports(const std::vector<vt::Uuid>& ids);
    QCoro::Task<> finishRename(BridgeSampleMetadata entry, vt::Uuid id, std::string title);
    QCoro::Task<> finishDelete(SampleItem owner, std::string shownTitle);
    // File work for a library pass: the samples' files go, in the library and the mirror, once
    // the overlay on disk marks them deleted (a deletion that could not be saved keeps them).
    BridgeLibraryWriter::FollowUp removalOfDeletedFiles(std::vector<SampleItem> samples) const;

    const SampleItem* librarySample(const vt::Uuid& id) const;
    BridgeSampleMetadata entryFor(const vt::Uuid& id) const;
    bool isTombstoned(const vt::Uuid& id) const;
    // A failed operation: the status line, then the alert text.
    void reportFailure(const std::string& status, const std::string& alert);
    void openEditor(const vt::Uuid& id);
    bool isSampleBusy(const vt::Uuid& id) const;
    bool isRenderingEdit(const vt::Uuid& id) const;
    void startEditRendering(const vt::Uuid& id);
    void finishEditRendering(const vt::Uuid& id);
};

#undef VT_PUBLISHED
