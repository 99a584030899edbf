#pragma once
// The sample card's delete confirmation: the window's one alert panel asking "Delete sample?",
// with "No" and "Yes, Delete"; only "Yes, Delete" deletes, through the controller.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <functional>

namespace vt::ui {
class SheetOverlay;
}
class QWidget;

// Shows the confirmation over card's window for the sample titled title. On "Yes, Delete" the
// sample that current() gives at that moment is deleted (the card's fresh copy, when it is still
// there). Returns the overlay, which the card may dismiss.
vt::ui::SheetOverlay* confirmSampleDeletion(QWidget* card, BridgeViewModel& model, const QString& title,
                                            std::function<SampleItem()> current);
