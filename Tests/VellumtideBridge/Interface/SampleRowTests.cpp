// The sample card, its chop panel and chop tiles: what they show, what they call on the
// controller, the debounced automatic chop, rename, delete confirmation and drag-out.

#include "Platform/UI/Glyphs.h"
#include "Tests/VellumtideBridge/Interface/SampleViewsFixture.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeBadges.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopPanel.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopRow.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDrag.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformView.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QLineEdit>
#include <QPointer>
#include <QSlider>

namespace vt::test {
namespace {

using namespace std::chrono_literals;
using bridgeui::DoubleSlider;
using bridgeui::StyledButton;
using vt::ui::ElidedLabel;

class SampleRowTest : public SampleViewsTest {
protected:
    // A card that follows the display list, as the samples pane keeps it.
    BridgeSampleRow* row(const SampleItem& sample) {
        auto* card = place(new BridgeSampleRow(*model, listed(sample.id)));
        QObject::connect(model.get(), &BridgeViewModel::changed, card,
                         [this, card](BridgeViewModel::Field field) {
                             if (field != BridgeViewModel::Field::samples)
                                 return;
                             for (const SampleItem& item : model->samples())
                                 if (item.id == card->sample().id)
                                     card->setSample(item);
                         });
        return card;
    }

    QStringList badgeLabels(QWidget* card) {
        QStringList labels;
        for (auto* badge : part(card, "badges")->findChildren<AnalysisBadge*>())
            labels << badge->label();
        return labels;
    }

    QString info(QWidget* card) { return part<ElidedLabel>(card, "infoText")->text(); }

    DoubleSlider* openChopPanel(QWidget* card) {
        click(part(card, "chopToggle"));
        EXPECT_TRUE(part(card, "chopPanel")->isVisible());
        return part<DoubleSlider>(card, "chopSensitivitySlider");
    }

    // Moves the slider as a user would (a value change that the slider reports).
    void slide(DoubleSlider* slider, double value) {
        slider->slider()->setValue(static_cast<int>(std::lround(value * DoubleSlider::steps)));
        settle();
    }
};

TEST_F(SampleRowTest, InfoLineAndBadgesFollowEditChopsAndAnalysis) {
    auto plain = sampleWithPeaks("plain", 100);
    auto rich = sampleWithPeaks("rich", 200);
    audio.result = makeAnalysis(120.4, 0.9, "C", 0.9, "A minor", 0.9);
    audio.chopsToFind = {makeChop(0, 0.25, 1.0)};
    seedLibrary({plain, rich});
    auto& m = start();
    settle();
    ASSERT_TRUE(listed(rich.id).analysis.tempoLabel());
    EXPECT_TRUE(await(m.applyEdit(makeEdit(0.25, 1.75), listed(rich.id))));
    awaitVoid(m.autoChop(listed(rich.id), 0.5));

    // A sample with nothing to mark: only the subtitle.
    SampleItem bare = listed(plain.id);
    bare.analysis = {};
    auto* plainCard = place(new BridgeSampleRow(m, bare));
    EXPECT_EQ(info(plainCard), QString::fromStdString(bare.subtitle()));
    EXPECT_TRUE(badgeLabels(plainCard).isEmpty());

    // (The scripted analyser hands its strings out only once, so the card gets its own copy.)
    SampleItem analysed = listed(rich.id);
    analysed.analysis = makeAnalysis(120.4, 0.9, "C", 0.9, "A minor", 0.9);
    auto* richCard = place(new BridgeSampleRow(m, analysed));
    EXPECT_EQ(info(richCard), "1.500s selected  48 kHz");
    EXPECT_EQ(badgeLabels(richCard), QStringList({"EDITED", "1 CHOPS", "120 BPM", "Root C", "Key A minor"}));
    EXPECT_EQ(richCard->findChild<EditedBadge*>()->toolTip(), "This sample has a rendered edit applied");

    m.modifyAnalyzingSampleIDs([&](auto& ids) { ids.insert(rich.id); });
    EXPECT_EQ(badgeLabels(richCard).value(2), "ANALYZING");
    m.modifyAnalyzingSampleIDs([&](auto& ids) { ids.clear(); });
    EXPECT_FALSE(badgeLabels(richCard).contains("ANALYZING"));

    // A rate with no whole kilohertz figure.
    SampleItem odd = listed(rich.id);
    odd.sampleRate = std::numeric_limits<double>::infinity();
    richCard->setSample(odd);
    EXPECT_EQ(info(richCard), "1.500s selected  -- kHz");
}

TEST_F(SampleRowTest, PlayingCardShowsTheClockAndProgressWhileTheOtherStaysIdle) {
    auto first = sampleWithPeaks("first", 100), second = sampleWithPeaks("second", 200);
    seedLibrary({first, second});
    makePlayable(first);
    start();
    settle();
    auto* playing = row(first);
    auto* idle = row(second);
    click(part(playing, "playButton"));
    EXPECT_EQ(model->playingSampleID(), first.id);
    EXPECT_EQ(part(playing, "playButton")->toolTip(), "Stop preview");
    EXPECT_EQ(info(playing), "0.0s / 1.0s");

    scheduler->advanceBy(520ms);
    EXPECT_DOUBLE_EQ(part<WaveformView>(playing, "waveform")->input().progress, 0.52);
    EXPECT_EQ(info(playing), "0.5s / 1.0s");
    EXPECT_DOUBLE_EQ(part<WaveformView>(idle, "waveform")->input().progress, 0);
    EXPECT_EQ(info(idle), QString::fromStdString(listed(second.id).subtitle()));
    EXPECT_EQ(part(idle, "playButton")->toolTip(), "Preview");

    click(part(playing, "playButton"));
    EXPECT_FALSE(model->playingSampleID());
    EXPECT_EQ(part<WaveformView>(playing, "waveform")->input().progress, 0);
}

TEST_F(SampleRowTest, RenameCommitsTrimmedTextOnReturnOrFocusLossAndSkipsBlankOrSameTitles) {
    auto take = sampleWithPeaks("take", 100);
    seedLibrary({take});
    start();
    settle();
    auto* card = row(take);
    auto* other = place(new QLineEdit);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    auto* field = part<QLineEdit>(card, "titleField");
    const auto retype = [&](const QString& text) {
        click(part(card, "titleButton"));
        EXPECT_TRUE(field->isVisible());
        EXPECT_TRUE(field->hasFocus());
        EXPECT_EQ(field->text(), QString::fromStdString(card->sample().title));
        field->selectAll();
        QTest::keyClicks(field, text);
    };

    retype("  Night take  ");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_EQ(listed(take.id).title, "Night take");
    EXPECT_EQ(model->statusMessage(), "Renamed Night take");
    EXPECT_FALSE(field->isVisible());
    EXPECT_EQ(part<QAbstractButton>(card, "titleButton")->text(), "Night take");

    model->setStatusMessage("idle");
    retype("   ");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(model->statusMessage(), "idle");
    EXPECT_EQ(part<QAbstractButton>(card, "titleButton")->text(), "Night take");
    retype("Night take");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(model->statusMessage(), "idle");

    // Leaving the field in any other way commits too.
    retype("Dawn ");
    other->setFocus(Qt::MouseFocusReason);
    settle();
    EXPECT_EQ(listed(take.id).title, "Dawn");
    EXPECT_FALSE(field->isVisible());
    EXPECT_EQ(model->statusMessage(), "Renamed Dawn");
}

TEST_F(SampleRowTest, DeleteAsksFirstAndOnlyYesDeletes) {
    auto take = sampleWithPeaks("take", 100);
    seedLibrary({take});
    start();
    settle();
    auto* card = row(take);

    click(part(card, "deleteButton"));
    auto* alert = host.findChild<BridgeAlertPanel*>("deleteAlert");
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->title(), "Delete sample?");
    EXPECT_EQ(alert->message(), "Remove \"take\" from Bridge and the AU library on this computer?");
    EXPECT_EQ(part<QAbstractButton>(alert, "deleteConfirmButton")->text(), "Yes, Delete");
    click(part(alert, "deleteCancelButton"));
    EXPECT_FALSE(host.findChild<QWidget*>("deleteAlert"));
    EXPECT_EQ(model->samples().size(), 1u);

    click(part(card, "deleteButton"));
    click(part(host.findChild<QWidget*>("deleteAlert"), "deleteConfirmButton"));
    EXPECT_FALSE(host.findChild<QWidget*>("deleteAlert"));
    EXPECT_TRUE(model->samples().empty());
}

TEST_F(SampleRowTest, SliderChopsOnceAfterItSettlesOrAtOnceOnRelease) {
    auto take = sampleWithPeaks("take", 100);
    audio.chopsToFind = {makeChop(0, 0.2, 0.9), makeChop(1, 0.9, 1.8)};
    seedLibrary({take});
    start();
    settle();
    auto* card = row(take);
    auto* slider = openChopPanel(card);
    auto* button = part<StyledButton>(card, "chopButton");
    EXPECT_EQ(button->text(), "Find Chops");
    EXPECT_EQ(part<ElidedLabel>(card, "chopSensitivityText")->text(), "65");

    slide(slider, 0.4);
    EXPECT_EQ(part<ElidedLabel>(card, "chopSensitivityText")->text(), "40");
    scheduler->advanceBy(310ms);
    slide(slider, 0.5); // restarts the wait
    scheduler->advanceBy(310ms);
    EXPECT_EQ(audio.detections, 0);
    scheduler->advanceBy(20ms);
    EXPECT_EQ(audio.detections, 1);
    settleWrites();
    EXPECT_DOUBLE_EQ(listed(take.id).chopSensitivity, 0.5);
    EXPECT_EQ(button->text(), "Update Chops");
    EXPECT_EQ(part<BridgeChopPanel>(card, "chopPanel")->chopRows().size(), 2u);

    // A drag without a pause chops once, at the release, with the value at the release.
    emit slider->slider()->sliderPressed();
    slide(slider, 0.6);
    slide(slider, 0.8);
    emit slider->slider()->sliderReleased();
    settle();
    EXPECT_EQ(audio.detections, 2);
    EXPECT_DOUBLE_EQ(listed(take.id).chopSensitivity, 0.8);
    scheduler->advanceBy(1s);
    EXPECT_EQ(audio.detections, 2);

    // Chopping from the keyboard: the focus waits on the panel, not on the next card's control.
    button->setFocus(Qt::TabFocusReason);
    model->modifyChoppingSampleIDs([&](auto& ids) { ids.insert(take.id); });
    EXPECT_EQ(button->text(), "Chopping");
    EXPECT_EQ(button->symbol(), "hourglass");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(part(card, "chopPanel")->hasFocus());

    // A chop that starts in the middle of a drag leaves the slider usable, and the value at the
    // release is chopped once that chop has ended.
    slider->slider()->setSliderDown(true);
    slide(slider, 0.3);
    EXPECT_TRUE(slider->isEnabled());
    slider->slider()->setSliderDown(false);
    settle();
    EXPECT_EQ(audio.detections, 2) << "no second chop while one runs";
    model->modifyChoppingSampleIDs([&](auto& ids) { ids.erase(take.id); });
    settle();
    EXPECT_TRUE(button->hasFocus());
    EXPECT_EQ(audio.detections, 3);
    EXPECT_DOUBLE_EQ(listed(take.id).chopSensitivity, 0.3);
}

TEST_F(SampleRowTest, PendingChopSurvivesClosingThePanelButNotTheCardOrAnotherSample) {
    auto take = sampleWithPeaks("take", 100), other = sampleWithPeaks("other", 200);
    audio.chopsToFind = {makeChop(0, 0.2, 0.9)};
    seedLibrary({take, other});
    start();
    settle();
    auto* card = row(take);

    slide(openChopPanel(card), 0.3);
    click(part(card, "chopToggle"));
    scheduler->advanceBy(400ms);
    EXPECT_EQ(audio.detections, 1);

    // Handed another sample: the panel closes, rename ends and the pending chop is dropped.
    slide(openChopPanel(card), 0.2);
    click(part(card, "titleButton"));
    card->setSample(listed(other.id));
    EXPECT_FALSE(part(card, "titleField")->isVisible());
    EXPECT_EQ(part<QAbstractButton>(card, "titleButton")->text(), "other");
    scheduler->advanceBy(400ms);
    EXPECT_EQ(audio.detections, 1);
    EXPECT_FALSE(part(card, "chopPanel")->isVisible());

    slide(openChopPanel(card), 0.9);
    delete card;
    scheduler->advanceBy(400ms);
    EXPECT_EQ(audio.detections, 1);

    EXPECT_EQ(BridgeChopPanel::sensitivityText(0.125), "13");
    EXPECT_EQ(BridgeChopPanel::sensitivityText(0.375), "38");
    EXPECT_EQ(BridgeChopPanel::sensitivityText(0.65), "65");
    EXPECT_EQ(BridgeChopPanel::sensitivityText(1), "100");
    EXPECT_EQ(BridgeChopPanel::sensitivityText(std::nan("")), "0");
}

TEST_F(SampleRowTest, DragOffersTheCurrentFileUnderThePhonesName) {
    auto take = sampleWithPeaks("take", 100);
    auto missing = makeSample("missing", 200);
    seedLibrary({take});
    start();
    settle();
    EXPECT_FALSE(sampleDragData(*model, missing));

    auto data = sampleDragData(*model, listed(take.id));
    ASSERT_TRUE(data);
    const auto raw = expectStagedCopy(*data, "take.wav", libraryRoot() / "Samples" / "take.wav");
    data = sampleDragData(*model, listed(take.id));
    ASSERT_TRUE(data);
    EXPECT_EQ(expectStagedCopy(*data, "take.wav", libraryRoot() / "Samples" / "take.wav"), raw)
        << "the same version is staged once";

    EXPECT_TRUE(await(model->applyEdit(makeEdit(0, std::nullopt, 0, 0, true), listed(take.id))));
    data = sampleDragData(*model, listed(take.id));
    ASSERT_TRUE(data);
    const auto edited =
        expectStagedCopy(*data, "take.wav", libraryRoot() / "Edited" / (take.id.string() + ".wav"));

    // A project may use a dropped file where it lies: both stay over a restart a day later, also
    // one with the library's list and the plug-in's copy of it out of reach (a drive not mounted
    // yet), and go with the sample.
    const auto list = libraryRoot() / std::string(BridgeSampleCache::manifestFileName);
    const auto copy = BridgeSampleCache(paths, libraryRoot()).auMirrorRootURL() /
                      std::string(BridgeSampleCache::manifestFileName);
    std::filesystem::rename(list, folder / "list-elsewhere");
    std::filesystem::rename(copy, folder / "copy-elsewhere");
    for (const bool listInReach : {false, true}) {
        model.reset();
        scheduler->advanceBy(std::chrono::hours(25));
        start();
        settle();
        EXPECT_EQ(model->samples().size(), listInReach ? 1u : 0u);
        EXPECT_TRUE(std::filesystem::exists(raw));
        EXPECT_TRUE(std::filesystem::exists(edited));
        if (!listInReach) {
            std::filesystem::rename(folder / "list-elsewhere", list);
            std::filesystem::rename(folder / "copy-elsewhere", copy);
        }
    }
    model->deleteSample(listed(take.id));
    settleWrites();
    EXPECT_FALSE(std::filesystem::exists(dragStagingFolder(paths) / take.id.string()));
}

TEST_F(SampleRowTest, ChopTileShowsItsRangePreviewsOnClickAndDragsItsFile) {
    auto take = sampleWithPeaks("Kick loop", 100);
    audio.chopsToFind = {makeChop(0, 0.25, 1.5), makeChop(2, 1.5, 1.9)};
    seedLibrary({take});
    start();
    settle();
    awaitVoid(model->autoChop(listed(take.id), 0.5));
    const SampleItem sample = listed(take.id);
    auto* first = place(new BridgeChopRow(*model, sample, sample.chops[0], vt::ui::palette::cyan,
                                          vt::ui::palette::amber, 64));
    auto* third = place(new BridgeChopRow(*model, sample, sample.chops[1], vt::ui::palette::cyan,
                                          vt::ui::palette::amber, 64));
    EXPECT_EQ(first->timeRangeText(), "0.250s-1.500s");
    EXPECT_EQ(third->suggestedFileName(), "Kick loop-Chop 03.wav");
    auto data = third->dragData();
    ASSERT_TRUE(data);
    const auto staged =
        expectStagedCopy(*data, "Kick loop-Chop 03.wav", model->chopURL(sample, sample.chops[1]));

    // A click away from any text still previews: the whole tile is the hit area.
    EXPECT_EQ(first->clockText(), "0.0s / 0.0s");
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() - 12, first->height() - 6));
    settle();
    EXPECT_TRUE(first->isPlaying());
    EXPECT_EQ(first->clockText(), "0.0s / 1.0s");
    scheduler->advanceBy(240ms);
    EXPECT_DOUBLE_EQ(first->waveformInput().progress, 0.24);
    EXPECT_FALSE(third->isPlaying());
    EXPECT_EQ(third->waveformInput().progress, 0);

    // The tile's miniature shows the chop's stretch of the sample with no fades.
    EXPECT_EQ(first->waveformInput().edit, (makeEdit(0.25, 1.5)));
    QTest::mouseClick(third, Qt::LeftButton);
    settle();
    EXPECT_TRUE(third->isPlaying());
    EXPECT_FALSE(first->isPlaying());
    QTest::mouseClick(third, Qt::LeftButton);
    settle();
    EXPECT_FALSE(model->playingChopID());

    // From the keyboard: Tab reaches the tile, Space and Return preview and stop as a click does.
    EXPECT_TRUE(third->focusPolicy() & Qt::TabFocus);
    QTest::keyClick(third, Qt::Key_Space);
    settle();
    EXPECT_TRUE(third->isPlaying());
    QTest::keyClick(third, Qt::Key_Return);
    settle();
    EXPECT_FALSE(model->playingChopID());

    // A title too long for a file name gives way to the chop's part of the name.
    SampleItem longTitled = sample;
    longTitled.title = std::string(250, 'k');
    const BridgeChopRow longTile(*model, longTitled, sample.chops[1], vt::ui::palette::cyan,
                                 vt::ui::palette::amber, 64);
    EXPECT_EQ(longTile.suggestedFileName(), QString(243, QLatin1Char('k')) + "-Chop 03.wav");

    std::filesystem::remove(model->chopURL(sample, sample.chops[1]));
    EXPECT_FALSE(third->dragData());

    // Chopped again, the old chops left the library and so did their staged files.
    EXPECT_TRUE(std::filesystem::exists(staged));
    audio.chopsToFind = {makeChop(0, 0.25, 1.9)};
    awaitVoid(model->autoChop(listed(take.id), 0.7));
    ASSERT_EQ(listed(take.id).chops.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(staged.parent_path().parent_path()));
}

// Starting and stopping a chop's preview changes the glyph, the clock and the played bars only:
// at every width a panel gives its tiles, the name and the range keep their pixels, and the whole
// clock counts from zero in its fixed frame; on a narrow tile the range gives way.
TEST_F(SampleRowTest, PlayingChopTileKeepsItsLayoutAndItsClockStartsAtZero) {
    auto take = sampleWithPeaks("Kick loop", 100);
    audio.chopsToFind = {makeChop(1, 0.41, 0.82)};
    audio.renderedSeconds = 0.41;
    seedLibrary({take});
    start();
    settle();
    awaitVoid(model->autoChop(listed(take.id), 0.5));
    const SampleItem sample = listed(take.id);
    auto* tile = place(new BridgeChopRow(*model, sample, sample.chops[0], vt::ui::palette::cyan,
                                         vt::ui::palette::amber, 64));
    // Seven tiles in a row (the narrowest), three (the window's first width), and two.
    for (const auto& [width, range] :
         {std::pair{214, "0.41…"}, {243, "0.410s-0.…"}, {340, "0.410s-0.820s"}}) {
        tile->setFixedWidth(width);
        settle();
        // The name and the range fill the text line right of the play glyph, up to the clock's
        // frame (64 wide) before the drag glyph.
        const QRect nameAndRange(8 + 22 + 8, 8, width - (8 + 22 + 8) - (6 + 64 + 6 + 10 + 8), 14);
        const QImage idle = tile->grab().toImage();
        EXPECT_EQ(tile->shownTimeRangeText().toStdString(), range) << width;
        click(tile);
        ASSERT_TRUE(tile->isPlaying());
        EXPECT_EQ(tile->clockText().toStdString(), "0.0s / 0.4s") << width;
        EXPECT_EQ(tile->shownTimeRangeText().toStdString(), range) << width;
        EXPECT_TRUE(tile->grab().toImage().copy(nameAndRange) == idle.copy(nameAndRange))
            << "the name or the range moved at " << width;
        click(tile);
        EXPECT_FALSE(tile->isPlaying());
    }
    EXPECT_EQ(tile->clockText(), "0.0s / 0.0s");
}

TEST(SampleViewSymbols, EverySymbolTheSampleViewsDrawIsInTheGlyphCatalogue) {
    for (const char* name : {"play.fill",
                             "stop.fill",
                             "star",
                             "star.fill",
                             "slider.horizontal.3",
                             "chevron.down",
                             "chevron.right",
                             "scissors",
                             "pencil",
                             "trash",
                             "waveform",
                             "speaker.wave.2.fill",
                             "waveform.path.ecg",
                             "metronome",
                             "music.note",
                             "key.fill",
                             "arrow.up.doc",
                             "hourglass",
                             "xmark",
                             "arrow.counterclockwise",
                             "checkmark",
                             "waveform.badge.magnifyingglass",
                             "wand.and.stars"})
        EXPECT_TRUE(vt::ui::hasGlyph(name)) << name;
}

} // namespace
} // namespace vt::test
