// Keeping the selected phone's library in step without user action: the watch loop syncs it
// again and again while watch mode is on, and discovery asks for a debounced automatic sync with
// a least gap per phone. Both run background (automatic) syncs.

#include "Platform/Async/Sleep.h"
#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QPointer>

namespace {

// A tick, then the watch interval, until the loop's token is cancelled or the controller is gone.
QCoro::Task<> runWatchLoop(QPointer<BridgeViewModel> self, vt::CancellationToken token,
                           vt::Nanoseconds interval) {
    while (!token.isCancelled() && self) {
        co_await self->runWatchTick();
        if (!self)
            co_return;
        auto scheduler = self->dependencies().scheduler;
        co_await vt::sleepFor(*scheduler, interval, token);
    }
}

// Waits out the debounce; a newer request cancels this one and it ends without syncing.
QCoro::Task<> runAutoSync(QPointer<BridgeViewModel> self, vt::CancellationToken token,
                          vt::Nanoseconds debounce) {
    auto scheduler = self->dependencies().scheduler;
    co_await vt::sleepFor(*scheduler, debounce, token);
    if (token.isCancelled() || !self)
        co_return;
    co_await self->syncSelectedDeviceIfDue();
}

} // namespace

void BridgeViewModel::startWatchMode() {
    if (watchTask)
        return;
    setWatchMessageIfChanged(selectedDevice() ? "Background sync on" : "Waiting for iPhone");
    vt::CancellationToken token;
    watchTask = token;
    QPointer<BridgeViewModel> self(this);
    vt::spawn([self, token, interval = vt::Nanoseconds(watchIntervalNanoseconds)]() -> QCoro::Task<> {
        if (self)
            co_await runWatchLoop(self, token, interval);
    });
}

void BridgeViewModel::stopWatchMode() {
    if (watchTask) {
        watchTask->cancel();
        watchTask.reset();
    }
    setWatchMessageIfChanged("Watch mode off");
    if (!isSyncing_)
        setStatusMessage(devices_.empty() ? "Searching for Vellumtide" : "Ready");
}

QCoro::Task<> BridgeViewModel::runWatchTick() {
    if (!isWatchModeEnabled_)
        co_return;
    const auto device = selectedDevice();
    if (!device) {
        setWatchMessageIfChanged("Waiting for iPhone");
        co_return;
    }
    if (isSyncing_ || isWatchSyncing)
        co_return;
    co_await sync(*device, SyncMode::automatic);
}

void BridgeViewModel::requestAutoSync() {
    if (!selectedDevice())
        return;
    if (autoSyncTask)
        autoSyncTask->cancel();
    vt::CancellationToken token;
    autoSyncTask = token;
    QPointer<BridgeViewModel> self(this);
    vt::spawn([self, token, debounce = vt::Nanoseconds(autoSyncDebounceNanoseconds)]() -> QCoro::Task<> {
        if (self)
            co_await runAutoSync(self, token, debounce);
    });
}

QCoro::Task<> BridgeViewModel::syncSelectedDeviceIfDue() {
    const auto device = selectedDevice();
    if (!device)
        co_return;
    const vt::Nanoseconds now = deps.scheduler->clock().now();
    const auto last = lastAutoSyncAtByDeviceID.find(device->id);
    if (last != lastAutoSyncAtByDeviceID.end() &&
        now - last->second < vt::secondsToNanoseconds(minimumAutoSyncInterval))
        co_return;
    lastAutoSyncAtByDeviceID[device->id] = now;
    co_await sync(*device, SyncMode::automatic);
}
