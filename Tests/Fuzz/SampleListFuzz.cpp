// The sample list, as the phone sends it and as "library.json" keeps it: whatever decodes, the
// desktop program writes back in a form that it reads again unchanged and that the plug-in's
// reader reads as the same samples. The bounded reader of the phone's list takes the same
// records (or refuses the list by a bound), however the connection splits its bytes.

#include "Tests/Fuzz/FuzzCheck.h"
#include "VellumtideAU/LibraryReader/LibraryFiles.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLibraryList.h"

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

// The phone's list read through the bounded reader in two pieces (small bounds, so that the
// fuzzer reaches them): nothing when a bound refused it, else what decoding gave or refused.
struct BoundedOutcome {
    bool refusedByBound = false;
    std::optional<std::vector<SampleItem>> samples;
};

BoundedOutcome readBounded(std::string_view text, std::size_t cut) {
    const PhoneLibraryListLimits limits{.maximumBytes = 1u << 16,
                                        .maximumRecords = 8,
                                        .maximumStringBytes = 64,
                                        .maximumValues = 512,
                                        .maximumDepth = 6};
    PhoneLibraryList list(limits);
    BoundedOutcome outcome;
    try {
        list.write(text.substr(0, cut));
        list.write(text.substr(cut));
    } catch (const PhoneLibraryListError&) {
        outcome.refusedByBound = true;
        return outcome;
    }
    try {
        outcome.samples = list.decode();
    } catch (const std::exception&) {
    }
    return outcome;
}

void checkBoundedReader(std::string_view text, std::size_t cut, const std::vector<SampleItem>* decoded) {
    const BoundedOutcome bounded = readBounded(text, cut);
    vt::fuzz::check(bounded.refusedByBound == readBounded(text, text.size()).refusedByBound,
                    "the bounds hold however the list's bytes are split");
    if (bounded.refusedByBound)
        return;
    vt::fuzz::check(bounded.samples.has_value() == (decoded != nullptr),
                    "within its bounds the phone's list decodes exactly when the strict reader decodes it");
    if (bounded.samples && decoded)
        vt::fuzz::check(*bounded.samples == *decoded, "within its bounds the phone's list reads the same");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::vector<SampleItem> samples;
    const std::string_view input = vt::fuzz::text(data, size);
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    try {
        samples = decode(input);
    } catch (const std::exception&) {
        checkBoundedReader(input, cut, nullptr);
        return 0; // refused: fine, as long as it is refused cleanly
    }
    checkBoundedReader(input, cut, &samples);
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
