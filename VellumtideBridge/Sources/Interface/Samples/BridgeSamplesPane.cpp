#include "VellumtideBridge/Sources/Interface/Samples/BridgeSamplesPane.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <QStackedWidget>

namespace {
using vt::ui::FontWeight;
using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;
} // namespace

QString BridgeSamplesPane::countLineText(std::size_t count, const std::string& folder) {
    return QStringLiteral("%1 live file%2 in %3")
        .arg(QString::number(count), count == 1 ? QString() : QStringLiteral("s"),
             QString::fromStdString(folder));
}

BridgeSamplesPane::BridgeSamplesPane(BridgeViewModel& model, QWidget* parent)
    : QWidget(parent), model(model) {
    setObjectName(QStringLiteral("samplesPane"));
    auto* column = vt::ui::makeColumn(this, 14);
    column->setContentsMargins(20, 20, 20, 20);
    column->addWidget(makeHeader());

    bodies = new QStackedWidget(this);
    waiting = new BridgeEmptyStatePanel(
        "waveform.path.badge.plus", palette::cyan, QStringLiteral("Waiting for samples"),
        QStringLiteral("Record on the iPhone. Bridge will pull it in automatically."), bodies);
    noFavorites = new BridgeEmptyStatePanel(
        "star", palette::amber, QStringLiteral("No favorites yet"),
        QStringLiteral("Star a sample here or on the iPhone to build a smaller crate."), bodies);
    auto* showAllButton = new bridge::LabeledButton(QStringLiteral("Show All"), "tray.full",
                                                    bridge::ButtonStyle::borderedProminent, noFavorites);
    showAllButton->setLabelFont(vt::ui::systemFont(12, FontWeight::semibold));
    showAllButton->setTint(palette::cyan);
    noFavorites->addButton(showAllButton);
    showAll = showAllButton;
    list = new BridgeSampleList(model, bodies);
    bodies->addWidget(waiting);
    bodies->addWidget(noFavorites);
    bodies->addWidget(list);
    column->addWidget(bodies, 1);

    connect(showAll, &QAbstractButton::clicked, this, [this] { this->model.toggleFavoriteFilter(); });
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        if (field == Field::samples || field == Field::showFavoritesOnly || field == Field::sampleFolderPath)
            refresh();
    });
    refresh();
}

QWidget* BridgeSamplesPane::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = vt::ui::makeRow(header, 8);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(
        vt::ui::makeText(QStringLiteral("Synced Samples"), bridge::titleFont(22), Qt::white, false, header));
    countLabel = new vt::ui::ElidedLabel({}, vt::ui::systemFont(12, FontWeight::medium), vt::ui::white(0.45),
                                         Qt::ElideMiddle, header);
    countLabel->setObjectName(QStringLiteral("countLine"));
    titles->addWidget(countLabel);
    row->addLayout(titles, 1);
    preview = new BridgePreviewControls(model, header);
    favorites = new FavoritesFilterButton(model, header);
    vt::ui::showFocusRing(favorites, vt::ui::capsuleRadius);
    vt::ui::activateOnReturn(favorites);
    row->addWidget(preview, 0, Qt::AlignVCenter);
    row->addWidget(favorites, 0, Qt::AlignVCenter);
    return header;
}

BridgeSamplesPane::Body BridgeSamplesPane::body() const {
    if (bodies->currentWidget() == waiting)
        return Body::waiting;
    return bodies->currentWidget() == noFavorites ? Body::noFavorites : Body::list;
}

void BridgeSamplesPane::refresh() {
    countLabel->setText(countLineText(model.samples().size(), model.sampleFolderPath()));
    std::vector<SampleItem> visible = model.visibleSamples();
    if (model.samples().empty())
        bodies->setCurrentWidget(waiting);
    else if (visible.empty())
        bodies->setCurrentWidget(noFavorites);
    else
        bodies->setCurrentWidget(list);
    list->setSamples(std::move(visible));
}
