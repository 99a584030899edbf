// Drags out of the plug-in's window in a Qt 6 host: the application and its running event loop
// are the host's, so Qt's own drag serves (it runs the host's loop), and a window of the host in
// the same process, its timeline, takes the drop while the host's timer keeps firing.

#include "Tests/VellumtideAU/Window/LV2WindowDragFixture.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

namespace {

using namespace vt::test::drag;

// The host's timeline: a Qt window of the host that takes dropped files.
class Timeline final : public QWidget {
public:
    Timeline() {
        setAcceptDrops(true);
        setWindowFlag(Qt::X11BypassWindowManagerHint);
        setGeometry(otherProgramX, otherProgramY, targetWidth, targetHeight);
        show();
    }
    std::vector<QUrl> dropped;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        const QList<QUrl> urls = event->mimeData()->urls();
        dropped.insert(dropped.end(), urls.begin(), urls.end());
        event->acceptProposedAction();
    }
};

class LV2WindowQtHostDragTest : public LV2WindowDragTest {
protected:
    bool qtHost() const override { return true; }
};

TEST_F(LV2WindowQtHostDragTest, ASampleDropsIntoTheHostsOwnQtWindowWhileItsLoopRuns) {
    Timeline timeline;
    loop->turns(10);
    QWidget* kick = settled([] { return sampleRow("Kick"); });
    ASSERT_NE(kick, nullptr);
    const Gesture gesture = dragRow(kick, centre(otherProgramX, otherProgramY));
    ASSERT_TRUE(loop->runUntil([&] { return !timeline.dropped.empty(); }))
        << "the host's window took the drop";
    expectTheHostsTimerKeptFiring(gesture);
    ASSERT_EQ(timeline.dropped.size(), 1u);
    const std::filesystem::path received = timeline.dropped[0].toLocalFile().toStdString();
    EXPECT_EQ(received.filename(), kickPath.filename());
    EXPECT_EQ(sha256(received), sha256(kickPath));
}

} // namespace
