#pragma once
// The edits the audio benchmark renders, in its own process and in the render process alike.

#include "VellumtideBridge/Sources/Library/BridgeModels.h"

// A trim of the first and last second with half-second fades.
inline BridgeSampleEdit trimEdit() {
    BridgeSampleEdit trim;
    trim.startTime = 1;
    trim.endTime = 59;
    trim.fadeIn = 0.5;
    trim.fadeOut = 0.5;
    return trim;
}

inline BridgeSampleEdit denoiseEdit() {
    BridgeSampleEdit edit;
    edit.denoise = true;
    return edit;
}
