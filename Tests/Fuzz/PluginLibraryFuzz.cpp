// The plug-in's reader on arbitrary library files: the manifest and the overrides decode or are
// refused without a crash, and every merged record keeps its own invariants.

#include "Tests/Fuzz/FuzzCheck.h"
#include "VellumtideAU/LibraryReader/LibraryFiles.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    // The first half is read as "library.json", the second as "bridge-metadata.json".
    const std::string_view bytes = vt::fuzz::text(data, size);
    const auto manifest = libraryfiles::decodeManifest(bytes.substr(0, size / 2));
    const auto metadata = libraryfiles::decodeMetadata(bytes.substr(size / 2));
    if (!manifest)
        return 0;
    const libraryfiles::LibraryFolder folder{"/nonexistent-vellumtide-fuzz-library"};
    std::size_t missing = 0;
    std::size_t published = 0;
    for (const auto& record : *manifest) {
        const auto sample = libraryfiles::mergeSample(record, metadata, folder, missing);
        if (sample)
            ++published;
    }
    vt::fuzz::check(missing == published,
                    "every published sample of a folder without audio is counted missing");
    vt::fuzz::check(!libraryfiles::statusText(published, missing).empty(), "the status line has text");
    return 0;
}
