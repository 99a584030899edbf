// The sample list, as the phone sends it and as "library.json" keeps it: whatever decodes, the
// desktop program writes back in a form that it reads again unchanged and that the plug-in's
// reader reads as the same samples.

#include "Tests/Fuzz/FuzzCheck.h"
#include "VellumtideAU/LibraryReader/LibraryFiles.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

namespace {

std::string encode(const std::vector<SampleItem>& samples) {
    vt::json::Json document = vt::json::Json::array();
    for (const auto& sample : samples)
        document.push_back(sample.toJson(DateForm::iso8601));
    return vt::json::dump(document, 2);
}

std::vector<SampleItem> decode(std::string_view text) {
    return SampleItem::listFromJson(vt::json::parse(text), DateForm::iso8601);
}

bool pluginReadsTheSame(const std::vector<SampleItem>& samples, std::string_view written) {
    const auto read = libraryfiles::decodeManifest(written);
    if (!read || read->size() != samples.size())
        return false;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& mine = samples[i];
        const auto& theirs = (*read)[i];
        if (theirs.id != mine.id || theirs.title != mine.title || theirs.createdAt != mine.createdAt ||
            theirs.fileName != mine.fileName || theirs.byteCount != mine.byteCount ||
            theirs.isFavorite != mine.isFavorite || theirs.peaks != mine.peaks)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::vector<SampleItem> samples;
    try {
        samples = decode(vt::fuzz::text(data, size));
    } catch (const std::exception&) {
        return 0; // refused: fine, as long as it is refused cleanly
    }
    std::string written;
    try {
        written = encode(samples);
    } catch (const std::exception&) {
        vt::fuzz::check(false, "a sample list that decodes can be written");
    }
    std::vector<SampleItem> reread;
    try {
        reread = decode(written);
    } catch (const std::exception&) {
        vt::fuzz::check(false, "what the desktop program writes, it reads back");
    }
    vt::fuzz::check(encode(reread) == written, "a written list reads back unchanged");
    vt::fuzz::check(pluginReadsTheSame(reread, written),
                    "the plug-in reads the written list as the same samples");
    return 0;
}
