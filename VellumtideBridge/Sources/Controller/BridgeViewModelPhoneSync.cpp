// The library sync: check the phone and its token, fetch its sample list, download the files the
// library folder lacks, save the list, take over the phone's chops, report, and analyse the new
// samples. One sync runs at a time, started by the user (manual) or in the background
// (automatic); the typed-address entry lives here too.

#include "Platform/Async/Background.h"
#include "Platform/Async/TimeSlice.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLibraryList.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"

#include <QPointer>
#include <algorithm>
#include <unordered_map>

namespace {

constexpr double requestTimeout = 8.0;
constexpr double automaticHealthTimeout = 1.2;

double healthTimeout(BridgeViewModel::SyncMode mode) {
    return mode == BridgeViewModel::SyncMode::automatic ? automaticHealthTimeout : requestTimeout;
}

// Thrown inside a sync whose controller went away while it waited; nobody reports it.
struct ControllerGone : std::exception {};

bool isPairingRequired(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BridgePairingRequiredError&) {
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<VellumtidePhoneHealth> decodedHealth(const std::string& body) {
    try {
        return VellumtidePhoneHealth::fromJson(vt::json::parse(body));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// What a fetched list asks of the sync, worked out off the main thread: an unchanged library of
// tens of thousands of samples is compared and its files looked at without stalling the window.
struct ListPlan {
    std::vector<SampleItem> list;
    bool listChanged = false;
    std::vector<std::size_t> missing;      // samples whose file is missing or short, in the phone's order
    std::vector<std::size_t> unstorable;   // names that can never be stored, listed for the first time
    std::vector<std::size_t> chopsOffered; // samples the phone offers chops for
};

ListPlan planList(PhoneLibraryList& received, const BridgeSampleCache& cache,
                  const std::vector<SampleItem>& library) {
    ListPlan plan;
    plan.list = received.decode();
    plan.listChanged = plan.list != library;
    std::unordered_map<vt::Uuid, const SampleItem*> listed;
    for (std::size_t index = 0; index < plan.list.size(); ++index) {
        const SampleItem& sample = plan.list[index];
        if (sample.isChopEnabled && !sample.chops.empty())
            plan.chopsOffered.push_back(index);
        if (!cache.sampleURL(sample)) {
            // Told once, when the phone first lists it.
            if (listed.empty())
                for (const auto& known : library)
                    listed.emplace(known.id, &known);
            const auto known = listed.find(sample.id);
            if (known == listed.end() || known->second->fileName != sample.fileName)
                plan.unstorable.push_back(index);
        } else if (cache.needsDownload(sample)) {
            plan.missing.push_back(index);
        }
    }
    return plan;
}

// (A plain function: no closure is made inside the caller's co_await, see Background.h.)
QCoro::Task<ListPlan> planListInBackground(std::shared_ptr<PhoneLibraryList> received,
                                           std::shared_ptr<const BridgeSampleCache> cache,
                                           std::shared_ptr<const std::vector<SampleItem>> library) {
    return vt::runInBackground(
        vt::userInitiatedPool(),
        [received = std::move(received), cache = std::move(cache), library = std::move(library)] {
            return planList(*received, *cache, *library);
        });
}

// A file name as a text shows it: control characters (a NUL among them) as "?".
std::string printableName(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return name;
}

bool isTimedOut(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const VellumtideHTTPClientError& clientError) {
        return clientError.errorCase() == VellumtideHTTPClientError::Case::timedOut;
    } catch (...) {
        return false;
    }
}

// True when the phone answers "/health" within the time-out: it is still there, whatever held up
// one of its files.
QCoro::Task<bool> stillAnswers(VellumtideHTTPClient& client, VellumtideEndpoint endpoint, double timeout) {
    try {
        co_await client.get("/health", std::move(endpoint), timeout);
    } catch (...) {
        co_return false;
    }
    co_return true;
}

std::uint64_t fileSizeOrZero(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
}

} // namespace

void BridgeViewModel::setWatchMessageIfChanged(const std::string& text) {
    if (watchMessage_ != text)
        setWatchMessage(text);
}

QCoro::Task<BridgeViewModel::AuthorizedDevice> BridgeViewModel::authorize(VellumtideDevice device,
                                                                          SyncMode mode) {
    QPointer<BridgeViewModel> self(this);
    const std::string body = co_await client.get("/health", device.endpoint, healthTimeout(mode));
    if (!self)
        throw ControllerGone();
    const auto health = decodedHealth(body);

    AuthorizedDevice authorized;
    authorized.deviceID =
        health && health->deviceID ? *health->deviceID : device.pairingID.value_or(device.id);
    authorized.deviceName = health && health->deviceName ? *health->deviceName : device.name;
    const auto token = pairingStore.token(authorized.deviceID);
    if (!token) {
        promptPairing(device, authorized.deviceID, authorized.deviceName, mode);
        throw BridgePairingRequiredError();
    }
    authorized.headers = {{"X-Vellumtide-Token", *token}};
    co_return authorized;
}

QCoro::Task<> BridgeViewModel::sync(VellumtideDevice device, SyncMode mode) {
    if (isSyncing_ || isWatchSyncing)
        co_return;
    QPointer<BridgeViewModel> self(this);
    const bool automatic = mode == SyncMode::automatic;
    if (automatic) {
        isWatchSyncing = true;
    } else {
        setIsSyncing(true);
        setStatusMessage("Syncing " + device.name);
    }
    ScopeExit clearBusy([self, automatic] {
        if (!self)
            return;
        if (automatic)
            self->isWatchSyncing = false;
        else
            self->setIsSyncing(false);
    });
    // Memory that runs out in a step no other handler covers still ends the sync with a text.
    std::exception_ptr unexpected;
    try {
        co_await syncSteps(device, mode);
    } catch (const std::bad_alloc&) {
        unexpected = std::current_exception();
    }
    if (unexpected && self)
        applySyncFailure(unexpected, device, mode);
}

QCoro::Task<> BridgeViewModel::syncSteps(VellumtideDevice device, SyncMode mode) {
    QPointer<BridgeViewModel> self(this);
    const bool automatic = mode == SyncMode::automatic;
    // Every failure ends the sync here; a failed request may mean the token was rejected.
    std::optional<AuthorizedDevice> authorized;
    auto fail = [&](std::exception_ptr error, bool fromRequest) {
        if (fromRequest && authorized && isUnauthorized(error)) {
            pairingStore.removeToken(authorized->deviceID);
            promptPairing(device, authorized->deviceID, authorized->deviceName, mode);
            error = std::make_exception_ptr(BridgePairingRequiredError());
        }
        applySyncFailure(error, device, mode);
    };
    // After a step that waited: true when the sync ends here, because the controller went away
    // meanwhile or the step failed (reported).
    auto ends = [&](std::exception_ptr failure, bool fromRequest) {
        if (!self)
            return true;
        if (failure)
            fail(failure, fromRequest);
        return failure != nullptr;
    };

    std::exception_ptr failure;
    try {
        authorized = co_await authorize(device, mode);
    } catch (...) {
        failure = std::current_exception();
    }
    if (ends(failure, false))
        co_return;

    if (!automatic)
        setStatusMessage("Fetching library");
    // The list is bounded as it arrives (a list over a bound fails the request at once).
    auto received = std::make_shared<PhoneLibraryList>();
    try {
        co_await client.receive("/library.json", device.endpoint, requestTimeout, authorized->headers,
                                received);
    } catch (...) {
        failure = std::current_exception();
    }
    if (ends(failure, true))
        co_return;

    const std::uint64_t listBytes = received->size();
    ListPlan plan;
    try {
        plan = co_await planListInBackground(std::move(received), cache, librarySnapshot);
    } catch (...) {
        failure = std::current_exception();
    }
    if (ends(failure, false))
        co_return;
    std::vector<SampleItem>& list = plan.list;

    // A sample deleted in the desktop program is never fetched again.
    std::vector<std::string> unsaved; // one text per sample that could not be stored
    for (const std::size_t index : plan.unstorable)
        if (!isTombstoned(list[index].id))
            unsaved.push_back("\"" + displayTitle(list[index]) + "\" was not saved. The file name \"" +
                              printableName(list[index].fileName) +
                              "\" cannot be used in the library folder.");
    std::vector<const SampleItem*> pending; // what to fetch, in the phone's order
    for (const std::size_t index : plan.missing)
        if (!isTombstoned(list[index].id))
            pending.push_back(&list[index]);

    std::set<vt::Uuid> newIDs;
    std::vector<SampleItem> deletedOnArrival; // deleted by the user while their file came
    std::size_t downloaded = 0;
    std::optional<std::uint64_t> missingSpace;
    const std::uint64_t jsonRoom = listBytes + fileSizeOrZero(cache->metadataURL()) + (64u << 10);
    for (std::size_t index = 0; index < pending.size(); ++index) {
        const SampleItem& sample = *pending[index];
        // Deleted by the user since the list was made: not fetched.
        if (isTombstoned(sample.id))
            continue;
        // Room for the file and both JSON files, or the download stops here: what is stored is
        // listed, and the user learns how much space is missing.
        if (const auto shortfall = spaceShortfall(pending, index, jsonRoom)) {
            missingSpace = shortfall;
            for (std::size_t rest = index; rest < pending.size(); ++rest)
                unsaved.push_back("\"" + displayTitle(*pending[rest]) +
                                  "\" was not saved. There is not enough space in the library folder.");
            break;
        }
        if (automatic)
            setWatchMessageIfChanged("Receiving new sample");
        else
            setStatusMessage("Downloading " + sample.title);
        // The body streams into a temporary beside the file and takes its place once whole. A
        // sample that cannot be stored or that the phone does not deliver whole (also one whose
        // body stops coming while the phone still answers) does not stop the others: it is named
        // at the end and tried again by the next sync.
        std::optional<std::string> notStored;
        try {
            const auto target = cache->prepareSampleFile(sample);
            try {
                co_await client.download("/samples/" + PhoneLink::percentEncodedPath(sample.fileName),
                                         device.endpoint, requestTimeout, authorized->headers, target);
            } catch (const std::filesystem::filesystem_error& error) {
                throw BridgeSampleCache::saveFailure(target, error.code());
            }
        } catch (const BridgeLibraryError& error) {
            notStored = error.what();
        } catch (...) {
            if (PhoneLink::isFileLevelFailure(std::current_exception()))
                notStored = PhoneLink::failureText(std::current_exception());
            else
                failure = std::current_exception();
        }
        // A body that stopped coming while the phone still answers concerns only its file.
        if (failure && isTimedOut(failure)) {
            const bool answers = co_await stillAnswers(client, device.endpoint, healthTimeout(mode));
            if (answers) {
                notStored = "The iPhone did not send the whole file in time.";
                failure = nullptr;
            }
        }
        if (ends(failure, true))
            co_return;
        if (notStored) {
            unsaved.push_back("\"" + displayTitle(sample) + "\" was not saved. " + *notStored);
            continue;
        }
        if (isTombstoned(sample.id)) {
            deletedOnArrival.push_back(sample);
            continue;
        }
        ++downloaded;
        newIDs.insert(sample.id);
    }
    // What the user deleted while it came goes again, in the library and the plug-in's copy.
    if (!deletedOnArrival.empty()) {
        co_await writeLibrary({.metadata = true}, nullptr,
                              removalOfDeletedFiles(std::move(deletedOnArrival)));
        if (!self)
            co_return;
    }

    const bool listChanged = plan.listChanged;
    if (listChanged || downloaded > 0) {
        // Written off the main thread; the list is taken on only once it is on disk.
        auto written = std::make_shared<const std::vector<SampleItem>>(list);
        auto writeFailure = co_await writeLibrary({.manifest = true}, written);
        if (!self)
            co_return;
        if (writeFailure) {
            fail(std::make_exception_ptr(BridgeLibraryError(*writeFailure)), false);
            co_return;
        }
        if (listChanged) {
            librarySamples = list;
            librarySnapshot = std::move(written);
            setSamples(displaySamples(list));
        }
    }

    if (auto candidates = co_await phoneChopCandidates(list, plan.chopsOffered); !candidates.empty()) {
        co_await syncPhoneChops(std::move(candidates));
        if (!self)
            co_return;
    }
    // New files reach the plug-in's copy and withdrawn ones leave it (only what changed is
    // copied); a copy an earlier pass left short is tried again. What it still lacks is part of
    // this sync's outcome.
    std::optional<std::string> mirrorProblem;
    if (listChanged || downloaded > 0 || isMirrorIncomplete) {
        auto mirrorFailure = co_await mirrorLibrary(&mirrorProblem);
        if (!self)
            co_return;
        if (mirrorFailure)
            mirrorProblem = std::move(mirrorFailure);
    }
    stopPreviewIfHidden();
    applySyncSuccess(downloaded, device, mode);
    co_await analyzeSamplesIfNeeded(std::move(list), newIDs, automatic);
    // Last, so that the status line ends on what is still missing.
    if (self && (!unsaved.empty() || mirrorProblem))
        reportSyncShortfall(unsaved, mode, missingSpace, mirrorProblem);
}

QCoro::Task<std::vector<SampleItem>>
BridgeViewModel::phoneChopCandidates(const std::vector<SampleItem>& list,
                                     const std::vector<std::size_t>& chopsOffered) {
    QPointer<BridgeViewModel> self(this);
    const auto scheduler = deps.scheduler;
    std::set<std::size_t> candidates(chopsOffered.begin(), chopsOffered.end());
    // Each sample's overlay entry looked up in turn; the window gets a turn between slices.
    vt::TimeSlice slice;
    for (std::size_t index = 0; index < list.size(); ++index) {
        if (slice.isSpent()) {
            co_await slice.yield(*scheduler);
            if (!self)
                co_return {};
        }
        const auto entry = sampleMetadata.find(list[index].id);
        if (entry != sampleMetadata.end() && entry->second.chopSource == phoneChopSource)
            candidates.insert(index);
    }
    std::vector<SampleItem> chosen;
    for (const std::size_t index : candidates)
        chosen.push_back(list[index]);
    co_return chosen;
}

std::optional<std::uint64_t> BridgeViewModel::spaceShortfall(const std::vector<const SampleItem*>& pending,
                                                             std::size_t index,
                                                             std::uint64_t jsonRoom) const {
    const auto available = freeSpaceOf(cache->samplesDirectory());
    const auto length = [](const SampleItem* sample) {
        return static_cast<std::uint64_t>(std::max<std::int64_t>(sample->byteCount, 0));
    };
    if (!available || *available >= length(pending[index]) + jsonRoom)
        return std::nullopt;
    std::uint64_t needed = jsonRoom;
    for (std::size_t rest = index; rest < pending.size(); ++rest)
        needed += length(pending[rest]);
    return needed - std::min(needed, *available);
}

void BridgeViewModel::reportSyncShortfall(const std::vector<std::string>& texts, SyncMode mode,
                                          std::optional<std::uint64_t> missingSpace,
                                          const std::optional<std::string>& mirrorProblem) {
    std::string summary = "Plug-in library incomplete";
    if (!texts.empty())
        summary = "Could not save " + (texts.size() == 1
                                           ? texts.front().substr(0, texts.front().find(" was not saved."))
                                           : PhoneLink::counted(texts.size(), " sample"));
    if (mode == SyncMode::automatic) {
        setWatchMessageIfChanged(summary);
        return;
    }
    std::string alert;
    for (const auto& text : texts)
        alert += text + "\n";
    if (missingSpace)
        alert += "The library folder needs " +
                 BridgeFormatters::bytes(static_cast<std::int64_t>(*missingSpace)) +
                 " more free space for them.\n";
    if (!texts.empty())
        alert += "The other samples were synced; the next sync tries again.";
    if (mirrorProblem)
        alert += (alert.empty() ? "" : "\n\n") + *mirrorProblem;
    reportFailure(summary, alert);
}

void BridgeViewModel::applySyncSuccess(std::size_t downloaded, const VellumtideDevice&, SyncMode mode) {
    if (mode == SyncMode::automatic) {
        if (downloaded == 0)
            setWatchMessageIfChanged("Background sync on");
        else
            setWatchMessageIfChanged("Added " + std::to_string(downloaded) + " at " +
                                     BridgeFormatters::shortTime().format(deps.wallClock->now()));
        return;
    }
    setStatusMessage(downloaded == 0 ? std::string("Library is up to date")
                                     : "Synced " + PhoneLink::counted(downloaded, " new sample"));
    if (isWatchModeEnabled_)
        setWatchMessageIfChanged("Background sync on");
}

void BridgeViewModel::applySyncFailure(std::exception_ptr error, const VellumtideDevice& device,
                                       SyncMode mode) {
    const bool pairingRequired = isPairingRequired(error);
    if (mode == SyncMode::automatic) {
        setWatchMessageIfChanged(pairingRequired ? "Pair iPhone to sync" : "Waiting for iPhone");
        return;
    }
    if (pairingRequired) {
        setStatusMessage("Pair " + device.name);
        return;
    }
    setErrorMessage(PhoneLink::failureText(error));
    setStatusMessage("Sync failed");
}

QCoro::Task<> BridgeViewModel::syncManualAddress() {
    const std::string text = trimmedText(manualAddress_);
    if (text.empty()) {
        setStatusMessage("Manual address empty");
        setErrorMessage("Paste the full Sync Address from the iPhone, including the port.");
        co_return;
    }
    const auto endpoint = PhoneLink::endpointFromAddress(text);
    if (!endpoint) {
        setStatusMessage("Manual address invalid");
        setErrorMessage("Enter the iPhone sync address as 192.168.1.23:51234.");
        co_return;
    }
    VellumtideDevice device{"manual|" + text, "Manual iPhone", *endpoint, text, std::nullopt};
    co_await sync(device, SyncMode::manual);
}

QCoro::Task<> BridgeViewModel::syncSelectedDevice() {
    const auto device = selectedDevice();
    if (!device) {
        setStatusMessage("No iPhone found");
        co_return;
    }
    if (device->pairingID)
        dismissedPairingIDs.erase(*device->pairingID);
    co_await sync(*device, SyncMode::manual);
}
