#include "Platform/Async/Scheduler.h"

#include "Platform/Async/Spawn.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

namespace vt {

QtScheduler::QtScheduler() = default;

QtScheduler::~QtScheduler() {
    for (auto& [id, timer] : timers)
        delete timer;
}

Scheduler::TimerId QtScheduler::schedule(Nanoseconds delay, std::function<void()> action) {
    const TimerId id = nextId++;
    auto* timer = new QTimer();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    // QTimer counts whole milliseconds; round up so a timer never fires early.
    const auto nanos = std::max<Nanoseconds::rep>(delay.count(), 0);
    const auto millis = std::min<Nanoseconds::rep>((nanos + 999'999) / 1'000'000, 2'000'000'000);
    timer->setInterval(static_cast<int>(millis));
    QObject::connect(timer, &QTimer::timeout, timer, [this, id, action = std::move(action)]() mutable {
        auto found = timers.find(id);
        if (found == timers.end())
            return;
        found->second->deleteLater();
        timers.erase(found);
        auto run = std::move(action);
        run();
    });
    timers.emplace(id, timer);
    timer->start();
    return id;
}

void QtScheduler::cancel(TimerId id) {
    auto found = timers.find(id);
    if (found == timers.end())
        return;
    found->second->stop();
    found->second->deleteLater();
    timers.erase(found);
}

Scheduler::TimerId VirtualScheduler::schedule(Nanoseconds delay, std::function<void()> action) {
    const TimerId id = nextId++;
    const Nanoseconds due = virtualClock.current + std::max(delay, Nanoseconds{0});
    timers.emplace(Key{due, id}, std::move(action));
    dueById.emplace(id, due);
    return id;
}

void VirtualScheduler::cancel(TimerId id) {
    auto found = dueById.find(id);
    if (found == dueById.end())
        return;
    timers.erase(Key{found->second, id});
    dueById.erase(found);
}

bool VirtualScheduler::fireNextDue(Nanoseconds limit) {
    if (timers.empty() || timers.begin()->first.due > limit)
        return false;
    auto first = timers.begin();
    const Key key = first->first;
    auto action = std::move(first->second);
    timers.erase(first);
    dueById.erase(key.id);
    virtualClock.current = std::max(virtualClock.current, key.due);
    action();
    return true;
}

void VirtualScheduler::runReady() {
    do {
        drainPostedEvents();
    } while (fireNextDue(virtualClock.current));
    drainPostedEvents();
}

VirtualScheduler::~VirtualScheduler() {
    if (QCoreApplication::instance())
        shutDown();
}

void VirtualScheduler::shutDown() {
    shutdown.cancel();
    // A timer that keeps scheduling itself must not hold the test forever.
    constexpr int firingLimit = 100'000;
    runReady();
    for (int fired = 0; fired < firingLimit && fireNextDue(Nanoseconds::max()); ++fired)
        runReady();
    timers.clear();
    dueById.clear();
}

void VirtualScheduler::advanceBy(Nanoseconds delta) {
    const Nanoseconds target = virtualClock.current + std::max(delta, Nanoseconds{0});
    runReady();
    while (fireNextDue(target))
        runReady();
    virtualClock.current = target;
    runReady();
}

void drainPostedEvents() {
    // A few quiet passes in a row: work posted while running posted work gets its turn too.
    int quietPasses = 0;
    for (int pass = 0; pass < 10000 && quietPasses < 3; ++pass) {
        const bool pending = detail::pendingSpawns().load() > 0;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        quietPasses = pending ? 0 : quietPasses + 1;
    }
}

} // namespace vt
