// The plug-in window as a person uses it: empty states, rows and their missing-file marks,
// the favourites filter, previews, loading onto pads, the rack, the companion sheet, and the
// kit reconciliation with the live unit each time the window is shown. Also saves a gallery.

#include "Platform/UI/FocusRing.h"
#include "Shared/Interface/VellumtideExternalLinks.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Engine/VellumtideAudioUnit.h"
#include "VellumtideAU/Window/CompanionAppSheet.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtidePadRackView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QApplication>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using vt::test::WindowFixture;

const std::string kickID = "11111111-1111-4111-8111-111111111111";
const std::string snareID = "22222222-2222-4222-8222-222222222222";
const std::string padID = "33333333-3333-4333-8333-333333333333";
const std::string chopOneID = "AAAAAAAA-0000-4000-8000-000000000001";
const std::string chopTwoID = "AAAAAAAA-0000-4000-8000-000000000002";

struct RootViewTest : ::testing::Test {
    WindowFixture fixture;
    std::shared_ptr<VellumtideAudioUnitReference> reference =
        std::make_shared<VellumtideAudioUnitReference>();
    int openBridgeCalls = 0;
    std::vector<vt::Uuid> editRequests;

    std::unique_ptr<VellumtideAUView> makeView() {
        auto view = std::make_unique<VellumtideAUView>(
            [this] { ++openBridgeCalls; }, [this](const vt::Uuid& id) { editRequests.push_back(id); },
            reference, fixture.services);
        vt::test::waitForLibrary(view->library());
        view->resize(620, 760);
        return view;
    }

    // Kick: favourite, edited, analysed, two chops (the second one's file missing). Snare: its
    // file missing. Pad: plain.
    void writeLibrary(bool kickIsFavorite = true) {
        fixture.writeLibrary(
            json::array({vt::test::manifestSample(kickID, "Kick", "kick.wav", "2024-03-05T07:08:09Z"),
                         vt::test::manifestSample(snareID, "Snare", "snare.wav", "2024-03-04T07:08:09Z"),
                         vt::test::manifestSample(padID, "Pad", "pad.wav", "2024-03-03T07:08:09Z")}),
            json{{kickID, vt::test::editedAnalysedOverrides(kickIsFavorite, chopOneID, chopTwoID)}});
        WindowFixture::writeSound(fixture.samplePath("kick.wav"));
        WindowFixture::writeSound(fixture.libraryFolder / "Edited" / (kickID + ".wav"));
        WindowFixture::writeSound(fixture.samplePath("pad.wav"));
        WindowFixture::writeSound(fixture.chopPath(kickID, chopOneID));
    }

    static VellumtideAUSampleRow* row(const VellumtideAUView& view, const std::string& title) {
        for (auto* candidate : view.sampleRows())
            if (candidate->sample().title == title)
                return candidate;
        return nullptr;
    }
    static std::optional<VellumtidePluginSample> sample(const VellumtideAUView& view,
                                                        const std::string& title) {
        for (const auto& candidate : view.library().samples())
            if (candidate.title == title)
                return candidate;
        return std::nullopt;
    }
    std::optional<VellumtidePadKitState> storedKit() const {
        auto value = fixture.settings->value(VellumtidePadKitController::settingsKey);
        if (!value)
            return std::nullopt;
        return VellumtidePadKitState::fromJsonText(value->toByteArray().toStdString());
    }
    VellumtidePadAssignment assignment(std::int64_t slot, const std::string& title) {
        auto path = fixture.samplePath(title + ".wav");
        WindowFixture::writeSound(path);
        return VellumtidePadAssignment(vt::Uuid::random(), slot, title,
                                       VellumtidePadAssignment::SourceKind::file, std::nullopt, std::nullopt,
                                       path.string(), 0.1, {0.3f, 0.8f});
    }
    void save(QWidget& widget, const std::string& name) {
        auto folder = std::filesystem::path(VELLUMTIDE_GALLERY_DIR);
        std::filesystem::create_directories(folder);
        QApplication::processEvents(); // rows added to a shown list appear on the next loop turn
        widget.grab().save(QString::fromStdString((folder / (name + ".png")).string()));
    }
};

TEST_F(RootViewTest, WithoutALibraryItShowsTheRackAndTheWaitingState) {
    auto view = makeView();
    view->show();
    EXPECT_EQ(view->currentContent(), view->noLibraryState());
    QStringList texts;
    for (QLabel* label : view->noLibraryState()->findChildren<QLabel*>())
        texts << label->text();
    for (vt::ui::ElidedLabel* label : view->noLibraryState()->findChildren<vt::ui::ElidedLabel*>())
        texts << label->text();
    auto shows = [&texts](const QString& text) { return texts.contains(text); };
    EXPECT_TRUE(shows("No Bridge samples"));
    EXPECT_TRUE(shows("Waiting for Bridge library"));
    EXPECT_TRUE(shows("Open Vellumtide Bridge once"));
    auto* openButton = view->noLibraryState()->findChild<QPushButton*>();
    ASSERT_NE(openButton, nullptr);
    EXPECT_EQ(openButton->text(), "Open Bridge");
    openButton->click();
    view->openBridgeButton()->click();
    EXPECT_EQ(openBridgeCalls, 2);
    EXPECT_EQ(view->openBridgeButton()->toolTip(), "Open Vellumtide Bridge");

    auto* rack = view->padRack();
    for (std::int64_t slot = 0; slot < 16; ++slot) {
        EXPECT_FALSE(rack->padButton(slot)->assignment());
        EXPECT_EQ(rack->padButton(slot)->toolTip(), "Empty pad");
    }
    EXPECT_EQ(rack->selectedPadNumber(), "PAD 01");
    EXPECT_EQ(rack->selectedPadTitle(), "Empty");
    EXPECT_FALSE(rack->volumeSlider()->isVisibleTo(rack));
    EXPECT_FALSE(view->favoritesButton()->isEnabled());
    save(*view, "window-empty-library");
}

TEST_F(RootViewTest, RowsShowTheirBadgesAndMarkMissingFiles) {
    writeLibrary();
    auto view = makeView();
    view->show();
    ASSERT_EQ(view->currentContent(), view->sampleList());
    ASSERT_EQ(view->sampleRows().size(), 3u);

    auto* kick = row(*view, "Kick");
    EXPECT_TRUE(kick->playButton()->isEnabled());
    EXPECT_TRUE(kick->loadButton()->isEnabled());
    EXPECT_EQ(kick->titleBadges(), QStringList{"EDITED"});
    EXPECT_EQ(kick->infoBadges(),
              (QStringList{"0:01-0:10  FI 250 ms  Norm", "2 CHOPS", "120 BPM", "Root C", "Key C minor"}));
    auto* strip = kick->findChild<ShorteningStrip*>();
    ASSERT_NE(strip, nullptr);
    auto badges = strip->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(badges.size(), 6); // the subtitle and five badges, side by side
    // Every badge stays, in order and inside the line, at most as wide as its whole text.
    for (qsizetype i = 0; i < badges.size(); ++i) {
        EXPECT_TRUE(badges[i]->isVisibleTo(strip)) << i;
        EXPECT_LE(badges[i]->geometry().right(), strip->width() - 1) << i;
        EXPECT_LE(badges[i]->width(), badges[i]->sizeHint().width()) << i;
        if (i > 0) {
            EXPECT_GE(badges[i]->x(), badges[i - 1]->geometry().right() + 1) << i;
            EXPECT_GE(badges[i]->width(), VellumtideWindowKit::leastBadgeWidth()) << i;
        }
    }
    ASSERT_NE(kick->chopToggle(), nullptr);
    EXPECT_EQ(kick->chopToggle()->toolTip(), "Show chops");
    EXPECT_EQ(kick->playButton()->toolTip(), "Preview");
    auto kickDrag = kick->dragProvider();
    ASSERT_TRUE(kickDrag);
    EXPECT_EQ(kickDrag->file, fixture.libraryFolder / "Edited" / (kickID + ".wav"));
    EXPECT_EQ(kickDrag->suggestedName.toStdString(), kickID + ".wav") << "the file's own name, as a WAV";

    auto* snare = row(*view, "Snare");
    EXPECT_FALSE(snare->playButton()->isEnabled());
    EXPECT_FALSE(snare->loadButton()->isEnabled());
    EXPECT_EQ(snare->titleBadges(), QStringList{"MISSING"});
    EXPECT_EQ(snare->chopToggle(), nullptr);
    EXPECT_FALSE(snare->dragProvider()) << "a missing file offers no drag";

    // The edit badges ask the desktop program to edit the sample.
    auto edits = kick->findChildren<vt::ui::PaintedButton*>();
    int editButtons = 0;
    for (auto* button : edits)
        if (button->toolTip() == "Continue edit in Bridge") {
            button->click();
            ++editButtons;
        }
    EXPECT_EQ(editButtons, 2);
    EXPECT_EQ(editRequests, std::vector<vt::Uuid>(2, *vt::Uuid::parse(kickID)));

    // Open the chop list: the missing chop cannot be loaded or dragged.
    kick->chopToggle()->click();
    auto chops = view->chopRows();
    ASSERT_EQ(chops.size(), 2u);
    EXPECT_TRUE(chops[0]->loadButton()->isEnabled());
    EXPECT_EQ(chops[0]->toolTip(), "Drag this chop into your DAW");
    EXPECT_FALSE(chops[1]->loadButton()->isEnabled());
    EXPECT_EQ(chops[1]->toolTip(), "Chop file missing");
    EXPECT_FALSE(chops[1]->dragProvider());
    EXPECT_EQ(row(*view, "Kick")->chopToggle()->toolTip(), "Hide chops");
    save(*view, "window-library-with-chops");

    // Loading: an available chop goes onto the selected pad; missing files load nothing.
    chops[0]->loadButton()->click();
    auto pad = view->padKit().state().assignment(0);
    ASSERT_TRUE(pad);
    EXPECT_EQ(pad->title, "Kick 01");
    chops[1]->loadButton()->click();
    row(*view, "Snare")->loadButton()->click();
    EXPECT_EQ(view->padKit().state().assignments.size(), 1u);
    EXPECT_EQ(view->padKit().selectedSlot(), 1);

    // An expanded sample whose chops all go shows no list but stays expanded.
    auto toggled = view->expandedSampleIDs();
    fixture.writeLibrary(
        json::array({vt::test::manifestSample(kickID, "Kick", "kick.wav", "2024-03-05T07:08:09Z")}));
    view->library().refresh();
    EXPECT_TRUE(view->chopRows().empty());
    EXPECT_EQ(view->expandedSampleIDs(), toggled);
    EXPECT_EQ(row(*view, "Kick")->chopToggle(), nullptr);
}

TEST_F(RootViewTest, TheFavouritesFilterHidesOthersAndStopsTheirPreview) {
    writeLibrary(false);
    auto view = makeView();
    view->show();
    EXPECT_FALSE(view->favoritesButton()->isEnabled()) << "no favourites: the filter cannot be switched on";
    writeLibrary(true);
    view->library().refresh();
    ASSERT_TRUE(view->favoritesButton()->isEnabled());
    EXPECT_EQ(view->favoritesButton()->toolTip(), "Show favorites only");

    view->togglePreview(*sample(*view, "Pad"));
    EXPECT_EQ(view->playingSampleID(), sample(*view, "Pad")->id);
    view->favoritesButton()->click();
    EXPECT_TRUE(view->showFavoritesOnly());
    EXPECT_FALSE(view->playingSampleID()) << "the hidden sample's preview stops";
    EXPECT_EQ(fixture.players->last().playing, false);
    EXPECT_EQ(view->sampleRows().size(), 1u);
    EXPECT_EQ(view->favoritesButton()->toolTip(), "Show all samples");

    view->togglePreview(*sample(*view, "Kick"));
    view->favoritesButton()->click();
    view->favoritesButton()->click();
    EXPECT_EQ(view->playingSampleID(), sample(*view, "Kick")->id) << "a favourite keeps playing";

    // The favourites go while the filter is on: the empty state's button switches it off.
    writeLibrary(false);
    view->library().refresh();
    EXPECT_EQ(view->currentContent(), view->favoritesEmptyState());
    EXPECT_TRUE(view->favoritesButton()->isEnabled()) << "an active filter can always be switched off";
    EXPECT_EQ(view->playingSampleID(), sample(*view, "Kick")->id) << "a refresh does not stop a preview";
    save(*view, "window-no-favorites");
    view->favoritesEmptyState()->findChild<QPushButton*>()->click();
    EXPECT_FALSE(view->showFavoritesOnly());
    EXPECT_EQ(view->currentContent(), view->sampleList());
}

TEST_F(RootViewTest, PreviewsToggleAndPadsPreviewAtTheirTuning) {
    writeLibrary();
    auto view = makeView();
    auto kick = *sample(*view, "Kick");
    auto pad = *sample(*view, "Pad");
    view->togglePreview(kick);
    EXPECT_EQ(fixture.players->last().file, kick.audioURL);
    EXPECT_EQ(fixture.players->last().rate, 1.0);
    EXPECT_EQ(row(*view, "Kick")->playButton()->toolTip(), "Stop preview");
    view->togglePreview(kick);
    EXPECT_FALSE(view->playingSampleID());
    view->togglePreview(kick);
    view->togglePreview(pad);
    EXPECT_EQ(view->playingSampleID(), pad.id);
    EXPECT_EQ(fixture.players->sound.openedCount(), 3u);
    const auto opened = fixture.players->sound.openedCount();
    view->togglePreview(*sample(*view, "Snare"));
    EXPECT_EQ(fixture.players->sound.openedCount(), opened) << "a missing file opens no player";
    EXPECT_FALSE(view->playingSampleID());

    // A player that refuses to start leaves nothing playing.
    fixture.players->sound.setServerReachable(false);
    view->togglePreview(pad);
    EXPECT_FALSE(view->playingSampleID());
    fixture.players->sound.setServerReachable(true);
    view->togglePreview(pad);

    // Pad previews: volume held at 1, rate from the pitch held to 0.5...2.
    auto& kit = view->padKit();
    kit.setSelectedSlot(0);
    kit.setAssignment(assignment(0, "Loud"), false);
    kit.setVolume(1.25, 0);
    kit.setPitch(24, 0);
    auto* rack = view->padRack();
    rack->padButton(0)->click();
    EXPECT_EQ(view->playingPadSlot(), 0);
    EXPECT_FLOAT_EQ(fixture.players->last().volume, 1.0f);
    EXPECT_FLOAT_EQ(float(fixture.players->last().rate), 2.0f);
    EXPECT_TRUE(rack->padButton(0)->isPlaying());
    rack->padButton(0)->click();
    EXPECT_FALSE(view->playingPadSlot()) << "a second press stops the pad";
    kit.setPitch(-7, 0);
    view->togglePadPreview(0);
    EXPECT_NEAR(fixture.players->last().rate, std::pow(2.0, -7.0 / 12.0), 1e-6);

    // An empty pad is only selected; loading a sample stops the pad preview, not the sample's.
    const auto players = fixture.players->sound.openedCount();
    rack->padButton(9)->click();
    EXPECT_EQ(kit.selectedSlot(), 9);
    EXPECT_EQ(fixture.players->sound.openedCount(), players);
    EXPECT_EQ(view->playingPadSlot(), 0);
    EXPECT_TRUE(rack->padButton(9)->isSelected());
    view->togglePadPreview(9);
    EXPECT_FALSE(view->playingPadSlot()) << "a slot without a sound stops any pad preview";
    view->togglePadPreview(0);
    row(*view, "Pad")->loadButton()->click();
    EXPECT_FALSE(view->playingPadSlot());
    EXPECT_EQ(view->playingSampleID(), pad.id);
    EXPECT_EQ(kit.state().assignment(9)->title, "Pad");

    // Hiding the window stops both previews.
    view->show();
    view->togglePadPreview(0);
    view->hide();
    EXPECT_FALSE(view->playingPadSlot());
    EXPECT_FALSE(view->playingSampleID());
}

TEST_F(RootViewTest, APreviewThatEndsByItselfNoLongerShowsAsPlaying) {
    writeLibrary();
    auto view = makeView();
    auto& kit = view->padKit();
    kit.setAssignment(assignment(0, "Loud"), false);
    // The fixtures' sounds last 0.1 s; the fake player ends them on the virtual clock.
    const auto playPastTheEnd = [this] {
        fixture.scheduler->advanceBy(150ms);
        QCoreApplication::processEvents();
    };

    view->padRack()->padButton(0)->click();
    ASSERT_EQ(view->playingPadSlot(), 0);
    playPastTheEnd();
    EXPECT_FALSE(view->playingPadSlot());
    EXPECT_FALSE(view->padRack()->padButton(0)->isPlaying());
    view->padRack()->padButton(0)->click();
    EXPECT_EQ(view->playingPadSlot(), 0) << "the next press plays the pad again";

    view->togglePreview(*sample(*view, "Kick"));
    ASSERT_EQ(view->playingSampleID(), sample(*view, "Kick")->id);
    playPastTheEnd();
    EXPECT_FALSE(view->playingSampleID());
    EXPECT_EQ(row(*view, "Kick")->playButton()->toolTip(), "Preview");
}

TEST_F(RootViewTest, TheRackTunesTheSelectedPadWithinItsSliderRanges) {
    auto view = makeView();
    auto* rack = view->padRack();
    auto& kit = view->padKit();
    kit.setSelectedSlot(15);
    EXPECT_EQ(rack->selectedPadNumber(), "PAD 16");
    EXPECT_EQ(QString(VellumtidePadRackView::noteLabels[15]), "D#2");
    kit.setAssignment(assignment(15, "Tom"), false);
    EXPECT_TRUE(rack->volumeSlider()->isVisibleTo(rack));
    EXPECT_EQ(rack->selectedPadTitle(), "Tom");
    EXPECT_EQ(rack->pitchText(), "+0.0");
    EXPECT_EQ(rack->padButton(15)->toolTip(), "Preview Tom");
    rack->volumeSlider()->setValue(rack->volumeSlider()->maximum());
    EXPECT_FLOAT_EQ(kit.state().assignment(15)->volume, 1.25f);
    rack->pitchSlider()->setValue(-3500);
    EXPECT_DOUBLE_EQ(kit.state().assignment(15)->pitchSemitones, -3.5);
    EXPECT_EQ(rack->pitchText(), "-3.5");
    EXPECT_EQ(VellumtidePadRackView::formattedPitch(12), "+12.0");
    kit.setSelectedSlot(14);
    EXPECT_FALSE(rack->volumeSlider()->isVisibleTo(rack)) << "an empty pad shows no sliders";
    EXPECT_EQ(storedKit(), kit.state());
}

TEST_F(RootViewTest, ShowingTheWindowReconcilesItsKitWithTheUnit) {
    auto unit = VellumtideAudioUnit::create({});
    reference->set(unit);
    const VellumtidePadKitState windowKit{{assignment(1, "Window")}};
    const VellumtidePadKitState unitKit{{assignment(2, "Document")}};

    // The unit's kit changed after the window was built: the window adopts and stores it.
    fixture.settings->setValue(VellumtidePadKitController::settingsKey,
                               QByteArray::fromStdString(windowKit.toJsonText()));
    auto view = makeView();
    EXPECT_EQ(unit->padKitState(), windowKit) << "building the window hands its kit to the unit";
    unit->applyPadKit(unitKit);
    view->show();
    EXPECT_EQ(view->padKit().state(), unitKit);
    EXPECT_EQ(storedKit(), unitKit);
    EXPECT_EQ(view->padRack()->padButton(2)->assignment()->title, "Document");

    // An empty unit (made after the window) is filled from the window.
    view->hide();
    auto fresh = VellumtideAudioUnit::create({});
    reference->set(fresh);
    view->show();
    EXPECT_EQ(fresh->padKitState(), unitKit);
    EXPECT_EQ(view->padKit().state(), unitKit);

    // Both empty: nothing is stored.
    WindowFixture other;
    auto empty = VellumtideAudioUnit::create({});
    auto otherReference = std::make_shared<VellumtideAudioUnitReference>();
    otherReference->set(empty);
    VellumtideAUView quiet({}, {}, otherReference, other.services);
    quiet.show();
    EXPECT_FALSE(other.settings->value(VellumtidePadKitController::settingsKey));

    // No unit at all: the window keeps its own kit.
    view->hide();
    fresh.reset();
    unit.reset();
    view->show();
    EXPECT_EQ(view->padKit().state(), unitKit);
}

TEST_F(RootViewTest, TheCompanionSheetOpensOnceOnFirstShowAndFromTheGear) {
    auto view = makeView();
    view->show();
    EXPECT_FALSE(view->isShowingCompanionApp());
    fixture.scheduler->advanceBy(549ms);
    EXPECT_FALSE(view->isShowingCompanionApp());
    fixture.scheduler->advanceBy(1ms);
    ASSERT_TRUE(view->isShowingCompanionApp());
    EXPECT_TRUE(fixture.settings->value(VellumtideAUView::companionShownKey)->toBool());

    auto* sheet = view->findChild<CompanionAppSheet*>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->width(), 470);
    EXPECT_EQ(sheet->closeButton()->toolTip(), "Close");
    sheet->phoneLinkButton()->click();
    sheet->manualButton()->click();
    ASSERT_EQ(fixture.urlOpener->urls.size(), 2u);
    EXPECT_EQ(fixture.urlOpener->urls[0], QUrl(VellumtideExternalLinks::iphoneApp));
    EXPECT_EQ(fixture.urlOpener->urls[1], QUrl(VellumtideExternalLinks::manual));
    EXPECT_TRUE(view->isShowingCompanionApp()) << "opening a link keeps the sheet";
    QApplication::processEvents();
    save(*view, "window-companion-sheet");

    // From the keyboard, Tab walks the sheet's three controls, and each shows where it is.
    QApplication::setActiveWindow(view.get());
    sheet->closeButton()->setFocus(Qt::TabFocusReason);
    std::vector<QWidget*> visited;
    for (int press = 0; press < 3; ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
        EXPECT_TRUE(visited.back() && vt::ui::isShowingFocusRing(visited.back())) << "press " << press;
    }
    EXPECT_EQ(visited,
              (std::vector<QWidget*>{sheet->phoneLinkButton(), sheet->manualButton(), sheet->closeButton()}));
    sheet->closeButton()->click();
    EXPECT_FALSE(view->isShowingCompanionApp());

    // Shown again, or another window later: never again by itself; the gear opens it any time.
    view->hide();
    view->show();
    auto later = makeView();
    later->show();
    fixture.scheduler->advanceBy(2s);
    EXPECT_FALSE(view->isShowingCompanionApp());
    EXPECT_FALSE(later->isShowingCompanionApp());
    EXPECT_EQ(later->helpButton()->toolTip(), "Help, manual, and iPhone app");
    later->helpButton()->click();
    EXPECT_TRUE(later->isShowingCompanionApp());
}

TEST_F(RootViewTest, GalleryOfAWindowWithLoadedPads) {
    writeLibrary();
    auto view = makeView();
    view->show();
    auto& kit = view->padKit();
    for (const char* title : {"Kick", "Pad"})
        view->padKit().load(*sample(*view, title));
    row(*view, "Kick")->chopToggle()->click();
    for (auto* chop : view->chopRows())
        if (chop->loadButton()->isEnabled())
            chop->loadButton()->click();
    kit.setSelectedSlot(0);
    kit.setPitch(-3.5, 0);
    view->togglePadPreview(1);
    view->togglePreview(*sample(*view, "Pad"));
    QApplication::processEvents();
    EXPECT_EQ(kit.state().assignments.size(), 3u);
    save(*view, "window-pads-loaded");
    view->resize(420, 360);
    QApplication::processEvents();
    save(*view, "window-minimum-size");
}

} // namespace
