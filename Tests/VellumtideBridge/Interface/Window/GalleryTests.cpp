// Renders the main views into PNG files (the build folder's "gallery") for a look by eye, and
// checks that each rendering is whole.

#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Widgets.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"

#include <QAbstractScrollArea>
#include <QDir>
#include <QLabel>

namespace vt::test {
namespace {

class Gallery : public WindowTest {
protected:
    void save(const QString& name) {
        settleUI();
        const QImage image = window->grab().toImage();
        EXPECT_EQ(image.size(), window->size() * image.devicePixelRatio()) << name.toStdString();
        QDir().mkpath(VT_GALLERY_DIR);
        EXPECT_TRUE(image.save(QStringLiteral(VT_GALLERY_DIR "/%1.png").arg(name))) << name.toStdString();
    }
    std::vector<SampleItem> library() {
        std::vector<SampleItem> samples;
        for (const char* title : {"Kick Room", "Snare Crack", "Vox Chop", "Rhodes Loop 92", "Field Rain"}) {
            SampleItem sample = makeSample(title, 1'700'000'000.0 - double(samples.size()) * 3600);
            sample.peaks = {0.1f, 0.6f, 0.9f, 0.4f, 0.7f, 0.3f, 0.2f, 0.5f};
            sample.isFavorite = samples.size() == 1;
            samples.push_back(sample);
        }
        return samples;
    }
};

TEST_F(Gallery, MainViews) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    openWindow();
    save("01-empty-library");

    model->setErrorMessage("That sample is not in the Bridge library yet.");
    save("02-error-alert");
    model->setErrorMessage(std::nullopt);

    window->setShowingCompanionApp(true);
    save("03-companion-app-sheet");
    window->setShowingCompanionApp(false);
    window.reset();
    model.reset();

    seedLibrary(library());
    start();
    const VellumtideDevice studio = makeDevice("Studio iPhone", "S1");
    probe(*model).pairingStore.setToken("S1", "token");
    showDevices({studio, makeDevice("Kitchen iPhone", "K1")});
    model->setIsBrowsing(true);
    model->setStatusMessage("Synced 5 samples");
    model->setWatchMessage("Waiting for iPhone");
    openWindow();
    window->sidebar()->setShowingAdvanced(true);
    save("04-library-with-phone");

    model->toggleFavoriteFilter();
    save("05-favourites-filter");
    const std::vector<SampleItem> shown = model->samples(); // each toggle republishes the list
    for (const SampleItem& sample : shown)
        if (sample.isFavorite)
            model->toggleFavorite(sample);
    save("06-no-favourites");
    model->toggleFavoriteFilter();

    window->confirmDeviceUnlink(studio);
    save("07-unlink-confirmation");
    findButton(window->unlinkConfirmation(), "Cancel")->click();

    model->setPairingRequest(BridgePairingRequest(makeDevice("Studio iPhone", "S1"), "S1", "Studio iPhone",
                                                  "Found on the local network"));
    save("08-pairing-sheet");
    model->setPairingRequest(std::nullopt);

    window->resize(BridgeMainWindow::minimumWindowSize);
    save("09-minimum-size");
}

// Every visible control lies inside its parent, and texts shown in full are not cut. Content that
// scrolls is exempt from its viewport's bounds, not from its own parent's; decorations that take no
// input (the favourites glow, which spreads past the header on purpose) are no controls.
void expectEveryControlFits(const QWidget* root, const QString& where) {
    for (const QWidget* widget : root->findChildren<QWidget*>()) {
        const QWidget* parent = widget->parentWidget();
        if (!widget->isVisibleTo(root) || !parent || widget->isWindow() ||
            widget->testAttribute(Qt::WA_TransparentForMouseEvents))
            continue;
        const std::string name = where.toStdString() + ": " + widget->metaObject()->className() + " " +
                                 widget->objectName().toStdString();
        if (!qobject_cast<const QAbstractScrollArea*>(parent->parentWidget())) {
            EXPECT_TRUE(parent->rect().contains(widget->geometry()))
                << name << " at " << widget->geometry().x() << "," << widget->geometry().y() << " "
                << widget->width() << "x" << widget->height() << " in " << parent->width() << "x"
                << parent->height();
        }
        if (auto* elided = dynamic_cast<const ui::ElidedLabel*>(widget)) {
            EXPECT_EQ(elided->displayedText(), elided->text()) << name;
        } else if (auto* label = qobject_cast<const QLabel*>(widget); label && label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
        } else if (label) {
            EXPECT_GE(label->width(), label->sizeHint().width())
                << name << " \"" << label->text().toStdString() << "\"";
        } else if (auto* button = qobject_cast<const QAbstractButton*>(widget);
                   button && !button->text().isEmpty()) {
            EXPECT_GE(button->width(), button->sizeHint().width())
                << name << " \"" << button->text().toStdString() << "\"";
        }
    }
}

TEST_F(Gallery, EveryControlFitsAtTheMinimumAndDefaultSizesWithTheSheetsOpen) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    std::vector<SampleItem> samples = library();
    samples[0].chops = {BridgeSampleChop{vt::Uuid::random(), 0, 0.0, 0.412, 0.8},
                        BridgeSampleChop{vt::Uuid::random(), 1, 0.412, 1.0, 0.6}};
    seedLibrary(samples);
    start();
    showDevices({makeDevice("Studio iPhone", "S1")});
    openWindow();
    const QSize defaultSize = window->size();
    for (const auto& [size, label] :
         {std::pair{BridgeMainWindow::minimumWindowSize, QStringLiteral("minimum")},
          std::pair{defaultSize, QStringLiteral("default")}}) {
        window->resize(size);
        settleUI();
        ASSERT_EQ(window->size(), size);
        expectEveryControlFits(window.get(), label + " window");

        model->setEditingSample(model->samples().front());
        settleUI();
        ASSERT_TRUE(window->editSheet());
        expectEveryControlFits(window.get(), label + " with the edit sheet");
        save(QStringLiteral("10-edit-sheet-%1").arg(label));
        model->setEditingSample(std::nullopt);

        window->setShowingCompanionApp(true);
        settleUI();
        expectEveryControlFits(window.get(), label + " with the companion-app sheet");
        save(QStringLiteral("11-companion-app-sheet-%1").arg(label));
        window->setShowingCompanionApp(false);
        settleUI();
    }
}

// A symbol missing from the catalogue would show as a question mark.
TEST(WindowSymbols, EverySymbolTheWindowDrawsIsInTheGlyphCatalogue) {
    for (const char* symbol : {"xmark",
                               "iphone",
                               "iphone.and.arrow.forward",
                               "iphone.radiowaves.left.and.right",
                               "lock.open.fill",
                               "link.badge.minus",
                               "bolt.horizontal.circle.fill",
                               "lock.circle.fill",
                               "qrcode",
                               "gearshape.fill",
                               "slider.horizontal.3",
                               "chevron.down",
                               "chevron.right",
                               "book.closed.fill",
                               "arrow.up.right",
                               "folder",
                               "folder.badge.gearshape",
                               "arrow.up.forward.app",
                               "arrow.counterclockwise",
                               "doc.on.clipboard",
                               "network",
                               "arrow.clockwise",
                               "antenna.radiowaves.left.and.right",
                               "speaker.wave.2.fill",
                               "speaker.slash.fill",
                               "repeat.circle.fill",
                               "arrow.right.circle.fill",
                               "star",
                               "star.fill",
                               "tray.full",
                               "waveform.path.badge.plus"})
        EXPECT_TRUE(ui::hasGlyph(symbol)) << symbol;
}

} // namespace
} // namespace vt::test
