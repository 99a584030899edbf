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
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

using namespace VellumtideWindowKit;
using vt::ui::FontWeight;

CompanionAppSheet::CompanionAppSheet(std::function<void()> dismiss, std::shared_ptr<vt::UrlOpener> urlOpener,
                                     QColor background, QColor surface, QColor cyan, QWidget* parent)
    : QWidget(parent), dismiss(std::move(dismiss)), urlOpener(std::move(urlOpener)), background(background),
      surface(surface), cyan(cyan) {
    setMaximumWidth(sheetWidth);
    content = new QWidget;
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(22, 22, 22, 22);
    column->setSpacing(18);
    column->addWidget(makeHeader());
    column->addWidget(makeCard());
    scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidget(content);
    scroller->viewport()->setAutoFillBackground(false);
    scroller->setFocusPolicy(Qt::NoFocus); // the sheet's controls take the focus, not the frame
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(scroller);
}

QWidget* CompanionAppSheet::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addWidget(wholeTextLabel(QStringLiteral("Free iPhone app"),
                                     vt::ui::systemFont(24, FontWeight::bold), Qt::white));
    titles->addWidget(wholeTextLabel(QStringLiteral("Syncs with Vellumtide Bridge for Linux."),
                                     vt::ui::monospacedFont(12, FontWeight::bold), cyan));
    row->addLayout(titles, 1);
    close = windowButton(vt::ui::makeGlyphButton("xmark", 14, vt::ui::white(0.8), QSize(28, 28), std::nullopt,
                                                 QStringLiteral("Close")));
    close->setFocusPolicy(Qt::StrongFocus); // inside the sheet the keyboard reaches it too
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

int CompanionAppSheet::widthInWindow() const {
    const QWidget* window = parentWidget();
    return window ? std::clamp(window->width() - 2 * windowMargin, 0, sheetWidth) : sheetWidth;
}

QSize CompanionAppSheet::sizeHint() const {
    const int width = widthInWindow();
    const QLayout* column = content->layout();
    const int height =
        column->hasHeightForWidth() ? column->heightForWidth(width) : column->sizeHint().height();
    return {width, height};
}

QSize CompanionAppSheet::minimumSizeHint() const {
    return {0, 0};
}

void CompanionAppSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), background, 10, vt::ui::Border{vt::ui::white(0.08), 1});
}
