#include "Platform/UI/FileDrag.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QDrag>
#include <QFontMetricsF>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace vt::ui {

namespace {
constexpr double chipHeight = 34;
constexpr double chipPadding = 12;
constexpr double chipGlyphSize = 16;
constexpr double chipSpacing = 8;
constexpr double chipHotSpotX = 6;

QFont chipFont() {
    return systemFont(12, FontWeight::semibold);
}
} // namespace

std::unique_ptr<QMimeData> fileDragData(const StagedDragFile& staged) {
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/uri-list"), staged.uriList);
    data->setText(staged.plainText);
    return data;
}

std::unique_ptr<QMimeData> fileDragData(const std::filesystem::path& store, const DragSource& source,
                                        const QString& suggestedName) {
    const auto staged = stageFileForDrag(store, source, suggestedName);
    return staged ? fileDragData(*staged) : nullptr;
}

QPixmap fileDragChip(std::string_view symbolName, const QString& title, const QColor& accent,
                     double devicePixelRatio) {
    const double content = chipGlyphSize + chipSpacing + QFontMetricsF(chipFont()).horizontalAdvance(title);
    const double width =
        std::min<double>(std::ceil(content + 2 * chipPadding), fileDragChipMaximumSize.width());
    QPixmap chip(QSize(static_cast<int>(std::ceil(width * devicePixelRatio)),
                       static_cast<int>(std::ceil(chipHeight * devicePixelRatio))));
    chip.setDevicePixelRatio(devicePixelRatio);
    chip.fill(Qt::transparent);
    QPainter painter(&chip);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, width, chipHeight);
    paintRoundedBox(painter, box, withOpacity(palette::surface2, 0.86), chipHeight / 2,
                    Border{faded(accent, 0.55), 1});
    const QRectF glyphBox(chipPadding, 0, chipGlyphSize, chipHeight);
    paintGlyph(painter, glyphBox, symbolName, chipGlyphSize, accent);
    const QRectF titleBox(glyphBox.right() + chipSpacing, 0,
                          width - glyphBox.right() - chipSpacing - chipPadding, chipHeight);
    painter.setFont(chipFont());
    painter.setPen(Qt::white);
    painter.drawText(titleBox, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(chipFont()).elidedText(title, Qt::ElideMiddle, titleBox.width()));
    painter.end();
    return chip;
}

QPoint fileDragChipHotSpot(const QPixmap& chip) {
    return QPoint(static_cast<int>(chipHotSpotX),
                  static_cast<int>(std::round(chip.deviceIndependentSize().height() / 2)));
}

bool startFileDrag(QWidget* source, std::unique_ptr<QMimeData> data, const QPixmap& chip) {
    if (!source || !data)
        return false;
    // The window, not the widget, owns the drag: a card rebuilt while the receiver still reads the
    // drop must not take the offered data with it.
    auto* drag = new QDrag(source->window());
    drag->setMimeData(data.release());
    drag->setPixmap(chip);
    drag->setHotSpot(fileDragChipHotSpot(chip));
    // Not deleted here: on X11 the receiver fetches the data after exec() returns, and the
    // platform's drag deletes the QDrag once the receiver reports the drop finished.
    drag->exec(Qt::CopyAction);
    return true;
}

} // namespace vt::ui
