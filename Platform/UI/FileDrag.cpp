#include "Platform/UI/FileDrag.h"

#include <QDrag>
#include <QPixmap>
#include <QPointer>
#include <QUrl>
#include <QWidget>

namespace vt::ui {

std::unique_ptr<QMimeData> fileDragData(const std::filesystem::path& file, const QString& suggestedName) {
    std::error_code error;
    if (file.empty() || !std::filesystem::is_regular_file(file, error))
        return nullptr;
    auto data = std::make_unique<QMimeData>();
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
    data->setData(suggestedFileNameMimeType, suggestedName.toUtf8());
    return data;
}

void startFileDrag(QWidget* source, std::unique_ptr<QMimeData> data, QPoint hotSpot) {
    if (!source || !data)
        return;
    auto* drag = new QDrag(source);
    drag->setMimeData(data.release());
    drag->setPixmap(source->grab());
    drag->setHotSpot(hotSpot);
    QPointer<QDrag> guard(drag);
    drag->exec(Qt::CopyAction);
    if (guard)
        guard->deleteLater();
}

} // namespace vt::ui
