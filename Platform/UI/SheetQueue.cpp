#include "Platform/UI/SheetQueue.h"

#include <QTimer>
#include <algorithm>

namespace vt::ui {

SheetQueue::SheetQueue(QWidget* host) : QObject(host), host(host) {}

void SheetQueue::request(const QString& key, Kind kind, PanelMaker make, Presented presented) {
    std::erase_if(waiting, [&](const Waiting& entry) { return entry.key == key; });
    waiting.push_back({key, kind, std::move(make), std::move(presented), nextOrder++});
    scheduleNext();
}

void SheetQueue::withdraw(const QString& key) {
    std::erase_if(waiting, [&](const Waiting& entry) { return entry.key == key; });
    for (const Shown& entry : std::vector<Shown>(shown))
        if (entry.key == key && entry.overlay)
            entry.overlay->dismiss(); // its dismissal lets the next one come
    forgetClosed();
}

bool SheetQueue::isWaiting(const QString& key) const {
    return std::any_of(waiting.begin(), waiting.end(),
                       [&](const Waiting& entry) { return entry.key == key; });
}

SheetOverlay* SheetQueue::overlay(const QString& key) const {
    for (const Shown& entry : shown)
        if (entry.key == key && entry.overlay && !entry.overlay->isHidden())
            return entry.overlay;
    return nullptr;
}

// Two turns of the event loop: what is asked for in one moment, and what the reports it sets off
// on the next turn ask for (a browser's state, say), are all in before the choice is made.
void SheetQueue::scheduleNext() {
    if (isScheduled)
        return;
    isScheduled = true;
    QTimer::singleShot(0, this, [this] {
        QTimer::singleShot(0, this, [this] {
            isScheduled = false;
            showNext();
        });
    });
}

void SheetQueue::forgetClosed() {
    std::erase_if(shown, [](const Shown& entry) { return !entry.overlay || entry.overlay->isHidden(); });
}

// Nothing up: anything may come. A sheet up: only an alert, over it. An alert up: nothing.
bool SheetQueue::mayShowNow(Kind kind) const {
    if (shown.empty())
        return true;
    return kind == Kind::alert && std::none_of(shown.begin(), shown.end(),
                                               [](const Shown& entry) { return entry.kind == Kind::alert; });
}

void SheetQueue::showNext() {
    forgetClosed();
    if (!host || waiting.empty())
        return;
    const auto next =
        std::min_element(waiting.begin(), waiting.end(), [](const Waiting& a, const Waiting& b) {
            return a.kind != b.kind ? a.kind < b.kind : a.order < b.order;
        });
    if (!mayShowNow(next->kind))
        return; // it comes when what is up closes
    Waiting entry = std::move(*next);
    waiting.erase(next);
    SheetOverlay* overlay = SheetOverlay::present(host, entry.make());
    shown.push_back({entry.key, entry.kind, overlay});
    connect(overlay, &SheetOverlay::dismissed, this, &SheetQueue::scheduleNext);
    if (entry.presented)
        entry.presented(overlay);
}

} // namespace vt::ui
