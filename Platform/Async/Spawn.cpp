#include "Platform/Async/Spawn.h"

#include "Platform/Async/Background.h"

namespace vt {

namespace detail {
std::atomic<int>& pendingSpawns() {
    static std::atomic<int> count{0};
    return count;
}

QCoro::Task<> awaitGuarded(QCoro::Task<> task) {
    try {
        co_await std::move(task);
    } catch (...) {
    }
}
} // namespace detail

void spawnStarted(QCoro::Task<> task) {
    detail::awaitGuarded(std::move(task));
}

QThreadPool& userInitiatedPool() {
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool();
        created->setThreadPriority(QThread::NormalPriority);
        return created;
    }();
    return *pool;
}

QThreadPool& utilityPool() {
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool();
        created->setThreadPriority(QThread::LowPriority);
        return created;
    }();
    return *pool;
}

} // namespace vt
