// The window module as a host loads it: lilv finds the bundle's UI, suil instantiates it with
// instance and data access, embedded in an X11 window of a private X server or shown on its own,
// and the host's idle calls run it. The bundle is installed into a temporary prefix whose bin
// folder holds a stand-in for the desktop program, so the quiet start is observed without
// starting the real one. The window's widgets are reached through the application the module
// made in this process.

#include "Tests/Support/Patience.h"
#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/LV2/LilvHost.h"
#include "Tests/VellumtideAU/Window/SuilWindowHost.h"
#include "Tests/VellumtideAU/Window/X11TestWindow.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
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

// A host with one plug-in instance and the bundle's UI, ready to open the window.
class SuilWindowHost : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY"))
            GTEST_SKIP() << "no private X server (scripts/test-services.sh starts Xvfb)";
        launches = vt::test::installBundleBesideStandIn(prefix);
        ::setenv("HOME", (folder / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        ::setenv("LV2_PATH", (prefix / "lib" / "lv2").c_str(), 1);
        ::unsetenv("QT_QPA_PLATFORM");

        host = std::make_unique<vt::test::LilvHost>();
        plugin = host->plugin(vt::lv2::pluginURI);
        ASSERT_NE(plugin, nullptr);
        instance = std::make_unique<vt::test::HostedPlugin>(*host, vt::lv2::pluginURI, 48000, 256);
        ASSERT_TRUE(instance->valid());
        reference = referenceOf(*instance);
        ASSERT_NE(reference, nullptr);
        dataAccess.data_access = lilv_instance_get_descriptor(instance->instance)->extension_data;

        // The UI the bundle declares, as lilv sees it.
        uis = lilv_plugin_get_uis(plugin);
        ASSERT_EQ(lilv_uis_size(uis), 1u);
        ui = lilv_uis_get(uis, lilv_uis_begin(uis));
        x11 = lilv_new_uri(host->world, LV2_UI__X11UI);
        ASSERT_TRUE(lilv_ui_is_supported(ui, suil_ui_supported, x11, &uiType));
        uiBundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_bundle_uri(ui)), nullptr);
        uiBinary = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);
        suil = suil_host_new(nullptr, nullptr, nullptr, nullptr);
    }

    void TearDown() override {
        closeWindow();
        if (suil)
            suil_host_free(suil);
        lilv_free(uiBundle);
        lilv_free(uiBinary);
        if (uis)
            lilv_uis_free(uis);
        if (x11)
            lilv_node_free(x11);
    }

    static std::shared_ptr<VellumtideAudioUnitReference> referenceOf(vt::test::HostedPlugin& plugin) {
        auto* access =
            static_cast<const vt::lv2::UnitAccessInterface*>(plugin.extensionData(vt::lv2::unitAccessURI));
        return access ? access->unitReference(plugin.handle()) : nullptr;
    }

    // Instantiates the UI, inside parentWindow when given (else for the show interface).
    void openWindow(unsigned long parentWindow) {
        LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parentWindow)};
        LV2_Feature instanceFeature{LV2_INSTANCE_ACCESS_URI, instance->handle()};
        LV2_Feature dataFeature{LV2_DATA_ACCESS_URI, &dataAccess};
        LV2_Feature mapFeature{LV2_URID__map, &host->urids.mapFeatureData};
        LV2_Feature resizeFeature{LV2_UI__resize, &resize};
        std::vector<const LV2_Feature*> features{&instanceFeature, &dataFeature, &mapFeature, &resizeFeature};
        if (parentWindow)
            features.push_back(&parentFeature);
        features.push_back(nullptr);
        window = suil_instance_new(suil, nullptr, LV2_UI__X11UI, vt::lv2::pluginURI,
                                   lilv_node_as_uri(lilv_ui_get_uri(ui)), lilv_node_as_uri(uiType), uiBundle,
                                   uiBinary, features.data());
        ASSERT_NE(window, nullptr);
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(
            suil_instance_extension_data(window, LV2_UI__idleInterface));
        showInterface = static_cast<const LV2UI_Show_Interface*>(
            suil_instance_extension_data(window, LV2_UI__showInterface));
        ASSERT_NE(idleInterface, nullptr);
        ASSERT_NE(showInterface, nullptr);
    }

    void closeWindow() {
        if (window)
            suil_instance_free(window);
        window = nullptr;
    }

    int idle() { return idleInterface->idle(suil_instance_get_handle(window)); }

    // Idles every 10 ms, as a host's timer would, until the condition holds or the time is up.
    bool idleUntil(const std::function<bool()>& condition,
                   std::chrono::milliseconds limit = vt::test::patience) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            idle();
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    unsigned long windowId() const {
        return reinterpret_cast<unsigned long>(suil_instance_get_widget(window));
    }

    // The window's widgets of a kind with an accessible name, found from its X11 window.
    template <typename Widget> Widget* named(const QString& accessibleName) const {
        QWidget* root = QWidget::find(WId(windowId()));
        if (!root)
            return nullptr;
        for (auto* widget : root->findChildren<Widget*>())
            if (widget->accessibleName() == accessibleName)
                return widget;
        return nullptr;
    }

    // A kit of one pad per title, on slots 0, 1, …, each with a short sound of its own.
    VellumtidePadKitState kitOf(int count) {
        VellumtidePadKitState kit;
        for (int slot = 0; slot < count; ++slot) {
            const auto sound = folder / ("pad-" + std::to_string(slot + 1) + ".wav");
            if (!std::filesystem::exists(sound))
                vt::test::writeFloatWav(sound, 48000, vt::test::rampChannels(480, 2));
            kit.assignments.push_back(
                VellumtidePadAssignment(vt::Uuid::random(), slot, "Pad " + std::to_string(slot + 1),
                                        VellumtidePadAssignment::SourceKind::file, std::nullopt, std::nullopt,
                                        sound.string(), 0.01, {0.4f, 0.9f}));
        }
        return kit;
    }

    // One edited, analysed sample in the library the window finds under $HOME.
    void writeEditedSample(const std::string& title) {
        const auto library = folder / "home" / "Music" / "Vellumtide";
        const std::string id = "44444444-4444-4444-8444-444444444444";
        std::filesystem::create_directories(library / "Samples");
        std::filesystem::create_directories(library / "Edited");
        vt::test::writeFloatWav(library / "Samples" / "bell.wav", 44100, vt::test::rampChannels(44100, 2));
        vt::test::writeFloatWav(library / "Edited" / (id + ".wav"), 44100, vt::test::rampChannels(44100, 2));
        vt::test::writeFile(library / "library.json",
                            R"([{"id": ")" + id + R"(", "title": ")" + title +
                                R"(", "createdAt": "2024-03-05T07:08:09Z", "fileName": "bell.wav",
                                "duration": 1, "sampleRate": 44100, "channelCount": 2,
                                "byteCount": 176400, "peaks": [0.2, 0.9, 0.6, 0.3, 0.1]}])");
        vt::test::writeFile(library / "bridge-metadata.json",
                            R"({")" + id +
                                R"(": {"edit": {"startTime": 0.1, "fadeIn": 0.25, "normalize": true},
                                "analysis": {"bpmConfidence": 0, "rootNote": "C", "rootConfidence": 0.9,
                                             "keyConfidence": 0}}})");
    }

    TemporaryFolder folder;
    std::filesystem::path prefix = folder / "prefix";
    std::filesystem::path launches; // where the stand-in program notes its launches
    std::filesystem::path settings = folder / "config" / "vellumtide" / "VellumtideAU.ini";
    std::unique_ptr<vt::test::LilvHost> host;
    const LilvPlugin* plugin = nullptr;
    std::unique_ptr<vt::test::HostedPlugin> instance;
    std::shared_ptr<VellumtideAudioUnitReference> reference;
    LilvUIs* uis = nullptr;
    const LilvUI* ui = nullptr;
    LilvNode* x11 = nullptr;
    const LilvNode* uiType = nullptr;
    char* uiBundle = nullptr;
    char* uiBinary = nullptr;
    SuilHost* suil = nullptr;
    SuilInstance* window = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
    const LV2UI_Show_Interface* showInterface = nullptr;
    RequestedSize requested;
    LV2UI_Resize resize{&requested, RequestedSize::record};
    LV2_Extension_Data_Feature dataAccess{nullptr};
};

TEST_F(SuilWindowHost, EmbedsTheWindowWhichAdoptsTheRestoredKitAndStartsTheProgramQuietly) {
    // The host restored a kit into the instance before opening the window, as a document would.
    const VellumtidePadKitState document = kitOf(1);
    reference->apply(document);
    vt::test::X11TestWindow parent(640, 540);
    ASSERT_TRUE(parent.valid());
    openWindow(parent.id());
    EXPECT_TRUE(idleUntil([this] { return std::filesystem::exists(launches); }));

    // Embedded in the host's window at the preferred size.
    EXPECT_NE(windowId(), 0u);
    auto children = parent.children();
    EXPECT_NE(std::find(children.begin(), children.end(), windowId()), children.end());
    EXPECT_EQ(requested.width, 620);
    EXPECT_EQ(requested.height, 520);
    // The restored kit stays in the unit and becomes the window's stored kit.
    EXPECT_EQ(reference->currentState(), document);
    EXPECT_NE(fileText(settings).find("Pad 1"), std::string::npos);
    EXPECT_NE(fileText(settings).find("lastAutomaticBridgeLaunchAt"), std::string::npos);
    // Started quietly from the install prefix, once.
    EXPECT_EQ(fileText(launches), "--hidden\n");

    closeWindow();
    EXPECT_EQ(reference->currentState(), document) << "closing the window leaves the unit's kit";
}

// A GTK host (suil's socket) keeps the X input focus and forwards the keys it gets to the
// embedded window: Tab moves through the window's controls from the first press on, and Space
// presses the one in focus. Here the companion sheet of the first opening holds the keyboard.
TEST_F(SuilWindowHost, TakesTheKeysAGtkHostForwards) {
    vt::test::X11TestWindow parent(640, 540);
    ASSERT_TRUE(parent.valid());
    openWindow(parent.id());
    QPointer<QAbstractButton> close;
    ASSERT_TRUE(idleUntil([&] { return (close = named<QAbstractButton>("Close")) && close->isVisible(); }));
    QWidget* root = QWidget::find(WId(windowId()));

    ASSERT_TRUE(vt::test::forwardKey(windowId(), "Tab"));
    EXPECT_TRUE(idleUntil([root] {
        return QApplication::focusWidget() && root->isAncestorOf(QApplication::focusWidget());
    })) << "the first Tab puts a control of the window in focus";
    for (int press = 0; press < 6 && QApplication::focusWidget() != close; ++press) {
        QWidget* before = QApplication::focusWidget();
        vt::test::forwardKey(windowId(), "Tab");
        idleUntil([before] { return QApplication::focusWidget() != before; });
    }
    ASSERT_EQ(QApplication::focusWidget(), close.data()) << "Tab reaches the sheet's close button";
    vt::test::forwardKey(windowId(), "space");
    EXPECT_TRUE(idleUntil([&] { return !close || !close->isVisible(); })) << "Space closes the sheet";
}

// A host that sizes only its own window: the embedded window fills it from the start and
// follows each of its size changes through the idle calls; a host that tells the window its size
// through the resize interface gets that size. Each size is saved to the gallery as the host's
// window shows it.
TEST_F(SuilWindowHost, FollowsTheHostsWindowAndTakesTheSizeTheHostGives) {
    writeEditedSample("Bell");
    vt::test::X11TestWindow parent(640, 540);
    ASSERT_TRUE(parent.valid());
    openWindow(parent.id());
    EXPECT_TRUE(idleUntil([this] { return named<QWidget>("Bell") != nullptr; })) << "the library shows";
    auto hasSize = [this](int width, int height) {
        return [this, width, height] { return vt::test::windowSize(windowId()) == std::pair{width, height}; };
    };
    EXPECT_TRUE(idleUntil(hasSize(640, 540))) << "it fills the host's window";
    EXPECT_EQ(requested.width, 620) << "and still tells the host the size it prefers";

    std::filesystem::create_directories(VELLUMTIDE_GALLERY_DIR);
    const std::pair<int, int> hostSizes[] = {{1180, 760}, {420, 700}};
    for (const auto& [width, height] : hostSizes) {
        parent.resize(width, height);
        EXPECT_TRUE(idleUntil(hasSize(width, height))) << "it follows the host's window to " << width;
        idleUntil([] { return false; }, 200ms); // the new layout drawn
        QGuiApplication::primaryScreen()
            ->grabWindow(WId(parent.id()))
            .save(QString::fromStdString(std::string(VELLUMTIDE_GALLERY_DIR) + "/lv2-host-window-" +
                                         std::to_string(width) + ".png"));
    }

    auto* resizeInterface =
        static_cast<const LV2UI_Resize*>(suil_instance_extension_data(window, LV2_UI__resize));
    ASSERT_NE(resizeInterface, nullptr) << "the window offers the resize interface";
    EXPECT_EQ(resizeInterface->ui_resize(suil_instance_get_handle(window), 700, 580), 0);
    EXPECT_TRUE(idleUntil(hasSize(700, 580))) << "it takes the size the host gives";
}

VellumtidePadKitState withResolvedFiles(VellumtidePadKitState kit) {
    for (auto& assignment : kit.assignments)
        assignment.filePath = std::filesystem::canonical(assignment.filePath).string();
    return kit;
}

// The host restores a six-pad document while the window shows five pads: the rack follows, and a
// volume touch afterwards keeps all six in the unit and in the next saved document.
TEST_F(SuilWindowHost, ARestoreWhileTheWindowIsOpenReachesTheRackAndSurvivesTheNextEdit) {
    const auto sixPads = folder / "six-pads";
    reference->apply(kitOf(6));
    instance->saveState(sixPads);
    reference->apply(kitOf(5));
    vt::test::X11TestWindow parent(640, 540);
    ASSERT_TRUE(parent.valid());
    openWindow(parent.id());
    ASSERT_TRUE(idleUntil([this] { return named<QAbstractButton>("Preview Pad 5") != nullptr; }));
    EXPECT_NE(named<QAbstractButton>("Empty pad"), nullptr);

    ASSERT_TRUE(instance->restoreState(sixPads));
    EXPECT_TRUE(idleUntil([this] { return named<QAbstractButton>("Preview Pad 6") != nullptr; }))
        << "the rack shows the restored pad 6 at its next check";

    auto* volume = named<QAbstractSlider>("Volume");
    ASSERT_NE(volume, nullptr);
    const float before = reference->currentState()->assignment(0)->volume;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
    QApplication::sendEvent(volume, &press);
    idle();
    const auto kit = reference->currentState();
    ASSERT_TRUE(kit);
    EXPECT_EQ(kit->assignments.size(), 6u);
    EXPECT_GT(kit->assignment(0)->volume, before) << "the touch changed pad 1";

    const auto saved = folder / "saved";
    instance->saveState(saved);
    vt::test::HostedPlugin reopened(*host, vt::lv2::pluginURI, 48000, 256);
    ASSERT_TRUE(reopened.restoreState(saved));
    const auto reopenedKit = referenceOf(reopened)->currentState();
    ASSERT_TRUE(reopenedKit);
    EXPECT_EQ(reopenedKit->assignments.size(), 6u);
    // The host maps pad files into its saved folder (links to them); they lead to the same files.
    EXPECT_EQ(withResolvedFiles(*reopenedKit), withResolvedFiles(*kit));
}

// Shown through the show interface, the window tells the host through idle() that the user closed
// it; showing it again starts afresh.
TEST_F(SuilWindowHost, IdleReportsTheUserClosingAShownWindow) {
    openWindow(0);
    EXPECT_EQ(showInterface->show(suil_instance_get_handle(window)), 0);
    QWidget* top = QWidget::find(WId(windowId()));
    ASSERT_NE(top, nullptr);
    EXPECT_TRUE(idleUntil([top] { return top->isVisible(); }));
    EXPECT_EQ(idle(), 0);
    EXPECT_EQ(showInterface->hide(suil_instance_get_handle(window)), 0);
    EXPECT_EQ(idle(), 0) << "the host hiding it is no close by the user";

    showInterface->show(suil_instance_get_handle(window));
    ASSERT_TRUE(vt::test::sendDeleteWindow(windowId())); // the desktop's close button
    EXPECT_TRUE(idleUntil([this] { return idle() != 0; }));
    EXPECT_FALSE(top->isVisible());

    showInterface->show(suil_instance_get_handle(window));
    EXPECT_EQ(idle(), 0);
}

} // namespace
