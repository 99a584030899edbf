// Finding phones: the DNS-SD browse for the phone app's service, the device list that browse
// results and LAN sweeps merge into, the selection, and the LAN fallback loop that sweeps while
// no phone is known.

#include "Platform/Async/Sleep.h"
#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"

#include <QCollator>
#include <QLocale>
#include <QPointer>
#include <algorithm>

namespace {

constexpr const char* serviceType = "_vellumtide._tcp";
constexpr vt::Nanoseconds lanCheckDelay{2'500'000'000};
constexpr vt::Nanoseconds lanFallbackInterval{8'000'000'000};

VellumtideBrowseResult browseResultOf(const vt::net::DnsSdService& service) {
    VellumtideBrowseResult result;
    result.endpoint =
        VellumtideEndpoint::service(service.name, service.type, service.domain, service.interfaceName);
    result.txtRecord = service.txtRecord;
    return result;
}

// The LAN fallback loop: a sweep whenever no phone is known, then 8 s of sleep, until the
// loop's token is cancelled or the controller is gone.
QCoro::Task<> runLANFallbackLoop(QPointer<BridgeViewModel> self, vt::CancellationToken token) {
    while (!token.isCancelled() && self) {
        if (self->devices().empty() && !self->isScanningLAN())
            co_await self->scanLAN();
        if (!self)
            co_return;
        auto scheduler = self->dependencies().scheduler;
        co_await vt::sleepFor(*scheduler, lanFallbackInterval, token);
    }
}

// A second chance 2.5 s after browsing starts; nothing cancels it.
QCoro::Task<> runDelayedLANCheck(QPointer<BridgeViewModel> self) {
    auto scheduler = self->dependencies().scheduler;
    co_await vt::sleepFor(*scheduler, lanCheckDelay);
    if (self)
        co_await self->scanLANIfNeeded();
}

} // namespace

void BridgeViewModel::sortInDeviceOrder(std::vector<VellumtideDevice>& devices) {
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(
        devices.begin(), devices.end(), [&](const VellumtideDevice& a, const VellumtideDevice& b) {
            return collator.compare(QString::fromStdString(a.name), QString::fromStdString(b.name)) < 0;
        });
}

void BridgeViewModel::startBrowsing() {
    if (browser)
        return;
    setDiscoveryMessage("Starting Bonjour browser");
    browser = deps.browserFactory->makeBrowser(serviceType);
    const std::uint64_t generation = ++browserGeneration;
    QPointer<BridgeViewModel> self(this);
    // Each report is applied on a later turn of the main loop, in the order it came, and only
    // while its browser is still the current one.
    browser->setStateHandler([self, generation](const vt::net::DnsSdBrowserStateUpdate& update) {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, update] {
                if (self && self->browserGeneration == generation && self->browser)
                    self->applyBrowserState(update);
            },
            Qt::QueuedConnection);
    });
    browser->setResultsHandler([self, generation](const std::vector<vt::net::DnsSdService>& services) {
        if (!self)
            return;
        std::vector<VellumtideBrowseResult> results;
        for (const auto& service : services)
            results.push_back(browseResultOf(service));
        QMetaObject::invokeMethod(
            self.data(),
            [self, generation, results] {
                if (self && self->browserGeneration == generation && self->browser)
                    self->applyBrowseResults(results);
            },
            Qt::QueuedConnection);
    });
    browser->start();
    startLANFallbackLoop();
    vt::spawn([self]() -> QCoro::Task<> {
        if (self)
            co_await runDelayedLANCheck(self);
    });
}

void BridgeViewModel::restartBrowsing() {
    if (browser) {
        browser->cancel();
        browser.reset();
    }
    if (lanScanTask) {
        lanScanTask->cancel();
        lanScanTask.reset();
    }
    setDevices({});
    setSelectedDeviceID(std::nullopt);
    setIsBrowsing(false);
    setStatusMessage("Restarting discovery");
    setDiscoveryMessage("Restart requested");
    startBrowsing();
}

void BridgeViewModel::applyBrowserState(const vt::net::DnsSdBrowserStateUpdate& update) {
    using State = vt::net::DnsSdBrowserState;
    switch (update.state) {
    case State::failed:
        setIsBrowsing(false);
        setStatusMessage("Browser failed");
        setDiscoveryMessage("Browser failed: " + update.errorDescription);
        setErrorMessage(update.errorDescription);
        break;
    case State::waiting:
        setIsBrowsing(false);
        setStatusMessage("Waiting");
        setDiscoveryMessage("Browser waiting: " + update.errorDescription);
        setErrorMessage(update.errorDescription);
        break;
    case State::ready:
        setIsBrowsing(true);
        if (isWatchModeEnabled_)
            setStatusMessage(watchIdleStatus());
        else
            setStatusMessage(devices_.empty() ? "Searching for Vellumtide" : "Ready");
        setDiscoveryMessage("Bonjour browser ready");
        break;
    case State::cancelled:
        setIsBrowsing(false);
        setDiscoveryMessage("Browser cancelled");
        break;
    case State::setup:
        setDiscoveryMessage(update.description());
        break;
    }
}

void BridgeViewModel::applyBrowseResults(const std::vector<VellumtideBrowseResult>& results) {
    std::vector<VellumtideDevice> found;
    for (const auto& result : results)
        if (auto device = VellumtideDevice::make(result))
            found.push_back(std::move(*device));
    sortInDeviceOrder(found);
    merge(found);

    const bool selectionListed =
        selectedDeviceID_ && std::any_of(devices_.begin(), devices_.end(), [&](const VellumtideDevice& d) {
            return d.id == *selectedDeviceID_;
        });
    if (!selectionListed)
        setSelectedDeviceID(devices_.empty() ? std::nullopt
                                             : std::optional<std::string>(devices_.front().id));
    requestAutoSync();

    const std::size_t n = devices_.size();
    if (isSyncing_) {
        // A running sync owns the status texts.
    } else if (isWatchModeEnabled_) {
        if (selectedDevice() && watchMessage_ == "Waiting for iPhone")
            setWatchMessage("Background sync on");
    } else {
        setStatusMessage(n == 0 ? "Searching for Vellumtide" : PhoneLink::counted(n, " iPhone", " found"));
    }
    setDiscoveryMessage(n == 0 ? "No Bonjour services found"
                               : "Found " + PhoneLink::counted(n, " Bonjour service"));
}

void BridgeViewModel::merge(const std::vector<VellumtideDevice>& found) {
    if (found.empty())
        return;
    std::vector<VellumtideDevice> merged = devices_;
    for (const auto& device : found) {
        const bool listed = std::any_of(merged.begin(), merged.end(),
                                        [&](const VellumtideDevice& known) { return known.id == device.id; });
        if (!listed)
            merged.push_back(device);
    }
    sortInDeviceOrder(merged);
    setDevices(std::move(merged));
    if (!selectedDeviceID_)
        setSelectedDeviceID(devices_.front().id);
}

void BridgeViewModel::startLANFallbackLoop() {
    if (lanScanTask)
        return;
    vt::CancellationToken token;
    lanScanTask = token;
    QPointer<BridgeViewModel> self(this);
    vt::spawn([self, token]() -> QCoro::Task<> { co_await runLANFallbackLoop(self, token); });
}

QCoro::Task<> BridgeViewModel::scanLANIfNeeded() {
    if (devices_.empty() && !isScanningLAN_)
        co_await scanLAN();
}

QCoro::Task<> BridgeViewModel::scanLAN() {
    if (isScanningLAN_)
        co_return;
    QPointer<BridgeViewModel> self(this);
    setIsScanningLAN(true);
    ScopeExit clearBusy([self] {
        if (self)
            self->setIsScanningLAN(false);
    });
    setStatusMessage("Scanning LAN");
    setDiscoveryMessage("Trying port " + std::to_string(VellumtideLANScanner::vellumtidePort) +
                        " on local Wi-Fi");

    const std::vector<VellumtideDevice> found = co_await lanScanner.scan();
    if (!self)
        co_return;
    merge(found);
    requestAutoSync();

    const std::size_t n = found.size();
    if (n > 0) {
        setStatusMessage(PhoneLink::counted(n, " iPhone", " found by LAN scan"));
        setDiscoveryMessage("Bonjour fallback found " + PhoneLink::counted(n, " device"));
    } else {
        setStatusMessage(devices_.empty() ? std::string("No iPhone found") : statusMessage_);
        setDiscoveryMessage("LAN scan found nothing");
    }
}
