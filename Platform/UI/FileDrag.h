#pragma once
// Drag-out of a file into other programs: the file is staged under the name the receiver should
// give it (see DragStaging.h) and offered as text/uri-list and text/plain, with a small chip of
// glyph and title under the pointer.

#include "Platform/Desktop/DragStaging.h"

#include <QColor>
#include <QMimeData>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <filesystem>
#include <memory>
#include <string_view>

class QWidget;

namespace vt::ui {

// What a drag of the staged file offers.
std::unique_ptr<QMimeData> fileDragData(const StagedDragFile& staged);

// Stages the source's file in store under suggestedName and returns what a drag of it offers;
// nothing when the file is missing or cannot be staged: a missing file is never offered.
std::unique_ptr<QMimeData> fileDragData(const std::filesystem::path& store, const DragSource& source,
                                        const QString& suggestedName);

// The largest chip a drag shows, in logical pixels.
inline constexpr QSize fileDragChipMaximumSize{320, 48};

// The picture under the pointer: a compact translucent chip with the symbol in accent and the
// title in white, cut with an ellipsis when long.
QPixmap fileDragChip(std::string_view symbolName, const QString& title, const QColor& accent,
                     double devicePixelRatio = 1.0);

// The point of the chip that sits under the pointer: just before its glyph.
QPoint fileDragChipHotSpot(const QPixmap& chip);

// Runs a copying drag of data from source with the chip under the pointer; returns whether a drag
// ran (never without data). The platform's drag owns the QDrag from then on and keeps it, with its
// data, until the receiver has finished reading the drop.
bool startFileDrag(QWidget* source, std::unique_ptr<QMimeData> data, const QPixmap& chip);

} // namespace vt::ui
