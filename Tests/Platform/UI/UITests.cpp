#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/SheetOverlay.h"
#include "Platform/UI/Widgets.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
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

TEST(Glyphs, TheLiveSyncBoltIsNotTheDenoiseWand) {
    EXPECT_NE(vt::ui::glyphText("bolt.horizontal.circle.fill"), vt::ui::glyphText("wand.and.stars"));
}

namespace {

// A window with a field behind the overlays, and panels of two buttons.
struct OverlayHost {
    OverlayHost() {
        window.resize(600, 400);
        behind = new QLineEdit(&window);
        behind->setGeometry(10, 10, 200, 30);
        window.show();
        QApplication::setActiveWindow(&window);
        behind->setFocus(Qt::TabFocusReason);
    }
    static QWidget* makePanel(const QString& name) {
        auto* panel = new QWidget;
        panel->setObjectName(name);
        auto* column = new QVBoxLayout(panel);
        for (const char* title : {"First", "Second"}) {
            auto* button = new QPushButton(QString::fromLatin1(title), panel);
            button->setFocusPolicy(Qt::TabFocus);
            column->addWidget(button);
        }
        return panel;
    }
    static void press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
    static bool isIn(const QWidget* container) {
        const QWidget* focused = QApplication::focusWidget();
        return focused && container->isAncestorOf(focused);
    }

    QWidget window;
    QLineEdit* behind = nullptr;
};

} // namespace

TEST(SheetOverlay, KeepsTheFocusInsideTheTopmostOverlayAndGivesItBack) {
    OverlayHost host;
    QWidget* sheet = OverlayHost::makePanel("sheet");
    auto* sheetOverlay = vt::ui::SheetOverlay::present(&host.window, sheet);
    EXPECT_TRUE(OverlayHost::isIn(sheet));
    for (int step = 0; step < 5; ++step) {
        OverlayHost::press(step % 2 ? Qt::Key_Tab : Qt::Key_Backtab);
        EXPECT_TRUE(OverlayHost::isIn(sheet)) << step;
    }
    host.behind->setFocus(Qt::MouseFocusReason);
    EXPECT_TRUE(OverlayHost::isIn(sheet)) << "the field behind cannot take the focus";
    QTest::keyClicks(QApplication::focusWidget(), "typed");
    EXPECT_EQ(host.behind->text(), "");

    QWidget* second = sheet->findChildren<QPushButton*>().at(1);
    second->setFocus(Qt::TabFocusReason);
    QWidget* alert = OverlayHost::makePanel("alert");
    auto* alertOverlay = vt::ui::SheetOverlay::present(&host.window, alert);
    EXPECT_TRUE(alertOverlay->isTopmost());
    EXPECT_FALSE(sheetOverlay->isTopmost());
    for (int step = 0; step < 3; ++step) {
        OverlayHost::press(Qt::Key_Tab);
        EXPECT_TRUE(OverlayHost::isIn(alert)) << step;
    }
    alertOverlay->dismiss();
    EXPECT_EQ(QApplication::focusWidget(), second) << "back where it was when the alert opened";
    EXPECT_TRUE(sheetOverlay->isTopmost());
    sheetOverlay->dismiss();
    EXPECT_EQ(QApplication::focusWidget(), host.behind);
    EXPECT_FALSE(vt::ui::SheetOverlay::topmost(&host.window));
}

TEST(SheetOverlay, OneDimLayerAndPanelsFollowTheirContent) {
    OverlayHost host;
    const QPoint corner(595, 395);
    auto* first = vt::ui::SheetOverlay::present(&host.window, OverlayHost::makePanel("first"));
    const QRgb once = host.window.grab().toImage().pixel(corner);
    vt::ui::SheetOverlay::present(&host.window, OverlayHost::makePanel("second"));
    EXPECT_EQ(host.window.grab().toImage().pixel(corner), once) << "a second overlay dims no further";
    first->raise();
    EXPECT_TRUE(first->isTopmost());
    EXPECT_EQ(host.window.grab().toImage().pixel(corner), once);

    // A panel whose content grows is laid out again; one taller than the window gets its height.
    QWidget* panel = first->panel();
    const int before = panel->height();
    auto* extra = new QPushButton("Third", panel);
    panel->layout()->addWidget(extra);
    for (int turn = 0; turn < 3; ++turn) // the new button shows, then its layout asks again
        QCoreApplication::processEvents();
    EXPECT_GT(panel->height(), before);
    EXPECT_TRUE(panel->rect().contains(extra->geometry()));
    static_cast<QVBoxLayout*>(panel->layout())->addSpacing(1000);
    for (int turn = 0; turn < 3; ++turn)
        QCoreApplication::processEvents();
    EXPECT_LE(panel->geometry().bottom(), first->height());
}

TEST(FocusRing, ShowsForKeyboardFocusOnlyAndCardsOpenWithSpaceAndReturn) {
    OverlayHost host;
    auto* card = new vt::ui::CardFrame(Qt::darkGray, std::nullopt, &host.window);
    card->setGeometry(10, 60, 200, 60);
    card->setClickable(true);
    card->show();
    QSignalSpy clicked(card, &vt::ui::CardFrame::clicked);
    const QImage plain = card->grab().toImage();
    card->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(vt::ui::isShowingFocusRing(card));
    EXPECT_NE(card->grab().toImage(), plain);
    QTest::keyClick(card, Qt::Key_Space);
    QTest::keyClick(card, Qt::Key_Return);
    EXPECT_EQ(clicked.count(), 2);

    auto* button = new vt::ui::PaintedButton(QSize(30, 30), {}, &host.window);
    button->show();
    QSignalSpy pressed(button, &QAbstractButton::clicked);
    button->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(vt::ui::isShowingFocusRing(button)) << "a click shows no ring";
    button->clearFocus();
    button->setFocus(Qt::BacktabFocusReason);
    EXPECT_TRUE(vt::ui::isShowingFocusRing(button));
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(pressed.count(), 1);
}

TEST(FocusRing, AControlBusyForAWhileKeepsTheKeyboardPlace) {
    OverlayHost host;
    auto* overlay = vt::ui::SheetOverlay::present(&host.window, OverlayHost::makePanel("sheet"));
    auto buttons = overlay->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    QPushButton* busy = buttons[1];
    vt::ui::showFocusRing(busy, 4);
    busy->setFocus(Qt::TabFocusReason);

    // Disabled while it works: the focus moves to no other control, so Space presses nothing.
    vt::ui::setEnabledKeepingFocus(busy, false);
    EXPECT_FALSE(buttons[0]->hasFocus());
    EXPECT_TRUE(OverlayHost::isIn(overlay));
    QSignalSpy pressed(buttons[0], &QAbstractButton::clicked);
    OverlayHost::press(Qt::Key_Space);
    EXPECT_EQ(pressed.count(), 0);
    vt::ui::setEnabledKeepingFocus(busy, true);
    EXPECT_TRUE(busy->hasFocus());
    EXPECT_TRUE(vt::ui::isShowingFocusRing(busy));

    // Focus the user moved meanwhile stays where the user put it.
    vt::ui::setEnabledKeepingFocus(busy, false);
    buttons[0]->setFocus(Qt::TabFocusReason);
    vt::ui::setEnabledKeepingFocus(busy, true);
    EXPECT_TRUE(buttons[0]->hasFocus());
    overlay->dismiss();
}

TEST(SheetOverlay, GivesTheFocusBackWithTheRingItHad) {
    OverlayHost host;
    auto* button = new vt::ui::PaintedButton(QSize(30, 30), {}, &host.window);
    button->setFocusPolicy(Qt::StrongFocus);
    button->show();
    for (const Qt::FocusReason reason : {Qt::MouseFocusReason, Qt::TabFocusReason}) {
        button->clearFocus();
        button->setFocus(reason);
        const bool ring = vt::ui::isShowingFocusRing(button);
        EXPECT_EQ(ring, reason == Qt::TabFocusReason);
        vt::ui::SheetOverlay::present(&host.window, OverlayHost::makePanel("sheet"))->dismiss();
        EXPECT_TRUE(button->hasFocus());
        EXPECT_EQ(vt::ui::isShowingFocusRing(button), ring)
            << "a control clicked gets no ring when a sheet closes; one reached by Tab keeps it";
    }
}
