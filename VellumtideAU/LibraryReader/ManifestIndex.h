#pragma once
// "library.json" read in two steps, so that a large library shows at once: first every sample
// without its peak list (the lists are nearly all of the file), noting where each list lies; then
// the lists. The file is read in pieces through one small buffer, never whole into memory. Only
// the plain form the desktop program writes is taken (one list of objects, each with one flat
// "peaks" list); anything else, valid or not, is left to the whole file's strict decoding, which
// has the last word. Internal to the library reader.

#include "VellumtideAU/LibraryReader/LibraryFiles.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class ManifestIndex {
public:
    // Reads the samples of the file; nothing when it cannot be opened, is not of the plain form,
    // holds something the strict decoding would judge, or stop was set.
    static std::optional<ManifestIndex> read(const std::filesystem::path& file, const std::atomic_bool& stop);
    ManifestIndex(ManifestIndex&& other) noexcept;
    ManifestIndex& operator=(ManifestIndex&&) = delete;
    ~ManifestIndex();

    // The samples in file order, each with its peaks still empty; taken by the caller.
    std::vector<libraryfiles::ManifestSample>& samples() { return records; }
    // The peak list of one sample (by its place in the file); nothing when it is no list of floats.
    std::optional<std::vector<float>> peaks(std::size_t sample) const;
    // Every sample's peak list in file order, each handed to take; false when one is no list of
    // floats, the file cannot be read, or stop was set.
    bool readPeaks(const std::function<void(std::size_t, std::vector<float>)>& take,
                   const std::atomic_bool& stop) const;

private:
    struct Range {
        std::uint64_t begin;
        std::uint64_t end; // past the closing bracket
    };
    explicit ManifestIndex(int descriptor) : descriptor(descriptor) {}

    int descriptor; // the file as opened: a file replaced meanwhile is read as it was
    std::vector<libraryfiles::ManifestSample> records;
    std::vector<Range> lists; // one per record
    friend class ManifestScan;
};
