#pragma once
// What dragging a sample card out of the window offers: the sample's current file (its rendered
// edit when that is active and present, else the downloaded file) under the file name the phone
// sent.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QMimeData>
#include <memory>

// Nothing when the file is missing.
std::unique_ptr<QMimeData> sampleDragData(const BridgeViewModel& model, const SampleItem& sample);
