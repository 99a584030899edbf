#include "Shared/Interface/VellumtideLogoMark.h"
#include "Shared/Interface/VellumtideQRCodeView.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

// The number of dark pixels in a row of the image.
int darkPixels(const QImage& image, int row) {
    int count = 0;
    for (int x = 0; x < image.width(); ++x)
        count += qGray(image.pixel(x, row)) < 128;
    return count;
}

} // namespace

TEST(QRCodeView, EncodesTheUtf8TextInSharpSquareModules) {
    const auto ascii = VellumtideQRCodeView::makeImage(QUrl("https://example.com/app"));
    ASSERT_TRUE(ascii);
    EXPECT_EQ(ascii->width(), ascii->height());
    EXPECT_EQ(ascii->width() % 10, 0);
    // Modules are 10 × 10 pixels: every pixel of a module has its module's colour.
    for (int y = 0; y < ascii->height(); y += 10)
        for (int x = 0; x < ascii->width(); x += 10)
            EXPECT_EQ(ascii->pixel(x, y), ascii->pixel(x + 9, y + 9));
    // A finder pattern starts one module in: seven dark modules in its top row.
    EXPECT_GE(darkPixels(*ascii, 15), 140);

    const auto accented =
        VellumtideQRCodeView::makeImage(QUrl(QString::fromUtf8("https://example.com/caf\u00e9")));
    ASSERT_TRUE(accented);
    EXPECT_NE(*accented, *ascii);
}

TEST(QRCodeView, FillsANonSquareFrameKeepingItSquareAndIsLabelled) {
    VellumtideQRCodeView view(QUrl("https://example.com/app"));
    view.resize(300, 128);
    const QImage shot = view.grab().toImage();
    // The code is centred: the left and right 86 pixels stay untouched (transparent or clear).
    int darkOutside = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x : {0, 40, 85, 215, 260, 299})
            darkOutside += qAlpha(shot.pixel(x, y)) > 0 && qGray(shot.pixel(x, y)) < 128;
    EXPECT_EQ(darkOutside, 0);
    EXPECT_GT(darkPixels(shot, 64), 0);
    EXPECT_EQ(view.accessibleName(), "QR code for the Vellumtide iPhone app");
}

TEST(LogoMark, BarsFollowTheDiameter) {
    const auto bars = VellumtideLogoMark::barRects(100, 100);
    const double heights[] = {48, 72, 92, 72, 48};
    for (int index = 0; index < 5; ++index) {
        EXPECT_NEAR(bars[index].x(), 17.15 + index * 14.3, 1e-9);
        EXPECT_NEAR(bars[index].width(), 8.5, 1e-9);
        EXPECT_NEAR(bars[index].height(), heights[index], 1e-9);
        EXPECT_NEAR(bars[index].center().y(), 50, 1e-9);
    }

    VellumtideLogoMark mark(38, Qt::cyan);
    EXPECT_EQ(mark.size(), QSize(38, 38));
    QImage image(100, 100, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    VellumtideLogoMark::paint(painter, 100, 100, QColor(255, 0, 0));
    painter.end();
    EXPECT_EQ(qAlpha(image.pixel(1, 1)), 0);         // outside the disc
    EXPECT_EQ(image.pixel(50, 2), qRgb(255, 0, 0));  // the disc above the middle bar (its top is at 4)
    EXPECT_LT(qRed(image.pixel(50, 50)), 100);       // inside the middle bar: dark
    EXPECT_EQ(image.pixel(28, 50), qRgb(255, 0, 0)); // in the gap between the first two bars
}
