#include "VellumtideAU/Window/VellumtideAUView.h"

#include "Platform/Desktop/DesktopServices.h"
#include "Platform/UI/DarkLook.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/SheetOverlay.h"
#include "Shared/Interface/VellumtideFavoritesFilterLook.h"
#include "Shared/Interface/VellumtideFavoritesGlow.h"
#include "Shared/Interface/VellumtideLogoMark.h"
#include "VellumtideAU/Window/CompanionAppSheet.h"
#include "VellumtideAU/Window/VellumtidePadRackView.h"
#include "VellumtideAU/Window/VellumtideRows.h"
#include "VellumtideAU/Window/VellumtideSampleList.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>

using namespace VellumtideWindowKit;
using vt::ui::FontWeight;
using vt::ui::PaintedButton;
namespace palette = vt::ui::palette;

namespace {

// Content that fills the space it is given on a background of one colour.
class FilledPane final : public QWidget {
public:
    explicit FilledPane(QColor fill, QWidget* parent = nullptr) : QWidget(parent), fill(fill) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), fill); }

private:
    QColor fill;
};

QLabel* centredWrappedLabel(const QString& text, const QFont& font, const QColor& color, int maximumLines) {
    auto* label = vt::ui::makeText(text, font, color, true);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setMaximumHeight(QFontMetrics(font).lineSpacing() * maximumLines + 2);
    return label;
}

// A frameless scroll area around content that may not fit a small window.
QScrollArea* scrolling(QWidget* content) {
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    return scroll;
}

PaintedButton* headerGlyphButton(std::string_view symbol, const QString& help) {
    return windowButton(
        vt::ui::makeGlyphButton(symbol, 15, vt::ui::white(0.86), QSize(30, 30), std::nullopt, help));
}

} // namespace

VellumtideAUView::VellumtideAUView(std::function<void()> openBridgeAction,
                                   std::function<void(const vt::Uuid&)> editSampleAction,
                                   std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference,
                                   const VellumtideWindowServices& services, QWidget* parent)
    : QWidget(parent), openBridgeAction(std::move(openBridgeAction)),
      editSampleAction(std::move(editSampleAction)), audioUnitReference(std::move(audioUnitReference)),
      services(services),
      libraryReader(std::make_unique<VellumtidePluginLibrary>(
          services.libraryEnvironment, services.makeRefreshTimer ? services.makeRefreshTimer() : nullptr,
          nullptr, VellumtidePluginLibrary::FirstRead::inBackground)),
      kitController(std::make_unique<VellumtidePadKitController>(
          this->audioUnitReference, services.settings,
          services.makeRefreshTimer ? services.makeRefreshTimer() : nullptr)) {
    setMinimumSize(minimumWidth, minimumHeight);
    setAutoFillBackground(true);
    vt::ui::applyDarkPalette(*this);

    auto* column = vt::ui::makeColumn(this, 0);
    column->addWidget(makeHeader());
    column->addWidget(divider(0.08));
    rack =
        new VellumtidePadRackView(kitController.get(), [this](std::int64_t slot) { togglePadPreview(slot); });
    auto* rackSection = new QWidget;
    rackSection->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* rackMargins = new QVBoxLayout(rackSection);
    rackMargins->setContentsMargins(14, 10, 14, 10);
    rackMargins->addWidget(rack);
    column->addWidget(rackSection);
    column->addWidget(divider(0.08));
    content = new QStackedWidget;
    noLibrary = scrolling(makeNoLibraryState());
    favoritesEmpty = scrolling(makeFavoritesEmptyState());
    list = makeSampleList();
    content->addWidget(noLibrary);
    content->addWidget(favoritesEmpty);
    content->addWidget(list);
    // The content takes the height the header and the rack leave, down to none: a short window
    // scrolls the list instead of squeezing the pads.
    content->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    column->addWidget(content, 1);
    favoritesGlow = new VellumtideFavoritesGlow(
        favorites, [this] { return VellumtideFavoritesFilterLook::at(favoritesOnly, favoritePulse); });

    connect(libraryReader.get(), &VellumtidePluginLibrary::samplesChanged, this,
            [this] { refreshContent(); });
    connect(libraryReader.get(), &VellumtidePluginLibrary::statusChanged, this, [this] { refreshStatus(); });
    connect(libraryReader.get(), &VellumtidePluginLibrary::detailChanged, this, [this] { refreshStatus(); });
    refreshStatus();
    refreshContent();
}

VellumtideAUView::~VellumtideAUView() {
    stopPreview();
    stopPadPreview();
}

QWidget* VellumtideAUView::makeHeader() {
    // At the least width the gaps narrow so that the title stays whole.
    auto* header = new TighteningRow(12, 4);
    header->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = header->row();
    row->setContentsMargins(18, 14, 18, 14);
    row->addWidget(new VellumtideLogoMark(38, palette::cyan));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(
        wholeTextLabel(QStringLiteral("Vellumtide"), vt::ui::systemFont(19, FontWeight::bold), Qt::white));
    statusLabel = textLabel({}, vt::ui::systemFont(11, FontWeight::medium), vt::ui::white(0.48));
    titles->addWidget(statusLabel);
    row->addLayout(titles, 1);
    favorites = makeFavoritesButton();
    row->addWidget(favorites);
    help = headerGlyphButton("gearshape.fill", QStringLiteral("Help, manual, and iPhone app"));
    connect(help, &QAbstractButton::clicked, this, [this] { presentCompanionApp(); });
    row->addWidget(help);
    openBridge = headerGlyphButton("app.badge", QStringLiteral("Open Vellumtide Bridge"));
    connect(openBridge, &QAbstractButton::clicked, this, [this] {
        if (openBridgeAction)
            openBridgeAction();
    });
    row->addWidget(openBridge);
    auto* live = glyphLabel("bolt.horizontal.circle.fill", 17, palette::cyan);
    live->setToolTip(QStringLiteral("Live library updates automatically"));
    row->addWidget(live);
    return header;
}

PaintedButton* VellumtideAUView::makeFavoritesButton() {
    auto* button = windowButton(new PaintedButton(QSize(116, 30), {}));
    button->setPainter([this](QPainter& painter, const QRectF& rect) {
        const bool on = favoritesOnly;
        paintFavoritesCapsule(painter, rect.adjusted(0.7, 0.7, -0.7, -0.7), on,
                              VellumtideFavoritesFilterLook::at(on, favoritePulse));
        const QColor foreground = on ? vt::ui::black(0.84) : palette::amber;
        QFont labelFont = vt::ui::monospacedFont(10, FontWeight::bold);
        const QString label = QStringLiteral("Favorites");
        const double textWidth = QFontMetricsF(labelFont).horizontalAdvance(label);
        const double start = (rect.width() - (11 + 7 + textWidth)) / 2;
        vt::ui::paintGlyph(painter, QRectF(start, 0, 11, rect.height()), on ? "star.fill" : "star", 11,
                           foreground);
        painter.setFont(labelFont);
        painter.setPen(foreground);
        painter.drawText(QRectF(start + 18, 0, textWidth + 2, rect.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, label);
    });
    pulse = std::make_unique<VellumtideFavoritesPulse>([this](double value) {
        favoritePulse = value;
        favoritesGlow ? favoritesGlow->refresh() : favorites->update();
    });
    connect(button, &QAbstractButton::clicked, this, [this] { toggleFavoriteFilter(); });
    return button;
}

void VellumtideAUView::refreshFavoritesButton() {
    if (favoritesGlow)
        favoritesGlow->refresh();
    favorites->setHelp(favoritesOnly ? QStringLiteral("Show all samples")
                                     : QStringLiteral("Show favorites only"));
    favorites->setEnabled(favoritesOnly || favoriteCount() > 0);
    if (favoritesOnly)
        pulse->start();
    else
        pulse->stop();
    favorites->update();
}

namespace {

// An empty state's pane: a stretch, its glyph and its title centred; the caller adds the rest and
// a closing stretch to the column.
std::pair<QWidget*, QVBoxLayout*> makeEmptyState(std::string_view symbol, const QColor& symbolColor,
                                                 const QString& title) {
    auto* pane = new FilledPane(vt::ui::withOpacity(palette::surface, 0.58));
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(10);
    column->addStretch(1);
    column->addWidget(glyphLabel(symbol, 34, symbolColor), 0, Qt::AlignHCenter);
    auto* titleLabel = textLabel(title, vt::ui::systemFont(16, FontWeight::semibold), vt::ui::white(0.72));
    titleLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(titleLabel);
    return {pane, column};
}

} // namespace

QWidget* VellumtideAUView::makeNoLibraryState() {
    auto [pane, column] = makeEmptyState("iphone.radiowaves.left.and.right", palette::cyan,
                                         QStringLiteral("No Bridge samples"));
    noLibraryStatus =
        centredWrappedLabel({}, vt::ui::systemFont(12, FontWeight::medium), vt::ui::white(0.42), 2);
    column->addWidget(noLibraryStatus);
    noLibraryDetail =
        centredWrappedLabel({}, vt::ui::monospacedFont(9, FontWeight::medium), vt::ui::white(0.28), 2);
    column->addWidget(noLibraryDetail);
    auto* open = labelledButton(QStringLiteral("Open Bridge"), "app.badge", true, palette::cyan, nullptr,
                                FontWeight::semibold);
    connect(open, &QPushButton::clicked, this, [this] {
        if (openBridgeAction)
            openBridgeAction();
    });
    column->addWidget(open, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return pane;
}

QWidget* VellumtideAUView::makeFavoritesEmptyState() {
    auto [pane, column] = makeEmptyState("star", palette::amber, QStringLiteral("No favorites yet"));
    column->addWidget(centredWrappedLabel(QStringLiteral("Star samples in Bridge and they will appear here."),
                                          vt::ui::systemFont(12, FontWeight::medium), vt::ui::white(0.42),
                                          2));
    auto* showAll = labelledButton(QStringLiteral("Show All"), "tray.full", true, palette::cyan, nullptr,
                                   FontWeight::semibold);
    connect(showAll, &QPushButton::clicked, this, [this] { toggleFavoriteFilter(); });
    column->addWidget(showAll, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return pane;
}

VellumtideSampleList* VellumtideAUView::makeSampleList() {
    VellumtideSampleList::Actions actions{
        [this](const VellumtidePluginSample& sample) { togglePreview(sample); },
        [this](const VellumtidePluginSample& sample) {
            if (editSampleAction)
                editSampleAction(sample.id);
        },
        [this](const VellumtidePluginSample& sample) { toggleChops(sample); },
        [this](const VellumtidePluginSample& sample) { loadToPad(sample); },
        [this](const VellumtidePluginChop& chop, const VellumtidePluginSample& sample) {
            loadToPad(chop, sample);
        },
    };
    return new VellumtideSampleList(std::move(actions), palette::cyan, palette::amber);
}

void VellumtideAUView::refreshStatus() {
    const QString status = text(libraryReader->status());
    statusLabel->setText(status);
    noLibraryStatus->setText(status);
    const QString detail = text(libraryReader->detail());
    noLibraryDetail->setText(detail);
    noLibraryDetail->setVisible(!detail.isEmpty());
}

int VellumtideAUView::favoriteCount() const {
    return int(libraryReader->favoriteCount());
}

std::vector<VellumtidePluginSample> VellumtideAUView::visibleSamples() const {
    std::vector<VellumtidePluginSample> visible;
    for (const auto& sample : libraryReader->samples())
        if (!favoritesOnly || sample.isFavorite)
            visible.push_back(sample);
    return visible;
}

QWidget* VellumtideAUView::currentContent() const {
    return content->currentWidget();
}

// The list is given the reader's shared samples: nothing is copied, and only the rows in view
// are touched.
void VellumtideAUView::refreshContent() {
    const int favoritesListed = favoriteCount();
    if (libraryReader->samples().empty())
        content->setCurrentWidget(noLibrary);
    else if (favoritesOnly && favoritesListed == 0)
        content->setCurrentWidget(favoritesEmpty);
    else
        content->setCurrentWidget(list);
    refreshFavoritesButton();
    if (favoritesOnly)
        list->setSamples(libraryReader->sharedSamples(),
                         [](const auto& sample) { return sample.isFavorite; });
    else
        list->setSamples(libraryReader->sharedSamples());
    refreshRows();
}

void VellumtideAUView::refreshRows() {
    list->setState(playingSample, expanded);
}

std::vector<VellumtideAUSampleRow*> VellumtideAUView::sampleRows() const {
    return list->sampleRows();
}

std::vector<VellumtideAUChopRow*> VellumtideAUView::chopRows() const {
    return list->chopRows();
}

void VellumtideAUView::loadToPad(const VellumtidePluginSample& sample) {
    if (!sample.isAvailable)
        return;
    kitController->load(sample);
    stopPadPreview();
}

void VellumtideAUView::loadToPad(const VellumtidePluginChop& chop, const VellumtidePluginSample& sample) {
    if (!chop.isAvailable)
        return;
    kitController->load(chop, sample);
    stopPadPreview();
}

void VellumtideAUView::togglePreview(const VellumtidePluginSample& sample) {
    const bool wasPlaying = playingSample == sample.id;
    stopPreview();
    if (!sample.isAvailable || wasPlaying) {
        refreshRows();
        return;
    }
    std::unique_ptr<vt::AudioPlayer> player;
    try {
        player = services.players->open(sample.audioURL, 1.0);
    } catch (const std::exception&) {
        stopPreview();
        refreshRows();
        return;
    }
    player->prepareToPlay();
    if (player->play()) {
        whenPreviewEnds(*player, [this] {
            stopPreview();
            refreshRows();
        });
        previewPlayer = std::move(player);
        playingSample = sample.id;
    }
    refreshRows();
}

void VellumtideAUView::togglePadPreview(std::int64_t slot) {
    auto assignment = kitController->state().assignment(slot);
    const auto remembered = playingPad;
    stopPadPreview();
    if (!assignment || remembered == slot)
        return;
    const double pitch = assignment->pitchSemitones;
    const float rate = static_cast<float>(std::clamp(std::pow(2.0, pitch / 12.0), 0.5, 2.0));
    std::unique_ptr<vt::AudioPlayer> player;
    try {
        player = services.players->open(assignment->filePath, std::isnan(pitch) ? 0.5 : rate);
    } catch (const std::exception&) {
        stopPadPreview();
        return;
    }
    const float volume = assignment->volume;
    player->setVolume(std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f));
    player->prepareToPlay();
    if (player->play()) {
        whenPreviewEnds(*player, [this] { stopPadPreview(); });
        padPreviewPlayer = std::move(player);
        playingPad = slot;
        rack->setPlayingSlot(playingPad);
    }
}

// A preview that reaches its end, or whose sound output fails, no longer shows as playing. The
// player delivers on the main thread and never after it was stopped or destroyed.
void VellumtideAUView::whenPreviewEnds(vt::AudioPlayer& player, std::function<void()> stop) {
    player.setFinishHandler([stop](bool) { stop(); });
    player.setErrorHandler([stop](const std::string&) { stop(); });
}

void VellumtideAUView::stopPreview() {
    if (previewPlayer)
        previewPlayer->stop();
    previewPlayer.reset();
    playingSample.reset();
}

void VellumtideAUView::stopPadPreview() {
    if (padPreviewPlayer)
        padPreviewPlayer->stop();
    padPreviewPlayer.reset();
    playingPad.reset();
    if (rack)
        rack->setPlayingSlot(std::nullopt);
}

void VellumtideAUView::stopPreviewIfHidden() {
    if (!playingSample)
        return;
    const auto& samples = libraryReader->samples();
    if (std::none_of(samples.begin(), samples.end(), [this](const auto& sample) {
            return sample.id == playingSample && (!favoritesOnly || sample.isFavorite);
        }))
        stopPreview();
}

void VellumtideAUView::toggleFavoriteFilter() {
    favoritesOnly = !favoritesOnly;
    stopPreviewIfHidden();
    refreshContent();
}

void VellumtideAUView::toggleChops(const VellumtidePluginSample& sample) {
    if (sample.chops.empty())
        return;
    if (!expanded.erase(sample.id))
        expanded.insert(sample.id);
    refreshRows();
}

void VellumtideAUView::presentCompanionApp() {
    if (companionSheet)
        return;
    auto* sheet = new CompanionAppSheet([this] { dismissCompanionApp(); }, services.urlOpener,
                                        palette::background, palette::surface, palette::cyan);
    auto* overlay = vt::ui::SheetOverlay::present(this, sheet);
    // Closed by Escape as well as by its button: it no longer shows from that moment.
    connect(overlay, &vt::ui::SheetOverlay::dismissed, this, [this] { companionSheet = nullptr; });
    companionSheet = overlay;
}

void VellumtideAUView::dismissCompanionApp() {
    if (auto* overlay = qobject_cast<vt::ui::SheetOverlay*>(companionSheet.data()))
        overlay->dismiss();
    companionSheet = nullptr;
}

void VellumtideAUView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        appear();
}

void VellumtideAUView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    stopPreview();
    stopPadPreview();
    libraryReader->stopLiveRefresh();
    kitController->stopWatchingUnit();
    refreshRows();
}

void VellumtideAUView::appear() {
    showCompanionAppOnFirstOpenIfNeeded();
    kitController->reconcileOnShow();
    kitController->startWatchingUnit();
    libraryReader->startLiveRefresh();
}

void VellumtideAUView::showCompanionAppOnFirstOpenIfNeeded() {
    auto stored = services.settings->value(QString::fromLatin1(companionShownKey));
    if (didScheduleCompanionAppOnboarding || (stored && stored->toBool()))
        return;
    didScheduleCompanionAppOnboarding = true;
    services.settings->setValue(QString::fromLatin1(companionShownKey), true);
    QPointer<VellumtideAUView> self(this);
    services.scheduler->schedule(std::chrono::milliseconds(550), [self] {
        if (self)
            self->presentCompanionApp();
    });
}

QWidget* VellumtideAUView::sampleList() const {
    return list;
}
