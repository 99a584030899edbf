// The pad kit in a host's saved state: whatever decodes is written back in a form that decodes
// to the same kit and the same text.

#include "Tests/Fuzz/FuzzCheck.h"
#include "VellumtideAU/Engine/VellumtidePadKitState.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    VellumtidePadKitState kit;
    try {
        kit = VellumtidePadKitState::fromJsonText(vt::fuzz::text(data, size));
    } catch (const std::exception&) {
        return 0;
    }
    std::string written;
    try {
        written = kit.toJsonText();
    } catch (const std::exception&) {
        vt::fuzz::check(false, "a kit that decodes can be written");
    }
    VellumtidePadKitState reread;
    try {
        reread = VellumtidePadKitState::fromJsonText(written);
    } catch (const std::exception&) {
        vt::fuzz::check(false, "a written kit decodes");
    }
    vt::fuzz::check(reread.toJsonText() == written, "a written kit reads back unchanged");
    vt::fuzz::check(reread.normalized() == reread.normalized().normalized(), "normalising is idempotent");
    return 0;
}
