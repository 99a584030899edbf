#pragma once
// Running coroutines to their end from a test: a process-wide QCoreApplication and a loop that
// turns until a task finishes or a real-time limit passes.

#include "Platform/Async/Spawn.h"
#include "Tests/Support/Patience.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <exception>
#include <optional>
#include <qcoro/qcorotask.h>

namespace vt::test {

inline QCoreApplication& testApplication() {
    static int argc = 1;
    static char name[] = "vellumtide-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance =
        QCoreApplication::instance() ? QCoreApplication::instance() : new QCoreApplication(argc, argv);
    return *static_cast<QCoreApplication*>(instance);
}

// Turns the loop until done() holds or limit passes; returns done().
template <typename Predicate> bool turnLoopUntil(Predicate done, std::chrono::milliseconds limit) {
    testApplication();
    QElapsedTimer watch;
    watch.start();
    while (!done() && watch.elapsed() < limit.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return done();
}

// The outcome of a task run to its end: its value or the exception it threw.
template <typename T> struct TaskOutcome {
    std::optional<T> value;
    std::exception_ptr error;
    bool finished = false;
};

template <typename T, typename Make>
TaskOutcome<T> runTask(Make make, std::chrono::milliseconds limit = patience) {
    testApplication();
    auto outcome = std::make_shared<TaskOutcome<T>>();
    spawn([outcome, make]() mutable -> QCoro::Task<> {
        try {
            outcome->value.emplace(co_await make());
        } catch (...) {
            outcome->error = std::current_exception();
        }
        outcome->finished = true;
    });
    turnLoopUntil([&] { return outcome->finished; }, limit);
    return std::move(*outcome);
}

// The error's what() text, or "" when there was none.
inline std::string errorText(const std::exception_ptr& error) {
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "unknown";
    }
}

} // namespace vt::test
