// The program's run in two real processes: a second launch hands its URLs to the running one,
// whose controller opens the named sample. Each process lives in a temporary home with the
// network and desktop shut off.

#include "Tests/Platform/Desktop/ProcessOutput.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"
#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>

namespace vt::test {
namespace {

const QString probe = QStringLiteral(VT_BRIDGE_PROGRAM_PROBE);
constexpr int patience = 15000; // ms; generous, for a loaded machine

// The environment that makes a child's folders those of paths (see Paths::underRoot).
QProcessEnvironment environmentFor(const Paths& paths) {
    auto environment = QProcessEnvironment::systemEnvironment();
    auto text = [](const std::filesystem::path& path) { return QString::fromStdString(path.string()); };
    environment.insert("HOME", text(paths.home));
    environment.insert("XDG_CONFIG_HOME", text(paths.config));
    environment.insert("XDG_RUNTIME_DIR", text(paths.runtime));
    environment.insert("TMPDIR", text(paths.temp));
    return environment;
}

class BridgeProgramTest : public ControllerTest {
protected:
    void SetUp() override {
        std::filesystem::create_directories(paths.runtime);
        std::filesystem::permissions(paths.runtime, std::filesystem::perms::owner_all);
        std::filesystem::create_directories(paths.temp);
    }
    void TearDown() override {
        if (first.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
            first.waitForFinished(5000);
        }
    }
    int launchAgain(const QStringList& arguments) {
        QProcess second;
        second.setProcessEnvironment(environmentFor(paths));
        second.start(probe, arguments);
        if (!second.waitForFinished(patience))
            return -1;
        return second.exitCode();
    }
    QProcess first;
    QByteArray seen;
};

TEST_F(BridgeProgramTest, ASecondLaunchHandsItsURLsToTheRunningProgram) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    const QString id = QString::fromStdString(take.id.string());

    first.setProcessEnvironment(environmentFor(paths));
    first.start(probe, {"--hidden"});
    ASSERT_TRUE(waitForOutput(first, seen, "ready\n", patience));

    EXPECT_EQ(launchAgain({"vellumtide://edit/" + id.toLower()}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "status:Editing take\n", patience));
    EXPECT_TRUE(seen.contains("activated\nediting:" + id.toUtf8() + "\n"));

    // A launch without URLs only brings the running program forward.
    seen.clear();
    EXPECT_EQ(launchAgain({}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "activated\n", patience));
    EXPECT_FALSE(seen.contains("editing:"));
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST(BridgeProgramArguments, URLsAndTheQuietStart) {
    auto parsed = BridgeProgramArguments::parse(
        {"vellumtide-bridge", "--hidden", "vellumtide://open", "", "--verbose", "vellumtide://edit/x"});
    EXPECT_TRUE(parsed.hidden);
    EXPECT_EQ(parsed.urls, (QStringList{"vellumtide://open", "vellumtide://edit/x"}));
    EXPECT_FALSE(BridgeProgramArguments::parse({"vellumtide-bridge"}).hidden);
}

} // namespace
} // namespace vt::test
