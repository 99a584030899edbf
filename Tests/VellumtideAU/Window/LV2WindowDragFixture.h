#pragma once
// Drags out of the plug-in's window as a person makes them, in a host that loads the window
// through suil: the host's loop and timer, a drop target in a program of its own, a drop target
// window of the host itself, the pointer moved through XTEST in small steps by a "person" thread,
// and the library the window lists.

#include "Tests/Support/Patience.h"
#include "Tests/Support/TemporaryFolder.h"
#include "Tests/Support/X11/XTestPointer.h"
#include "Tests/Support/X11/XdndTestTarget.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/Window/SuilWindowHost.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vt::test::drag {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using nlohmann::json;
using vt::test::TemporaryFolder;

constexpr const char* kickID = "8C0F4B5E-2D6A-4F1B-9E3C-7A5D1B2C3E4F";
constexpr const char* goneID = "1B2C3D4E-5F60-4718-8293-A4B5C6D7E8F9";
constexpr const char* chopID = "0F1E2D3C-4B5A-4697-8877-665544332211";
constexpr const char* kickFile = "Kick Zoë 01.wav";

// Where the windows sit on the 1280 × 800 screen: the host's window on the right, the two drop
// targets below the place where the window host test (which may run meanwhile) shows its own.
constexpr int hostWindowX = 640, hostWindowY = 0;
constexpr int otherProgramX = 20, otherProgramY = 570;
constexpr int hostTargetX = 330, hostTargetY = 570;
constexpr int targetWidth = 290, targetHeight = 200;

inline std::string fileText(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

inline QByteArray sha256(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (file.open(QIODevice::ReadOnly))
        hash.addData(&file);
    return hash.result().toHex();
}

// vt-drop-target, started with its output file and geometry, ended with SIGTERM.
class DropTargetProgram {
public:
    DropTargetProgram(const std::filesystem::path& output, int x, int y, int width, int height) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        const std::string geometry = std::to_string(x) + "," + std::to_string(y) + "," +
                                     std::to_string(width) + "," + std::to_string(height);
        std::string program = VT_DROP_TARGET, out = output.string();
        char* arguments[] = {program.data(),
                             const_cast<char*>("--out"),
                             out.data(),
                             const_cast<char*>("--geometry"),
                             const_cast<char*>(geometry.c_str()),
                             nullptr};
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments, environ) != 0)
            pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
        ::fcntl(output_, F_SETFL, O_NONBLOCK);
    }
    ~DropTargetProgram() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (output_ >= 0)
            ::close(output_);
    }
    // Reads what the program printed so far; true once it said READY.
    bool ready() {
        char buffer[256];
        ssize_t count;
        while ((count = ::read(output_, buffer, sizeof buffer)) > 0)
            printed.append(buffer, std::size_t(count));
        return printed.find("READY") != std::string::npos;
    }

private:
    pid_t pid = 0;
    int output_ = -1;
    std::string printed;
};

// The host's loop. A host without Qt's loop (GTK, Qt 5): every turn fires the host's 16 ms timer
// (its times are kept), handles the host's own X events and calls the window's idle(). A Qt 6
// host: every turn runs the application's event loop for 16 ms, and a Qt timer of the host
// fires every 16 ms within whatever loop runs.
class HostLoop {
public:
    HostLoop(vt::test::SuilWindowHost& window, vt::test::XdndTestTarget& target, bool qtHost)
        : window(window), target(target), qtHost(qtHost) {
        if (!qtHost)
            return;
        qtTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&qtTimer, &QTimer::timeout, [this] {
            firings.push_back(Clock::now());
            this->target.pump();
        });
        qtTimer.start(16ms);
    }

    void turn() {
        if (qtHost) {
            QEventLoop slice;
            QTimer::singleShot(16ms, &slice, &QEventLoop::quit);
            slice.exec();
            return;
        }
        std::this_thread::sleep_until(nextFiring);
        const auto now = Clock::now();
        nextFiring = std::max(nextFiring + 16ms, now);
        firings.push_back(now);
        target.pump();
        window.idle();
        longestIdle = std::max(longestIdle, Clock::now() - now);
    }
    void turns(int count) {
        for (int i = 0; i < count; ++i)
            turn();
    }
    bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            turn();
            if (condition())
                return true;
        }
        return false;
    }
    // The longest time between two firings of the host's timer from the firing numbered from on.
    std::chrono::milliseconds longestGapSince(std::size_t from) const {
        auto longest = Clock::duration::zero();
        for (std::size_t i = from + 1; i < firings.size(); ++i)
            longest = std::max(longest, firings[i] - firings[i - 1]);
        return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
    }
    std::size_t firingCount() const { return firings.size(); }
    // The longest idle() call so far, for the messages.
    long longestIdleMilliseconds() const {
        return long(std::chrono::duration_cast<std::chrono::milliseconds>(longestIdle).count());
    }

private:
    vt::test::SuilWindowHost& window;
    vt::test::XdndTestTarget& target;
    Clock::time_point nextFiring = Clock::now();
    std::vector<Clock::time_point> firings;
    Clock::duration longestIdle{};
    bool qtHost;
    QTimer qtTimer;
};

class LV2WindowDragTest : public ::testing::Test {
protected:
    // A Qt 6 host: the application and its running loop are the host's.
    virtual bool qtHost() const { return false; }

    void SetUp() override {
        if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY"))
            GTEST_SKIP() << "no private X server (scripts/test-services.sh starts Xvfb)";
        if (qtHost() && !QApplication::instance()) {
            static int argc = 3;
            static char name[] = "qt-host", option[] = "-platform", platform[] = "xcb";
            static char* argv[] = {name, option, platform, nullptr};
            new QApplication(argc, argv); // the host's, for the whole process
        }
        // One installed bundle per process: a host loads one copy of the window's module.
        static TemporaryFolder installation;
        static const auto prefix =
            (vt::test::installBundleBesideStandIn(installation / "prefix"), installation / "prefix");
        ::setenv("HOME", (folder / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        ::setenv("LV2_PATH", (prefix / "lib" / "lv2").c_str(), 1);
        ::unsetenv("QT_QPA_PLATFORM");
        // The companion-app sheet of a first opening would cover the list.
        vt::test::writeFile(folder / "config" / "vellumtide" / "VellumtideAU.ini",
                            "[General]\nVellumtideAU.didShowCompanionAppOnFirstOpen=true\n");
        writeLibrary();
        ASSERT_TRUE(pointer.valid()) << "the X server has no XTEST";
        ASSERT_TRUE(hostTarget.valid());
        host = std::make_unique<vt::test::LilvHost>(); // reads LV2_PATH
        instance = std::make_unique<vt::test::HostedPlugin>(*host, vt::lv2::pluginURI, 48000, 256);
        ASSERT_TRUE(instance->valid());
        window =
            std::make_unique<vt::test::SuilWindowHost>(*host, *instance, 640, 540, hostWindowX, hostWindowY);
        ASSERT_TRUE(window->valid());
        loop = std::make_unique<HostLoop>(*window, hostTarget, qtHost());
        ASSERT_TRUE(loop->runUntil([this] { return sampleRow("Kick") && sampleRow("Gone"); }))
            << "the window lists the library";
    }

    void TearDown() override {
        pointer.releaseButton();
        window.reset();
        instance.reset();
    }

    // "Kick" (its file named with a space and a non-ASCII letter) with one chop, and "Gone", whose
    // file is missing, in the default library folder.
    void writeLibrary() {
        const auto library = folder / "home" / "Music" / "Vellumtide";
        auto sample = [](const char* id, const char* title, const char* fileName, const char* createdAt) {
            return json{{"id", id},
                        {"title", title},
                        {"createdAt", createdAt},
                        {"fileName", fileName},
                        {"duration", 0.1},
                        {"sampleRate", 44100},
                        {"channelCount", 2},
                        {"byteCount", 35320},
                        {"peaks", std::vector<float>(64, 0.5f)}};
        };
        vt::test::writeFile(library / "library.json",
                            json::array({sample(kickID, "Kick", kickFile, "2024-03-05T07:08:09Z"),
                                         sample(goneID, "Gone", "gone.wav", "2024-03-04T07:08:09Z")})
                                .dump());
        vt::test::writeFile(library / "bridge-metadata.json",
                            json{{kickID,
                                  {{"chops", json::array({json{{"id", chopID},
                                                               {"index", 0},
                                                               {"startTime", 0.02},
                                                               {"endTime", 0.06},
                                                               {"strength", 0.8}}})}}}}
                                .dump());
        kickPath = library / "Samples" / kickFile;
        chopPath = library / "Chops" / (std::string(kickID) + "-chop-" + chopID + ".wav");
        std::filesystem::create_directories(chopPath.parent_path());
        std::filesystem::create_directories(kickPath.parent_path());
        vt::test::writeFloatWav(kickPath, 44100, vt::test::rampChannels(4410, 2));
        vt::test::writeFloatWav(chopPath, 44100, vt::test::rampChannels(1764, 2));
    }

    static QWidget* findWidget(const char* className, const QString& accessibleName) {
        for (QWidget* widget : QApplication::allWidgets())
            if (widget->inherits(className) && widget->isVisible() &&
                widget->accessibleName() == accessibleName)
                return widget;
        return nullptr;
    }
    static QWidget* sampleRow(const QString& title) { return findWidget("VellumtideAUSampleRow", title); }
    static QWidget* chopRow(const QString& title) { return findWidget("VellumtideAUChopRow", title); }

    // The row once it is shown and its place on the screen has held for a few turns of the loop
    // (a list that was just rebuilt is still being laid out); nothing if it never settles.
    QWidget* settled(const std::function<QWidget*()>& find) {
        QRect last;
        int steady = 0;
        QWidget* row = nullptr;
        loop->runUntil([&] {
            row = find();
            const QRect place = row ? QRect(row->mapToGlobal(QPoint()), row->size()) : QRect();
            steady = row && place == last ? steady + 1 : 0;
            last = place;
            return steady >= 5;
        });
        return steady >= 5 ? row : nullptr;
    }

    // A point on the row away from its buttons, in root window pixels.
    static QPoint grabPoint(QWidget* row) { return row->mapToGlobal(QPoint(70, row->height() / 2)); }
    static QPoint centre(int x, int y) { return {x + targetWidth / 2, y + targetHeight / 2}; }

    // Runs a person's gesture in a thread of their own while the host's loop goes on, as it
    // would beside a real hand on the mouse; returns when the gesture is done.
    void asPerson(const std::function<void()>& gesture) {
        std::atomic<bool> done = false;
        std::thread person([&] {
            gesture();
            done = true;
        });
        while (!done)
            loop->turn();
        person.join();
    }
    static void pause(int frames = 1) { std::this_thread::sleep_for(frames * 16ms); }

    // Glides the pointer in steps of at most 12 pixels, 16 ms apart (part of a gesture).
    void glide(QPoint from, QPoint to) {
        const QPoint distance = to - from;
        const int steps = std::max(1, int(std::ceil(std::hypot(distance.x(), distance.y()) / 12.0)));
        for (int step = 1; step <= steps; ++step) {
            const QPoint at = from + distance * step / steps;
            pointer.moveTo(at.x(), at.y());
            pause();
        }
    }
    // Rests the pointer on the point of a row (the window answers its arrival) and returns the
    // number of the host timer's next firing: the drag's own time starts there.
    std::size_t restOn(QPoint from) {
        asPerson([&] {
            pointer.moveTo(from.x(), from.y());
            pause(8);
        });
        return loop->firingCount();
    }
    // Presses and glides to the point with the button held.
    void pressAndGlide(QPoint from, QPoint to) {
        pointer.pressButton();
        pause(3);
        glide(from, to);
        pause(4);
    }

    // One drag out of a row: the number of the host timer's firing when the gesture began, and how
    // long the button was held.
    struct Gesture {
        std::size_t firstFiring = 0;
        Clock::duration held{};
    };
    // Presses on the row, glides to the point and lets go there.
    Gesture dragRow(QWidget* row, QPoint to) {
        const QPoint from = grabPoint(row);
        Gesture gesture{restOn(from)};
        asPerson([&] {
            const auto pressed = Clock::now();
            pressAndGlide(from, to);
            pointer.releaseButton();
            gesture.held = Clock::now() - pressed;
        });
        return gesture;
    }
    // The host's timer kept firing through the drag: a loop nested in a call of the host's would
    // hold it from the drag's start until the drop, most of the time the button was held, while a
    // busy machine only delays single firings. The longest gap itself is a benchmark's figure.
    void expectTheHostsTimerKeptFiring(const Gesture& gesture) const {
        const auto gap = loop->longestGapSince(gesture.firstFiring);
        EXPECT_LT(gap, gesture.held / 2)
            << "the host's timer stopped for " << gap.count() << " ms of a drag held for "
            << std::chrono::duration_cast<std::chrono::milliseconds>(gesture.held).count()
            << " ms (longest idle call " << loop->longestIdleMilliseconds() << " ms)";
    }

    void click(QWidget* widget) {
        const QPoint at = widget->mapToGlobal(widget->rect().center());
        asPerson([&] {
            pointer.moveTo(at.x(), at.y());
            pause(2);
            pointer.pressButton();
            pause(2);
            pointer.releaseButton();
            pause(2);
        });
    }

    // The file a text/uri-list names (its one file:// URL).
    static std::filesystem::path droppedFile(const std::string& uriList) {
        const auto end = uriList.find("\r\n");
        const QUrl url = QUrl::fromEncoded(QByteArray::fromStdString(uriList.substr(0, end)));
        EXPECT_TRUE(url.isLocalFile()) << uriList;
        return url.toLocalFile().toStdString();
    }

    // One line the other program wrote for a dropped URL: url, size and digest.
    static std::vector<std::string> fields(const std::string& line) {
        std::vector<std::string> parts;
        std::size_t start = 0, tab;
        while ((tab = line.find('\t', start)) != std::string::npos) {
            parts.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        parts.push_back(line.substr(start, line.find('\n', start) - start));
        return parts;
    }

    TemporaryFolder folder;
    vt::test::XTestPointer pointer;
    vt::test::XdndTestTarget hostTarget{hostTargetX, hostTargetY, targetWidth, targetHeight};
    std::unique_ptr<vt::test::LilvHost> host;
    std::unique_ptr<vt::test::HostedPlugin> instance;
    std::unique_ptr<vt::test::SuilWindowHost> window;
    std::unique_ptr<HostLoop> loop;
    std::filesystem::path kickPath;
    std::filesystem::path chopPath;
};

} // namespace vt::test::drag
