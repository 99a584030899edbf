// The favourites glow: painted behind the button by a layer in the row's parent, so it fades out
// past the row's edges instead of stopping at a hard rectangle.

#include "Shared/Interface/VellumtideFavoritesGlow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// A plain widget filled with one colour, or nothing at all.
class Plain final : public QWidget {
public:
    explicit Plain(std::optional<QColor> fill = std::nullopt) : fill(fill) {}

protected:
    void paintEvent(QPaintEvent*) override {
        if (fill)
            QPainter(this).fillRect(rect(), *fill);
    }

private:
    std::optional<QColor> fill;
};

// A dark window with a row exactly as tall as a capsule button, as the windows' headers are.
struct GlowScene {
    GlowScene() {
        window.resize(300, 160);
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(40, 60, 40, 60);
        row = new Plain;
        row->setFixedHeight(32);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        button = new Plain;
        button->setFixedSize(112, 32);
        rowLayout->addWidget(button);
        rowLayout->addStretch(1);
        column->addWidget(row);
        glow =
            new VellumtideFavoritesGlow(button, [this] { return VellumtideFavoritesFilterLook::at(on, 1); });
        window.show();
        QApplication::processEvents();
    }
    QImage shot() { return window.grab().toImage(); }
    // How far a pixel is from the window's background, summed over the channels.
    int lift(const QImage& image, int x, int y) const {
        const QColor seen = image.pixelColor(x, y);
        return std::abs(seen.red() - 16) + std::abs(seen.green() - 16) + std::abs(seen.blue() - 16);
    }

    Plain window{QColor(16, 16, 16)};
    Plain* row = nullptr;
    Plain* button = nullptr;
    VellumtideFavoritesGlow* glow = nullptr;
    bool on = true;
};

TEST(FavoritesGlow, ReachesPastTheRowAndFadesWithoutAHardEdge) {
    GlowScene scene;
    const QRect buttonRect(scene.button->mapTo(&scene.window, QPoint()), scene.button->size());
    const QRect rowRect(scene.row->mapTo(&scene.window, QPoint()), scene.row->size());
    ASSERT_EQ(rowRect.top(), buttonRect.top()) << "the row is no taller than the button";
    EXPECT_EQ(scene.glow->geometry(), buttonRect.adjusted(-24, -24, 24, 24));
    const QImage image = scene.shot();

    // Above the middle of the capsule, outside the row: the glow is there and fades smoothly.
    const int x = buttonRect.center().x();
    int previous = scene.lift(image, x, rowRect.top() - 1);
    EXPECT_GT(previous, 60) << "the glow reaches past the row's edge";
    for (int y = rowRect.top() - 2; y >= buttonRect.top() - 30; --y) {
        const int now = scene.lift(image, x, y);
        EXPECT_LE(now, previous + 2) << "the glow only fades going outwards, at y " << y;
        EXPECT_LE(previous - now, 24) << "no hard edge at y " << y;
        previous = now;
    }
    EXPECT_LE(previous, 3) << "nothing is left at the glow's reach";

    // Past the rounded ends too, with no cut at the row's top or bottom edge.
    for (int y : {rowRect.top() - 1, rowRect.top(), rowRect.bottom(), rowRect.bottom() + 1})
        EXPECT_GT(scene.lift(image, buttonRect.left() - 3, y), 10) << y;
    EXPECT_LE(std::abs(scene.lift(image, x, rowRect.bottom() + 1) - scene.lift(image, x, rowRect.top() - 1)),
              6)
        << "above and below alike";
}

TEST(FavoritesGlow, ShowsNothingWhileTheFilterIsOffAndFollowsTheButton) {
    GlowScene scene;
    scene.on = false;
    scene.glow->update();
    QApplication::processEvents();
    const QImage image = scene.shot();
    const QRect glowRect = scene.glow->geometry();
    for (int y = glowRect.top(); y < scene.row->y(); ++y)
        for (int x = glowRect.left(); x <= glowRect.right(); ++x)
            ASSERT_EQ(scene.lift(image, x, y), 0) << x << "," << y;

    scene.button->setFixedSize(80, 32);
    QApplication::processEvents();
    EXPECT_EQ(scene.glow->width(), 80 + 48);
    scene.row->hide();
    EXPECT_FALSE(scene.glow->isVisible());
    scene.row->show();
    EXPECT_TRUE(scene.glow->isVisible());
}

} // namespace
