#pragma once
// What dragging a sample card out of the window offers: the sample's current file (its rendered
// edit when that is active and present, else the downloaded file) under the file name the phone
// sent, and the chip the drag shows.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QMimeData>
#include <QPixmap>
#include <memory>

// Stages the file for the drag; nothing when it is missing.
std::unique_ptr<QMimeData> sampleDragData(const BridgeViewModel& model, const SampleItem& sample);
// The waveform glyph and the name the file arrives under.
QPixmap sampleDragChip(const SampleItem& sample, double devicePixelRatio);
