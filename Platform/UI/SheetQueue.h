#pragma once
// The overlays of one window, shown one at a time in an order a person can follow: alerts first,
// then the sheets the user asked for, then the sheets the program offers. An alert may come up
// over the sheet the user works in; anything else waits until the overlay before it has closed.
// The choice is made a turn of the event loop later, so what is asked for in one moment (a
// start-up, a URL that wakes the program) is sorted by that order, not by when it was asked for.

#include "Platform/UI/SheetOverlay.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

namespace vt::ui {

class SheetQueue final : public QObject {
public:
    enum class Kind { alert, requested, offered }; // in the order they are shown
    using PanelMaker = std::function<QWidget*()>;
    using Presented = std::function<void(SheetOverlay*)>;

    explicit SheetQueue(QWidget* host);

    // Asks for the panel that make builds when its turn comes; presented is handed its overlay
    // as it comes up. A request waiting under the same key is replaced; while one is up under it,
    // the new one waits behind it.
    void request(const QString& key, Kind kind, PanelMaker make, Presented presented = {});
    // Forgets a waiting request and dismisses the overlay that is up under key.
    void withdraw(const QString& key);

    bool isWaiting(const QString& key) const;
    // The overlay up under key; nothing while it waits or after it closed.
    SheetOverlay* overlay(const QString& key) const;

private:
    struct Waiting {
        QString key;
        Kind kind;
        PanelMaker make;
        Presented presented;
        quint64 order;
    };
    struct Shown {
        QString key;
        Kind kind;
        QPointer<SheetOverlay> overlay;
    };

    void scheduleNext();
    void showNext();
    void forgetClosed();
    bool mayShowNow(Kind kind) const;

    QPointer<QWidget> host;
    std::vector<Waiting> waiting;
    std::vector<Shown> shown; // bottom first
    quint64 nextOrder = 0;
    bool isScheduled = false;
};

} // namespace vt::ui
