#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/SheetOverlay.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(Fonts, BundledFamiliesAreTheOnesInUse) {
    EXPECT_TRUE(vt::ui::installBundledFonts());
    EXPECT_EQ(QFontInfo(vt::ui::systemFont(13)).family(), vt::ui::systemFontFamily);
    EXPECT_EQ(QFontInfo(vt::ui::monospacedFont(11)).family(), vt::ui::monospacedFontFamily);
    EXPECT_EQ(QFontInfo(vt::ui::glyphFont(16)).family(), vt::ui::glyphFontFamily);
    EXPECT_EQ(vt::ui::systemFont(12.6, vt::ui::FontWeight::semibold).pixelSize(), 13);
}

TEST(Glyphs, EverySymbolTheWindowsUseIsInTheGlyphFont) {
    const QFontMetrics metrics(vt::ui::glyphFont(16));
    for (const char* name : {"play.fill",
                             "stop.fill",
                             "star",
                             "star.fill",
                             "xmark",
                             "iphone",
                             "book.closed.fill",
                             "arrow.up.doc",
                             "speaker.wave.2.fill",
                             "speaker.slash.fill",
                             "chevron.right",
                             "chevron.down",
                             "square.grid.2x2.fill",
                             "qrcode",
                             "tray.full",
                             "scissors",
                             "arrow.counterclockwise",
                             "arrow.clockwise",
                             "app.badge",
                             "waveform.path.ecg",
                             "bolt.horizontal.circle.fill",
                             "slider.horizontal.3",
                             "repeat.circle.fill",
                             "lock.open.fill",
                             "lock.circle.fill",
                             "line.3.horizontal",
                             "iphone.and.arrow.forward",
                             "gearshape.fill",
                             "exclamationmark.triangle.fill",
                             "arrow.up.right",
                             "waveform.badge.magnifyingglass",
                             "wand.and.stars",
                             "square.split.2x1",
                             "network",
                             "music.note",
                             "metronome",
                             "link.badge.minus",
                             "key.fill",
                             "iphone.radiowaves.left.and.right",
                             "folder.badge.gearshape",
                             "doc.on.clipboard",
                             "checkmark",
                             "arrow.up.forward.app",
                             "antenna.radiowaves.left.and.right",
                             "waveform.path.badge.plus",
                             "arrow.right.circle.fill",
                             "waveform",
                             "trash",
                             "pencil",
                             "hourglass"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(vt::ui::hasGlyph(name));
        EXPECT_TRUE(metrics.inFont(vt::ui::glyphText(name).at(0)));
    }
    EXPECT_FALSE(vt::ui::hasGlyph("no.such.symbol"));
    EXPECT_TRUE(metrics.inFont(vt::ui::glyphText("no.such.symbol").at(0)));
}

TEST(SheetOverlay, CoversTheHostAndDismissesOnceOnEscape) {
    QWidget host;
    host.resize(800, 600);
    host.show();
    auto* panel = new QPushButton("Panel");
    panel->setFixedSize(300, 200);
    auto* overlay = vt::ui::SheetOverlay::present(&host, panel);
    QSignalSpy dismissed(overlay, &vt::ui::SheetOverlay::dismissed);
    EXPECT_EQ(overlay->geometry(), host.rect());
    EXPECT_EQ(QRectF(panel->geometry()).center().x(), 400);

    host.resize(1000, 700);
    EXPECT_EQ(overlay->geometry(), host.rect());
    EXPECT_EQ(QRectF(panel->geometry()).center().x(), 500);

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(overlay, &escape);
    overlay->dismiss();
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_FALSE(overlay->isVisible());
}
