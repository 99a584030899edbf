// The library list at scale: rows keep their widgets across previews, chop lists and library
// changes, only the rows in view exist however long the library is, and scrolling reuses them;
// the library reaches the window from the reader's own thread.

#include "Platform/Core/AtomicFile.h"
#include "Platform/UI/Widgets.h"
#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Window/VellumtideAUView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideSampleList.h"

#include <QApplication>
#include <QScrollBar>
#include <gtest/gtest.h>

namespace {

using vt::test::WindowFixture;

struct SampleListTest : ::testing::Test {
    WindowFixture fixture;
    std::shared_ptr<VellumtideAudioUnitReference> reference =
        std::make_shared<VellumtideAudioUnitReference>();

    std::unique_ptr<VellumtideAUView> makeView() {
        auto view =
            std::make_unique<VellumtideAUView>([] {}, [](const vt::Uuid&) {}, reference, fixture.services);
        vt::test::waitForLibrary(view->library());
        view->resize(620, 760);
        view->show();
        QApplication::processEvents();
        return view;
    }

    static std::vector<std::string> titles(const VellumtideAUView& view) {
        std::vector<std::string> shown;
        for (auto* row : view.sampleRows())
            shown.push_back(row->sample().title);
        return shown;
    }

    // Every shown row lies where its entry is and shows the sample at that place of the list.
    static void expectRowsMatchTheList(const VellumtideAUView& view) {
        const auto& samples = view.sampleListView()->samples();
        const auto rows = view.sampleRows();
        ASSERT_FALSE(rows.empty());
        auto first = std::find_if(samples.begin(), samples.end(),
                                  [&rows](const auto* sample) { return *sample == rows.front()->sample(); });
        ASSERT_NE(first, samples.end());
        for (std::size_t index = 0; index < rows.size(); ++index)
            EXPECT_EQ(rows[index]->sample(), **(first + std::ptrdiff_t(index)));
    }
};

TEST_F(SampleListTest, RowsKeepTheirWidgetsAcrossPreviewsChopListsAndLibraryChanges) {
    fixture.writeLargeLibrary(30);
    auto view = makeView();
    const auto before = view->sampleRows();
    ASSERT_GE(before.size(), 3u);
    auto* first = before[0];

    first->playButton()->click();
    EXPECT_EQ(view->sampleRows(), before) << "a preview changes no row widget";
    EXPECT_EQ(first->playButton()->toolTip(), "Stop preview");
    first->playButton()->click();
    EXPECT_EQ(view->sampleRows(), before);
    EXPECT_EQ(first->playButton()->toolTip(), "Preview");

    ASSERT_NE(first->chopToggle(), nullptr);
    first->chopToggle()->click();
    EXPECT_EQ(view->sampleRows().front(), first);
    EXPECT_EQ(view->chopRows().size(), 3u);
    EXPECT_EQ(first->chopToggle()->toolTip(), "Hide chops");
    EXPECT_EQ(view->sampleRows()[1], before[1]) << "rows pushed down keep their widgets";
    EXPECT_GT(view->sampleRows()[1]->y(), view->chopRows().back()->y());
    first->chopToggle()->click();
    EXPECT_TRUE(view->chopRows().empty());

    // A library change updates the changed row in place.
    auto manifest = nlohmann::json::parse(vt::readWholeFile(fixture.libraryFolder / "library.json").value());
    manifest[1]["title"] = "Renamed";
    fixture.writeLibrary(manifest);
    view->library().refresh();
    EXPECT_EQ(view->sampleRows()[1], before[1]);
    EXPECT_EQ(view->sampleRows()[1]->sample().title, "Renamed");
    EXPECT_EQ(view->sampleRows()[1]->accessibleName(), "Renamed");
    expectRowsMatchTheList(*view);
}

TEST_F(SampleListTest, TheListArrivesFromTheReadersThreadAndFollowsTheAudioFiles) {
    fixture.writeLargeLibrary(3000);
    std::vector<vt::test::ManualRefreshTimer*> timers; // the library's first, then the kit's
    fixture.services.makeRefreshTimer = [&timers] {
        auto timer = std::make_unique<vt::test::ManualRefreshTimer>();
        timers.push_back(timer.get());
        return timer;
    };
    // A window closed while its first read runs ends without waiting for the whole read.
    std::make_unique<VellumtideAUView>([] {}, [](const vt::Uuid&) {}, reference, fixture.services).reset();
    timers.clear();

    auto view =
        std::make_unique<VellumtideAUView>([] {}, [](const vt::Uuid&) {}, reference, fixture.services);
    view->resize(620, 760);
    view->show();
    EXPECT_EQ(view->currentContent(), view->noLibraryState())
        << "the window shows before the library is read";
    EXPECT_EQ(view->library().status(), "Looking for Bridge library");
    vt::test::waitForLibrary(view->library());
    ASSERT_EQ(view->currentContent(), view->sampleList());
    EXPECT_EQ(view->library().status(), "3000 synced samples");
    const auto rows = view->sampleRows();
    ASSERT_GE(rows.size(), 2u);
    ASSERT_TRUE(rows[1]->playButton()->isEnabled());

    // Its file goes and comes back, with neither library file touched.
    const auto file = rows[1]->sample().audioURL;
    const auto away = fixture.libraryFolder / "away.wav";
    std::filesystem::rename(file, away);
    timers.front()->tick();
    vt::test::waitForLibrary(view->library());
    EXPECT_EQ(view->sampleRows(), rows) << "the row is updated in place";
    EXPECT_FALSE(rows[1]->playButton()->isEnabled());
    EXPECT_EQ(view->library().status(), "3000 samples, 1 missing file");
    std::filesystem::rename(away, file);
    timers.front()->tick();
    vt::test::waitForLibrary(view->library());
    EXPECT_TRUE(rows[1]->playButton()->isEnabled());
}

TEST_F(SampleListTest, TenThousandSamplesBuildOnlyTheRowsInView) {
    fixture.writeLargeLibrary(10'000);
    auto view = makeView();
    auto* list = view->sampleListView();
    ASSERT_EQ(list->samples().size(), 10'000u);
    const int bounded = 40;
    EXPECT_LE(list->rowWidgetCount(), bounded);
    EXPECT_EQ(titles(*view).front(), "Sample 1");
    EXPECT_EQ(list->verticalScrollBar()->maximum(), list->contentHeight() - list->viewport()->height());

    // Scrolling page by page to the end and back never holds more rows, and always the right ones.
    auto* bar = list->verticalScrollBar();
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep() * 97) {
        bar->setValue(value);
        expectRowsMatchTheList(*view);
        EXPECT_LE(list->rowWidgetCount(), bounded);
    }
    bar->setValue(bar->maximum());
    EXPECT_EQ(titles(*view).back(), "Sample 10000");
    QApplication::processEvents();
    EXPECT_LE(list->rowWidgetCount(), bounded);

    // A row scrolled away and back shows its sample again; its chop list opens in place.
    bar->setValue(0);
    auto* first = view->sampleRows().front();
    first->chopToggle()->click();
    EXPECT_EQ(view->chopRows().size(), 3u);
    EXPECT_EQ(view->chopRows().front()->x(), VellumtideSampleList::margin + VellumtideSampleList::chopIndent);
    bar->setValue(bar->maximum() / 2);
    EXPECT_TRUE(view->chopRows().empty());
    bar->setValue(0);
    EXPECT_EQ(view->chopRows().size(), 3u);
    expectRowsMatchTheList(*view);

    // A preview toggled far down keeps the rows in view.
    bar->setValue(bar->maximum() / 3);
    const auto inView = view->sampleRows();
    inView[2]->playButton()->click();
    EXPECT_EQ(view->sampleRows(), inView);
    EXPECT_EQ(view->playingSampleID(), inView[2]->sample().id);
}

} // namespace
