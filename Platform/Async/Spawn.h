#pragma once
// Starting detached tasks on the Qt main loop. spawn() takes a callable that returns a
// QCoro::Task<>: it is called on the next loop turn (like an enqueued task), and every exception
// the task throws is caught and dropped so none escapes into the event loop.

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <qcoro/qcorotask.h>
#include <type_traits>
#include <utility>

namespace vt {

namespace detail {
std::atomic<int>& pendingSpawns();

template <typename F> QCoro::Task<> runGuarded(F make) {
    try {
        co_await std::invoke(make);
    } catch (...) {
        // A detached task has no one to report to; its own code writes its outcome.
    }
}
} // namespace detail

template <typename F> void spawn(F make) {
    static_assert(std::is_invocable_v<F&>, "spawn needs a callable returning QCoro::Task<>");
    auto holder = std::make_shared<F>(std::move(make));
    detail::pendingSpawns().fetch_add(1);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [holder]() mutable {
            detail::pendingSpawns().fetch_sub(1);
            // The guarded coroutine owns its copy of the callable for as long as it runs.
            detail::runGuarded(std::move(*holder));
        },
        Qt::QueuedConnection);
}

// Guards a task that already runs: its exceptions are dropped. It is not deferred.
void spawnStarted(QCoro::Task<> task);

} // namespace vt
