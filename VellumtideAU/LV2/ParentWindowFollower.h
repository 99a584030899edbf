#pragma once
// Keeps an embedded window as large as the host's X11 window it lives in: it watches the host
// window's size changes on the application's own X connection and resizes the embedded widget to
// match (never below the widget's minimum size).

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>

class ParentWindowFollower final : public QAbstractNativeEventFilter {
public:
    // Starts following parent; none without an X11 application (nothing is then followed).
    static std::unique_ptr<ParentWindowFollower> follow(QWidget* view, std::uint32_t parent);
    ~ParentWindowFollower() override;
    ParentWindowFollower(const ParentWindowFollower&) = delete;
    ParentWindowFollower& operator=(const ParentWindowFollower&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    ParentWindowFollower(QWidget* view, void* connection, std::uint32_t parent);
    void watchParent();
    void adoptParentSizeWhenRoomy();

    QPointer<QWidget> view;
    void* connection; // the application's xcb_connection_t
    std::uint32_t parent;
};
