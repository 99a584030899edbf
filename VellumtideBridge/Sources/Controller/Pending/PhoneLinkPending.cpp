// Inert phone-link operations, linked only while the real ones are absent from the build.
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

void BridgeViewModel::startBrowsing() {}
void BridgeViewModel::startWatchMode() {}
void BridgeViewModel::stopWatchMode() {}
