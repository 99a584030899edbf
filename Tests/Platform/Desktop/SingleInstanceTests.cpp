// The single-instance hand-off between two real processes.

#include "Platform/Desktop/SingleInstance.h"
#include "Tests/Platform/Desktop/ProcessOutput.h"
#include "Tests/Support/TemporaryFolder.h"

#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vt::test {
namespace {

const QString probe = QStringLiteral(VT_SINGLE_INSTANCE_PROBE);

int runSecondary(const QString& folder, const QStringList& messages) {
    QProcess second;
    second.start(probe, QStringList{folder} + messages);
    if (!second.waitForFinished(patienceMilliseconds))
        return -1;
    return second.exitCode();
}

TEST(SingleInstance, ASecondLaunchForwardsItsURLsToTheRunningOne) {
    TemporaryFolder folder;
    QString runtime = QString::fromStdString((folder / "run").string());
    QProcess first;
    first.start(probe, {runtime});
    QByteArray seen;
    ASSERT_TRUE(waitForOutput(first, seen, "primary\n"));
    struct stat info {};
    ASSERT_EQ(::stat((folder / "run" / "probe.socket").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u) << "only the user may connect";

    const QString edit = QStringLiteral("vellumtide://edit/0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_EQ(runSecondary(runtime, {edit, QStringLiteral("vellumtide://open")}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "got:vellumtide://open\n"));
    EXPECT_TRUE(seen.contains("received 2\ngot:" + edit.toUtf8() + "\n"));

    // Junk on the socket is dropped and the running one keeps serving.
    QLocalSocket junk;
    junk.connectToServer(QString::fromStdString((folder / "run" / "probe.socket").string()));
    ASSERT_TRUE(junk.waitForConnected(patienceMilliseconds));
    junk.write(QByteArray(70 * 1024, 'x'));
    junk.waitForBytesWritten(2000);
    junk.waitForDisconnected(2000);
    EXPECT_EQ(runSecondary(runtime, {}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "received 0\n"));
    EXPECT_FALSE(seen.contains("xxxx"));

    // A running instance that died leaves a stale lock and socket; the next launch takes over.
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    first.waitForFinished(5000);
    QProcess next;
    next.start(probe, {runtime});
    QByteArray nextSeen;
    EXPECT_TRUE(waitForOutput(next, nextSeen, "primary\n"));
    ::kill(static_cast<pid_t>(next.processId()), SIGTERM);
    next.waitForFinished(5000);
}

TEST(SingleInstance, MessagesAreBounded) {
    EXPECT_FALSE(SingleInstance::encode({QStringLiteral("vellumtide://open")}).isEmpty());
    QStringList many;
    for (int i = 0; i <= SingleInstance::maximumMessages; ++i)
        many << QStringLiteral("u");
    EXPECT_TRUE(SingleInstance::encode(many).isEmpty());
    EXPECT_TRUE(SingleInstance::encode({QString(SingleInstance::maximumMessageBytes + 1, 'a')}).isEmpty());
    TemporaryFolder folder;
    std::filesystem::create_directories(folder / "run");
    QLockFile held(QString::fromStdString((folder / "run" / "probe.lock").string()));
    ASSERT_TRUE(held.tryLock(0));
    EXPECT_EQ(runSecondary(QString::fromStdString((folder / "run").string()), {"x"}), 1)
        << "a lock holder that does not listen: the forward fails instead of hanging";
}

TEST(SingleInstance, UsesOnlyAFolderNobodyElseCanWriteAndNeverChangesAnExistingOne) {
    TemporaryFolder folder;
    auto created = folder / "fresh" / "run";
    QProcess first;
    first.start(probe, {QString::fromStdString(created.string())});
    QByteArray seen;
    ASSERT_TRUE(waitForOutput(first, seen, "primary\n"));
    EXPECT_EQ(std::filesystem::status(created).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    first.waitForFinished(5000);

    auto shared = folder / "shared";
    std::filesystem::create_directories(shared);
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    EXPECT_EQ(runSecondary(QString::fromStdString(shared.string()), {"x"}), 3);
    EXPECT_EQ(std::filesystem::status(shared).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::all);
    EXPECT_FALSE(std::filesystem::exists(shared / "probe.socket"));
}

} // namespace
} // namespace vt::test
