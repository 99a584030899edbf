#pragma once
// The right-hand side of the main window: the header with the title, the count line, the
// preview controls and the favourites filter, and below it the waiting panel (empty library),
// the no-favourites panel (the filter hides every sample) or the list of sample rows.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeEmptyStatePanel.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgePreviewControls.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSampleList.h"
#include "VellumtideBridge/Sources/Interface/Samples/FavoritesFilterButton.h"

class QStackedWidget;

class BridgeSamplesPane final : public QWidget {
public:
    enum class Body { waiting, noFavorites, list };

    explicit BridgeSamplesPane(BridgeViewModel& model, QWidget* parent = nullptr);

    // "1 live file in ~/Music/Vellumtide", "12 live files in …".
    static QString countLineText(std::size_t count, const std::string& folder);

    QString countLine() const { return countLabel->text(); }
    Body body() const;
    BridgePreviewControls* previewControls() const { return preview; }
    FavoritesFilterButton* favoritesButton() const { return favorites; }
    BridgeSampleList* sampleList() const { return list; }
    BridgeEmptyStatePanel* waitingPanel() const { return waiting; }
    BridgeEmptyStatePanel* noFavoritesPanel() const { return noFavorites; }
    QAbstractButton* showAllButton() const { return showAll; }

private:
    QWidget* makeHeader();
    void refresh();

    BridgeViewModel& model;
    vt::ui::ElidedLabel* countLabel = nullptr;
    BridgePreviewControls* preview = nullptr;
    FavoritesFilterButton* favorites = nullptr;
    QStackedWidget* bodies = nullptr;
    BridgeEmptyStatePanel* waiting = nullptr;
    BridgeEmptyStatePanel* noFavorites = nullptr;
    QAbstractButton* showAll = nullptr;
    BridgeSampleList* list = nullptr;
};
