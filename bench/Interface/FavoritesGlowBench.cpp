// The favourites filter's endless pulse with the filter on: the main thread's CPU time per second
// of pulsing and per frame, for the shared glow (a cached blurred halo on a layer behind the
// button) against the peer, the drop-shadow effect on the button, which blurs the button again at
// every frame. Both take the same frames from the same pulse (its visible steps), so both repaint
// at the same rate; both run in the same window layout (a pane, a header row as tall as the
// button, a list below) in the same run; offscreen Qt paints into memory like a window would.

#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideFavoritesGlow.h"

#include <QApplication>
#include <QEventLoop>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

namespace {

double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

class Pane final : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), vt::ui::palette::background); }
};

// The capsule with its label, drawn like the windows' buttons at the current pulse.
class Capsule final : public QWidget {
public:
    Capsule() { setFixedSize(112, 32); }
    double pulse = 0;
    VellumtideFavoritesFilterLook look() const { return VellumtideFavoritesFilterLook::at(true, pulse); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        paintFavoritesCapsule(painter, QRectF(rect()).adjusted(0.7, 0.7, -0.7, -0.7), true, look());
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Favorites"));
    }
};

enum class Way { sharedGlow, dropShadowEffect };

// A pane like the samples pane: a header row with a title and the capsule, a list below.
struct Window {
    explicit Window(Way way) {
        pane.resize(900, 600);
        auto* column = new QVBoxLayout(&pane);
        column->setContentsMargins(20, 20, 20, 20);
        auto* header = new QWidget;
        header->setFixedHeight(32);
        auto* row = new QHBoxLayout(header);
        row->setContentsMargins(0, 0, 0, 0);
        auto* title = new QLabel(QStringLiteral("Synced Samples"));
        title->setStyleSheet(QStringLiteral("color: white; font-size: 22px; font-weight: bold;"));
        row->addWidget(title);
        row->addStretch(1);
        capsule = new Capsule;
        row->addWidget(capsule);
        column->addWidget(header);
        for (int index = 0; index < 4; ++index) {
            auto* card = new QLabel(QStringLiteral("Sample %1").arg(index + 1));
            card->setFixedHeight(100);
            card->setStyleSheet(QStringLiteral("background: #202020; color: white; border-radius: 8px;"));
            column->addWidget(card);
        }
        column->addStretch(1);
        if (way == Way::sharedGlow) {
            glow = new VellumtideFavoritesGlow(capsule, [this] { return capsule->look(); });
        } else {
            shadow = new QGraphicsDropShadowEffect(capsule);
            shadow->setOffset(0, 0);
            capsule->setGraphicsEffect(shadow);
        }
        pane.show();
    }

    // One frame of the pulse, as each window's button takes it.
    void setPulse(double value) {
        capsule->pulse = value;
        const auto look = capsule->look();
        if (shadow) {
            shadow->setColor(vt::ui::withOpacity(vt::ui::palette::amber, look.glowOpacity));
            shadow->setBlurRadius(2 * look.glowRadius);
        }
        glow ? glow->refresh() : capsule->update();
    }

    Pane pane;
    Capsule* capsule = nullptr;
    VellumtideFavoritesGlow* glow = nullptr;
    QGraphicsDropShadowEffect* shadow = nullptr;
};

struct PulseCost {
    double cpuMsPerSecond = 0;
    double cpuMsPerFrame = 0;
    double framesPerSecond = 0;
};

// Runs the pulse for the span, each of its frames taken by the window's button.
PulseCost measure(Way way, std::chrono::milliseconds span) {
    Window window(way);
    int frames = 0;
    VellumtideFavoritesPulse steps([&](double value) {
        window.setPulse(value);
        ++frames;
    });
    QApplication::processEvents();
    steps.start();
    const auto started = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuMilliseconds();
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = threadCpuMilliseconds() - cpuStart;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return {cpu / seconds, cpu / std::max(frames, 1), frames / seconds};
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const auto span = std::chrono::milliseconds(3000);
    measure(Way::sharedGlow, std::chrono::milliseconds(300)); // warm-up: fonts, the halo cache
    // Alternating rounds; the lowest of each counts (least disturbed by the rest of the machine).
    PulseCost glow{1e9, 1e9, 0}, peer{1e9, 1e9, 0};
    for (int round = 0; round < 3; ++round) {
        for (auto [way, best] :
             {std::pair{Way::sharedGlow, &glow}, std::pair{Way::dropShadowEffect, &peer}}) {
            const PulseCost cost = measure(way, span);
            best->cpuMsPerSecond = std::min(best->cpuMsPerSecond, cost.cpuMsPerSecond);
            best->cpuMsPerFrame = std::min(best->cpuMsPerFrame, cost.cpuMsPerFrame);
            best->framesPerSecond = std::max(best->framesPerSecond, cost.framesPerSecond);
        }
    }
    std::printf(
        "favourites pulse, filter on, both at the pulse's frames (%.1f and %.1f frames/s): shared glow "
        "%.2f ms/s and %.3f ms/frame of main thread, drop-shadow effect %.2f ms/s and %.3f ms/frame\n",
        glow.framesPerSecond, peer.framesPerSecond, glow.cpuMsPerSecond, glow.cpuMsPerFrame,
        peer.cpuMsPerSecond, peer.cpuMsPerFrame);
    std::printf(
        "BENCH glow_ms_per_s=%.2f glow_peer_ms_per_s=%.2f glow_ms_per_frame=%.3f glow_peer_ms_per_frame=%.3f "
        "glow_frames_per_s=%.1f glow_peer_frames_per_s=%.1f glow_speed_vs_effect=%.2f "
        "glow_speed_vs_effect_per_frame=%.2f\n",
        glow.cpuMsPerSecond, peer.cpuMsPerSecond, glow.cpuMsPerFrame, peer.cpuMsPerFrame,
        glow.framesPerSecond, peer.framesPerSecond, peer.cpuMsPerSecond / glow.cpuMsPerSecond,
        peer.cpuMsPerFrame / glow.cpuMsPerFrame);
    return 0;
}
