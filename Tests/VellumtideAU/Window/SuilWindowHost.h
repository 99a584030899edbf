#pragma once
// The plug-in's window as a host loads it: lilv finds the bundle's X11 UI, suil instantiates it
// with instance and data access inside a plain X11 window of the host, and the host runs it only
// through its idle interface.

#include "Tests/VellumtideAU/LV2/LilvHost.h"
#include "Tests/VellumtideAU/Window/X11TestWindow.h"

#include <filesystem>
#include <lv2/data-access/data-access.h>
#include <lv2/ui/ui.h>
#include <suil/suil.h>

namespace vt::test {

// Copies the built bundle into prefix/lib/lv2, beside a stand-in for the desktop program
// (prefix/bin/vellumtide-bridge) that appends its arguments to the file returned; the window
// finds the program from there.
std::filesystem::path installBundleBesideStandIn(const std::filesystem::path& prefix);

class SuilWindowHost {
public:
    // The host's window is width × height at (x, y) on the screen.
    SuilWindowHost(LilvHost& host, HostedPlugin& instance, int width, int height, int x = 0, int y = 0);
    ~SuilWindowHost();
    SuilWindowHost(const SuilWindowHost&) = delete;
    SuilWindowHost& operator=(const SuilWindowHost&) = delete;

    // The window was made and offers the idle interface.
    bool valid() const { return window && idleInterface; }
    void idle() { idleInterface->idle(suil_instance_get_handle(window)); }
    bool offersShowInterface() const;
    unsigned long widget() const;
    const X11TestWindow& parent() const { return parentWindow; }
    int requestedWidth = 0;
    int requestedHeight = 0;

private:
    static int recordSize(LV2UI_Feature_Handle handle, int width, int height);

    LilvUIs* uis = nullptr;
    LilvNode* x11 = nullptr;
    char* uiBundle = nullptr;
    char* uiBinary = nullptr;
    X11TestWindow parentWindow;
    LV2UI_Resize resize{this, &SuilWindowHost::recordSize};
    LV2_Extension_Data_Feature dataAccess{};
    SuilHost* suil = nullptr;
    SuilInstance* window = nullptr;
    const LV2UI_Idle_Interface* idleInterface = nullptr;
};

} // namespace vt::test
