#pragma once
// Following what a test's child process prints (test code only: it blocks while it waits).

#include "Tests/Support/Patience.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>

namespace vt::test {

// Waits until the process has printed text (seen collects everything read so far).
inline bool waitForOutput(QProcess& process, QByteArray& seen, const QByteArray& text,
                          int ms = patienceMilliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!seen.contains(text) && timer.elapsed() < ms) {
        process.waitForReadyRead(100);
        seen += process.readAllStandardOutput();
    }
    return seen.contains(text);
}

} // namespace vt::test
