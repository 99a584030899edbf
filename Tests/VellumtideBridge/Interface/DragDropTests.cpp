// Real drags out of the desktop window's sample card and chop tile, shown as X windows of this
// process, into vt-drop-target running as a separate program, with the X server's own pointer
// moved through XTest as a person would; also alternating with drags through the XDND source the
// plug-in's rows use. Needs the private X server of scripts/test-services.sh.

#include "Platform/UI/XdndDragSource.h"
#include "Tests/Support/DropTarget/DragDropDriver.h"
#include "Tests/VellumtideBridge/Interface/SampleViewsFixture.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopRow.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QUrl>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

const QRect targetArea(760, 120, 360, 260);

// A row that drags its staged file out as the plug-in's rows do in a host without Qt's loop:
// through the XDND source, which runs no loop of its own.
class XdndRow final : public QWidget {
public:
    explicit XdndRow(StagedDragFile file) : file(std::move(file)) { setAutoFillBackground(true); }
    QSize sizeHint() const override { return {400, 60}; }

protected:
    void mousePressEvent(QMouseEvent* event) override { pressedAt = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (pressedAt && (event->position().toPoint() - *pressedAt).manhattanLength() >=
                             QApplication::startDragDistance()) {
            pressedAt.reset();
            vt::ui::startXdndFileDrag(this, file);
        }
    }

private:
    StagedDragFile file;
    std::optional<QPoint> pressedAt;
};

class DragDropTest : public SampleViewsTest {
protected:
    void SetUp() override {
        if (const QString reason = missingX11Reason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        setenv("HOME", (folder / "home").c_str(), 1);
        input = XTestInput::open();
        ASSERT_TRUE(input) << "no XTest on the X server";
        target = std::make_unique<DropTargetProcess>(folder / "drops.txt", targetArea);
        ASSERT_TRUE(target->waitUntilReady());
    }

    // The library's samples, the first with a file big enough to need several transfers under the
    // phone's name, the others without files.
    SampleItem seedSamples(const std::vector<SampleItem>& missing = {}) {
        SampleItem sample = sampleWithPeaks("03 Bass Zoë A", 100);
        sample.fileName = "03 Bass Zoë A.wav";
        std::vector<SampleItem> all = missing;
        all.insert(all.begin(), sample);
        seedLibrary(all, false);
        std::string bytes(96 * 1024, '\0');
        for (std::size_t index = 0; index < bytes.size(); ++index)
            bytes[index] = static_cast<char>((index * 131) % 251);
        writeFile(libraryRoot() / "Samples" / sample.fileName, "RIFF" + bytes);
        return sample;
    }

    // Shows the view as a window of its own at the left of the screen, active, as a click on it
    // would leave it.
    template <typename View> View* showAlone(View* view, int width) {
        windows.emplace_back(view);
        view->move(40, 120);
        view->resize(width, view->sizeHint().height());
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view));
        view->activateWindow();
        EXPECT_TRUE(turnEventsUntil([view] { return QApplication::activeWindow() == view; }, patience));
        return view;
    }

    // Presses at start, glides in small steps onto the drop target's middle and lingers there.
    PointerScript& dragOntoTarget(PointerScript& script, QPoint start) {
        const QPoint over = targetArea.center();
        return script.moveTo(start)
            .wait(150ms)
            .press()
            .glideTo(start, start + QPoint(24, 0), 6)
            .glideTo(start + QPoint(24, 0), over, 30)
            .wait(300ms);
    }

    // Lets go once Qt's drag shows that the target takes the file (the copy cursor): let go
    // before the target has answered, the drag would end without a drop.
    static PointerScript& releaseWhenTaken(PointerScript& script) {
        return script
            .until([] {
                const QCursor* cursor = QGuiApplication::overrideCursor();
                return cursor && cursor->shape() == Qt::DragCopyCursor;
            })
            .release();
    }

    void play(PointerScript& script) {
        script.start();
        ASSERT_TRUE(turnEventsUntil([&] { return script.finished(); }, patience));
    }

    // The one drop delivered a file:// URL named name whose bytes are the source's.
    void expectDelivered(const QString& line, const QString& name, const std::filesystem::path& source) {
        const DropRecord record = DropRecord::parse(line);
        const QUrl url = QUrl::fromEncoded(record.url.toUtf8());
        EXPECT_EQ(url.scheme().toStdString(), "file") << line.toStdString();
        EXPECT_EQ(url.fileName().toStdString(), name.toStdString());
        EXPECT_EQ(record.size, static_cast<qint64>(std::filesystem::file_size(source)));
        EXPECT_EQ(record.sha256.toStdString(), sha256Hex(source).toStdString());
    }

    std::unique_ptr<XTestInput> input;
    std::unique_ptr<DropTargetProcess> target;
    std::vector<std::unique_ptr<QWidget>> windows;
};

TEST_F(DragDropTest, SampleCardAndChopTileDropTheirFilesUnderTheirNamesIntoAnotherProgram) {
    audio.chopsToFind = {makeChop(2, 0.5, 1.25)};
    const SampleItem seeded = seedSamples();
    start();
    settle();
    awaitVoid(model->autoChop(listed(seeded.id), 0.5));
    const SampleItem sample = listed(seeded.id);
    ASSERT_EQ(sample.chops.size(), 1u);

    auto* card = showAlone(new BridgeSampleRow(*model, sample), 640);
    PointerScript sampleDrag(*input);
    releaseWhenTaken(
        dragOntoTarget(sampleDrag, card->mapToGlobal(QPoint(card->width() - 5, card->height() / 2))));
    play(sampleDrag);
    ASSERT_TRUE(target->waitForRecords(1));
    const std::filesystem::path libraryFile = libraryRoot() / "Samples" / sample.fileName;
    expectDelivered(target->records().at(0), "03 Bass Zoë A.wav", libraryFile);
    // The receiver owns what it got: writing into the dropped file leaves the library's recording.
    const QString recorded = sha256Hex(libraryFile);
    const QUrl dropped = QUrl::fromEncoded(DropRecord::parse(target->records().at(0)).url.toUtf8());
    writeFile(dropped.toLocalFile().toStdString(), "RIFF-overdub");
    EXPECT_EQ(sha256Hex(libraryFile).toStdString(), recorded.toStdString());

    auto* tile = showAlone(
        new BridgeChopRow(*model, sample, sample.chops[0], vt::ui::palette::cyan, vt::ui::palette::amber, 64),
        420);
    PointerScript chopDrag(*input);
    releaseWhenTaken(
        dragOntoTarget(chopDrag, tile->mapToGlobal(QPoint(tile->width() - 12, tile->height() - 6))));
    play(chopDrag);
    ASSERT_TRUE(target->waitForRecords(2));
    expectDelivered(target->records().at(1), "03 Bass Zoë A-Chop 03.wav",
                    model->chopURL(sample, sample.chops[0]));
    EXPECT_EQ(target->records().size(), 2);
}

TEST_F(DragDropTest, MissingFileStartsNoDragAndEscapeCancelsOneWithNothingDropped) {
    const SampleItem gone = makeSample("Gone", 200);
    const SampleItem seeded = seedSamples({gone});
    start();
    settle();

    // The missing file: the gesture moves the pointer only.
    input->clearDragSelection();
    auto* missingCard = showAlone(new BridgeSampleRow(*model, listed(gone.id)), 640);
    PointerScript missingDrag(*input);
    bool dragDuringMissing = true;
    dragOntoTarget(missingDrag, missingCard->mapToGlobal(QPoint(missingCard->width() - 5, 20)))
        .run([&] { dragDuringMissing = input->dragSelectionOwned(); })
        .release()
        .wait(400ms);
    play(missingDrag);
    EXPECT_FALSE(dragDuringMissing);
    missingCard->hide();

    // Escape over the target ends the drag; the release that follows drops nothing.
    auto* card = showAlone(new BridgeSampleRow(*model, listed(seeded.id)), 640);
    const QPoint start = card->mapToGlobal(QPoint(card->width() - 5, 20));
    PointerScript cancelled(*input);
    bool dragBeforeEscape = false;
    dragOntoTarget(cancelled, start)
        .run([&] { dragBeforeEscape = input->dragSelectionOwned(); })
        .escape()
        .wait(200ms)
        .release()
        .wait(400ms);
    play(cancelled);
    EXPECT_TRUE(dragBeforeEscape);
    EXPECT_TRUE(target->records().isEmpty()) << target->records().join('\n').toStdString();

    // The target does take the next drop: the silence above was the cancel's.
    card->activateWindow();
    PointerScript dropped(*input);
    releaseWhenTaken(dragOntoTarget(dropped, start));
    play(dropped);
    ASSERT_TRUE(target->waitForRecords(1));
    expectDelivered(target->records().at(0), "03 Bass Zoë A.wav",
                    libraryRoot() / "Samples" / seeded.fileName);
    EXPECT_EQ(target->records().size(), 1);
}

// One X server, drags out of both windows in turn: each drop delivers the file that was dragged,
// and a finished drag leaves no offer behind that a later drop could read instead.
TEST_F(DragDropTest, DragsAlternatingBetweenThePlugInsSourceAndTheCardEachDeliverTheirOwnFile) {
    const SampleItem seeded = seedSamples();
    start();
    settle();
    const std::filesystem::path chop = folder / "Kick-Chop 01.wav";
    writeFile(chop, "RIFF-chop-of-the-plug-in");
    const auto staged = stageFileForDrag(folder / "plug-in drags", {chop, seeded.id, Uuid::random()},
                                         QStringLiteral("Kick-Chop 01.wav"));
    ASSERT_TRUE(staged);
    auto* row = showAlone(new XdndRow(*staged), 400);
    row->move(40, 420);
    auto* card = showAlone(new BridgeSampleRow(*model, listed(seeded.id)), 640);

    int drops = 0;
    // Qt's drag lets go once the target has taken it; the XDND source drops when the target answers.
    auto dragOut = [&](QWidget* view, QPoint at) {
        view->activateWindow();
        PointerScript script(*input);
        dragOntoTarget(script, view->mapToGlobal(at));
        if (view == card)
            releaseWhenTaken(script);
        else
            script.release();
        play(script);
        ASSERT_TRUE(target->waitForRecords(++drops)) << "drop " << drops;
    };
    for (int round = 0; round < 5; ++round) { // 15 drags out of the plug-in, 5 out of the card
        for (int pluginDrag = 0; pluginDrag < 3; ++pluginDrag) {
            dragOut(row, QPoint(200, row->height() / 2));
            expectDelivered(target->records().at(drops - 1), "Kick-Chop 01.wav", chop);
            ASSERT_TRUE(turnEventsUntil([&] { return !input->dragSelectionOwned(); }, patience))
                << "the plug-in's source still offers its file after drop " << drops;
        }
        dragOut(card, QPoint(card->width() - 5, card->height() / 2));
        expectDelivered(target->records().at(drops - 1), "03 Bass Zoë A.wav",
                        libraryRoot() / "Samples" / seeded.fileName);
    }
    EXPECT_EQ(target->records().size(), drops);
}

} // namespace
} // namespace vt::test
