#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeManualLinkCard.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideExternalLinks.h"

#include <QUrl>

BridgeManualLinkCard::BridgeManualLinkCard(std::shared_ptr<vt::UrlOpener> urlOpener, QWidget* parent)
    : CardFrame(vt::ui::palette::surface, vt::ui::Border{vt::ui::white(0.08), 1}, parent) {
    using vt::ui::FontWeight;
    namespace palette = vt::ui::palette;
    setObjectName(QStringLiteral("manualLinkCard"));
    setToolTip(QStringLiteral("Open the Vellumtide manual"));
    setAccessibleName(QStringLiteral("Manual"));
    setClickable(true);

    auto* row = vt::ui::makeRow(this, 9);
    row->setContentsMargins(9, 9, 9, 9);
    row->addWidget(new vt::ui::GlyphView("book.closed.fill", 12, palette::cyan, QSize(28, 28),
                                         vt::ui::withOpacity(palette::cyan, 0.12), this));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(vt::ui::makeText(QStringLiteral("Manual"), vt::ui::systemFont(12, FontWeight::bold),
                                      vt::ui::white(0.74), false, this));
    texts->addWidget(vt::ui::makeText(QStringLiteral("Setup, chops, drag and drop"),
                                      vt::ui::systemFont(10, FontWeight::medium), vt::ui::white(0.42), false,
                                      this));
    row->addLayout(texts, 1);
    row->addWidget(
        new vt::ui::GlyphView("arrow.up.right", 10, vt::ui::white(0.38), QSize(12, 12), std::nullopt, this));

    connect(this, &CardFrame::clicked, this, [urlOpener] {
        if (urlOpener)
            urlOpener->openUrl(QUrl(QString::fromLatin1(VellumtideExternalLinks::manual)));
    });
}
