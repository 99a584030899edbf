#pragma once
// The sheet in which the user types the six-digit code the phone shows. When it appears it asks
// the phone to show its code and focuses the code field; the field keeps at most six numeric
// characters, grouped "123 456". Pair (or Return) with exactly six pairs; Cancel and the close
// button cancel the request. It closes only through its own controls or a successful pairing.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeSheetPanel.h"

class QLineEdit;

class BridgePairingSheet final : public BridgeSheetPanel {
    Q_OBJECT

public:
    BridgePairingSheet(BridgeViewModel& model, BridgePairingRequest request, QWidget* parent = nullptr);

    const BridgePairingRequest& request() const { return request_; }
    QString code() const;
    // The numeric characters of the code field, in order.
    QString cleanCode() const;
    QLineEdit* codeField() const { return codeField_; }
    QAbstractButton* pairButton() const { return pairButton_; }
    QAbstractButton* cancelButton() const { return cancelButton_; }
    QAbstractButton* closeButton() const { return closeButton_; }

    // The numeric characters of text (every character the Unicode number test accepts).
    static QString numericCharacters(const QString& text);
    // What the field shows for a typed text: its first six numeric characters, with one space
    // after the third when four or more remain.
    static QString formattedCode(const QString& typed);
    // The cursor position in a formatted code just after its first digits numeric characters.
    static qsizetype positionAfterDigits(const QString& formatted, qsizetype digits);

    // Pairs with the typed code when it has exactly six numeric characters; otherwise nothing.
    void pair();
    void cancel();

signals:
    // The sheet asks to be closed (after Cancel, the close button or a successful pairing).
    void dismissRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void codeDidChange(const QString& text);

    BridgeViewModel& model;
    BridgePairingRequest request_;
    QLineEdit* codeField_ = nullptr;
    QAbstractButton* pairButton_ = nullptr;
    QAbstractButton* cancelButton_ = nullptr;
    vt::ui::PaintedButton* closeButton_ = nullptr;
    bool didAppear = false;
};
