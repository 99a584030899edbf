#pragma once
// Drag-out of a file into other applications: the file's URL as text/uri-list and, beside it,
// the name the receiver should give its copy.

#include <QMimeData>
#include <QPoint>
#include <filesystem>
#include <memory>

class QWidget;

namespace vt::ui {

// The format that carries the suggested file name (UTF-8 text).
inline constexpr const char* suggestedFileNameMimeType = "application/x-suggested-file-name";

// The drag's data, or nothing when the file does not exist: a missing file is never offered.
std::unique_ptr<QMimeData> fileDragData(const std::filesystem::path& file, const QString& suggestedName);

// Runs a copying drag of data from source, showing the source's picture under the pointer at
// hotSpot. The platform's drag blocks until the drop, in its own loop.
void startFileDrag(QWidget* source, std::unique_ptr<QMimeData> data, QPoint hotSpot);

} // namespace vt::ui
