#include "Shared/Interface/VellumtideQRCodeView.h"

#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Widgets.h"

#include <QPainter>
#include <memory>
#include <qrencode.h>

namespace {
constexpr int moduleScale = 10;
constexpr int marginModules = 1;
} // namespace

VellumtideQRCodeView::VellumtideQRCodeView(QUrl url, QWidget* parent)
    : QWidget(parent), url_(std::move(url)) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

QWidget* VellumtideQRCodeView::makeCard(const QUrl& url, QWidget* parent) {
    constexpr int side = 128;
    constexpr int margin = 10;
    auto* card = new vt::ui::CardFrame(Qt::white, std::nullopt, parent);
    card->setFixedSize(side + 2 * margin, side + 2 * margin);
    auto* code = new VellumtideQRCodeView(url, card);
    code->setGeometry(margin, margin, side, side);
    return card;
}

std::optional<QImage> VellumtideQRCodeView::makeImage(const QUrl& url) {
    const QByteArray bytes = url.toString(QUrl::FullyEncoded).toUtf8();
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeData(static_cast<int>(bytes.size()),
                          reinterpret_cast<const unsigned char*>(bytes.constData()), 0, QR_ECLEVEL_M),
        QRcode_free);
    if (!code || code->width <= 0)
        return std::nullopt;
    const int modules = code->width + 2 * marginModules;
    QImage image(modules * moduleScale, modules * moduleScale, QImage::Format_RGB32);
    if (image.isNull())
        return std::nullopt;
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int row = 0; row < code->width; ++row)
        for (int column = 0; column < code->width; ++column)
            if (code->data[row * code->width + column] & 1)
                painter.fillRect((column + marginModules) * moduleScale, (row + marginModules) * moduleScale,
                                 moduleScale, moduleScale, Qt::black);
    return image;
}

void VellumtideQRCodeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const std::optional<QImage> image = makeImage(url_);
    if (!image) {
        setAccessibleName({});
        vt::ui::paintGlyph(painter, rect(), "qrcode", fallbackGlyphSize, Qt::black);
        return;
    }
    setAccessibleName(QString::fromLatin1(accessibilityLabel));
    const double side = std::min(width(), height());
    const QRectF target((width() - side) / 2, (height() - side) / 2, side, side);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, *image);
}
