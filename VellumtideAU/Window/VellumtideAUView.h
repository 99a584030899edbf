#pragma once
// The whole plug-in window: a header (logo, title, library status, favourites filter, help,
// open-desktop-program and live marks), the pad rack, and either an empty state or the library
// list with its chops. It owns the library reader, the pad kit controller and the two preview
// players; each time it is shown it reconciles its kit with the live unit's, and while shown it
// keeps the library refreshed and the kit in step with the unit's.

#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"
#include "VellumtideAU/Window/VellumtidePadKitController.h"
#include "VellumtideAU/Window/VellumtideWindowServices.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QLabel;
class QStackedWidget;
class QVBoxLayout;
class VellumtidePadRackView;
class VellumtideAUSampleRow;
class VellumtideAUChopRow;
class VellumtideSampleList;
class VellumtideFavoritesGlow;
class VellumtideFavoritesPulse;
namespace vt::ui {
class ElidedLabel;
class PaintedButton;
} // namespace vt::ui

class VellumtideAUView final : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* companionShownKey = "VellumtideAU.didShowCompanionAppOnFirstOpen";
    static constexpr int minimumWidth = 420;
    static constexpr int minimumHeight = 360;

    VellumtideAUView(std::function<void()> openBridgeAction,
                     std::function<void(const vt::Uuid&)> editSampleAction,
                     std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference,
                     const VellumtideWindowServices& services, QWidget* parent = nullptr);
    ~VellumtideAUView() override;

    VellumtidePluginLibrary& library() const { return *libraryReader; }
    VellumtidePadKitController& padKit() const { return *kitController; }

    int favoriteCount() const;
    std::vector<VellumtidePluginSample> visibleSamples() const;
    std::optional<vt::Uuid> playingSampleID() const { return playingSample; }
    std::optional<std::int64_t> playingPadSlot() const { return playingPad; }
    bool showFavoritesOnly() const { return favoritesOnly; }
    const std::set<vt::Uuid>& expandedSampleIDs() const { return expanded; }
    bool isShowingCompanionApp() const { return companionSheet != nullptr; }

    void togglePreview(const VellumtidePluginSample& sample);
    void togglePadPreview(std::int64_t slot);
    void toggleChops(const VellumtidePluginSample& sample);
    void toggleFavoriteFilter();
    void stopPreview();
    void stopPadPreview();
    void stopPreviewIfHidden();
    void presentCompanionApp();
    void dismissCompanionApp();

    // The widgets a person sees, for checks.
    VellumtidePadRackView* padRack() const { return rack; }
    vt::ui::PaintedButton* favoritesButton() const { return favorites; }
    vt::ui::PaintedButton* helpButton() const { return help; }
    vt::ui::PaintedButton* openBridgeButton() const { return openBridge; }
    QWidget* currentContent() const;
    QWidget* noLibraryState() const { return noLibrary; }
    QWidget* favoritesEmptyState() const { return favoritesEmpty; }
    QWidget* sampleList() const;
    VellumtideSampleList* sampleListView() const { return list; }
    std::vector<VellumtideAUSampleRow*> sampleRows() const;
    std::vector<VellumtideAUChopRow*> chopRows() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeNoLibraryState();
    QWidget* makeFavoritesEmptyState();
    VellumtideSampleList* makeSampleList();
    vt::ui::PaintedButton* makeFavoritesButton();
    void refreshStatus();
    void refreshContent();
    // The rows' playing and open marks, updated in place.
    void refreshRows();
    void refreshFavoritesButton();
    void appear();
    void showCompanionAppOnFirstOpenIfNeeded();
    static void whenPreviewEnds(vt::AudioPlayer& player, std::function<void()> stop);
    void loadToPad(const VellumtidePluginSample& sample);
    void loadToPad(const VellumtidePluginChop& chop, const VellumtidePluginSample& sample);

    std::function<void()> openBridgeAction;
    std::function<void(const vt::Uuid&)> editSampleAction;
    std::shared_ptr<VellumtideAudioUnitReference> audioUnitReference;
    VellumtideWindowServices services;
    std::unique_ptr<VellumtidePluginLibrary> libraryReader;
    std::unique_ptr<VellumtidePadKitController> kitController;
    std::unique_ptr<vt::AudioPlayer> previewPlayer;
    std::unique_ptr<vt::AudioPlayer> padPreviewPlayer;
    std::optional<vt::Uuid> playingSample;
    std::optional<std::int64_t> playingPad;
    bool favoritesOnly = false;
    double favoritePulse = 0; // 0...1, the breathing glow of the active filter
    std::set<vt::Uuid> expanded;
    bool didScheduleCompanionAppOnboarding = false;

    vt::ui::ElidedLabel* statusLabel = nullptr;
    vt::ui::PaintedButton* favorites = nullptr;
    VellumtideFavoritesGlow* favoritesGlow = nullptr; // the glow layer behind the favourites button
    vt::ui::PaintedButton* help = nullptr;
    vt::ui::PaintedButton* openBridge = nullptr;
    VellumtidePadRackView* rack = nullptr;
    QStackedWidget* content = nullptr;
    QWidget* noLibrary = nullptr;
    QLabel* noLibraryStatus = nullptr;
    QLabel* noLibraryDetail = nullptr;
    QWidget* favoritesEmpty = nullptr;
    VellumtideSampleList* list = nullptr;
    QPointer<QWidget> companionSheet; // the sheet's overlay
    std::unique_ptr<VellumtideFavoritesPulse> pulse;
};
