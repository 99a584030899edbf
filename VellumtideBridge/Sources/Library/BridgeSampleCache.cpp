#include "VellumtideBridge/Sources/Library/BridgeSampleCache.h"

#include "Platform/Core/AtomicFile.h"
#include "Platform/Core/Uuid.h"
#include "VellumtideBridge/Sources/Library/BridgeLibraryMirror.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <type_traits>
#include <unordered_set>
#include <utility>

namespace fs = std::filesystem;
using vt::json::Json;
using Path = BridgeSampleCache::Path;
using BridgeLibraryMirror::copyIntoMirror;
using BridgeLibraryMirror::copyModificationTime;
using BridgeLibraryMirror::createFolder;
using BridgeLibraryMirror::itemExists;
using BridgeLibraryMirror::quoted;
using BridgeLibraryMirror::sizeOf;

namespace {

// What the name of a damaged file set aside carries after its stem.
constexpr const char* unreadableMarker = ".unreadable-";

// An absolute path with "." and ".." resolved and no trailing separator.
Path standardized(const Path& path) {
    std::error_code error;
    Path absolute = fs::absolute(path, error);
    if (error)
        absolute = path;
    Path normal = absolute.lexically_normal();
    std::string text = normal.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return Path(text);
}

void createFolderIgnoringFailure(const Path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
}

void writeOrThrow(const Path& target, std::string_view bytes) {
    try {
        vt::writeFileAtomically(target, bytes);
    } catch (const fs::filesystem_error& error) {
        throw BridgeSampleCache::saveFailure(target, error.code());
    }
}

void writeIgnoringFailure(const Path& target, std::string_view bytes) {
    try {
        vt::writeFileAtomically(target, bytes);
    } catch (const fs::filesystem_error&) {
    }
}

bool hasEntries(const Path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    return !error && it != fs::directory_iterator();
}

// Removes the regular files of a folder whose names begin with the prefix.
void removeEntriesWithPrefix(const Path& folder, const std::string& prefix,
                             const std::unordered_set<std::string>& keep = {}) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error)
        return;
    std::vector<Path> matches;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix) && !keep.count(name))
            matches.push_back(it->path());
    }
    for (const auto& path : matches)
        vt::removeRegularFile(path);
}

// The library files' layout (two spaces a level, as the JSON writer indents) is written one value
// at a time: an array or object of values each dumped on its own, one level deep.
void appendNested(std::string& out, const Json& value) {
    const std::string text = vt::json::dump(value, 2);
    // Line breaks in the dump are only layout (texts escape their own): each one level deeper.
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
        out.append(text, from, end + 1 - from);
        out += "  ";
    }
    out.append(text, from);
}

// Writes "[…]" of the values, handing the text to sink a piece at a time.
template <typename Item, typename Encode>
void emitArray(const std::vector<Item>& items, Encode encode, const BridgeSampleCache::Emit& sink) {
    if (items.empty()) {
        sink("[]");
        return;
    }
    std::string piece = "[\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        piece += i == 0 ? "  " : ",\n  ";
        appendNested(piece, encode(items[i]));
        sink(piece);
        piece.clear();
    }
    sink("\n]");
}

// Writes "{…}" of the members, given in key order, as emitArray().
template <typename Value, typename Encode>
void emitObject(const std::vector<std::pair<std::string, const Value*>>& members, Encode encode,
                const BridgeSampleCache::Emit& sink) {
    if (members.empty()) {
        sink("{}");
        return;
    }
    std::string piece = "{\n";
    for (std::size_t i = 0; i < members.size(); ++i) {
        piece += i == 0 ? "  " : ",\n  ";
        piece += vt::json::dump(members[i].first) + ": ";
        appendNested(piece, encode(*members[i].second));
        sink(piece);
        piece.clear();
    }
    sink("\n}");
}

QString folderSettingsKey() {
    auto key = BridgeSampleCache::sampleFolderDefaultsKey;
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// Settles the renders waiting in a folder: each is renamed to the place placeOf gives it (from what
// its name spells out and its sample's entry, null when there is none) or removed when it gives
// none. A render whose sample has no entry waits while an entry may not have been read: its change
// may be the one that could not be read. Returns how many were settled.
template <typename MayBeIncomplete, typename Parse, typename PlaceOf>
std::size_t settleWaitingRenders(const Path& folder, const BridgeMetadataMap& metadata,
                                 MayBeIncomplete overlayMayBeIncomplete, Parse parse, PlaceOf placeOf) {
    using Pending = typename std::invoke_result_t<Parse, std::string_view>::value_type;
    std::vector<std::pair<Path, Pending>> waiting;
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error))
        if (auto pending = parse(it->path().filename().string()))
            waiting.emplace_back(it->path(), *pending);
    const bool entryMayBeUnread = !waiting.empty() && overlayMayBeIncomplete();
    std::size_t settled = 0;
    for (const auto& [path, pending] : waiting) {
        auto entry = metadata.find(pending.sample);
        if (entry == metadata.end() && entryMayBeUnread)
            continue;
        std::error_code renamed;
        if (const std::optional<Path> place =
                placeOf(pending, entry == metadata.end() ? nullptr : &entry->second))
            fs::rename(path, *place, renamed);
        else
            vt::removeRegularFile(path);
        settled += renamed ? 0 : 1;
    }
    return settled;
}

} // namespace

// MARK: Folder choice

Path BridgeSampleCache::savedRootURL(const vt::Paths& paths, const vt::SettingsStore& settings) {
    auto stored = settings.value(folderSettingsKey());
    if (stored) {
        std::string text = stored->toString().toStdString();
        if (!isBlankText(text))
            return standardized(Path(text));
    }
    return defaultRootURL(paths);
}

Path BridgeSampleCache::defaultRootURL(const vt::Paths& paths) {
    Path base = paths.music;
    std::error_code error;
    if (!base.empty())
        fs::create_directories(base, error);
    if (base.empty() || error || !fs::is_directory(base, error))
        base = paths.home;
    return standardized(base / defaultFolderName);
}

void BridgeSampleCache::saveRootURL(const Path& folder, const vt::Paths& paths, vt::SettingsStore& settings) {
    QString key = folderSettingsKey();
    Path path = standardized(folder);
    if (path == defaultRootURL(paths))
        settings.remove(key);
    else
        settings.setValue(key, QString::fromStdString(path.string()));
}

std::string BridgeSampleCache::abbreviatedPath(const Path& path, const vt::Paths& paths) {
    std::string text = standardized(path).string();
    std::string home = standardized(paths.home).string();
    if (home.empty() || home == "/")
        return text;
    if (text == home)
        return "~";
    // Only a whole leading component matches: "/home/anna" is not inside "/home/ann".
    if (text.size() > home.size() && text.starts_with(home) && text[home.size()] == '/')
        return "~" + text.substr(home.size());
    return text;
}

// MARK: Construction and folders

BridgeSampleCache::BridgeSampleCache(const vt::Paths& paths, const vt::SettingsStore& settings,
                                     std::shared_ptr<const vt::WallClock> clock)
    : BridgeSampleCache(paths, savedRootURL(paths, settings), std::move(clock)) {}

BridgeSampleCache::BridgeSampleCache(const vt::Paths& paths, const Path& rootURL,
                                     std::shared_ptr<const vt::WallClock> wallClock)
    : root(standardized(rootURL)), mirrorRoot(standardized(paths.home / mirrorRelativePath)),
      clock(wallClock ? std::move(wallClock) : std::make_shared<vt::SystemWallClock>()) {
    createFolders();
}

void BridgeSampleCache::createFolders() const {
    for (const Path& folder :
         {samplesDirectory(), editedDirectory(), chopsDirectory(), auMirrorSamplesDirectory(),
          auMirrorEditedDirectory(), auMirrorChopsDirectory()})
        createFolderIgnoringFailure(folder);
}

void BridgeSampleCache::prepareDirectories() const {
    for (const Path& folder :
         {samplesDirectory(), editedDirectory(), chopsDirectory(), auMirrorSamplesDirectory(),
          auMirrorEditedDirectory(), auMirrorChopsDirectory()})
        createFolder(folder);
}

bool BridgeSampleCache::hasLibraryContent() const {
    return itemExists(manifestURL()) || hasEntries(samplesDirectory()) || hasEntries(editedDirectory()) ||
           hasEntries(chopsDirectory());
}

void BridgeSampleCache::copyLibrary(const BridgeSampleCache& destination) const {
    if (root != destination.root)
        BridgeLibraryMirror::copyLibrary(*this, destination);
}

std::size_t BridgeSampleCache::removeLeftoverTemporaries() const {
    std::size_t removed = 0;
    for (const Path& folder : {root, editedDirectory(), chopsDirectory(), mirrorRoot,
                               auMirrorEditedDirectory(), auMirrorChopsDirectory()})
        removed += vt::removeLeftoverTemporaries(folder);
    // The phone names the files of "Samples": a name there that looks like an earlier version's
    // temporary may be the phone's own file, so only the temporaries' folder is swept.
    for (const Path& folder : {samplesDirectory(), auMirrorSamplesDirectory()})
        removed += vt::removeLeftoverTemporaries(folder, false);
    return removed;
}

bool BridgeSampleCache::overlayMayBeIncomplete() const {
    if (metadataUnreadable)
        return true;
    const std::string prefix = Path(metadataFileName).stem().string() + unreadableMarker;
    std::error_code error;
    fs::directory_iterator it(root, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(prefix) && name.ends_with(Path(metadataFileName).extension().string()))
            return true;
    }
    return false;
}

namespace {

// "." + sample UUID + this + the edit's key + ".wav": a render waiting for its edit to be stored.
constexpr std::string_view pendingEditMarker = ".pending-";

std::string hexBits(double value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
    return text;
}

std::optional<double> fromHexBits(std::string_view text) {
    std::uint64_t bits = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bits, 16);
    if (text.size() != 16 || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return std::bit_cast<double>(bits);
}

// The stored edit spelt exactly: start, end ("none" when open), fade-in and fade-out as the bits
// of their doubles, then the two switches.
std::string pendingEditKey(const BridgeSampleEdit& edit) {
    const BridgeSampleEdit stored = edit.asStored();
    return hexBits(stored.startTime) + "_" + (stored.endTime ? hexBits(*stored.endTime) : "none") + "_" +
           hexBits(stored.fadeIn) + "_" + hexBits(stored.fadeOut) + "_" + (stored.normalize ? "1" : "0") +
           (stored.denoise ? "1" : "0");
}

struct PendingEdit {
    vt::Uuid sample;
    BridgeSampleEdit edit;
};

std::optional<PendingEdit> pendingEditNamed(std::string_view name) {
    constexpr std::size_t uuidLength = 36;
    if (!name.starts_with(".") || !name.ends_with(".wav") ||
        name.size() < 1 + uuidLength + pendingEditMarker.size() + 4)
        return std::nullopt;
    const auto sample = vt::Uuid::parse(name.substr(1, uuidLength));
    if (!sample || name.substr(1 + uuidLength, pendingEditMarker.size()) != pendingEditMarker)
        return std::nullopt;
    std::string_view key = name.substr(1 + uuidLength + pendingEditMarker.size());
    key.remove_suffix(4);
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = key.find('_', at);
        parts.push_back(key.substr(at, next == std::string_view::npos ? key.npos : next - at));
        if (next == std::string_view::npos)
            break;
        at = next + 1;
    }
    if (parts.size() != 5 || parts[4].size() != 2)
        return std::nullopt;
    PendingEdit pending{*sample, {}};
    const auto start = fromHexBits(parts[0]), fadeIn = fromHexBits(parts[2]), fadeOut = fromHexBits(parts[3]);
    const auto end = parts[1] == "none" ? std::optional<double>() : fromHexBits(parts[1]);
    if (!start || !fadeIn || !fadeOut || (parts[1] != "none" && !end))
        return std::nullopt;
    pending.edit = {*start, end, *fadeIn, *fadeOut, parts[4][0] == '1', parts[4][1] == '1'};
    return pending;
}

// Equal as stored: times within a nanosecond (what a decoder's last digit may change).
bool sameStoredEdit(const BridgeSampleEdit& a, const BridgeSampleEdit& b) {
    auto near = [](double x, double y) { return std::abs(x - y) <= 1e-9; };
    return near(a.startTime, b.startTime) && a.endTime.has_value() == b.endTime.has_value() &&
           (!a.endTime || near(*a.endTime, *b.endTime)) && near(a.fadeIn, b.fadeIn) &&
           near(a.fadeOut, b.fadeOut) && a.normalize == b.normalize && a.denoise == b.denoise;
}

} // namespace

Path BridgeSampleCache::pendingEditedSampleURL(const SampleItem& sample, const BridgeSampleEdit& edit) const {
    return editedDirectory() /
           ("." + sample.id.string() + std::string(pendingEditMarker) + pendingEditKey(edit) + ".wav");
}

void BridgeSampleCache::placePendingEdit(const SampleItem& sample, const BridgeSampleEdit& edit) const {
    std::error_code error;
    fs::rename(pendingEditedSampleURL(sample, edit), editedSampleURL(sample), error);
    if (error)
        throw saveFailure(editedSampleURL(sample), error);
}

bool BridgeSampleCache::holdRenderedEdit(const SampleItem& sample, const BridgeSampleEdit& storedEdit) const {
    std::error_code error;
    fs::rename(editedSampleURL(sample), pendingEditedSampleURL(sample, storedEdit), error);
    return !error;
}

std::size_t BridgeSampleCache::settlePendingEdits(const BridgeMetadataMap& metadata) const {
    if (metadataUnreadable || !itemExists(metadataURL()))
        return 0;
    auto placeOf = [this](const PendingEdit& pending,
                          const BridgeSampleMetadata* entry) -> std::optional<Path> {
        const BridgeSampleEdit stored = entry ? entry->edit : BridgeSampleEdit();
        if (stored.isNeutral() || !sameStoredEdit(stored, pending.edit))
            return std::nullopt;
        return editedDirectory() / (pending.sample.string() + ".wav");
    };
    return settleWaitingRenders(
        editedDirectory(), metadata, [this] { return overlayMayBeIncomplete(); }, pendingEditNamed, placeOf);
}

namespace {

// "." + sample UUID + "-chop-" + chop UUID + this + the chop's start and end as the bits of their
// doubles + ".wav": a chop render waiting for its chop to be stored.
constexpr std::string_view pendingChopMarker = ".pending-";

// The chop as "bridge-metadata.json" gives it back.
BridgeSampleChop chopAsStored(const BridgeSampleChop& chop) {
    try {
        return BridgeSampleChop::fromJson(chop.toJson());
    } catch (const vt::json::JsonError&) {
        return chop; // not storable: no stored chop will equal it
    }
}

struct PendingChop {
    vt::Uuid sample;
    vt::Uuid chop;
    double startTime = 0;
    double endTime = 0;
};

std::optional<PendingChop> pendingChopNamed(std::string_view name) {
    constexpr std::size_t uuidLength = 36;
    constexpr std::string_view chopMarker = "-chop-";
    constexpr std::size_t keyAt = 1 + 2 * uuidLength + chopMarker.size() + pendingChopMarker.size();
    constexpr std::size_t bitsLength = 16;
    if (name.size() != keyAt + 2 * bitsLength + 1 + 4 || !name.starts_with(".") || !name.ends_with(".wav") ||
        name.substr(1 + uuidLength, chopMarker.size()) != chopMarker ||
        name.substr(keyAt - pendingChopMarker.size(), pendingChopMarker.size()) != pendingChopMarker ||
        name[keyAt + bitsLength] != '_')
        return std::nullopt;
    const auto sample = vt::Uuid::parse(name.substr(1, uuidLength));
    const auto chop = vt::Uuid::parse(name.substr(1 + uuidLength + chopMarker.size(), uuidLength));
    const auto start = fromHexBits(name.substr(keyAt, bitsLength));
    const auto end = fromHexBits(name.substr(keyAt + bitsLength + 1, bitsLength));
    if (!sample || !chop || !start || !end)
        return std::nullopt;
    return PendingChop{*sample, *chop, *start, *end};
}

// The stored chop the waiting render was made for, if the overlay holds it.
bool holdsPendingChop(const BridgeSampleMetadata& entry, const PendingChop& pending) {
    auto near = [](double x, double y) { return std::abs(x - y) <= 1e-9; };
    return !entry.isDeleted &&
           std::any_of(entry.chops.begin(), entry.chops.end(), [&](const BridgeSampleChop& chop) {
               return chop.id == pending.chop && near(chop.startTime, pending.startTime) &&
                      near(chop.endTime, pending.endTime);
           });
}

} // namespace

Path BridgeSampleCache::pendingChopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    const BridgeSampleChop stored = chopAsStored(chop);
    return chopsDirectory() /
           ("." + sample.id.string() + "-chop-" + chop.id.string() + std::string(pendingChopMarker) +
            hexBits(stored.startTime) + "_" + hexBits(stored.endTime) + ".wav");
}

void BridgeSampleCache::placePendingChops(const SampleItem& sample,
                                          const std::vector<BridgeSampleChop>& chops,
                                          const std::vector<BridgeSampleChop>& replaced) const {
    // The replaced files go first: a crash in between leaves only waiting renders, put in place at
    // the next start.
    for (const auto& old : replaced) {
        const bool kept = std::any_of(chops.begin(), chops.end(),
                                      [&](const BridgeSampleChop& chop) { return chop.id == old.id; });
        if (!kept) {
            vt::removeRegularFile(chopSampleURL(sample, old));
            vt::removeRegularFile(mirroredChopSampleURL(sample, old));
        }
    }
    for (const auto& chop : chops) {
        std::error_code error;
        fs::rename(pendingChopSampleURL(sample, chop), chopSampleURL(sample, chop), error);
        if (error)
            throw saveFailure(chopSampleURL(sample, chop), error);
    }
}

std::size_t BridgeSampleCache::settlePendingChops(const BridgeMetadataMap& metadata) const {
    if (metadataUnreadable || !itemExists(metadataURL()))
        return 0;
    auto placeOf = [this](const PendingChop& pending,
                          const BridgeSampleMetadata* entry) -> std::optional<Path> {
        if (!entry || !holdsPendingChop(*entry, pending))
            return std::nullopt;
        return chopsDirectory() / (pending.sample.string() + "-chop-" + pending.chop.string() + ".wav");
    };
    return settleWaitingRenders(
        chopsDirectory(), metadata, [this] { return overlayMayBeIncomplete(); }, pendingChopNamed, placeOf);
}

// MARK: JSON files

void BridgeSampleCache::noteLoad(std::atomic<bool>& loadedWhole, std::atomic<bool>& unreadable,
                                 std::vector<std::string>& leftOutNow, std::vector<std::string> leftOut,
                                 bool read) const {
    loadedWhole = read && leftOut.empty();
    unreadable = !read || !leftOut.empty();
    std::lock_guard lock(setAsideLock);
    leftOutNow = std::move(leftOut);
}

namespace {

// Whether the file reads as a sample list or an overlay (records or entries left out or not).
bool readsAsLibraryFile(const Path& file, bool manifest) {
    try {
        if (manifest) {
            SampleItemListReader reader(DateForm::iso8601, SampleItemListReader::Records::tolerant);
            if (!vt::readFileInPieces(file, [&](std::string_view piece) { reader.feed(piece); }))
                return false;
            reader.finish();
        } else {
            BridgeMetadataReader reader(DateForm::referenceSeconds);
            if (!vt::readFileInPieces(file, [&](std::string_view piece) { reader.feed(piece); }))
                return false;
            reader.finish();
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

bool BridgeSampleCache::readNothingOf(std::string_view fileName) const {
    const bool manifest = fileName == manifestFileName;
    if (!itemExists(root / fileName))
        return true;
    std::lock_guard lock(setAsideLock);
    return manifest ? manifestUnreadable && manifestLeftOut.empty()
                    : metadataUnreadable && metadataLeftOut.empty();
}

std::vector<BridgeSampleCache::LostFile> BridgeSampleCache::takeBackLostFiles() const {
    // Looked at before anything is taken back.
    const bool inUse = hasLibraryContent() || itemExists(metadataURL());
    std::vector<LostFile> lost;
    for (const std::string_view name : {manifestFileName, metadataFileName})
        if (auto file = takeBackIfLost(name, inUse))
            lost.push_back(*file);
    return lost;
}

std::optional<BridgeSampleCache::LostFile> BridgeSampleCache::takeBackIfLost(std::string_view fileName,
                                                                             bool inUse) const {
    if (!readNothingOf(fileName))
        return std::nullopt;
    const Path file = root / fileName, copy = mirrorRoot / fileName;
    LostFile lost{std::string(fileName), !itemExists(file), false};
    if (readsAsLibraryFile(copy, fileName == manifestFileName)) {
        try {
            // The damaged file is kept; the flag that would set it aside at the next save goes.
            const Path keptAs = lost.missing ? Path() : moveAside(file);
            (fileName == manifestFileName ? manifestUnreadable : metadataUnreadable) = false;
            try {
                BridgeLibraryMirror::copyReplacing(copy, file);
                lost.takenBack = true;
            } catch (const BridgeLibraryError&) {
            }
            if (!lost.missing) {
                std::lock_guard lock(setAsideLock);
                setAside.push_back({lost.fileName, keptAs, {}, lost.takenBack});
            }
        } catch (const BridgeLibraryError&) {
            // Not kept aside: the damaged file stays in place, and its next save tries again.
        }
    }
    if (lost.takenBack || (lost.missing && (inUse || itemExists(copy))))
        return lost;
    return std::nullopt;
}

std::vector<SampleItem> BridgeSampleCache::loadManifest() const {
    manifestLoaded = false;
    if (!itemExists(manifestURL())) {
        manifestUnreadable = false;
        return {};
    }
    try {
        // Read as it comes off the disk: the whole text is never held.
        SampleItemListReader reader(DateForm::iso8601, SampleItemListReader::Records::tolerant);
        if (!vt::readFileInPieces(manifestURL(), [&](std::string_view piece) { reader.feed(piece); }))
            throw BridgeLibraryError("unreadable");
        auto list = reader.finish();
        noteLoad(manifestLoaded, manifestUnreadable, manifestLeftOut, std::move(list.unreadable), true);
        return std::move(list.samples);
    } catch (const std::exception&) {
        noteLoad(manifestLoaded, manifestUnreadable, manifestLeftOut, {}, false);
        return {};
    }
}

void BridgeSampleCache::saveManifest(const std::vector<SampleItem>& samples) const {
    createFolder(samplesDirectory());
    createFolderIgnoringFailure(mirrorRoot);
    try {
        writeLibraryFile(
            manifestURL(), mirrorRoot / manifestFileName,
            [&](const Emit& sink) {
                emitArray(
                    samples, [](const SampleItem& sample) { return sample.toJson(DateForm::iso8601); }, sink);
            },
            manifestUnreadable, manifestLeftOut);
    } catch (const vt::json::JsonError& error) {
        throw BridgeLibraryError(std::string("Could not encode the sample list: ") + error.what() + ".");
    }
}

BridgeMetadataMap BridgeSampleCache::loadLocalMetadata() const {
    metadataLoaded = false;
    if (!itemExists(metadataURL())) {
        metadataUnreadable = false;
        return {};
    }
    try {
        BridgeMetadataReader reader(DateForm::referenceSeconds);
        if (!vt::readFileInPieces(metadataURL(), [&](std::string_view piece) { reader.feed(piece); }))
            throw BridgeLibraryError("unreadable");
        auto file = reader.finish();
        noteLoad(metadataLoaded, metadataUnreadable, metadataLeftOut, std::move(file.unreadableKeys), true);
        return std::move(file.entries);
    } catch (const std::exception&) {
        noteLoad(metadataLoaded, metadataUnreadable, metadataLeftOut, {}, false);
        return {};
    }
}

void BridgeSampleCache::saveLocalMetadata(const BridgeMetadataMap& metadata) const {
    createFolder(samplesDirectory());
    createFolderIgnoringFailure(mirrorRoot);
    std::vector<std::pair<std::string, const BridgeSampleMetadata*>> entries;
    for (const auto& [id, entry] : metadata)
        if (!entry.isEmpty())
            entries.emplace_back(id.string(), &entry);
    std::sort(entries.begin(), entries.end());
    try {
        writeLibraryFile(
            metadataURL(), mirrorRoot / metadataFileName,
            [&](const Emit& sink) {
                emitObject(
                    entries,
                    [](const BridgeSampleMetadata& entry) {
                        return entry.toJson(DateForm::referenceSeconds);
                    },
                    sink);
            },
            metadataUnreadable, metadataLeftOut);
    } catch (const vt::json::JsonError& error) {
        throw BridgeLibraryError(std::string("Could not encode the library metadata: ") + error.what() + ".");
    }
}

void BridgeSampleCache::writeLibraryFile(const Path& target, const Path& mirrorTarget,
                                         const std::function<void(const Emit&)>& produce,
                                         std::atomic<bool>& unreadableFlag,
                                         std::vector<std::string>& leftOut) const {
    // The library folder's file and the mirror's copy take the same bytes as they are made, a
    // piece at a time, so that a large file is never held whole.
    std::optional<vt::PendingFile> file;
    try {
        file.emplace(target);
    } catch (const fs::filesystem_error& error) {
        throw saveFailure(target, error.code());
    }
    std::optional<vt::PendingFile> copy;
    try {
        copy.emplace(mirrorTarget);
    } catch (const fs::filesystem_error&) {
    }
    std::string pending;
    auto flush = [&] {
        try {
            file->append(pending);
        } catch (const fs::filesystem_error& error) {
            throw saveFailure(target, error.code());
        }
        try {
            if (copy)
                copy->append(pending);
        } catch (const fs::filesystem_error&) {
            copy.reset();
        }
        pending.clear();
    };
    constexpr std::size_t flushSize = 1u << 20;
    produce([&](std::string_view bytes) {
        pending += bytes;
        if (pending.size() >= flushSize)
            flush();
    });
    flush();
    // The file that could not be read whole is kept before the new one takes its place.
    if (unreadableFlag && itemExists(target)) {
        std::vector<std::string> names;
        {
            std::lock_guard lock(setAsideLock);
            names = std::exchange(leftOut, {});
        }
        setAsideUnreadable(target, std::move(names));
    }
    unreadableFlag = false;
    try {
        file->commit();
    } catch (const fs::filesystem_error& error) {
        throw saveFailure(target, error.code());
    }
    try {
        if (copy) {
            copy->commit();
            // The same bytes: the mirror pass must see the copy as unchanged.
            copyModificationTime(target, mirrorTarget);
        }
    } catch (const fs::filesystem_error&) {
    }
}

// Keeps a file that could not be read whole as "<stem>.unreadable-<UTC time><extension>" beside it.
void BridgeSampleCache::setAsideUnreadable(const Path& file, std::vector<std::string> leftOut) const {
    const Path aside = moveAside(file);
    std::lock_guard lock(setAsideLock);
    setAside.push_back({file.filename().string(), aside, std::move(leftOut)});
}

Path BridgeSampleCache::moveAside(const Path& file) const {
    std::string stamp;
    for (char c : vt::formatISO8601(clock->now()))
        if (c != '-' && c != ':')
            stamp += c;
    std::string base = file.stem().string() + unreadableMarker + stamp;
    std::string extension = file.extension().string();
    Path aside = file.parent_path() / (base + extension);
    for (int counter = 2; itemExists(aside); ++counter)
        aside = file.parent_path() / (base + "-" + std::to_string(counter) + extension);
    std::error_code error;
    fs::rename(file, aside, error);
    if (error)
        throw BridgeLibraryError("Could not keep the unreadable file " + quoted(file) +
                                 " before replacing it: " + error.message() + ".");
    return aside;
}

std::vector<BridgeSampleCache::SetAsideFile> BridgeSampleCache::takeSetAsideFiles() const {
    std::lock_guard lock(setAsideLock);
    return std::exchange(setAside, {});
}

// MARK: Sample files

std::optional<Path> BridgeSampleCache::sampleURL(const SampleItem& sample) const {
    if (!vt::isSafeFileName(sample.fileName))
        return std::nullopt;
    return samplesDirectory() / sample.fileName;
}

Path BridgeSampleCache::editedSampleURL(const SampleItem& sample) const {
    return editedDirectory() / (sample.id.string() + ".wav");
}

Path BridgeSampleCache::mirroredEditedSampleURL(const SampleItem& sample) const {
    return auMirrorEditedDirectory() / (sample.id.string() + ".wav");
}

std::string BridgeSampleCache::chopFileName(const SampleItem& sample, const BridgeSampleChop& chop) {
    return sample.id.string() + "-chop-" + chop.id.string() + ".wav";
}

Path BridgeSampleCache::chopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    return chopsDirectory() / chopFileName(sample, chop);
}

Path BridgeSampleCache::mirroredChopSampleURL(const SampleItem& sample, const BridgeSampleChop& chop) const {
    return auMirrorChopsDirectory() / chopFileName(sample, chop);
}

bool BridgeSampleCache::hasEditedSample(const SampleItem& sample) const {
    return itemExists(editedSampleURL(sample));
}

bool BridgeSampleCache::needsDownload(const SampleItem& sample) const {
    auto url = sampleURL(sample);
    if (!url)
        return false;
    auto size = sizeOf(*url);
    return !size || sample.byteCount < 0 || *size != static_cast<std::uintmax_t>(sample.byteCount);
}

std::optional<std::uint64_t> BridgeSampleCache::availableSpace(const Path& folder) {
    std::error_code error;
    const auto space = fs::space(folder, error);
    if (error)
        return std::nullopt;
    return space.available;
}

BridgeLibraryError BridgeSampleCache::saveFailure(const Path& target, const std::error_code& reason) {
    return BridgeLibraryError("Could not save " + quoted(target) + ": " + reason.message() + ".");
}

Path BridgeSampleCache::prepareSampleFile(const SampleItem& sample) const {
    auto url = sampleURL(sample);
    if (!url)
        throw BridgeLibraryError("The file name \"" + sample.fileName + "\" of \"" + sample.title +
                                 "\" cannot be used in the library folder.");
    createFolder(samplesDirectory());
    createFolderIgnoringFailure(auMirrorSamplesDirectory());
    return *url;
}

void BridgeSampleCache::saveSampleData(std::string_view bytes, const SampleItem& sample) const {
    writeOrThrow(prepareSampleFile(sample), bytes);
    writeIgnoringFailure(auMirrorSamplesDirectory() / sample.fileName, bytes);
}

void BridgeSampleCache::removeEditedSample(const SampleItem& sample) const {
    vt::removeRegularFile(editedSampleURL(sample));
    vt::removeRegularFile(mirroredEditedSampleURL(sample));
}

void BridgeSampleCache::removeChops(const SampleItem& sample) const {
    std::string prefix = sample.id.string() + "-chop-";
    removeEntriesWithPrefix(chopsDirectory(), prefix);
    removeEntriesWithPrefix(auMirrorChopsDirectory(), prefix);
}

void BridgeSampleCache::removeChops(const SampleItem& sample,
                                    const std::vector<BridgeSampleChop>& keep) const {
    const std::string prefix = sample.id.string() + "-chop-";
    std::unordered_set<std::string> kept;
    for (const auto& chop : keep)
        kept.insert(chopFileName(sample, chop));
    removeEntriesWithPrefix(chopsDirectory(), prefix, kept);
    removeEntriesWithPrefix(auMirrorChopsDirectory(), prefix, kept);
}

void BridgeSampleCache::removeSampleFiles(const SampleItem& sample) const {
    if (vt::isSafeFileName(sample.fileName)) {
        vt::removeRegularFile(samplesDirectory() / sample.fileName);
        vt::removeRegularFile(auMirrorSamplesDirectory() / sample.fileName);
    }
    removeEditedSample(sample);
    removeChops(sample);
}

std::size_t BridgeSampleCache::removeFilesOfDeletedSamples(const std::vector<SampleItem>& samples,
                                                           const BridgeMetadataMap& metadata) const {
    std::unordered_set<std::string> deleted; // UUID texts, as the file names carry them
    for (const auto& [id, entry] : metadata)
        if (entry.isDeleted)
            deleted.insert(id.string());
    if (deleted.empty())
        return 0;
    std::size_t removed = 0;
    auto remove = [&](const Path& file) { removed += vt::removeRegularFile(file) ? 1 : 0; };
    std::unordered_set<std::string> inUse;
    for (const auto& sample : samples)
        if (!deleted.count(sample.id.string()))
            inUse.insert(sample.fileName);
    for (const auto& sample : samples)
        if (deleted.count(sample.id.string()) && vt::isSafeFileName(sample.fileName) &&
            !inUse.count(sample.fileName)) {
            remove(samplesDirectory() / sample.fileName);
            remove(auMirrorSamplesDirectory() / sample.fileName);
        }
    for (const auto& id : deleted) {
        remove(editedDirectory() / (id + ".wav"));
        remove(auMirrorEditedDirectory() / (id + ".wav"));
    }
    // One listing per folder of chops: "<UUID>-chop-…" names the sample first.
    constexpr std::size_t uuidLength = 36;
    constexpr std::string_view chopMarker = "-chop-";
    for (const Path& folder : {chopsDirectory(), auMirrorChopsDirectory()}) {
        std::vector<Path> chops;
        std::error_code error;
        for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (name.size() > uuidLength + chopMarker.size() &&
                std::string_view(name).substr(uuidLength, chopMarker.size()) == chopMarker &&
                deleted.count(name.substr(0, uuidLength)))
                chops.push_back(it->path());
        }
        for (const auto& chop : chops)
            remove(chop);
    }
    return removed;
}

// MARK: Mirror

void BridgeSampleCache::mirrorEditedSample(const SampleItem& sample) const {
    copyIntoMirror(editedSampleURL(sample), mirroredEditedSampleURL(sample));
}

void BridgeSampleCache::mirrorLibrary(const std::vector<SampleItem>& samples,
                                      const BridgeMetadataMap& metadata) const {
    saveManifest(samples);
    saveLocalMetadata(metadata);
    mirrorFiles(samples, metadata);
}

void BridgeSampleCache::mirrorFiles(const std::vector<SampleItem>& samples,
                                    const BridgeMetadataMap& metadata) const {
    BridgeLibraryMirror::mirrorFiles(*this, samples, metadata);
}
