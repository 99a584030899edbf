#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"

#include "Platform/Core/AtomicFile.h"
#include "VellumtideAU/LibraryReader/LibraryFiles.h"

#include <algorithm>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* mirrorLabel = "AU mirror";
constexpr const char* bridgeCacheLabel = "Bridge cache";
constexpr const char* musicLabel = "Music";
constexpr const char* sandboxLabel = "AU sandbox";

// "." and ".." resolved lexically and no trailing separator; symbolic links are left alone.
fs::path standardized(const fs::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool somethingExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

} // namespace

VellumtidePluginLibrary::VellumtidePluginLibrary(LibraryEnvironment environment,
                                                 std::unique_ptr<RefreshTimer> timer, QObject* parent)
    : QObject(parent), environment(std::move(environment)),
      timer(timer ? std::move(timer) : makeQtRefreshTimer()) {
    auto candidates = libraryCandidates(this->environment);
    root = candidates.empty() ? this->environment.home : candidates.front().url;
    refresh();
}

VellumtidePluginLibrary::~VellumtidePluginLibrary() {
    timer->stop();
}

void VellumtidePluginLibrary::refresh() {
    chooseRoot();
    read();
}

void VellumtidePluginLibrary::refreshIfChanged() {
    chooseRoot();
    if (readIdentity != currentIdentity())
        read();
}

VellumtidePluginLibrary::FileIdentity VellumtidePluginLibrary::fileIdentity(const Path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0)
        return {};
    return {true,
            std::uint64_t(status.st_dev),
            std::uint64_t(status.st_ino),
            std::int64_t(status.st_size),
            std::int64_t(status.st_mtim.tv_sec),
            std::int64_t(status.st_mtim.tv_nsec)};
}

VellumtidePluginLibrary::LibraryIdentity VellumtidePluginLibrary::currentIdentity() const {
    return {root, fileIdentity(root / manifestFileName), fileIdentity(root / metadataFileName)};
}

void VellumtidePluginLibrary::chooseRoot() {
    const auto candidates = libraryCandidates(environment);
    auto holdsLibrary = [](const LibraryCandidate& candidate) {
        return somethingExists(candidate.url / manifestFileName);
    };
    if (auto found = std::find_if(candidates.begin(), candidates.end(), holdsLibrary);
        found != candidates.end())
        root = found->url;
    else if (!candidates.empty())
        root = candidates.front().url;
}

// The identity is taken before the files are read: a change during the read shows at the next tick.
void VellumtidePluginLibrary::read() {
    readIdentity = currentIdentity();
    ++reads;
    setDetail(abbreviatedPath(root, environment.home));

    const fs::path manifest = root / manifestFileName;
    std::optional<std::string> bytes = somethingExists(manifest) ? vt::readWholeFile(manifest) : std::nullopt;
    if (!bytes) {
        setSamples({});
        setStatus("Waiting for Bridge library");
        setDetail("Open Vellumtide Bridge once");
        return;
    }
    auto records = libraryfiles::decodeManifest(*bytes);
    if (!records) {
        setSamples({});
        setStatus("Bridge library could not be read");
        setDetail(abbreviatedPath(manifest, environment.home));
        return;
    }

    const fs::path metadataFile = root / metadataFileName;
    libraryfiles::MetadataMap metadata;
    if (somethingExists(metadataFile))
        if (auto metadataBytes = vt::readWholeFile(metadataFile))
            metadata = libraryfiles::decodeMetadata(*metadataBytes);

    const libraryfiles::LibraryFolder folder{root};
    std::size_t missingFiles = 0;
    std::vector<VellumtidePluginSample> merged;
    for (const auto& record : *records)
        if (auto sample = libraryfiles::mergeSample(record, metadata, folder, missingFiles))
            merged.push_back(std::move(*sample));
    std::stable_sort(merged.begin(), merged.end(),
                     [](const auto& a, const auto& b) { return a.createdAt > b.createdAt; });

    const std::size_t published = merged.size();
    setSamples(std::move(merged));
    setStatus(libraryfiles::statusText(published, missingFiles));
    setDetail(abbreviatedPath(root, environment.home));
}

void VellumtidePluginLibrary::startLiveRefresh() {
    refreshIfChanged();
    timer->start(refreshInterval, [this] { refreshIfChanged(); });
}

void VellumtidePluginLibrary::stopLiveRefresh() {
    if (!timer->isActive())
        return;
    timer->stop();
    refreshIfChanged();
}

bool VellumtidePluginLibrary::isLiveRefreshing() const {
    return timer->isActive();
}

// The homes the mirror and the default library may be under, in the order they are tried: $HOME,
// the account's home, the user's folder in the homes folder, then the home a confined $HOME sits in.
std::vector<fs::path> VellumtidePluginLibrary::candidateHomes(const LibraryEnvironment& environment) {
    std::vector<fs::path> homes;
    auto add = [&homes](const fs::path& home) {
        if (home.empty() || !home.is_absolute())
            return;
        fs::path folder = standardized(home);
        if (std::find(homes.begin(), homes.end(), folder) == homes.end())
            homes.push_back(std::move(folder));
    };
    add(environment.home);
    add(environment.accountHome);
    if (environment.userName && vt::isSafeFileName(*environment.userName))
        add(environment.homesFolder / *environment.userName);
    for (const auto& home : {environment.home, environment.accountHome})
        if (!home.empty())
            if (auto real = realUserHomeURL(home, environment.homesFolder))
                add(*real);
    return homes;
}

std::vector<VellumtidePluginLibrary::LibraryCandidate>
VellumtidePluginLibrary::libraryCandidates(const LibraryEnvironment& environment) {
    const fs::path homeA = standardized(environment.home);
    const auto homes = candidateHomes(environment);
    std::vector<LibraryCandidate> list;
    for (const auto& home : homes)
        appendUnique({mirrorLabel, home / mirrorRelativePath}, list);
    for (const auto& home : homes)
        appendUnique({bridgeCacheLabel, home / "Music" / "Vellumtide"}, list);
    const fs::path music = environment.musicFolder ? standardized(*environment.musicFolder) : homeA / "Music";
    appendUnique({musicLabel, music / "Vellumtide"}, list);
    appendUnique({sandboxLabel, homeA / "Music" / "Vellumtide"}, list);
    return list;
}

std::optional<fs::path> VellumtidePluginLibrary::realUserHomeURL(const fs::path& path,
                                                                 const fs::path& homesFolder) {
    const fs::path candidate = standardized(path);
    const fs::path homes = standardized(homesFolder);
    auto part = candidate.begin();
    for (const auto& homesPart : homes) {
        if (part == candidate.end() || *part != homesPart)
            return std::nullopt;
        ++part;
    }
    if (part == candidate.end() || part->empty())
        return std::nullopt;
    return homes / *part;
}

void VellumtidePluginLibrary::appendUnique(LibraryCandidate candidate, std::vector<LibraryCandidate>& list) {
    candidate.url = standardized(candidate.url);
    const std::string& text = candidate.url.native();
    for (const auto& entry : list)
        if (standardized(entry.url).native() == text)
            return;
    list.push_back(std::move(candidate));
}

std::string VellumtidePluginLibrary::abbreviatedPath(const fs::path& path, const fs::path& home) {
    const std::string text = standardized(path).string();
    std::string homeText = home.string();
    while (homeText.size() > 1 && homeText.back() == '/')
        homeText.pop_back();
    // Only a whole leading run of components is the home folder: /home/anna is not inside /home/ann.
    if (homeText.empty() || text.compare(0, homeText.size(), homeText) != 0)
        return text;
    if (text.size() != homeText.size() && text[homeText.size()] != '/')
        return text;
    return "~" + text.substr(homeText.size());
}

void VellumtidePluginLibrary::setSamples(std::vector<VellumtidePluginSample> samples) {
    publishedSamples = std::move(samples);
    emit samplesChanged();
}

void VellumtidePluginLibrary::setStatus(std::string status) {
    publishedStatus = std::move(status);
    emit statusChanged();
}

void VellumtidePluginLibrary::setDetail(std::string detail) {
    publishedDetail = std::move(detail);
    emit detailChanged();
}
