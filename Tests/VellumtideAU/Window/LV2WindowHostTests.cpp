// The window module as a host loads it: lilv finds the bundle's UI, suil instantiates it with
// instance and data access inside an X11 window of a private X server, and the host's idle calls
// run it. The bundle is installed into a temporary prefix whose bin folder holds a stand-in for
// the desktop program, so the quiet start is observed without starting the real one.

#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/LV2/LilvHost.h"
#include "Tests/VellumtideAU/Window/SuilWindowHost.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vt::test::TemporaryFolder;

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LV2WindowHost, SuilEmbedsTheWindowWhichAdoptsTheRestoredKitAndStartsTheProgramQuietly) {
    if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY"))
        GTEST_SKIP() << "no private X server (scripts/test-services.sh starts Xvfb)";
    TemporaryFolder folder;
    const auto prefix = folder / "prefix";
    const auto launches = vt::test::installBundleBesideStandIn(prefix);
    ::setenv("HOME", (folder / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    ::setenv("LV2_PATH", (prefix / "lib" / "lv2").c_str(), 1);
    ::unsetenv("QT_QPA_PLATFORM");

    // The host: the instance with a kit restored into it, as a document would.
    vt::test::LilvHost host;
    const LilvPlugin* plugin = host.plugin(vt::lv2::pluginURI);
    ASSERT_NE(plugin, nullptr);
    vt::test::HostedPlugin instance(host, vt::lv2::pluginURI, 48000, 256);
    ASSERT_TRUE(instance.valid());
    auto* access =
        static_cast<const vt::lv2::UnitAccessInterface*>(instance.extensionData(vt::lv2::unitAccessURI));
    ASSERT_NE(access, nullptr);
    auto reference = access->unitReference(instance.handle());
    const auto sound = folder / "document-pad.wav";
    vt::test::writeFloatWav(sound, 48000, vt::test::rampChannels(480, 2));
    const VellumtidePadKitState document{{VellumtidePadAssignment(
        vt::Uuid::random(), 4, "Document Pad", VellumtidePadAssignment::SourceKind::file, std::nullopt,
        std::nullopt, sound.string(), 0.01, {0.4f, 0.9f})}};
    reference->apply(document);

    {
        // The UI the bundle declares, as lilv sees it, made by suil inside the host's window.
        vt::test::SuilWindowHost window(host, instance, 640, 540);
        ASSERT_TRUE(window.valid());
        EXPECT_TRUE(window.offersShowInterface());
        const auto settings = folder / "config" / "vellumtide" / "VellumtideAU.ini";
        for (int turn = 0; turn < 150 && !std::filesystem::exists(launches); ++turn) {
            window.idle();
            std::this_thread::sleep_for(10ms);
        }

        // Embedded in the host's window at the preferred size.
        const auto widget = window.widget();
        EXPECT_NE(widget, 0u);
        auto children = window.parent().children();
        EXPECT_NE(std::find(children.begin(), children.end(), widget), children.end());
        EXPECT_EQ(window.requestedWidth, 620);
        EXPECT_EQ(window.requestedHeight, 520);
        // The restored kit stays in the unit and becomes the window's stored kit.
        EXPECT_EQ(reference->currentState(), document);
        EXPECT_NE(fileText(settings).find("Document Pad"), std::string::npos);
        EXPECT_NE(fileText(settings).find("lastAutomaticBridgeLaunchAt"), std::string::npos);
        // Started quietly from the install prefix, once.
        EXPECT_EQ(fileText(launches), "--hidden\n");
    }
    EXPECT_EQ(reference->currentState(), document) << "closing the window leaves the unit's kit";
}

} // namespace
