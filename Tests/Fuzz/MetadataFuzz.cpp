// "bridge-metadata.json": whatever decodes, the desktop program writes back in a form that it
// reads again unchanged and that the plug-in's reader reads with the same overrides.

#include "Tests/Fuzz/FuzzCheck.h"
#include "VellumtideAU/LibraryReader/LibraryFiles.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <map>

namespace {

// Ordered by id, so that the written text does not depend on hashing.
using OrderedMetadata = std::map<std::string, BridgeSampleMetadata>;

OrderedMetadata decode(std::string_view text) {
    const vt::json::Json document = vt::json::parse(text);
    if (!document.is_object())
        throw vt::json::JsonError("Expected an object");
    OrderedMetadata metadata;
    for (const auto& [key, value] : document.items()) {
        auto entry = BridgeSampleMetadata::fromJson(value, DateForm::referenceSeconds);
        auto id = vt::Uuid::parse(key);
        if (id && !entry.isEmpty())
            metadata[id->string()] = std::move(entry);
    }
    return metadata;
}

std::string encode(const OrderedMetadata& metadata) {
    vt::json::Json document = vt::json::Json::object();
    for (const auto& [id, entry] : metadata)
        document[id] = entry.toJson(DateForm::referenceSeconds);
    return vt::json::dump(document, 2);
}

bool pluginReadsTheSame(const OrderedMetadata& metadata, std::string_view written) {
    const auto read = libraryfiles::decodeMetadata(written);
    if (read.size() != metadata.size())
        return false;
    for (const auto& [id, mine] : metadata) {
        const auto found = read.find(*vt::Uuid::parse(id));
        if (found == read.end())
            return false;
        const auto& theirs = found->second;
        if (theirs.titleOverride != mine.titleOverride || theirs.isFavorite != mine.isFavorite ||
            theirs.favoriteOverride != mine.favoriteOverride || theirs.isDeleted != mine.isDeleted ||
            theirs.chops.size() != mine.chops.size() || theirs.edit.startTime != mine.edit.startTime ||
            theirs.edit.endTime != mine.edit.endTime || theirs.analysis.bpm != mine.analysis.bpm)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    OrderedMetadata metadata;
    try {
        metadata = decode(vt::fuzz::text(data, size));
    } catch (const std::exception&) {
        return 0;
    }
    std::string written;
    try {
        written = encode(metadata);
    } catch (const std::exception&) {
        vt::fuzz::check(false, "metadata that decodes can be written");
    }
    OrderedMetadata reread;
    try {
        reread = decode(written);
    } catch (const std::exception&) {
        vt::fuzz::check(false, "what the desktop program writes, it reads back");
    }
    vt::fuzz::check(encode(reread) == written, "written metadata reads back unchanged");
    vt::fuzz::check(pluginReadsTheSame(reread, written), "the plug-in reads the written metadata alike");
    return 0;
}
