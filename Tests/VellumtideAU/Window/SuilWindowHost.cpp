#include "Tests/VellumtideAU/Window/SuilWindowHost.h"

#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>

namespace vt::test {

std::filesystem::path installBundleBesideStandIn(const std::filesystem::path& prefix) {
    const auto bundle = prefix / "lib" / "lv2" / "vellumtide.lv2";
    std::filesystem::create_directories(bundle);
    for (const auto& entry : std::filesystem::directory_iterator(VELLUMTIDE_LV2_DIR "/vellumtide.lv2"))
        std::filesystem::copy(entry.path(), bundle / entry.path().filename());
    const auto launches = prefix / "launches.txt";
    writeFile(prefix / "bin" / "vellumtide-bridge",
              "#!/bin/sh\necho \"$*\" >> \"" + launches.string() + "\"\n");
    std::filesystem::permissions(prefix / "bin" / "vellumtide-bridge", std::filesystem::perms::owner_all);
    return launches;
}

SuilWindowHost::SuilWindowHost(LilvHost& host, HostedPlugin& instance, int width, int height, int x, int y)
    : parentWindow(width, height, x, y) {
    const LilvPlugin* plugin = host.plugin(vt::lv2::pluginURI);
    if (!plugin || !instance.valid() || !parentWindow.valid())
        return;
    uis = lilv_plugin_get_uis(plugin);
    if (lilv_uis_size(uis) != 1)
        return;
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    const LilvNode* uiType = nullptr;
    x11 = lilv_new_uri(host.world, LV2_UI__X11UI);
    if (!lilv_ui_is_supported(ui, suil_ui_supported, x11, &uiType))
        return;
    uiBundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_bundle_uri(ui)), nullptr);
    uiBinary = lilv_file_uri_parse(lilv_node_as_uri(lilv_ui_get_binary_uri(ui)), nullptr);

    dataAccess.data_access = lilv_instance_get_descriptor(instance.instance)->extension_data;
    LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parentWindow.id())};
    LV2_Feature instanceFeature{LV2_INSTANCE_ACCESS_URI, instance.handle()};
    LV2_Feature dataFeature{LV2_DATA_ACCESS_URI, &dataAccess};
    LV2_Feature mapFeature{LV2_URID__map, &host.urids.mapFeatureData};
    LV2_Feature resizeFeature{LV2_UI__resize, &resize};
    const LV2_Feature* features[] = {&parentFeature, &instanceFeature, &dataFeature,
                                     &mapFeature,    &resizeFeature,   nullptr};
    suil = suil_host_new(nullptr, nullptr, nullptr, nullptr);
    window = suil_instance_new(suil, nullptr, LV2_UI__X11UI, vt::lv2::pluginURI,
                               lilv_node_as_uri(lilv_ui_get_uri(ui)), lilv_node_as_uri(uiType), uiBundle,
                               uiBinary, features);
    if (window)
        idleInterface = static_cast<const LV2UI_Idle_Interface*>(
            suil_instance_extension_data(window, LV2_UI__idleInterface));
}

SuilWindowHost::~SuilWindowHost() {
    if (window)
        suil_instance_free(window);
    if (suil)
        suil_host_free(suil);
    lilv_free(uiBundle);
    lilv_free(uiBinary);
    if (uis)
        lilv_uis_free(uis);
    if (x11)
        lilv_node_free(x11);
}

bool SuilWindowHost::offersShowInterface() const {
    return window && suil_instance_extension_data(window, LV2_UI__showInterface);
}

unsigned long SuilWindowHost::widget() const {
    return window ? reinterpret_cast<unsigned long>(suil_instance_get_widget(window)) : 0;
}

int SuilWindowHost::recordSize(LV2UI_Feature_Handle handle, int width, int height) {
    auto* host = static_cast<SuilWindowHost*>(handle);
    host->requestedWidth = width;
    host->requestedHeight = height;
    return 0;
}

} // namespace vt::test
