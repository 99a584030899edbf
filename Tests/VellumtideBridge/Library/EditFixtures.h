#pragma once
// Edits written in one line for tests.

#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <optional>

namespace vt::test {

inline BridgeSampleEdit makeEdit(double start, std::optional<double> end = std::nullopt, double fadeIn = 0,
                                 double fadeOut = 0, bool normalize = false, bool denoise = false) {
    BridgeSampleEdit edit;
    edit.startTime = start;
    edit.endTime = end;
    edit.fadeIn = fadeIn;
    edit.fadeOut = fadeOut;
    edit.normalize = normalize;
    edit.denoise = denoise;
    return edit;
}

} // namespace vt::test
