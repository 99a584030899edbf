#pragma once
// The library folder on disk ("library.json", "bridge-metadata.json", "Samples", "Edited",
// "Chops") and its mirror, which the plug-in reads. Every write the plug-in must see is made
// in the library folder first (failures thrown) and then in the mirror (failures ignored).

#include "Platform/Core/Dates.h"
#include "Platform/Core/Paths.h"
#include "Platform/Core/SettingsStore.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A failed library operation; what() is the text shown to the user.
class BridgeLibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A copy pass that went on past files it could not copy; what() names them with the system's
// reasons, failedFiles() lists their names, and bytesNeeded() is how much more room their copies
// take than what they would replace.
class BridgeIncompleteCopyError : public BridgeLibraryError {
public:
    BridgeIncompleteCopyError(const std::string& text, std::vector<std::string> names,
                              std::uint64_t bytes = 0)
        : BridgeLibraryError(text), names(std::move(names)), bytes(bytes) {}
    const std::vector<std::string>& failedFiles() const { return names; }
    std::uint64_t bytesNeeded() const { return bytes; }

private:
    std::vector<std::string> names;
    std::uint64_t bytes = 0;
};

class BridgeSampleCache final {
public:
    using Path = std::filesystem::path;

    // The mirror root below the home folder; the plug-in's reader carries the same text.
    static constexpr std::string_view mirrorRelativePath =
        ".local/share/com.kestrelworks.vellumtide.bridge.au/Data/Music/Vellumtide";
    static constexpr std::string_view sampleFolderDefaultsKey = "VellumtideBridge.sampleFolderPath";
    static constexpr std::string_view defaultFolderName = "Vellumtide";
    static constexpr std::string_view manifestFileName = "library.json";
    static constexpr std::string_view metadataFileName = "bridge-metadata.json";

    // The saved folder when the settings name one (not blank), else the default folder.
    static Path savedRootURL(const vt::Paths& paths, const vt::SettingsStore& settings);
    // The Music folder (created if needed; the home folder when that fails) + "Vellumtide".
    static Path defaultRootURL(const vt::Paths& paths);
    // Stores the folder, or removes the key when it is the default folder.
    static void saveRootURL(const Path& folder, const vt::Paths& paths, vt::SettingsStore& settings);
    // The path with a leading home folder written "~" (only at a path-component boundary).
    static std::string abbreviatedPath(const Path& path, const vt::Paths& paths);

    // On the saved (or default) folder.
    BridgeSampleCache(const vt::Paths& paths, const vt::SettingsStore& settings,
                      std::shared_ptr<const vt::WallClock> clock = nullptr);
    // On the given folder. Both constructors create the six folders, ignoring failures.
    BridgeSampleCache(const vt::Paths& paths, const Path& rootURL,
                      std::shared_ptr<const vt::WallClock> clock = nullptr);

    const Path& rootURL() const { return root; }
    Path samplesDirectory() const { return root / "Samples"; }
    Path editedDirectory() const { return root / "Edited"; }
    Path chopsDirectory() const { return root / "Chops"; }
    const Path& auMirrorRootURL() const { return mirrorRoot; }
    Path auMirrorSamplesDirectory() const { return mirrorRoot / "Samples"; }
    Path auMirrorEditedDirectory() const { return mirrorRoot / "Edited"; }
    Path auMirrorChopsDirectory() const { return mirrorRoot / "Chops"; }
    Path manifestURL() const { return root / manifestFileName; }
    Path metadataURL() const { return root / metadataFileName; }

    // Creates the three library folders and the three mirror folders; throws the first failure.
    void prepareDirectories() const;
    bool hasLibraryContent() const;
    // Copies the JSON files and the three folders into another library folder. A file that cannot
    // be copied does not stop the pass: BridgeIncompleteCopyError names them all at the end.
    void copyLibrary(const BridgeSampleCache& destination) const;
    // Removes the temporaries that an interrupted write left in the library folder, its three
    // sub-folders and the mirror; returns how many. In "Samples", whose names the phone gives,
    // the names earlier versions gave their temporaries are left alone.
    std::size_t removeLeftoverTemporaries() const;

    // True when some entry of the overlay may not have been read: the last load of
    // "bridge-metadata.json" could not read the file or left an entry out, or the library folder
    // keeps a damaged one set aside. (A rendered edit or chop is never removed for want of its
    // entry: the entry may be in a file that was lost and comes back.)
    bool overlayMayBeIncomplete() const;

    // A render waiting for its edit to be stored, hidden in "Edited" and named after the sample
    // and the edit as "bridge-metadata.json" stores it. The rendered edit ("<UUID>.wav") is left
    // alone until the overlay on disk holds that edit; only then is the waiting render put in its
    // place, so the rendered edit always is the one of the stored edit.
    Path pendingEditedSampleURL(const SampleItem& sample, const BridgeSampleEdit& edit) const;
    // Renames the waiting render onto the rendered edit. Throws BridgeLibraryError.
    void placePendingEdit(const SampleItem& sample, const BridgeSampleEdit& edit) const;
    // Before a reset is stored: hides the rendered edit as the waiting render of the edit still
    // stored, so a crash before the reset is stored puts it back and one after removes it. False
    // when there is no rendered edit.
    bool holdRenderedEdit(const SampleItem& sample, const BridgeSampleEdit& storedEdit) const;
    // What a crash left between storing an edit and putting its render in place: every waiting
    // render in "Edited" is put in place when the overlay holds an active edit equal to its own,
    // and removed otherwise. Nothing happens when "bridge-metadata.json" is missing or was
    // unreadable at the last load, and a render whose sample has no entry is left waiting while an
    // entry may not have been read. Returns how many were settled.
    std::size_t settlePendingEdits(const BridgeMetadataMap& metadata) const;

    // A chop render waiting for its chop to be stored, hidden in "Chops" and named after the
    // sample, the chop and its times as "bridge-metadata.json" stores them. The sample's chop files
    // stay those of its stored chops until the overlay on disk holds the new list.
    Path pendingChopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const;
    // Once the overlay holds chops for the sample in place of replaced: the files of the replaced
    // chops that are not among them go (library and mirror), then each chop's waiting render is
    // put in its place. A chop file no entry named is never removed: its entry may be in a file
    // that was lost and is put back. Throws BridgeLibraryError.
    void placePendingChops(const SampleItem& sample, const std::vector<BridgeSampleChop>& chops,
                           const std::vector<BridgeSampleChop>& replaced) const;
    // What a crash left between storing a sample's chops and putting their renders in place: every
    // waiting chop render in "Chops" is put in place when its sample's stored chops hold the same
    // chop with the same times, and removed otherwise; a file of a chop the stored ones replaced
    // may stay, named by no entry, as any such file does. As for edits, nothing happens when
    // "bridge-metadata.json" is missing or was unreadable, and a render whose sample has no entry
    // waits while an entry may not have been read. Returns how many were settled.
    std::size_t settlePendingChops(const BridgeMetadataMap& metadata) const;

    // Takes the text of a file being written, a piece at a time.
    using Emit = std::function<void(std::string_view)>;

    // Loads never fail: a missing or unreadable file reads as empty, and a record or entry that
    // does not decode is left out. A file that exists but did not decode whole is moved aside
    // before it is first written over.
    struct SetAsideFile {
        std::string fileName; // "library.json" or "bridge-metadata.json"
        Path keptAs;
        // What was left out of it: empty when nothing of the file could be read; else, for the
        // sample list, the names of its records (a quoted title or "record <n>"), for the
        // metadata, the keys of its entries.
        std::vector<std::string> unreadableEntries;
        // Nothing of it could be read, and the plug-in's copy of it was taken back in its place.
        bool takenBack = false;
    };
    // The damaged files moved aside since the last call, in the order they were moved.
    std::vector<SetAsideFile> takeSetAsideFiles() const;
    // Whether the last load of each file read an existing file whole: the state in memory is then
    // what the file holds, and writing it again would change nothing a reader uses.
    bool manifestLoadedWhole() const { return manifestLoaded; }
    bool metadataLoadedWhole() const { return metadataLoaded; }
    // A library file that start-up found missing or could not read at all, and what became of it.
    struct LostFile {
        std::string fileName;   // "library.json" or "bridge-metadata.json"
        bool missing = true;    // else it could not be read at all (and was set aside when taken back)
        bool takenBack = false; // the plug-in's copy read and took its place: load it again
    };
    // After the start's loads of both files: each that is missing or could not be read at all is
    // taken back from the plug-in's copy when that copy reads (a damaged one is set aside first,
    // as takeSetAsideFiles() tells). Returns the files taken back and the missing ones of a
    // library in use (one that has the other file, a file in "Samples", "Edited" or "Chops", or a
    // copy of the file in the mirror); a new library's files are no loss. The mirror is only read.
    std::vector<LostFile> takeBackLostFiles() const;
    std::vector<SampleItem> loadManifest() const;
    void saveManifest(const std::vector<SampleItem>& samples) const;
    BridgeMetadataMap loadLocalMetadata() const;
    void saveLocalMetadata(const BridgeMetadataMap& metadata) const;

    // "Samples"/fileName; nothing when the phone's file name is not one safe path component
    // (such a sample stays listed but never has a local file).
    std::optional<Path> sampleURL(const SampleItem& sample) const;
    Path editedSampleURL(const SampleItem& sample) const;
    Path mirroredEditedSampleURL(const SampleItem& sample) const;
    Path chopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const;
    Path mirroredChopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const;
    // The name of a chop's render in "Chops": "<sample UUID>-chop-<chop UUID>.wav".
    static std::string chopFileName(const SampleItem& sample, const BridgeSampleChop& chop);

    bool hasEditedSample(const SampleItem& sample) const;
    // True unless the local file's size equals the sample's byte count. False for a sample
    // whose file name is unsafe: it can never be stored, so there is nothing to download.
    bool needsDownload(const SampleItem& sample) const;
    // Throws BridgeLibraryError for an unsafe file name.
    void saveSampleData(std::string_view bytes, const SampleItem& sample) const;
    // Where the sample's file is stored ("Samples"/fileName), its folder and the mirror's made.
    // Throws BridgeLibraryError for an unsafe file name or a folder that cannot be made.
    Path prepareSampleFile(const SampleItem& sample) const;
    // The free bytes of the file system holding folder, for this user; nothing when unknown.
    static std::optional<std::uint64_t> availableSpace(const Path& folder);
    // A failed save of target, named with the system's reason.
    static BridgeLibraryError saveFailure(const Path& target, const std::error_code& reason);

    // Removals ignore every failure and touch regular files only.
    void removeEditedSample(const SampleItem& sample) const;
    void removeChops(const SampleItem& sample) const;
    // The sample's chop files but those of keep, in the library and the mirror.
    void removeChops(const SampleItem& sample, const std::vector<BridgeSampleChop>& keep) const;
    void removeSampleFiles(const SampleItem& sample) const;
    // Finishes the deletions a crash interrupted after storing them: removes the raw file (found
    // through samples), the rendered edit and the chop files of every sample that metadata marks
    // deleted, in the library folder and the mirror. A raw file that a sample not deleted names
    // too stays. Returns how many files were removed.
    std::size_t removeFilesOfDeletedSamples(const std::vector<SampleItem>& samples,
                                            const BridgeMetadataMap& metadata) const;

    // Copies the rendered edit into the mirror; failures are ignored.
    void mirrorEditedSample(const SampleItem& sample) const;
    // Saves both JSON files, then mirrorFiles().
    void mirrorLibrary(const std::vector<SampleItem>& samples, const BridgeMetadataMap& metadata) const;
    // Brings the mirror in line with the library folder: copies the JSON files and every listed
    // file whose copy is missing or differs in size or modification time, and removes the mirror's
    // files whose file the library folder no longer has (never one for want of an entry). Safe to call off
    // the main thread (one pass at a time). A file that cannot be copied does not stop the pass:
    // BridgeIncompleteCopyError names them all at the end.
    void mirrorFiles(const std::vector<SampleItem>& samples, const BridgeMetadataMap& metadata) const;

private:
    void createFolders() const;
    void writeLibraryFile(const Path& target, const Path& mirrorTarget,
                          const std::function<void(const Emit&)>& produce, std::atomic<bool>& unreadableFlag,
                          std::vector<std::string>& leftOut) const;
    void setAsideUnreadable(const Path& file, std::vector<std::string> leftOut) const;
    // Renames the file to "<stem>.unreadable-<UTC time><extension>" beside it and returns that name.
    Path moveAside(const Path& file) const;
    // The lost file taken back from the mirror, or nothing when it was not lost or not taken back.
    std::optional<LostFile> takeBackIfLost(std::string_view fileName, bool inUse) const;
    // The last load of the file found it missing or could read nothing of it.
    bool readNothingOf(std::string_view fileName) const;
    // Notes what a load of a file read: whole, in part (leftOut names what not), or nothing.
    void noteLoad(std::atomic<bool>& loadedWhole, std::atomic<bool>& unreadable,
                  std::vector<std::string>& leftOutNow, std::vector<std::string> leftOut, bool read) const;

    Path root;
    Path mirrorRoot;
    std::shared_ptr<const vt::WallClock> clock;
    // Set by a load that found an existing file it could not decode whole; cleared once it is set
    // aside. What such a load left out is kept (under setAsideLock) to be named then.
    mutable std::atomic<bool> manifestUnreadable = false;
    mutable std::atomic<bool> metadataUnreadable = false;
    mutable std::vector<std::string> manifestLeftOut;
    mutable std::vector<std::string> metadataLeftOut;
    mutable std::atomic<bool> manifestLoaded = false;
    mutable std::atomic<bool> metadataLoaded = false;
    // Set aside by saves that may run on the library writer's thread; taken on the main thread.
    mutable std::mutex setAsideLock;
    mutable std::vector<SetAsideFile> setAside;
};
