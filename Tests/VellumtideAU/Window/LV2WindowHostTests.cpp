// The window module as a host loads it: lilv finds the bundle's UI, suil instantiates it with
// instance and data access inside an X11 window of a private X server, and the host's idle calls
// run it. The bundle is installed into a temporary prefix whose bin folder holds a stand-in for
// the desktop program, so the quiet start is observed without starting the real one.

#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/LV2/LilvHost.h"
#include "Tests/VellumtideAU/Window/X11TestWindow.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>
#include <sstream>
#include <suil/suil.h>
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

struct RequestedSize {
    int width = 0;
    int height = 0;
    static int record(LV2UI_Feature_Handle handle, int width, int height) {
        auto* size = static_cast<RequestedSize*>(handle);
        size->width = width;
        size->height = height;
        return 0;
    }
};

TEST(LV2WindowHost, SuilEmbedsTheWindowWhichAdoptsTheRestoredKitAndStartsTheProgramQuietly) {
    if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY"))
        GTEST_SKIP() << "no private X server (scripts/test-services.sh starts Xvfb)";
    TemporaryFolder folder;
    const auto prefix = folder / "prefix";
    const auto bundle = prefix / "lib" / "lv2" / "vellumtide.lv2";
    std::filesystem::create_directories(bundle);
    for (const auto& entry : std::filesystem::directory_iterator(VELLUMTIDE_LV2_DIR "/vellumtide.lv2"))
        std::filesystem::copy(entry.path(), bundle / entry.path().filename());
    const auto launches = prefix / "launches.txt";
    vt::test::writeFile(prefix / "bin" / "vellumtide-bridge",
                        "#!/bin/sh\necho \"$*\" >> \"" + launches.string() + "\"\n");
    std::filesystem::permissions(prefix / "bin" / "vellumtide-bridge", std::filesystem::perms::owner_all);
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

    // The UI the bundle declares, as lilv sees it.
    LilvUIs* uis = lilv_plugin_get_uis(plugin);
    ASSERT_EQ(lilv_uis_size(uis), 1u);
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    const LilvNode* uiType = nullptr;
    LilvNode* x11 = lilv_new_uri(host.world, LV2_UI__X11UI);
    ASSERT_TRUE(lilv_ui_is_supported(ui, suil_ui_supported, x11, &uiType));
    char* uiBundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_bundle_uri(ui)), nullptr);
    char* uiBinary = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);

    vt::test::X11TestWindow parent(640, 540);
    ASSERT_TRUE(parent.valid());

    RequestedSize requested;
    LV2UI_Resize resize{&requested, RequestedSize::record};
    LV2_Extension_Data_Feature dataAccess{lilv_instance_get_descriptor(instance.instance)->extension_data};
    LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent.id())};
    LV2_Feature instanceFeature{LV2_INSTANCE_ACCESS_URI, instance.handle()};
    LV2_Feature dataFeature{LV2_DATA_ACCESS_URI, &dataAccess};
    LV2_Feature mapFeature{LV2_URID__map, &host.urids.mapFeatureData};
    LV2_Feature resizeFeature{LV2_UI__resize, &resize};
    const LV2_Feature* features[] = {&parentFeature, &instanceFeature, &dataFeature,
                                     &mapFeature,    &resizeFeature,   nullptr};

    SuilHost* suil = suil_host_new(nullptr, nullptr, nullptr, nullptr);
    SuilInstance* window = suil_instance_new(suil, nullptr, LV2_UI__X11UI, vt::lv2::pluginURI,
                                             lilv_node_as_uri(lilv_ui_get_uri(ui)), lilv_node_as_uri(uiType),
                                             uiBundle, uiBinary, features);
    ASSERT_NE(window, nullptr);
    auto* idle =
        static_cast<const LV2UI_Idle_Interface*>(suil_instance_extension_data(window, LV2_UI__idleInterface));
    ASSERT_NE(idle, nullptr);
    EXPECT_NE(suil_instance_extension_data(window, LV2_UI__showInterface), nullptr);
    const auto settings = folder / "config" / "vellumtide" / "VellumtideAU.ini";
    for (int turn = 0; turn < 150 && !std::filesystem::exists(launches); ++turn) {
        idle->idle(suil_instance_get_handle(window));
        std::this_thread::sleep_for(10ms);
    }

    // Embedded in the host's window at the preferred size.
    auto widget = reinterpret_cast<unsigned long>(suil_instance_get_widget(window));
    EXPECT_NE(widget, 0u);
    auto children = parent.children();
    EXPECT_NE(std::find(children.begin(), children.end(), widget), children.end());
    EXPECT_EQ(requested.width, 620);
    EXPECT_EQ(requested.height, 520);
    // The restored kit stays in the unit and becomes the window's stored kit.
    EXPECT_EQ(reference->currentState(), document);
    EXPECT_NE(fileText(settings).find("Document Pad"), std::string::npos);
    EXPECT_NE(fileText(settings).find("lastAutomaticBridgeLaunchAt"), std::string::npos);
    // Started quietly from the install prefix, once.
    EXPECT_EQ(fileText(launches), "--hidden\n");

    suil_instance_free(window);
    suil_host_free(suil);
    lilv_free(uiBundle);
    lilv_free(uiBinary);
    lilv_uis_free(uis);
    lilv_node_free(x11);
    EXPECT_EQ(reference->currentState(), document) << "closing the window leaves the unit's kit";
}

} // namespace
