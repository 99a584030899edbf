// Renders the main views into PNG files (the build folder's "gallery") for a look by eye, and
// checks that each rendering is whole.

#include "Platform/UI/Glyphs.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"

#include <QDir>

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
