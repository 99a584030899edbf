#pragma once
// The plug-in's read-only, polled view of the desktop program's sample library: it finds the
// library folder among fixed candidates, reads "library.json" and "bridge-metadata.json", merges
// them into the plug-in's sample records and publishes them with a status line. Lives on the
// window's main thread, which it never holds up with a read: the live refresh reads on a thread
// of its own and publishes the result through the main thread's event queue. Never writes a file.

#include "VellumtideAU/LibraryReader/LibraryEnvironment.h"
#include "VellumtideAU/LibraryReader/RefreshTimer.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <QObject>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class LibraryScanner;
class LibraryReaderThread;
struct LibrarySnapshot;

class VellumtidePluginLibrary final : public QObject {
    Q_OBJECT

public:
    using Path = std::filesystem::path;

    // The mirror of the library that the desktop program keeps for the plug-in, below a home folder.
    static constexpr std::string_view mirrorRelativePath =
        ".local/share/com.kestrelworks.vellumtide.bridge.au/Data/Music/Vellumtide";
    static constexpr std::string_view manifestFileName = "library.json";
    static constexpr std::string_view metadataFileName = "bridge-metadata.json";
    static constexpr std::chrono::milliseconds refreshInterval{1000};

    // One candidate library folder; the label says what kind of place it is and is never shown.
    struct LibraryCandidate {
        std::string label;
        Path url;
    };

    // How the constructor's first read runs: at once, or in the background like the live refresh.
    enum class FirstRead { now, inBackground };
    using SampleList = std::shared_ptr<const std::vector<VellumtidePluginSample>>;

    // Builds the candidates to set the first root, then refreshes once. Without a timer the
    // live refresh uses a QTimer on the current thread.
    explicit VellumtidePluginLibrary(LibraryEnvironment environment = LibraryEnvironment::fromProcess(),
                                     std::unique_ptr<RefreshTimer> timer = nullptr, QObject* parent = nullptr,
                                     FirstRead firstRead = FirstRead::now);
    // Stops a background read at its next sample and waits for its thread.
    ~VellumtidePluginLibrary() override;

    const std::vector<VellumtidePluginSample>& samples() const { return *publishedSamples; }
    // The same list, shared: it stays as it is while the holder keeps it, whatever is published later.
    const SampleList& sharedSamples() const { return publishedSamples; }
    // How many of the samples are favourites.
    std::size_t favoriteCount() const { return publishedFavorites; }
    const std::string& status() const { return publishedStatus; }
    const std::string& detail() const { return publishedDetail; }
    const Path& rootURL() const { return root; }

    // Re-chooses the folder, re-reads both files and publishes the result, on the calling thread
    // (after a background read that is under way). Never fails.
    void refresh();
    // Re-chooses the folder and re-checks the listed audio files, and refreshes only when the
    // folder, either file (size, modification time, inode) or any audio file's presence changed;
    // otherwise reads and publishes nothing. On the calling thread.
    void refreshIfChanged();
    // The same on the reader's thread; the result is published on this object's thread by its
    // event loop. Requests made while one runs are served by one more pass.
    void refreshInBackground();
    // True from a background request until what it found is published.
    bool isReading() const { return servedRequest < requestedPasses; }
    // How many times the library files were read, for checks.
    std::size_t readCount() const { return reads; }
    // Refreshes in the background now and then once a second, each time publishing only what
    // changed, until stopLiveRefresh().
    void startLiveRefresh();
    // Stops the polling; the loop's last pass refreshes once more.
    void stopLiveRefresh();
    bool isLiveRefreshing() const;

    // The candidate folders in the order they are tried, without duplicates; never empty: the
    // mirror under each candidate home, the default library under each, then the Music folder's.
    static std::vector<LibraryCandidate> libraryCandidates(const LibraryEnvironment& environment);
    // $HOME, the account's home, homesFolder/<user name>, then the real home of a confined $HOME;
    // each once.
    static std::vector<Path> candidateHomes(const LibraryEnvironment& environment);
    // homesFolder/<name> for a path inside homesFolder/<name>; nothing for other paths.
    static std::optional<Path> realUserHomeURL(const Path& path, const Path& homesFolder);
    // Appends the candidate (standardized) unless the list already holds the same folder.
    static void appendUnique(LibraryCandidate candidate, std::vector<LibraryCandidate>& list);
    // The path with a leading home folder shown as "~" (only at a path-component boundary).
    static std::string abbreviatedPath(const Path& path, const Path& home);

signals:
    // Emitted on every assignment of the published values, also when the value is unchanged.
    void samplesChanged();
    void statusChanged();
    void detailChanged();

private:
    void publish(LibrarySnapshot snapshot);
    void setSamples(SampleList samples);
    void setStatus(std::string status);
    void setDetail(std::string detail);

    LibraryEnvironment environment;
    std::unique_ptr<RefreshTimer> timer;
    Path root;
    std::size_t reads = 0;
    std::shared_ptr<LibraryScanner> scanner;        // shared with the reader's thread
    std::unique_ptr<LibraryReaderThread> thread;    // made on the first background request
    std::atomic<std::uint64_t> requestedPasses = 0; // read by the reader's thread
    std::uint64_t servedRequest = 0;
    std::uint64_t publishedSequence = 0;
    SampleList publishedSamples = std::make_shared<const std::vector<VellumtidePluginSample>>();
    std::size_t publishedFavorites = 0;
    std::string publishedStatus = "Looking for Bridge library";
    std::string publishedDetail;
};
