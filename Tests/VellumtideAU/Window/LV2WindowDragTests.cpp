// Drags out of the plug-in's window as a person makes them in a host that runs the window only
// through its idle calls (as GTK and Qt 5 hosts do): the host's loop polls its own X connection,
// fires its own 16 ms timer and calls idle(); the pointer moves through XTEST in small steps. A
// sample and a chop go into a Qt program of their own and into a window of the host itself,
// while the host's timer keeps firing.

#include "Tests/VellumtideAU/Window/LV2WindowDragFixture.h"

namespace {

using namespace vt::test::drag;

// Counts the times a window was made inactive: each draws the whole window again.
struct DeactivationCount final : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::WindowDeactivate ? 1 : 0;
        return false;
    }
};

TEST_F(LV2WindowDragTest, SampleAndChopRowsDropIntoAnotherProgramAndIntoTheHostWhileItsLoopRuns) {
    const auto drops = folder / "drops.txt";
    DropTargetProgram otherProgram(drops, otherProgramX, otherProgramY, targetWidth, targetHeight);
    ASSERT_TRUE(loop->runUntil([&] { return otherProgram.ready(); })) << "vt-drop-target shows its window";
    loop->turns(10);

    std::size_t dropsSeen = 0;
    auto dropIntoOtherProgram = [&](QWidget* row, const std::filesystem::path& library) {
        const Gesture gesture = dragRow(row, centre(otherProgramX, otherProgramY));
        ASSERT_TRUE(loop->runUntil([&] {
            const std::string text = fileText(drops);
            return std::size_t(std::count(text.begin(), text.end(), '\n')) > dropsSeen;
        })) << "the other program received the drop";
        expectTheHostsTimerKeptFiring(gesture);
        const std::string text = fileText(drops);
        std::size_t lineStart = 0;
        for (std::size_t line = 0; line < dropsSeen; ++line)
            lineStart = text.find('\n', lineStart) + 1;
        ++dropsSeen;
        const auto line = fields(text.substr(lineStart));
        ASSERT_EQ(line.size(), 3u) << text;
        const std::filesystem::path received = droppedFile(line[0]);
        EXPECT_EQ(received.filename(), library.filename()) << "named by the file's own name";
        EXPECT_NE(received, library) << "a staged copy, not the library's file";
        EXPECT_EQ(line[1], std::to_string(std::filesystem::file_size(library)));
        EXPECT_EQ(line[2], sha256(library).toStdString()) << "the library file's bytes";
    };
    auto dropIntoHost = [&](QWidget* row, const std::filesystem::path& library) {
        const std::size_t before = hostTarget.droppedUriLists.size();
        DeactivationCount deactivations;
        row->window()->installEventFilter(&deactivations);
        const Gesture gesture = dragRow(row, centre(hostTargetX, hostTargetY));
        ASSERT_TRUE(loop->runUntil([&] { return hostTarget.droppedUriLists.size() > before; }))
            << "the host's own window received the drop";
        loop->turns(5);
        row->window()->removeEventFilter(&deactivations);
        expectTheHostsTimerKeptFiring(gesture);
        EXPECT_EQ(deactivations.count, 0) << "taking and giving back the keyboard leaves the window active";
        const std::filesystem::path received = droppedFile(hostTarget.droppedUriLists.back());
        EXPECT_EQ(received.filename(), library.filename());
        EXPECT_EQ(sha256(received), sha256(library));
        EXPECT_GE(hostTarget.positions, 2) << "positions came while the pointer moved";
    };

    QWidget* kick = settled([] { return sampleRow("Kick"); });
    ASSERT_NE(kick, nullptr);
    dropIntoOtherProgram(kick, kickPath);
    dropIntoHost(kick, kickPath);
    EXPECT_EQ(std::count(kickFile, kickFile + std::strlen(kickFile), ' '), 2) << "a name that needs encoding";

    QWidget* toggle = nullptr;
    for (auto* button : kick->findChildren<QAbstractButton*>())
        if (button->toolTip() == "Show chops")
            toggle = button;
    ASSERT_NE(toggle, nullptr);
    click(toggle);
    QWidget* chop = settled([] { return chopRow("Chop 01"); });
    ASSERT_NE(chop, nullptr) << "the chop list opens";
    dropIntoOtherProgram(chop, chopPath);
    dropIntoHost(chop, chopPath);
    EXPECT_EQ(hostTarget.drops, 2);
}

TEST_F(LV2WindowDragTest, AMissingFileStartsNoDragAndEscapeCancelsOne) {
    // The missing sample: nothing enters the target, nothing is staged, nothing is dropped.
    QWidget* gone = settled([] { return sampleRow("Gone"); });
    ASSERT_NE(gone, nullptr);
    dragRow(gone, centre(hostTargetX, hostTargetY));
    loop->turns(20);
    EXPECT_EQ(hostTarget.enters, 0);
    EXPECT_EQ(hostTarget.drops, 0);
    EXPECT_FALSE(std::filesystem::exists(folder / "data" / "vellumtide" / "drag"));

    // Escape over the target leaves it; letting go there afterwards drops nothing.
    const QPoint over = centre(hostTargetX, hostTargetY);
    QWidget* kick = settled([] { return sampleRow("Kick"); });
    ASSERT_NE(kick, nullptr);
    const QPoint from = grabPoint(kick);
    restOn(from);
    asPerson([&] { pressAndGlide(from, over); });
    ASSERT_TRUE(loop->runUntil([&] { return hostTarget.positions > 0; })) << "the drag reached the target";
    EXPECT_EQ(hostTarget.enters, 1);
    asPerson([&] { pointer.tapKey("Escape"); });
    ASSERT_TRUE(loop->runUntil([&] { return hostTarget.leaves == 1; })) << "Escape leaves the target";
    asPerson([&] {
        glide(over, over + QPoint(30, 20));
        pointer.releaseButton();
    });
    loop->turns(30);
    EXPECT_EQ(hostTarget.drops, 0);
    EXPECT_TRUE(hostTarget.droppedUriLists.empty());
    EXPECT_EQ(hostTarget.enters, 1) << "no new drag after Escape while the button stays down";
}

} // namespace
