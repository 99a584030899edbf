// The view controller's outward actions: the quiet start of the desktop program when a window
// loads (delay, once per process, 12 s across instances) on virtual time, URLs sent to the
// program or to the desktop, finding the program from the bundle, and the detached start itself.

#include "Tests/Support/Patience.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideAUViewController.h"
#include "VellumtideAU/Window/VellumtideBridgeLocation.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QRegularExpression>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using vt::test::WindowFixture;
using Key = const char*;

struct LaunchTest : ::testing::Test {
    WindowFixture fixture;

    std::unique_ptr<VellumtideAUViewController> loadWindow() {
        auto controller = std::make_unique<VellumtideAUViewController>(fixture.services);
        controller->viewDidLoad();
        return controller;
    }
    std::optional<double> storedLaunchTime() const {
        auto value = fixture.settings->value(VellumtideAUViewController::lastLaunchKey);
        return value ? std::optional(value->toDouble()) : std::nullopt;
    }
    void storeLaunchTime(double seconds) {
        fixture.settings->setValue(VellumtideAUViewController::lastLaunchKey, seconds);
    }
    std::size_t launches() const { return fixture.launcher->launches.size(); }
};

TEST_F(LaunchTest, TheFirstWindowStartsTheProgramHiddenAfterADelay) {
    auto controller = loadWindow();
    EXPECT_EQ(storedLaunchTime(), fixture.now);
    EXPECT_TRUE(fixture.process.hasRequestedBridgeLaunch);
    fixture.scheduler->advanceBy(449ms);
    EXPECT_EQ(launches(), 0u);
    fixture.scheduler->advanceBy(1ms);
    ASSERT_EQ(launches(), 1u);
    EXPECT_EQ(fixture.launcher->launches[0].program, fixture.bridgeExecutable);
    EXPECT_EQ(fixture.launcher->launches[0].arguments, std::vector<std::string>{"--hidden"});
    EXPECT_TRUE(fixture.urlOpener->urls.empty());
    EXPECT_EQ(controller->view()->size(), VellumtideAUViewController::preferredContentSize);

    // Reloading the view makes a fresh window but starts nothing more in this process.
    fixture.now += 600;
    controller->viewDidLoad();
    fixture.scheduler->advanceBy(10s);
    EXPECT_EQ(launches(), 1u);
}

TEST_F(LaunchTest, ALaunchWithinTwelveSecondsOfAnyInstanceIsSkipped) {
    const double first = fixture.now;
    storeLaunchTime(first);
    for (double later : {5.0, 12.0}) {
        fixture.now = first + later;
        auto controller = loadWindow();
        fixture.scheduler->advanceBy(1s);
        EXPECT_EQ(launches(), 0u) << later;
        EXPECT_FALSE(fixture.process.hasRequestedBridgeLaunch) << "a skipped window leaves the flag clear";
        EXPECT_EQ(storedLaunchTime(), first);
    }
    fixture.now = first + 12.5;
    auto controller = loadWindow();
    fixture.scheduler->advanceBy(1s);
    EXPECT_EQ(launches(), 1u);
    EXPECT_EQ(storedLaunchTime(), first + 12.5);

    // A launch time in the future (the clock went back) holds until passed by more than 12 s.
    WindowFixture other;
    other.settings->setValue(VellumtideAUViewController::lastLaunchKey, other.now + 100);
    for (double offset : {0.0, 112.0}) {
        other.now += offset;
        VellumtideAUViewController waiting(other.services);
        waiting.viewDidLoad();
        other.scheduler->advanceBy(1s);
        EXPECT_EQ(other.launcher->launches.size(), 0u) << offset;
    }
    other.now += 0.5;
    VellumtideAUViewController late(other.services);
    late.viewDidLoad();
    other.scheduler->advanceBy(1s);
    EXPECT_EQ(other.launcher->launches.size(), 1u);
}

TEST_F(LaunchTest, AControllerGoneBeforeTheDelayStartsNothingButKeepsTheRequest) {
    loadWindow().reset();
    fixture.scheduler->advanceBy(1s);
    EXPECT_EQ(launches(), 0u);
    EXPECT_TRUE(fixture.process.hasRequestedBridgeLaunch);
    EXPECT_EQ(storedLaunchTime(), fixture.now);
}

TEST_F(LaunchTest, URLsGoToTheProgramOrElseToTheDesktop) {
    fixture.process.hasRequestedBridgeLaunch = true; // no quiet start in the way
    VellumtideAUViewController controller(fixture.services);
    controller.viewDidLoad();

    auto id = *vt::Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    QUrl editor = VellumtideAUViewController::editorURL(id);
    EXPECT_EQ(editor.toString(), "vellumtide://edit/0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_TRUE(QRegularExpression("^vellumtide://edit/[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")
                    .match(editor.toString())
                    .hasMatch());

    // The window's own button sends "vellumtide://open" through the controller.
    controller.rootView()->openBridgeButton()->click();
    controller.openBridgeEditor(id);
    ASSERT_EQ(launches(), 2u);
    EXPECT_EQ(fixture.launcher->launches[0].arguments, std::vector<std::string>{"vellumtide://open"});
    EXPECT_EQ(fixture.launcher->launches[1].arguments,
              std::vector<std::string>{editor.toString().toStdString()});
    EXPECT_TRUE(fixture.urlOpener->urls.empty());

    // A program that cannot start, or none at all: the desktop opens the URL instead.
    fixture.launcher->succeeds = false;
    controller.openBridgeEditor(id);
    std::filesystem::remove(fixture.bridgeExecutable);
    fixture.launcher->succeeds = true;
    controller.openBridge(QUrl("vellumtide://open"));
    EXPECT_EQ(launches(), 3u);
    ASSERT_EQ(fixture.urlOpener->urls.size(), 2u);
    EXPECT_EQ(fixture.urlOpener->urls[0], editor);
    EXPECT_EQ(fixture.urlOpener->urls[1], QUrl("vellumtide://open"));
}

TEST_F(LaunchTest, AQuietStartThatFailsOpensTheSchemeURL) {
    std::filesystem::remove(fixture.bridgeExecutable);
    auto controller = loadWindow();
    fixture.scheduler->advanceBy(1s);
    EXPECT_EQ(launches(), 0u);
    ASSERT_EQ(fixture.urlOpener->urls.size(), 1u);
    EXPECT_EQ(fixture.urlOpener->urls[0], QUrl("vellumtide://open"));
}

TEST_F(LaunchTest, TheProgramIsFoundFromTheBundlesInstallPrefix) {
    using VellumtideBridgeLocation::candidateFolders;
    using Folders = std::vector<std::filesystem::path>;
    EXPECT_EQ(candidateFolders("/usr/lib/lv2/vellumtide.lv2"), Folders{"/usr/bin"});
    EXPECT_EQ(candidateFolders("/usr/lib/lv2/vellumtide.lv2/"), Folders{"/usr/bin"});
    EXPECT_EQ(candidateFolders("/usr/lib/x86_64-linux-gnu/lv2/vellumtide.lv2"), Folders{"/usr/bin"});
    EXPECT_EQ(candidateFolders("/opt/vt/lib64/lv2/vellumtide.lv2"), Folders{"/opt/vt/bin"});
    EXPECT_EQ(candidateFolders("/home/ann/.lv2/vellumtide.lv2"), Folders{"/home/ann/.local/bin"});
    EXPECT_EQ(candidateFolders("/work/build/lv2/vellumtide.lv2"), Folders{"/work/build/bin"});
    EXPECT_TRUE(candidateFolders("/somewhere/vellumtide.lv2").empty());

    const auto path = fixture.temp / "path";
    const std::string pathVariable = ":" + (fixture.temp / "nothing").string() + ":" + path.string();
    EXPECT_EQ(VellumtideBridgeLocation::executable(fixture.bundle, pathVariable), fixture.bridgeExecutable);
    std::filesystem::remove(fixture.bridgeExecutable);
    EXPECT_TRUE(VellumtideBridgeLocation::executable(fixture.bundle, pathVariable).empty());
    vt::test::writeFile(path / "vellumtide-bridge", "#!/bin/sh\n");
    EXPECT_TRUE(VellumtideBridgeLocation::executable(fixture.bundle, pathVariable).empty())
        << "a file that is not executable is no program";
    std::filesystem::permissions(path / "vellumtide-bridge", std::filesystem::perms::owner_all);
    EXPECT_EQ(VellumtideBridgeLocation::executable(fixture.bundle, pathVariable), path / "vellumtide-bridge");
}

TEST_F(LaunchTest, TheFactoryPointsTheWindowAtTheNewestUnit) {
    fixture.process.hasRequestedBridgeLaunch = true;
    VellumtideAUViewController controller(fixture.services);
    auto first = controller.createAudioUnit({});
    auto second = controller.createAudioUnit({});
    controller.viewDidLoad();
    auto sound = fixture.samplePath("pad.wav");
    WindowFixture::writeSound(sound);
    VellumtidePadAssignment pad(vt::Uuid::random(), 2, "Pad", VellumtidePadAssignment::SourceKind::sample,
                                std::nullopt, std::nullopt, sound.string(), 0.1, {0.5f});
    controller.rootView()->padKit().setSelectedSlot(2);
    controller.rootView()->padKit().setAssignment(pad, false);
    EXPECT_TRUE(second->padKitState().assignment(2));
    EXPECT_FALSE(first->padKitState().assignment(2));
    second.reset();
    EXPECT_FALSE(controller.audioUnitReference()->currentState());
}

// The real detached start: a shell that reports its arguments, its session, its open descriptors
// and its process id into files, then ends, and is not left as this process's zombie.
TEST_F(LaunchTest, ADetachedStartRunsInItsOwnSessionWithoutInheritedDescriptors) {
    const auto folder = fixture.temp.path().string();
    const std::string command = "ls /proc/$$/fd > fds; ps -o sid= -p $$ > sid; echo $$ > pid; "
                                "echo \"$*\" > arguments.part; mv arguments.part arguments";
    // An inherited descriptor (not close-on-exec) the program must not see.
    int leaked = ::fcntl(STDOUT_FILENO, F_DUPFD, 57);
    ASSERT_EQ(leaked, 57);
    vt::PosixProcessLauncher launcher;
    EXPECT_FALSE(launcher.startDetached(fixture.temp / "missing", {}));
    EXPECT_FALSE(launcher.startDetached(fixture.temp.path(), {}));
    ASSERT_TRUE(launcher.startDetached(
        "/bin/sh", {"-c", "cd \"" + folder + "\" && " + command, "sh", "--hidden", "vellumtide://open"}));
    ::close(leaked);
    const auto deadline = std::chrono::steady_clock::now() + vt::test::patience;
    while (!std::filesystem::exists(fixture.temp / "arguments") &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    auto read = [this](const char* name) {
        std::ifstream in(fixture.temp / name);
        std::string all, word;
        while (in >> word)
            all += (all.empty() ? "" : " ") + word;
        return all;
    };
    EXPECT_EQ(read("arguments"), "--hidden vellumtide://open");
    EXPECT_NE(read("sid"), std::to_string(::getsid(0)));
    const std::string descriptors = " " + read("fds") + " ";
    EXPECT_NE(descriptors.find(" 0 1 "), std::string::npos) << descriptors;
    EXPECT_EQ(descriptors.find(" 57 "), std::string::npos) << descriptors;
    const auto ended = std::filesystem::path("/proc") / read("pid");
    for (int i = 0; i < 250 && std::filesystem::exists(ended); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(std::filesystem::exists(ended)) << "the ended program was reaped";
}

} // namespace
