#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDrag.h"

#include "Platform/UI/FileDrag.h"

std::unique_ptr<QMimeData> sampleDragData(const BridgeViewModel& model, const SampleItem& sample) {
    return vt::ui::fileDragData(model.sampleURL(sample), QString::fromStdString(sample.fileName));
}
