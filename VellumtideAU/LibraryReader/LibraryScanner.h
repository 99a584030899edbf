#pragma once
// One pass over the library folder, safe to run on any thread: it chooses the folder, tells
// whether anything changed since the last pass, and reads and merges the files when it did.
// And the reader's own thread, which runs passes on request. Internal to the library reader.

#include "VellumtideAU/LibraryReader/LibraryEnvironment.h"
#include "VellumtideAU/LibraryReader/LibraryFiles.h"
#include "VellumtideAU/LibraryReader/ManifestIndex.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// What one pass found; changed is false when it matches what the previous pass published.
struct LibrarySnapshot {
    std::uint64_t sequence = 0;
    std::uint64_t request = 0; // the last background request the pass serves
    bool changed = false;
    std::size_t reads = 0;
    std::filesystem::path root;
    std::shared_ptr<const std::vector<VellumtidePluginSample>> samples;
    std::size_t favorites = 0; // of samples
    std::string status;
    std::string readingDetail; // shown while reading: the folder
    std::string detail;
};

class LibraryScanner {
public:
    // How many samples a first look at a large library shows before the whole read ends.
    static constexpr std::size_t firstRowCount = 64;
    using FirstRows = std::function<void(LibrarySnapshot)>;

    explicit LibraryScanner(LibraryEnvironment environment) : environment(std::move(environment)) {}

    // One pass; force reads even when nothing changed. A pass stopped early reports no change
    // and leaves the next pass to read. Passes run one at a time. When nothing is listed yet and
    // firstRows is given, a read of a library longer than firstRowCount hands it the first samples
    // (in their final order, with the status of the whole library) as soon as they are known,
    // before it reads the rest.
    LibrarySnapshot pass(bool force, const std::atomic_bool& stop, const FirstRows& firstRows = {});

private:
    // What a folder and its two files looked like when they were last read.
    struct FileIdentity {
        bool exists = false;
        std::uint64_t device = 0, inode = 0;
        std::int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    struct LibraryIdentity {
        std::filesystem::path root;
        FileIdentity manifest, metadata;
        bool operator==(const LibraryIdentity&) const = default;
    };
    static FileIdentity fileIdentity(const std::filesystem::path& file);
    std::filesystem::path chooseRoot() const;
    // A merged sample, with its name in "Samples" and its place in "library.json".
    struct Listed {
        VellumtidePluginSample sample;
        std::string fileName;
        std::size_t record;
    };
    // The records merged with the overrides and ordered newest first; nothing when stopped.
    static std::optional<std::vector<Listed>> mergeSorted(std::vector<libraryfiles::ManifestSample> records,
                                                          const libraryfiles::MetadataMap& metadata,
                                                          const libraryfiles::LibraryFolder& folder,
                                                          std::size_t& missingFiles,
                                                          const std::atomic_bool& stop);
    void read(LibrarySnapshot& snapshot, const libraryfiles::LibraryFolder& folder,
              const std::atomic_bool& stop, const FirstRows& firstRows);
    // The merged samples through the two-step reading of "library.json"; nothing when that
    // leaves the file to the strict decoding, or when stopped.
    std::optional<std::vector<Listed>> readInSteps(const LibrarySnapshot& reading,
                                                   const libraryfiles::MetadataMap& metadata,
                                                   const libraryfiles::LibraryFolder& folder,
                                                   std::size_t& missingFiles, const std::atomic_bool& stop,
                                                   const FirstRows& firstRows);
    // The last read's samples with the audio files as they are now; false when nothing changed.
    bool replaceFiles(LibrarySnapshot& snapshot, const libraryfiles::LibraryFolder& folder);

    const LibraryEnvironment environment;
    std::mutex passing;
    std::uint64_t sequence = 0;
    std::size_t reads = 0;
    std::optional<LibraryIdentity> readIdentity; // of the last read
    // What the last pass published, and each of its samples' name in "Samples".
    std::shared_ptr<const std::vector<VellumtidePluginSample>> lastSamples;
    std::vector<std::string> rawFileNames;
    std::string lastDetail;
};

// A thread that runs a job each time it is asked, once more for requests made while it runs, and
// that is stopped and joined on destruction (the job sees stop set and ends early). It also frees
// what the window's thread no longer needs, so that a large list is not freed there.
class LibraryReaderThread {
public:
    explicit LibraryReaderThread(std::function<void(const std::atomic_bool& stop)> job);
    ~LibraryReaderThread();
    void request();
    // Lets go of what it is given on its own thread, soon.
    void release(std::shared_ptr<const void> garbage);

private:
    void run();

    std::function<void(const std::atomic_bool&)> job;
    std::mutex mutex;
    std::condition_variable wake;
    bool requested = false;
    std::vector<std::shared_ptr<const void>> garbage;
    std::atomic_bool stopping{false};
    std::thread thread;
};
