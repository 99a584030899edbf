#pragma once
// The sheet that points the user to the free phone app: a QR code of the app's store page, a
// short explanation, and buttons that open the store page and the manual in the web browser.
// It keeps no state and calls no controller operation; links go through the given opener.

#include "Platform/Desktop/DesktopServices.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeSheetPanel.h"

#include <memory>

class CompanionAppSheet final : public BridgeSheetPanel {
    Q_OBJECT

public:
    explicit CompanionAppSheet(std::shared_ptr<vt::UrlOpener> urlOpener, QWidget* parent = nullptr);

    QAbstractButton* appStoreButton() const { return appStoreButton_; }
    QAbstractButton* manualButton() const { return manualButton_; }
    QAbstractButton* closeButton() const { return closeButton_; }

signals:
    void dismissRequested();

private:
    QWidget* makeTextColumn(QWidget* parent);

    std::shared_ptr<vt::UrlOpener> urlOpener;
    QAbstractButton* appStoreButton_ = nullptr;
    QAbstractButton* manualButton_ = nullptr;
    vt::ui::PaintedButton* closeButton_ = nullptr;
};
