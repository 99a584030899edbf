// The favourites filter's endless pulse with the filter on: the main thread's CPU time per second
// of pulsing, for the shared pulse and glow (a cached blurred halo on a layer behind the button,
// repainted at the pulse's visible steps) against the peer, the drop-shadow effect on the button,
// which blurs the button again at every animation frame. Both run in the same window layout (a
// pane, a header row as tall as the button, a list below) in the same run; offscreen Qt paints
// into memory like a window would.

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
#include <QVariantAnimation>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

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

// Runs the pulse for the span and returns the main thread's CPU milliseconds per second of it:
// the shared pulse for the shared glow, and for the peer the animation the windows used with it
// (every animation frame, 1.15 s each way, eased).
double measure(Way way, std::chrono::milliseconds span) {
    Window window(way);
    VellumtideFavoritesPulse steps([&](double value) { window.setPulse(value); });
    QVariantAnimation frames;
    frames.setStartValue(0.0);
    frames.setEndValue(1.0);
    frames.setDuration(VellumtideFavoritesPulse::swingMilliseconds);
    frames.setEasingCurve(QEasingCurve::InOutSine);
    frames.setLoopCount(-1);
    QObject::connect(&frames, &QVariantAnimation::valueChanged,
                     [&](const QVariant& value) { window.setPulse(value.toDouble()); });
    QApplication::processEvents();
    way == Way::sharedGlow ? steps.start() : frames.start();
    const auto started = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuMilliseconds();
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = threadCpuMilliseconds() - cpuStart;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return cpu / seconds;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const auto span = std::chrono::milliseconds(3000);
    measure(Way::sharedGlow, std::chrono::milliseconds(300)); // warm-up: fonts, the halo cache
    // Alternating rounds; the lowest of each counts (least disturbed by the rest of the machine).
    double glow = 1e9, peer = 1e9;
    for (int round = 0; round < 3; ++round) {
        glow = std::min(glow, measure(Way::sharedGlow, span));
        peer = std::min(peer, measure(Way::dropShadowEffect, span));
    }
    std::printf(
        "favourites pulse, filter on: shared glow %.2f ms/s of main thread, drop-shadow effect %.2f ms/s\n",
        glow, peer);
    std::printf("BENCH glow_ms_per_s=%.2f glow_peer_ms_per_s=%.2f glow_speed_vs_effect=%.2f\n", glow, peer,
                peer / glow);
    return 0;
}
