#pragma once
// The plug-in's read-only, polled view of the desktop program's sample library: it finds the
// library folder among fixed candidates, reads "library.json" and "bridge-metadata.json", merges
// them into the plug-in's sample records and publishes them with a status line. Lives on the
// window's main thread; never writes a file.

#include "VellumtideAU/LibraryReader/LibraryEnvironment.h"
#include "VellumtideAU/LibraryReader/RefreshTimer.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"

#include <QObject>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

    // Builds the candidates to set the first root, then refreshes once. Without a timer the
    // live refresh uses a QTimer on the current thread.
    explicit VellumtidePluginLibrary(LibraryEnvironment environment = LibraryEnvironment::fromProcess(),
                                     std::unique_ptr<RefreshTimer> timer = nullptr,
                                     QObject* parent = nullptr);
    ~VellumtidePluginLibrary() override;

    const std::vector<VellumtidePluginSample>& samples() const { return publishedSamples; }
    const std::string& status() const { return publishedStatus; }
    const std::string& detail() const { return publishedDetail; }
    const Path& rootURL() const { return root; }

    // Re-chooses the folder, re-reads both files and publishes the result. Never fails.
    void refresh();
    // Re-chooses the folder and refreshes only when it or either file changed (size, modification
    // time, inode); otherwise reads and publishes nothing.
    void refreshIfChanged();
    // How many times the library files were read, for checks.
    std::size_t readCount() const { return reads; }
    // Refreshes now and then once a second, each time only when the files changed, until
    // stopLiveRefresh().
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
    // What a folder and its two files looked like when they were last read.
    struct FileIdentity {
        bool exists = false;
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    struct LibraryIdentity {
        Path root;
        FileIdentity manifest, metadata;
        bool operator==(const LibraryIdentity&) const = default;
    };
    static FileIdentity fileIdentity(const Path& file);
    void chooseRoot();
    LibraryIdentity currentIdentity() const;
    void read();
    void setSamples(std::vector<VellumtidePluginSample> samples);
    void setStatus(std::string status);
    void setDetail(std::string detail);

    LibraryEnvironment environment;
    std::unique_ptr<RefreshTimer> timer;
    Path root;
    std::optional<LibraryIdentity> readIdentity; // of the last read
    std::size_t reads = 0;
    std::vector<VellumtidePluginSample> publishedSamples;
    std::string publishedStatus = "Looking for Bridge library";
    std::string publishedDetail;
};
