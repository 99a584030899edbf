#include "Platform/Desktop/QuitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vt {
namespace {

// Written by the handler, read by the event loop; -1 until catchQuitSignals().
int caughtPipe[2] = {-1, -1};

void noteSignal(int signal) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(signal);
    // Non-blocking: with the pipe full, a quit is noted already.
    [[maybe_unused]] ssize_t written = ::write(caughtPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void catchQuitSignals() {
    if (caughtPipe[0] >= 0 || ::pipe2(caughtPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void quitEventLoopOnCaughtSignals() {
    auto* application = QCoreApplication::instance();
    if (caughtPipe[0] < 0 || !application || application->findChild<QSocketNotifier*>("quitSignals"))
        return;
    auto* notifier = new QSocketNotifier(caughtPipe[0], QSocketNotifier::Read, application);
    notifier->setObjectName("quitSignals");
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char bytes[64];
        while (::read(caughtPipe[0], bytes, sizeof bytes) > 0) {
        }
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
}

} // namespace vt
