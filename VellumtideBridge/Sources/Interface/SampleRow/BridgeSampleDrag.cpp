#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDrag.h"

#include "Platform/UI/FileDrag.h"
#include "Platform/UI/Palette.h"

std::unique_ptr<QMimeData> sampleDragData(const BridgeViewModel& model, const SampleItem& sample) {
    return vt::ui::fileDragData(vt::dragStagingFolder(model.dependencies().paths),
                                {model.sampleURL(sample), sample.id, std::nullopt},
                                QString::fromStdString(sample.fileName));
}

QPixmap sampleDragChip(const SampleItem& sample, double devicePixelRatio) {
    return vt::ui::fileDragChip("waveform", QString::fromStdString(sample.fileName), vt::ui::palette::cyan,
                                devicePixelRatio);
}
