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
class QScrollArea;
namespace vt::ui {
class PaintedButton;
} // namespace vt::ui

class CompanionAppSheet final : public QWidget {
    Q_OBJECT

public:
    static constexpr int sheetWidth = 470;
    // The least space kept on either side of the sheet in a window narrower than the sheet.
    static constexpr int windowMargin = 8;

    CompanionAppSheet(std::function<void()> dismiss, std::shared_ptr<vt::UrlOpener> urlOpener,
                      QColor background, QColor surface, QColor cyan, QWidget* parent = nullptr);

    // 470 wide, or the width of a narrower window less its margins; as tall as the wrapped
    // description needs at that width. A shorter window scrolls the sheet's content.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QScrollArea* scrollArea() const { return scroller; }
    vt::ui::PaintedButton* closeButton() const { return close; }
    QPushButton* phoneLinkButton() const { return phoneLink; }
    QPushButton* manualButton() const { return manual; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeCard();
    int widthInWindow() const;

    std::function<void()> dismiss;
    std::shared_ptr<vt::UrlOpener> urlOpener;
    QColor background;
    QColor surface;
    QColor cyan;
    QScrollArea* scroller = nullptr;
    QWidget* content = nullptr;
    vt::ui::PaintedButton* close = nullptr;
    QPushButton* phoneLink = nullptr;
    QPushButton* manual = nullptr;
};
