#pragma once
// The panel every sheet of the desktop window is drawn on: a fixed-width dark card whose content
// column has the sheet's padding and spacing, and whose height follows its wrapped texts. Also
// the sheets' common header: a large title over a monospaced accent subtitle, with a close button.

#include "Platform/UI/Widgets.h"

#include <QVBoxLayout>
#include <QWidget>

class BridgeSheetPanel : public QWidget {
public:
    BridgeSheetPanel(int width, int padding, int spacing, QWidget* parent = nullptr);

    QVBoxLayout* column() const { return column_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* column_;
};

// The header row of a sheet; the close button is returned through closeButton.
QWidget* makeSheetHeader(const QString& title, const QString& subtitle, vt::ui::PaintedButton** closeButton,
                         QWidget* parent = nullptr);
