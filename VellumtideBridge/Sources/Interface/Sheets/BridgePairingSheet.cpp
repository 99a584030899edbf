#include "VellumtideBridge/Sources/Interface/Sheets/BridgePairingSheet.h"

#include "Platform/Async/Spawn.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <QLineEdit>
#include <QPointer>

namespace {

using vt::ui::FontWeight;
namespace palette = vt::ui::palette;

constexpr int sheetWidth = 430;
constexpr int codeLength = 6;

qsizetype characterCount(const QString& text) {
    return text.toUcs4().size();
}

QString codeFieldStyle() {
    return QStringLiteral(
        "QLineEdit { background: rgba(255,255,255,14); border: 1px solid rgba(255,255,255,40);"
        " border-radius: 6px; padding: 4px 8px; color: white; }"
        " QLineEdit:focus { border: 2px solid rgb(82,219,204); padding: 3px 7px; }");
}

} // namespace

BridgePairingSheet::BridgePairingSheet(BridgeViewModel& model, BridgePairingRequest request, QWidget* parent)
    : BridgeSheetPanel(sheetWidth, 22, 18, parent), model(model), request_(std::move(request)) {
    column()->addWidget(makeSheetHeader(QStringLiteral("Pair iPhone"),
                                        QStringLiteral("Trust this Bridge before syncing samples."),
                                        &closeButton_, this));

    auto* box = new vt::ui::CardFrame(palette::surface,
                                      vt::ui::Border{vt::ui::withOpacity(palette::amber, 0.24), 1}, this);
    auto* boxColumn = vt::ui::makeColumn(box, 12);
    boxColumn->setContentsMargins(14, 14, 14, 14);

    auto* phoneRow = new QHBoxLayout;
    phoneRow->setSpacing(10);
    phoneRow->addWidget(new vt::ui::GlyphView("iphone.and.arrow.forward", 20, palette::cyan, QSize(34, 34),
                                              vt::ui::withOpacity(palette::cyan, 0.12), box));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(new vt::ui::ElidedLabel(QString::fromStdString(request_.deviceName),
                                             vt::ui::systemFont(14, FontWeight::semibold),
                                             vt::ui::white(0.82)));
    names->addWidget(new vt::ui::ElidedLabel(QString::fromStdString(request_.detail),
                                             vt::ui::monospacedFont(11, FontWeight::medium),
                                             vt::ui::white(0.42)));
    phoneRow->addLayout(names, 1);
    boxColumn->addLayout(phoneRow);

    boxColumn->addWidget(vt::ui::makeText(
        QStringLiteral(
            "Open Vellumtide on the iPhone. The PAIR code appears only while this pairing window is open."),
        vt::ui::systemFont(12, FontWeight::medium), vt::ui::white(0.58), true, box));

    codeField_ = new QLineEdit(box);
    codeField_->setObjectName(QStringLiteral("pairingCodeField"));
    codeField_->setPlaceholderText(QStringLiteral("000 000"));
    codeField_->setFont(vt::ui::monospacedFont(22, FontWeight::bold));
    codeField_->setStyleSheet(codeFieldStyle());
    codeField_->setAccessibleName(QStringLiteral("Pair code"));
    boxColumn->addWidget(codeField_);
    column()->addWidget(box);

    auto* buttons = new QHBoxLayout;
    auto* cancel =
        new bridge::LabeledButton(QStringLiteral("Cancel"), {}, bridge::ButtonStyle::bordered, this);
    auto* pairButton = new bridge::LabeledButton(QStringLiteral("Pair"), "lock.open.fill",
                                                 bridge::ButtonStyle::borderedProminent, this);
    pairButton->setFixedWidth(118);
    pairButton->setTint(palette::cyan);
    cancelButton_ = cancel;
    pairButton_ = pairButton;
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(pairButton);
    column()->addLayout(buttons);

    setFocusProxy(codeField_);
    pairButton_->setEnabled(false);
    connect(codeField_, &QLineEdit::textChanged, this, &BridgePairingSheet::codeDidChange);
    connect(codeField_, &QLineEdit::returnPressed, this, &BridgePairingSheet::pair);
    connect(pairButton_, &QAbstractButton::clicked, this, &BridgePairingSheet::pair);
    connect(cancelButton_, &QAbstractButton::clicked, this, &BridgePairingSheet::cancel);
    connect(closeButton_, &QAbstractButton::clicked, this, &BridgePairingSheet::cancel);
}

QString BridgePairingSheet::code() const {
    return codeField_->text();
}

QString BridgePairingSheet::cleanCode() const {
    return numericCharacters(code());
}

QString BridgePairingSheet::numericCharacters(const QString& text) {
    QString kept;
    for (char32_t character : text.toUcs4())
        if (QChar::isNumber(character))
            kept.append(QString::fromUcs4(&character, 1));
    return kept;
}

QString BridgePairingSheet::formattedCode(const QString& typed) {
    const QList<uint> digits = numericCharacters(typed).toUcs4();
    const qsizetype count = std::min<qsizetype>(digits.size(), codeLength);
    QString result;
    for (qsizetype index = 0; index < count; ++index) {
        if (index == 3 && count >= 4)
            result.append(QLatin1Char(' '));
        const char32_t character = digits[index];
        result.append(QString::fromUcs4(&character, 1));
    }
    return result;
}

qsizetype BridgePairingSheet::positionAfterDigits(const QString& formatted, qsizetype digits) {
    qsizetype seen = 0;
    qsizetype position = 0;
    while (seen < digits && position < formatted.size()) {
        const char32_t character = QStringView(formatted).mid(position).toUcs4().front();
        position += QChar::requiresSurrogates(character) ? 2 : 1;
        seen += QChar::isNumber(character) ? 1 : 0;
    }
    return position;
}

void BridgePairingSheet::codeDidChange(const QString& text) {
    const QString formatted = formattedCode(text);
    if (formatted != text) {
        // The cursor stays after the same digit it followed in what was typed.
        const qsizetype digitsBefore =
            numericCharacters(text.left(codeField_->cursorPosition())).toUcs4().size();
        codeField_->setText(formatted); // runs this handler once more, without a further change
        codeField_->setCursorPosition(int(positionAfterDigits(formatted, digitsBefore)));
        return;
    }
    pairButton_->setEnabled(characterCount(cleanCode()) == codeLength);
}

void BridgePairingSheet::showEvent(QShowEvent* event) {
    BridgeSheetPanel::showEvent(event);
    if (didAppear)
        return;
    didAppear = true;
    model.requestPairingCode(request_);
    codeField_->setFocus(Qt::OtherFocusReason);
}

void BridgePairingSheet::pair() {
    if (characterCount(cleanCode()) != codeLength)
        return;
    QPointer<BridgePairingSheet> self(this);
    BridgeViewModel* controller = &model;
    vt::spawn([self, controller, request = request_, code = cleanCode()]() -> QCoro::Task<> {
        co_await controller->pair(request, code);
        if (self && !controller->pairingRequest())
            emit self->dismissRequested();
    });
}

void BridgePairingSheet::cancel() {
    model.cancelPairing();
    emit dismissRequested();
}
