#pragma once
// The sample card's title with rename in place: a button showing the title and a small pencil;
// a click turns it into a text field. Return or the field losing the focus commits the trimmed
// text through the controller (a blank text or the same title changes nothing).

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QWidget>

class QAbstractButton;
class QLineEdit;

class BridgeSampleTitle final : public QWidget {
public:
    BridgeSampleTitle(BridgeViewModel& model, SampleItem sample, QWidget* parent = nullptr);
    ~BridgeSampleTitle() override;

    // The card's fresh copy of its sample; a new sample ends a rename, a new title shows unless
    // a rename is under way.
    void setSample(const SampleItem& sample);
    bool isRenaming() const { return renaming; }
    // A click elsewhere on the card ends a rename, as a click anywhere outside the field does.
    void leaveField();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void beginRenaming();
    void submitTitle();
    void titleFocusLost();
    bool finishRenaming();
    void commitTitle();
    void refresh();

    BridgeViewModel& model;
    SampleItem sample;
    QString draftTitle;
    bool renaming = false;
    bool isTitleFocused = false;
    QAbstractButton* titleButton;
    QLineEdit* titleField;
};
