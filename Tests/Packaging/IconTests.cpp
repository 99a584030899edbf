// The program's icon is the logo mark: the hand-written SVG and the PNGs rendered at build time
// match what the windows paint, pixel for pixel within anti-aliasing.

#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideLogoMark.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

QImage painted(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    VellumtideLogoMark::paint(painter, size, size, vt::ui::palette::cyan);
    return image;
}

QImage fromSvg(int size) {
    QSvgRenderer renderer(QStringLiteral(VELLUMTIDE_ICON_SVG));
    EXPECT_TRUE(renderer.isValid());
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(0, 0, size, size));
    return image;
}

// The share of pixels whose channels differ by more than the tolerance.
double differingShare(const QImage& a, const QImage& b, int tolerance) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32);
    int differing = 0;
    for (int y = 0; y < left.height(); ++y)
        for (int x = 0; x < left.width(); ++x) {
            const QRgb p = left.pixel(x, y), q = right.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance ||
                std::abs(qBlue(p) - qBlue(q)) > tolerance || std::abs(qAlpha(p) - qAlpha(q)) > tolerance)
                ++differing;
        }
    return double(differing) / double(left.width() * left.height());
}

TEST(ProgramIcon, TheSvgDrawsTheLogoMark) {
    for (int size : {48, 256}) {
        const QImage mark = painted(size);
        EXPECT_LT(differingShare(fromSvg(size), mark, 24), 0.01) << size;
        EXPECT_EQ(fromSvg(size).pixelColor(size / 2, size / 20).alpha(), 255) << "the disc is opaque";
    }
    // A mark of another colour is told apart.
    QImage other(256, 256, QImage::Format_ARGB32_Premultiplied);
    other.fill(Qt::transparent);
    QPainter painter(&other);
    VellumtideLogoMark::paint(painter, 256, 256, vt::ui::palette::amber);
    painter.end();
    EXPECT_GT(differingShare(fromSvg(256), other, 24), 0.3);
}

TEST(ProgramIcon, EveryRenderedSizeIsTheMarkAtThatSize) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString file =
            QStringLiteral(VELLUMTIDE_ICON_PNGS "/%1x%1/apps/com.kestrelworks.vellumtide.bridge.png")
                .arg(size);
        QImage rendered(file);
        ASSERT_FALSE(rendered.isNull()) << file.toStdString();
        EXPECT_EQ(rendered.size(), QSize(size, size));
        EXPECT_LT(differingShare(rendered, painted(size), 2), 0.001) << size;
    }
}

} // namespace
