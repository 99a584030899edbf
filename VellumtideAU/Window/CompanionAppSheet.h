#pragma once
// The sheet that introduces the companion phone app: a QR code of its store link, one sentence
// on what it does, a button that opens the link and one that opens the manual. It opens links
// only and dismisses itself with its close button.

#include "Platform/Desktop/DesktopServices.h"

#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>

class QPushButton;
namespace vt::ui {
class PaintedButton;
} // namespace vt::ui

class CompanionAppSheet final : public QWidget {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 470;

    CompanionAppSheet(std::function<void()> dismiss, std::shared_ptr<vt::UrlOpener> urlOpener,
                      QColor background, QColor surface, QColor cyan, QWidget* parent = nullptr);

    // Always 470 wide; as tall as the wrapped description needs.
    QSize sizeHint() const override;
    vt::ui::PaintedButton* closeButton() const { return close; }
    QPushButton* phoneLinkButton() const { return phoneLink; }
    QPushButton* manualButton() const { return manual; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeCard();

    std::function<void()> dismiss;
    std::shared_ptr<vt::UrlOpener> urlOpener;
    QColor background;
    QColor surface;
    QColor cyan;
    vt::ui::PaintedButton* close = nullptr;
    QPushButton* phoneLink = nullptr;
    QPushButton* manual = nullptr;
};
