#include "VellumtideAU/Window/CompanionAppSheet.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideExternalLinks.h"
#include "Shared/Interface/VellumtideQRCodeView.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

using namespace VellumtideWindowKit;
using vt::ui::FontWeight;

CompanionAppSheet::CompanionAppSheet(std::function<void()> dismiss, std::shared_ptr<vt::UrlOpener> urlOpener,
                                     QColor background, QColor surface, QColor cyan, QWidget* parent)
    : QWidget(parent), dismiss(std::move(dismiss)), urlOpener(std::move(urlOpener)), background(background),
      surface(surface), cyan(cyan) {
    setFixedWidth(sheetWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(18);
    column->addWidget(makeHeader());
    column->addWidget(makeCard());
}

QWidget* CompanionAppSheet::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(
        textLabel(QStringLiteral("Free iPhone app"), vt::ui::systemFont(24, FontWeight::bold), Qt::white));
    titles->addWidget(textLabel(QStringLiteral("Syncs with Vellumtide Bridge for computer."),
                                vt::ui::monospacedFont(12, FontWeight::bold), cyan));
    row->addLayout(titles, 1);
    close = windowButton(vt::ui::makeGlyphButton("xmark", 14, vt::ui::white(0.8), QSize(28, 28), std::nullopt,
                                                 QStringLiteral("Close")));
    connect(close, &QAbstractButton::clicked, this, [this] {
        if (dismiss)
            dismiss();
    });
    row->addWidget(close, 0, Qt::AlignTop);
    return header;
}

QWidget* CompanionAppSheet::makeCard() {
    auto* card = new vt::ui::CardFrame(surface, std::nullopt, this);
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(18);
    row->addWidget(
        VellumtideQRCodeView::makeCard(QUrl(QString::fromLatin1(VellumtideExternalLinks::iphoneApp)), card),
        0, Qt::AlignVCenter);
    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    auto* description =
        new QLabel(QStringLiteral("Scan this on your iPhone to get the recorder app. It captures "
                                  "sounds and syncs them with Vellumtide Bridge on your computer."),
                   card);
    description->setWordWrap(true);
    description->setFont(vt::ui::systemFont(12, FontWeight::medium));
    description->setStyleSheet(QStringLiteral("color: rgba(255,255,255,148); line-height: 140%;"));
    description->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    column->addWidget(description);
    phoneLink = labelledButton(QStringLiteral("Open iPhone Link"), "iphone", true, cyan, card);
    phoneLink->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    manual = labelledButton(QStringLiteral("Read Manual"), "book.closed.fill", false, cyan, card);
    manual->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto open = [this](const char* link) {
        if (urlOpener)
            urlOpener->openUrl(QUrl(QString::fromLatin1(link)));
    };
    connect(phoneLink, &QPushButton::clicked, this, [open] { open(VellumtideExternalLinks::iphoneApp); });
    connect(manual, &QPushButton::clicked, this, [open] { open(VellumtideExternalLinks::manual); });
    column->addWidget(phoneLink);
    column->addWidget(manual);
    row->addLayout(column, 1);
    return card;
}

QSize CompanionAppSheet::sizeHint() const {
    const int height =
        layout()->hasHeightForWidth() ? layout()->heightForWidth(sheetWidth) : layout()->sizeHint().height();
    return {sheetWidth, height};
}

void CompanionAppSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), background, 10, vt::ui::Border{vt::ui::white(0.08), 1});
}
