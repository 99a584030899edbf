// The widgets both windows share: eliding labels, plain-text labels, painted buttons and their
// state opacities, clickable cards, glyph views and capsule badges, and the glyph-and-title
// drawing, checked by their sizes, signals and rendered pixels.

#include "Platform/UI/CapsuleBadge.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/Widgets.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace vt::ui;

// The widget rendered on a transparent image of its size.
QImage rendered(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The number of pixels outside rect that painting touched.
int pixelsOutside(const QImage& image, const QRect& rect) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!rect.contains(x, y) && qAlpha(image.pixel(x, y)) != 0)
                ++count;
    return count;
}

TEST(ElidedLabel, AsksForItsWholeTextAndElidesBelowIt) {
    const QString path = QStringLiteral("~/Music/A very long folder name that cannot fit/Library");
    ElidedLabel label(path, systemFont(12, FontWeight::medium), Qt::white, Qt::ElideMiddle);
    label.resize(label.sizeHint());
    EXPECT_EQ(label.displayedText(), path) << "the size it asks for shows all of it";
    EXPECT_GE(label.sizeHint().height(), QFontMetricsF(label.font()).height());

    label.resize(120, label.sizeHint().height());
    const QString shown = label.displayedText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("~/")) << "the middle goes first";
    EXPECT_TRUE(shown.endsWith("Library"));

    EXPECT_LT(label.minimumSizeHint().width(), 20) << "a narrow row may squeeze it to its ellipsis";
    EXPECT_GE(label.minimumSizeHint().width(), QFontMetricsF(label.font()).horizontalAdvance(QChar(0x2026)));
    label.setSqueezable(true);
    EXPECT_EQ(label.minimumSizeHint(), QSize(0, label.sizeHint().height()));

    label.setText(QStringLiteral("Short"));
    EXPECT_EQ(label.text(), "Short");
    EXPECT_LT(label.sizeHint().width(), 60) << "a new text asks for its own width";
}

TEST(TextLabel, ShowsMarkupAsWrittenInItsColour) {
    QLabel* label = makeText(QStringLiteral("<b>Kick</b>"), systemFont(12), palette::amber, true);
    std::unique_ptr<QLabel> owner(label);
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << "a phone's sample name is never read as markup";
    EXPECT_TRUE(label->wordWrap());
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        EXPECT_EQ(label->palette().color(group, QPalette::WindowText), palette::amber);
}

TEST(PaintedButton, ClicksAndFadesByState) {
    PaintedButton button(QSize(20, 20),
                         [](QPainter& painter, const QRectF& rect) { painter.fillRect(rect, Qt::white); });
    button.setHelp(QStringLiteral("Preview"));
    EXPECT_EQ(button.toolTip(), "Preview");
    EXPECT_EQ(button.accessibleName(), "Preview");
    EXPECT_EQ(button.sizeHint(), QSize(20, 20));
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);

    auto centreAlpha = [&button] { return qAlpha(rendered(button).pixel(10, 10)); };
    EXPECT_EQ(centreAlpha(), 255);
    button.setDown(true);
    EXPECT_NEAR(centreAlpha(), 0.7 * 255, 2);
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_NEAR(centreAlpha(), 0.4 * 255, 2);

    button.setStateOpacities(1.0, 0.45);
    EXPECT_NEAR(centreAlpha(), 0.45 * 255, 2);
    button.setEnabled(true);
    button.setDown(true);
    EXPECT_EQ(centreAlpha(), 255) << "an opacity of 1 leaves the pressed look as it is";

    button.setPainter({});
    EXPECT_EQ(centreAlpha(), 0) << "no painter draws nothing";
}

TEST(GlyphButton, DrawsItsCircleInsideItsFrame) {
    std::unique_ptr<PaintedButton> button(
        makeGlyphButton("xmark", 12, Qt::white, QSize(28, 28), palette::cyan, QStringLiteral("Close")));
    EXPECT_EQ(button->toolTip(), "Close");
    const QImage image = rendered(*button);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the corner is outside the circle";
    EXPECT_EQ(image.pixelColor(2, 14).rgb(), palette::cyan.rgb()) << "the circle fills the frame";

    GlyphView view("xmark", 12, Qt::white, QSize(28, 28));
    EXPECT_EQ(qAlpha(rendered(view).pixel(2, 14)), 0) << "no circle unless asked";
    view.setCircleFill(palette::amber);
    EXPECT_EQ(rendered(view).pixelColor(2, 14).rgb(), palette::amber.rgb());
}

TEST(CardFrame, EmitsClickedOnlyWhenClickableAndReleasedInside) {
    CardFrame card(palette::surface);
    card.resize(100, 40);
    QSignalSpy clicks(&card, &CardFrame::clicked);
    QTest::mouseClick(&card, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 0);

    card.setClickable(true);
    QTest::mouseClick(&card, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(&card, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&card, Qt::LeftButton, {}, QPoint(150, 10));
    EXPECT_EQ(clicks.count(), 1) << "released outside";
    QTest::mouseClick(&card, Qt::RightButton);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(CapsuleBadge, IsAsWideAsItsContentAndPaintsItsCapsule) {
    BadgeStyle style;
    style.font = monospacedFont(8, FontWeight::bold);
    style.glyphSize = 8;
    style.spacing = 3;
    style.horizontalPadding = 6;
    style.height = 16;
    const QString text = QStringLiteral("120 BPM");
    const QSize size = badgeSize(style, text);
    EXPECT_EQ(size.width(), std::ceil(12 + 8 + 3 + QFontMetricsF(style.font).horizontalAdvance(text)));
    EXPECT_EQ(size.height(), 16);

    CapsuleBadge badge(style, text, "metronome", palette::cyan);
    EXPECT_EQ(badge.size(), size);
    EXPECT_EQ(badge.label(), text);
    QImage image = rendered(badge);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "rounded ends";
    EXPECT_NEAR(qAlpha(image.pixel(3, 8)), 0.11 * 255, 2) << "a faint fill without an outline";

    style.strokeOpacity = 0.5;
    CapsuleBadge outlined(style, text, "metronome", palette::cyan);
    image = rendered(outlined);
    EXPECT_GT(qAlpha(image.pixel(size.width() / 2, 0)), 0.3 * 255) << "the outline runs along the edge";
    EXPECT_NEAR(qAlpha(image.pixel(size.width() / 2, 1)), 0.11 * 255, 8);
}

TEST(GlyphAndTitle, StayInsideTheirRectangleWhenTheTitleIsTooLong) {
    QImage image(200, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QRect rect(40, 0, 60, 20);
    paintGlyphAndTitle(painter, rect, "scissors", 10, QStringLiteral("Update Chops and more words"),
                       systemFont(11, FontWeight::bold), Qt::white);
    painter.end();
    EXPECT_EQ(pixelsOutside(image, rect.adjusted(0, 0, 1, 0)), 0);
    EXPECT_GT(pixelsOutside(image, QRect()), 0) << "something was drawn";
}

TEST(Colours, FadedMultipliesWhereWithOpacitySets) {
    EXPECT_NEAR(faded(white(0.5), 0.5).alphaF(), 0.25, 0.01);
    EXPECT_NEAR(withOpacity(white(0.5), 0.5).alphaF(), 0.5, 0.01);
    EXPECT_EQ(faded(palette::amber, 0.3).rgb(), palette::amber.rgb());
}

} // namespace
