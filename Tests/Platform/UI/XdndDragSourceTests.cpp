// The XDND drag source against targets on an X connection of their own: what it offers through
// the drag selection, a whole drop, and the targets that stop answering, leave it no way out, or
// are left by Escape. Needs the private X server of scripts/test-services.sh; the windows stay
// clear of the top left, where the window host test shows its own.

#include "Platform/UI/XdndDragSource.h"
#include "Tests/Support/Patience.h"
#include "Tests/Support/X11/XdndTestTarget.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPromise>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vt::ui::XdndDragSource;
using Outcome = XdndDragSource::Outcome;

class XdndDragSourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY") || QApplication::instance())
            return;
        static int argc = 3;
        static char name[] = "xdnd-tests", option[] = "-platform", platform[] = "xcb";
        static char* argv[] = {name, option, platform, nullptr};
        new QApplication(argc, argv); // lives as long as the process
    }

    void SetUp() override {
        if (!QApplication::instance())
            GTEST_SKIP() << "no private X server (scripts/test-services.sh starts Xvfb)";
        useTimeouts({vt::test::patience, vt::test::patience}); // targets that answer are never late
    }

    // A source whose targets must answer within these times.
    void useTimeouts(XdndDragSource::Timeouts timeouts) {
        source = XdndDragSource::create(timeouts);
        ASSERT_NE(source, nullptr);
        QObject::connect(source.get(), &XdndDragSource::finished,
                         [this](Outcome outcome) { outcomes.push_back(outcome); });
    }

    // Runs the application's events and the target's until the condition holds.
    static bool runUntil(vt::test::XdndTestTarget& target, const std::function<bool()>& condition) {
        const auto end = std::chrono::steady_clock::now() + vt::test::patience;
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents();
            target.pump();
            if (condition())
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
    static void runFor(vt::test::XdndTestTarget& target, std::chrono::milliseconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        runUntil(target, [&] { return std::chrono::steady_clock::now() >= end; });
    }

    // Enters the target at (x, y), moves on 10 px and lets go there.
    void dragInto(vt::test::XdndTestTarget& target, int x, int y) {
        ASSERT_TRUE(source->begin(file));
        source->moveTo({x, y}, 0);
        runUntil(target, [&] { return target.positions > 0; });
        source->moveTo({x + 10, y}, 0);
        source->release(0);
    }

    vt::StagedDragFile file{"/tmp/drag/Kick Zoë.wav", "file:///tmp/drag/Kick%20Zo%C3%AB.wav\r\n",
                            "/tmp/drag/Kick Zoë.wav"};
    std::unique_ptr<XdndDragSource> source;
    std::vector<Outcome> outcomes;
};

TEST_F(XdndDragSourceTest, OffersTheFileAsUriListAndTextAndRefusesOtherFormats) {
    vt::test::XdndTestTarget reader(0, 0, 10, 10);
    ASSERT_TRUE(source->begin(file));
    source->moveTo({900, 700}, 0); // the drag's first event takes the selection
    for (const char* format : {"text/uri-list", "text/plain", "TARGETS", "image/png"})
        reader.requestSelection(format);
    ASSERT_TRUE(runUntil(reader, [&] { return reader.conversions.size() == 4; }));
    EXPECT_EQ(reader.conversions["text/uri-list"], file.uriList.toStdString());
    EXPECT_EQ(reader.conversions["text/plain"], file.plainText.toStdString());
    const std::string targets = reader.conversions["TARGETS"].value_or("");
    EXPECT_NE(targets.find("text/uri-list\n"), std::string::npos) << targets;
    EXPECT_NE(targets.find("text/plain\n"), std::string::npos) << targets;
    EXPECT_FALSE(reader.conversions["image/png"]) << "a format it does not have is refused";
}

TEST_F(XdndDragSourceTest, DropsIntoATargetThatAnswersAndHearsItFinish) {
    vt::test::XdndTestTarget target(100, 600, 200, 150);
    dragInto(target, 150, 650);
    ASSERT_TRUE(runUntil(target, [&] { return !outcomes.empty(); }));
    runFor(target, 50ms);
    EXPECT_EQ(outcomes, std::vector{Outcome::dropped});
    EXPECT_EQ(target.enters, 1);
    EXPECT_EQ(target.positions, 2) << "the last position comes before the drop";
    EXPECT_EQ(target.drops, 1);
    EXPECT_EQ(target.leaves, 0);
    EXPECT_EQ(target.offeredTypes,
              (std::vector<std::string>{"text/uri-list", "text/plain;charset=utf-8", "text/plain"}));
    ASSERT_EQ(target.droppedUriLists.size(), 1u);
    EXPECT_EQ(target.droppedUriLists[0], file.uriList.toStdString());
    EXPECT_FALSE(source->isActive());
    // Given back once the drop is done: no later drop, of another window's drag, reads this file.
    EXPECT_EQ(target.dragSelectionOwner(), 0u);
    target.requestSelection("text/uri-list");
    ASSERT_TRUE(runUntil(target, [&] { return target.conversions.count("text/uri-list") > 0; }));
    EXPECT_FALSE(target.conversions["text/uri-list"]);
}

// Another window's drag took the selection after the pointer event that moves this drag (its
// events were handled late): the selection stays with that window, and this drag drops nothing,
// since the target would read that window's offer.
TEST_F(XdndDragSourceTest, ADragNeverTakesTheSelectionFromAWindowThatTookItSinceItsEvent) {
    vt::test::XdndTestTarget target(100, 600, 200, 150);
    vt::test::XdndTestTarget otherDrag(1200, 770, 20, 20);
    ASSERT_TRUE(source->begin(file));
    otherDrag.takeDragSelection();
    const std::uint32_t eventTime = 1; // long before the other window took it
    source->moveTo({150, 650}, eventTime);
    ASSERT_TRUE(runUntil(target, [&] { return target.positions > 0; }));
    source->release(eventTime);
    ASSERT_TRUE(runUntil(target, [&] { return !outcomes.empty() && target.leaves + target.drops > 0; }));
    EXPECT_EQ(outcomes, std::vector{Outcome::refused});
    EXPECT_EQ(target.drops, 0);
    EXPECT_EQ(target.leaves, 1);
    EXPECT_EQ(target.dragSelectionOwner(), otherDrag.window());
}

TEST_F(XdndDragSourceTest, AWindowWithAProxyIsServedThroughTheProxy) {
    vt::test::XdndTestTarget proxy(1200, 770, 20, 20);
    proxy.proxyFor(400, 600, 200, 150);
    dragInto(proxy, 450, 650);
    ASSERT_TRUE(runUntil(proxy, [&] { return !outcomes.empty(); }));
    EXPECT_EQ(outcomes, std::vector{Outcome::dropped});
    EXPECT_NE(proxy.addressedWindow, proxy.window()) << "messages name the proxied window";
    EXPECT_EQ(proxy.droppedUriLists, std::vector{file.uriList.toStdString()});
}

TEST_F(XdndDragSourceTest, ATargetThatNeverAnswersIsLeftAfterItsTime) {
    useTimeouts({150ms, vt::test::patience});
    vt::test::XdndTestTarget silent(100, 600, 200, 150, {.answersPositions = false});
    dragInto(silent, 150, 650);
    ASSERT_TRUE(runUntil(silent, [&] { return !outcomes.empty() && silent.leaves + silent.drops > 0; }));
    EXPECT_EQ(outcomes, std::vector{Outcome::timedOut});
    EXPECT_EQ(silent.drops, 0) << "no drop on a target that never accepted";
    EXPECT_EQ(silent.leaves, 1);
    EXPECT_FALSE(source->isActive());
    EXPECT_TRUE(source->begin(file)) << "the next drag starts";
}

TEST_F(XdndDragSourceTest, ADropNeverReportedFinishedEndsAfterItsTime) {
    useTimeouts({vt::test::patience, 2s}); // time enough for the target to read the drop
    vt::test::XdndTestTarget target(100, 600, 200, 150, {.finishesDrops = false});
    dragInto(target, 150, 650);
    ASSERT_TRUE(runUntil(target, [&] { return !outcomes.empty(); }));
    EXPECT_EQ(outcomes, std::vector{Outcome::timedOut});
    EXPECT_EQ(target.drops, 1);
    ASSERT_EQ(target.droppedUriLists.size(), 1u) << "the file stays offered while the target reads";
    EXPECT_EQ(target.droppedUriLists[0], file.uriList.toStdString());
    EXPECT_FALSE(source->isActive());
}

TEST_F(XdndDragSourceTest, EscapeLeavesTheTargetAndLettingGoOverNothingDropsNothing) {
    vt::test::XdndTestTarget target(100, 600, 200, 150);
    ASSERT_TRUE(source->begin(file));
    source->moveTo({150, 650}, 0);
    ASSERT_TRUE(runUntil(target, [&] { return target.positions > 0; }));
    source->cancel();
    source->release(0); // the button comes up after Escape
    ASSERT_TRUE(runUntil(target, [&] { return target.leaves + target.drops > 0; }));
    EXPECT_EQ(outcomes, std::vector{Outcome::cancelled});
    EXPECT_EQ(target.leaves, 1);
    EXPECT_EQ(target.drops, 0);

    // Into the target and out again onto the bare root window.
    ASSERT_TRUE(source->begin(file));
    source->moveTo({150, 650}, 0);
    ASSERT_TRUE(runUntil(target, [&] { return target.positions > 1; }));
    source->moveTo({900, 700}, 0);
    source->release(0);
    ASSERT_TRUE(runUntil(target, [&] { return target.leaves + target.drops > 1; }));
    EXPECT_EQ(outcomes, (std::vector{Outcome::cancelled, Outcome::refused}));
    EXPECT_EQ(target.enters, 2);
    EXPECT_EQ(target.leaves, 2);
    EXPECT_EQ(target.drops, 0);
}

// A drag out of a widget whose file is still being written when the pointer is let go: the pointer
// is free at once, the drop follows once the file is there, and a file that could not be written
// is never dropped.
TEST_F(XdndDragSourceTest, AFileStillBeingWrittenIsDroppedOnceWrittenAndNeverWhenItCannotBe) {
    vt::test::XdndTestTarget target(100, 600, 200, 150);
    QWidget row;
    row.setGeometry(700, 600, 120, 30);
    row.show();
    auto send = [&](QEvent::Type type, QPoint at) {
        QMouseEvent event(type, row.mapFromGlobal(QPointF(at)), QPointF(at), Qt::LeftButton,
                          type == QEvent::MouseMove ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&row, &event);
    };
    for (const bool writes : {true, false}) {
        QPromise<bool> writing;
        writing.start();
        vt::StagedDragFile staged = file;
        staged.written = writing.future();
        bool letGo = false;
        ASSERT_TRUE(vt::ui::startXdndFileDrag(&row, staged, [&] { letGo = true; }));
        const int positions = target.positions;
        send(QEvent::MouseMove, {150, 650});
        ASSERT_TRUE(runUntil(target, [&] { return target.positions > positions; }));
        const int drops = target.drops, leaves = target.leaves;
        send(QEvent::MouseButtonRelease, {160, 650});
        runFor(target, 100ms);
        EXPECT_EQ(target.drops, drops) << "no drop before the file is written";
        EXPECT_EQ(target.leaves, leaves);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr) << "the pointer is free at its release";
        writing.addResult(writes);
        writing.finish();
        ASSERT_TRUE(runUntil(target, [&] {
            return letGo && (writes ? !target.droppedUriLists.empty() : target.leaves > leaves);
        }));
        runFor(target, 50ms);
        EXPECT_EQ(target.drops, drops + (writes ? 1 : 0));
        EXPECT_EQ(target.leaves, leaves + (writes ? 0 : 1));
        EXPECT_EQ(target.droppedUriLists, std::vector<std::string>(1, file.uriList.toStdString()));
    }
}

} // namespace
