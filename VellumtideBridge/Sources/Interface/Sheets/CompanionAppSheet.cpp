#include "VellumtideBridge/Sources/Interface/Sheets/CompanionAppSheet.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideExternalLinks.h"
#include "Shared/Interface/VellumtideQRCodeView.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <QLabel>

namespace {

using vt::ui::FontWeight;
namespace palette = vt::ui::palette;

constexpr int sheetWidth = 470;

const char* const explanation =
    "Scan this on your iPhone to get Vellumtide. It captures sounds and syncs them "
    "with Vellumtide Bridge on your computer.";

} // namespace

CompanionAppSheet::CompanionAppSheet(std::shared_ptr<vt::UrlOpener> opener, QWidget* parent)
    : BridgeSheetPanel(sheetWidth, 22, 18, parent), urlOpener(std::move(opener)) {
    column()->addWidget(makeSheetHeader(QStringLiteral("Free iPhone app"),
                                        QStringLiteral("Scan to open the App Store."), &closeButton_, this));

    auto* content = new vt::ui::CardFrame(palette::surface, std::nullopt, this);
    auto* row = vt::ui::makeRow(content, 18);
    row->setContentsMargins(14, 14, 14, 14);
    row->addWidget(VellumtideQRCodeView::makeCard(
                       QUrl(QString::fromLatin1(VellumtideExternalLinks::iphoneApp)), content),
                   0, Qt::AlignVCenter);
    row->addWidget(makeTextColumn(content), 1, Qt::AlignVCenter);
    column()->addWidget(content);

    connect(closeButton_, &QAbstractButton::clicked, this, &CompanionAppSheet::dismissRequested);
    connect(appStoreButton_, &QAbstractButton::clicked, this, [this] {
        if (urlOpener)
            urlOpener->openUrl(QUrl(QString::fromLatin1(VellumtideExternalLinks::iphoneApp)));
    });
    connect(manualButton_, &QAbstractButton::clicked, this, [this] {
        if (urlOpener)
            urlOpener->openUrl(QUrl(QString::fromLatin1(VellumtideExternalLinks::manual)));
    });
}

QWidget* CompanionAppSheet::makeTextColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = vt::ui::makeColumn(column, 12);
    auto* text =
        vt::ui::makeText(QString::fromLatin1(explanation), vt::ui::systemFont(12, FontWeight::medium),
                         vt::ui::white(0.58), true, column);
    text->setObjectName(QStringLiteral("explanation"));
    layout->addWidget(text);

    auto* appStore = new bridge::LabeledButton(QStringLiteral("Open App Store"), "iphone",
                                               bridge::ButtonStyle::borderedProminent, column);
    auto* manual = new bridge::LabeledButton(QStringLiteral("Read Manual"), "book.closed.fill",
                                             bridge::ButtonStyle::bordered, column);
    for (auto* button : {appStore, manual}) {
        button->setLabelFont(vt::ui::systemFont(12, FontWeight::bold));
        button->setTint(palette::cyan);
        button->setStretch(true);
        layout->addWidget(button);
    }
    appStoreButton_ = appStore;
    manualButton_ = manual;
    return column;
}
