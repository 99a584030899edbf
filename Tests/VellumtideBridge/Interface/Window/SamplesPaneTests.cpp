// The samples pane: the count line, the waiting and no-favourites panels, the favourites filter
// and its pulse, the lazily built rows that keep their identity, and the preview controls.

#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSamplesPane.h"

#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <cmath>

namespace vt::test {
namespace {

using Body = BridgeSamplesPane::Body;

class SamplesPane : public WindowTest {
protected:
    BridgeSamplesPane& open(const std::vector<SampleItem>& samples) {
        seedLibrary(samples);
        settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
        openWindow();
        return *window->samplesPane();
    }
    SampleItem shown(const vt::Uuid& id) const {
        for (const SampleItem& sample : model->samples())
            if (sample.id == id)
                return sample;
        ADD_FAILURE() << "sample not shown";
        return {};
    }
    static SampleItem favorite(SampleItem sample) {
        sample.isFavorite = true;
        return sample;
    }
};

TEST_F(SamplesPane, CountLineCountsEverySampleWithItsPluralForm) {
    EXPECT_EQ(BridgeSamplesPane::countLineText(0, "~/Music/Vellumtide"),
              "0 live files in ~/Music/Vellumtide");
    EXPECT_EQ(BridgeSamplesPane::countLineText(1, "~/Music/Vellumtide"), "1 live file in ~/Music/Vellumtide");
    EXPECT_EQ(BridgeSamplesPane::countLineText(2, "/srv/a b"), "2 live files in /srv/a b");

    BridgeSamplesPane& pane = open({});
    const QString folderPath = QString::fromStdString(model->sampleFolderPath());
    EXPECT_EQ(pane.countLine(), "0 live files in " + folderPath);
    EXPECT_EQ(pane.body(), Body::waiting);
    EXPECT_EQ(pane.waitingPanel()->title(), "Waiting for samples");
    EXPECT_FALSE(pane.favoritesButton()->isEnabled()) << "no favourite and the filter off";

    model->toggleFavoriteFilter();
    EXPECT_EQ(pane.body(), Body::waiting) << "an empty library waits also with the filter on";
    EXPECT_TRUE(pane.favoritesButton()->isEnabled()) << "the filter can always be turned off";
}

TEST_F(SamplesPane, FavouritesFilterListsFavouritesAndFallsBackToShowAll) {
    const SampleItem kick = favorite(makeSample("Kick", 30));
    const SampleItem snare = makeSample("Snare", 20);
    const SampleItem hat = makeSample("Hat", 10);
    BridgeSamplesPane& pane = open({kick, snare, hat});
    EXPECT_EQ(pane.body(), Body::list);
    EXPECT_EQ(pane.sampleList()->samples().size(), 3u);
    EXPECT_EQ(pane.favoritesButton()->toolTip(), "Show favorite samples");
    ASSERT_TRUE(pane.favoritesButton()->isEnabled());

    click(pane.favoritesButton());
    settleUI();
    EXPECT_TRUE(model->showFavoritesOnly());
    EXPECT_EQ(pane.favoritesButton()->toolTip(), "Show all samples");
    ASSERT_EQ(pane.sampleList()->samples().size(), 1u);
    EXPECT_EQ(pane.sampleList()->samples()[0].id, kick.id);
    EXPECT_TRUE(pane.countLine().startsWith("3 live files in")) << "the count stays the total";

    model->toggleFavorite(shown(kick.id));
    settleUI();
    EXPECT_EQ(pane.body(), Body::noFavorites);
    EXPECT_TRUE(visibleTexts(pane.noFavoritesPanel()).contains("No favorites yet"));
    click(pane.showAllButton());
    settleUI();
    EXPECT_FALSE(model->showFavoritesOnly());
    EXPECT_EQ(pane.body(), Body::list);
    EXPECT_EQ(pane.sampleList()->samples().size(), 3u);
    EXPECT_FALSE(pane.favoritesButton()->isEnabled()) << "no favourite left";
}

TEST_F(SamplesPane, FilterPillPulsesOnlyWhileTheFilterIsOn) {
    BridgeSamplesPane& pane = open({favorite(makeSample("Kick", 30))});
    FavoritesFilterButton* pill = pane.favoritesButton();
    EXPECT_TRUE(pill->favoriteFilterPulse()) << "the pulse starts when the pill is first shown";
    EXPECT_FALSE(pill->isPulseRunning());
    EXPECT_DOUBLE_EQ(pill->borderOpacity(), 0.22);
    EXPECT_DOUBLE_EQ(pill->glowOpacity(), 0);

    model->toggleFavoriteFilter();
    EXPECT_TRUE(pill->isPulseRunning());
    QTest::qWait(300);
    EXPECT_GT(pill->pulsePhase(), 0.0);
    EXPECT_GT(pill->borderOpacity(), 0.18);
    EXPECT_LE(pill->borderOpacity(), 0.58);
    EXPECT_NEAR(pill->glowRadius(), 7 + 8 * pill->pulsePhase(), 1e-9);

    // Near its bright end the glow reaches past the header's top edge, fading with no cut there.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pill->pulsePhase() > 0.8; }, 3000));
    const QImage shot = pane.grab().toImage();
    const int x = pill->mapTo(&pane, pill->rect().center()).x();
    const int headerTop = pill->parentWidget()->mapTo(&pane, QPoint()).y();
    auto amber = [&](int y) { return qRed(shot.pixel(x, y)) - qBlue(shot.pixel(x, y)); };
    EXPECT_GT(amber(headerTop - 1), 4) << "the glow shows above the header";
    EXPECT_EQ(amber(headerTop - 16), 0);
    EXPECT_LE(std::abs(amber(headerTop) - amber(headerTop - 1)), 6) << "no hard edge at the header's top";

    model->toggleFavoriteFilter();
    EXPECT_FALSE(pill->isPulseRunning());
    EXPECT_DOUBLE_EQ(pill->borderOpacity(), 0.22);
}

TEST_F(SamplesPane, RowsKeepTheirIdentityAcrossChanges) {
    const SampleItem kick = makeSample("Kick", 30);
    const SampleItem snare = makeSample("Snare", 20);
    const SampleItem hat = makeSample("Hat", 10);
    BridgeSamplesPane& pane = open({kick, snare, hat});
    BridgeSampleList* list = pane.sampleList();
    BridgeSampleRow* snareRow = list->rowFor(snare.id);
    ASSERT_TRUE(snareRow);
    ASSERT_EQ(list->shownRows().size(), 3u);
    EXPECT_EQ(list->shownRows()[0]->sample().id, kick.id) << "rows follow the list order";

    model->renameSample(shown(snare.id), "Snare 2");
    settleUI();
    EXPECT_EQ(list->rowFor(snare.id), snareRow) << "a renamed sample keeps its row";
    EXPECT_EQ(snareRow->sample().title, "Snare 2") << "and the row gets the fresh copy";

    model->deleteSample(shown(kick.id));
    settleUI();
    EXPECT_FALSE(list->rowFor(kick.id));
    ASSERT_EQ(list->shownRows().size(), 2u);
    EXPECT_EQ(list->shownRows()[0], snareRow);
}

TEST_F(SamplesPane, LongLibrariesBuildRowsOnlyAsTheyScrollIntoView) {
    std::vector<SampleItem> library;
    for (int index = 0; index < 120; ++index)
        library.push_back(makeSample("Take " + std::to_string(index), 1000.0 - index));
    BridgeSamplesPane& pane = open(library);
    BridgeSampleList* list = pane.sampleList();
    const std::size_t first = list->builtRowCount();
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, 40u) << "only about two screens of rows are built";

    for (int step = 0; step < 400 && list->builtRowCount() < library.size(); ++step) {
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        settleUI();
    }
    EXPECT_EQ(list->builtRowCount(), library.size()) << "scrolling to the end builds the rest";
    EXPECT_EQ(list->shownRows().back()->sample().title, "Take 119");
}

// However wide the window and however many chop panels are open, scrolling ends at the last
// card and the list's bottom padding, with no blank space below it.
TEST_F(SamplesPane, ListEndsAtItsLastCardWithChopPanelsOpen) {
    std::vector<SampleItem> library;
    for (int index = 0; index < 8; ++index)
        library.push_back(makeSample("Take " + std::to_string(index), 1000.0 - index));
    BridgeSamplesPane& pane = open(library);
    // Five tiles: two rows in the narrower window, one in the wider.
    for (std::int64_t chop = 0; chop < 5; ++chop)
        audio.chopsToFind.push_back(makeChop(chop, 0.2 * double(chop), 0.2 * double(chop + 1)));
    for (int index = 0; index < 2; ++index)
        awaitVoid(model->autoChop(shown(library[index].id), 0.5));
    ASSERT_EQ(shown(library[1].id).chops.size(), 5u);
    BridgeSampleList* list = pane.sampleList();
    auto expectEndsAtLastCard = [&](const std::string& where) {
        settleUI();
        const QWidget* last = list->shownRows().back();
        const int end = last->geometry().bottom() + 1 + 18;
        EXPECT_EQ(list->widget()->height(), std::max(end, list->viewport()->height())) << where;
        EXPECT_EQ(list->verticalScrollBar()->maximum(), std::max(0, end - list->viewport()->height()))
            << where;
    };
    auto openPanel = [&](const SampleItem& sample) {
        BridgeSampleRow* row = list->rowFor(sample.id);
        ASSERT_TRUE(row);
        click(row->findChild<QWidget*>("chopToggle"));
        auto* panel = row->findChild<QWidget*>("chopPanel");
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel->maximumHeight() == QWIDGETSIZE_MAX; }, 5000));
    };
    auto expectAtBothWidths = [&](const std::string& panels) {
        for (const int width : {1100, 1900, 1100}) {
            window->resize(width, 800);
            expectEndsAtLastCard(std::to_string(width) + " px, " + panels);
        }
    };
    expectAtBothWidths("no panel open");
    openPanel(library[0]);
    expectAtBothWidths("one panel open");
    openPanel(library[1]);
    expectAtBothWidths("two panels open");
}

TEST_F(SamplesPane, PreviewControlsFollowAndSetTheLevelAndLooping) {
    EXPECT_EQ(BridgePreviewControls::levelSymbol(0.02), "speaker.slash.fill");
    EXPECT_EQ(BridgePreviewControls::levelSymbol(0.021), "speaker.wave.2.fill");
    EXPECT_EQ(BridgePreviewControls::levelSymbol(std::nan("")), "speaker.slash.fill");

    BridgePreviewControls* controls = open({}).previewControls();
    EXPECT_EQ(controls->levelSlider()->value(), 820);
    EXPECT_EQ(controls->levelSlider()->toolTip(), "Preview level");
    record();
    model->setPreviewLevel(1.7);
    EXPECT_EQ(controls->levelSlider()->value(), 1000);
    EXPECT_EQ(changes.size(), 1u) << "showing the controller's level writes nothing back";

    controls->levelSlider()->setValue(0);
    EXPECT_DOUBLE_EQ(model->previewLevel(), 0);
    EXPECT_EQ(settings->value(BridgeViewModel::previewLevelKey)->toDouble(), 0);
    EXPECT_EQ(controls->shownLevelSymbol(), "speaker.slash.fill");

    EXPECT_EQ(controls->loopButton()->toolTip(), "Preview plays once");
    click(controls->loopButton());
    EXPECT_TRUE(model->isPreviewLooping());
    EXPECT_EQ(controls->loopButton()->toolTip(), "Preview loops until stopped");
}

} // namespace
} // namespace vt::test
