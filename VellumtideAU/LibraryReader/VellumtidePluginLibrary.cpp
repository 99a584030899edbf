#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"

#include "Platform/Core/AtomicFile.h"
#include "VellumtideAU/LibraryReader/LibraryScanner.h"

#include <algorithm>
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

} // namespace

VellumtidePluginLibrary::VellumtidePluginLibrary(LibraryEnvironment environment,
                                                 std::unique_ptr<RefreshTimer> timer, QObject* parent,
                                                 FirstRead firstRead)
    : QObject(parent), environment(std::move(environment)),
      timer(timer ? std::move(timer) : makeQtRefreshTimer()),
      scanner(std::make_shared<LibraryScanner>(this->environment)) {
    auto candidates = libraryCandidates(this->environment);
    root = candidates.empty() ? this->environment.home : candidates.front().url;
    if (firstRead == FirstRead::now)
        refresh();
    else
        refreshInBackground();
}

// The reader's thread goes first: it reaches this object until it is joined. What it posted and
// was not yet delivered is dropped with the object.
VellumtidePluginLibrary::~VellumtidePluginLibrary() {
    timer->stop();
    thread.reset();
}

void VellumtidePluginLibrary::refresh() {
    const std::atomic_bool running{false};
    publish(scanner->pass(true, running));
}

void VellumtidePluginLibrary::refreshIfChanged() {
    const std::atomic_bool running{false};
    publish(scanner->pass(false, running));
}

void VellumtidePluginLibrary::refreshInBackground() {
    ++requestedPasses;
    if (!thread)
        thread = std::make_unique<LibraryReaderThread>([this](const std::atomic_bool& stop) {
            // The requests made so far are served by this pass; later ones by the next.
            const std::uint64_t request = requestedPasses.load();
            auto deliver = [this](LibrarySnapshot snapshot) {
                auto delivered = std::make_shared<LibrarySnapshot>(std::move(snapshot));
                QMetaObject::invokeMethod(
                    this, [this, delivered] { publish(std::move(*delivered)); }, Qt::QueuedConnection);
            };
            // The first rows of a library that shows nothing yet come first; they serve no request.
            LibrarySnapshot snapshot = scanner->pass(false, stop, deliver);
            if (stop)
                return;
            snapshot.request = request;
            deliver(std::move(snapshot));
        });
    thread->request();
}

void VellumtidePluginLibrary::publish(LibrarySnapshot snapshot) {
    servedRequest = std::max(servedRequest, snapshot.request);
    if (snapshot.sequence <= publishedSequence)
        return; // a pass older than what is shown
    publishedSequence = snapshot.sequence;
    reads = snapshot.reads;
    root = snapshot.root;
    if (!snapshot.changed)
        return;
    SampleList previous = publishedSamples;
    setDetail(std::move(snapshot.readingDetail));
    publishedFavorites = snapshot.favorites;
    setSamples(std::move(snapshot.samples));
    setStatus(std::move(snapshot.status));
    setDetail(std::move(snapshot.detail));
    // A list nobody else holds any more is freed on the reader's thread, not on this one.
    if (thread && previous.use_count() == 1)
        thread->release(std::move(previous));
}

void VellumtidePluginLibrary::startLiveRefresh() {
    refreshInBackground();
    timer->start(refreshInterval, [this] { refreshInBackground(); });
}

void VellumtidePluginLibrary::stopLiveRefresh() {
    if (!timer->isActive())
        return;
    timer->stop();
    refreshInBackground();
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

void VellumtidePluginLibrary::setSamples(SampleList samples) {
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
