#include "bench/Support/BridgeWrittenLibrary.h"

#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include <stdexcept>

namespace vt::bench {

std::vector<std::string> writeBridgeLibrary(const vt::test::WindowFixture& fixture, std::size_t count) {
    auto ids = fixture.writeLargeLibrary(count);
    const auto folder = fixture.libraryFolder;
    const auto manifest = vt::readWholeFile(folder / BridgeSampleCache::manifestFileName);
    const auto metadata = vt::readWholeFile(folder / BridgeSampleCache::metadataFileName);
    if (!manifest || !metadata)
        throw std::runtime_error("the large library was not written");
    const auto samples = SampleItem::listFromJsonText(*manifest, DateForm::iso8601);
    const auto overlay =
        BridgeSampleMetadata::fileFromJsonText(*metadata, DateForm::referenceSeconds).entries;
    // The writer's own mirror goes beside the home the plug-in reads, never into it.
    const auto writerRoot = fixture.temp / "bridge-writer";
    {
        BridgeSampleCache cache(vt::Paths::underRoot(writerRoot), folder);
        cache.saveManifest(samples);
        cache.saveLocalMetadata(overlay);
    }
    std::error_code ignored;
    std::filesystem::remove_all(writerRoot, ignored);
    return ids;
}

} // namespace vt::bench
