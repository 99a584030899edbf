// Pictures of the sample views for a person to look at: a card with chops, favourite and the
// analysing mark, its open chop panel, and the edit sheet. Saved under gallery/ in the build folder.

#include "Tests/VellumtideBridge/Interface/SampleViewsFixture.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"

#include <QDir>
#include <cmath>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

class SampleViewsGallery : public SampleViewsTest {
protected:
    void save(QWidget* widget, const QString& name) {
        const QString folder = QStringLiteral(VT_GALLERY_DIR);
        QDir().mkpath(folder);
        const QImage image = widget->grab().toImage();
        EXPECT_FALSE(image.isNull());
        EXPECT_TRUE(image.save(folder + "/" + name + ".png"));
    }

    static SampleItem voiced(const std::string& title, double createdAt) {
        SampleItem sample = makeSample(title, createdAt);
        sample.duration = 3.2;
        for (int index = 0; index < 240; ++index) {
            const double t = index / 240.0;
            const double hit = std::exp(-std::fmod(t * 4, 1.0) * 5);
            sample.peaks.push_back(
                static_cast<float>(0.08 + 0.8 * hit * (0.7 + 0.3 * std::sin(index * 0.9))));
        }
        return sample;
    }
};

TEST_F(SampleViewsGallery, SampleRowChopPanelAndEditSheet) {
    auto kick = voiced("Kick loop", 1'700'000'000), vocal = voiced("Vocal idea", 1'700'003'600);
    audio.result = makeAnalysis(96, 0.8, "D", 0.7, "D minor", 0.6);
    audio.chopsToFind = {makeChop(0, 0.05, 0.8), makeChop(1, 0.8, 1.6), makeChop(2, 1.6, 2.4),
                         makeChop(3, 2.4, 3.2)};
    seedLibrary({kick, vocal});
    start();
    settle();
    awaitVoid(model->autoChop(listed(kick.id), 0.65));
    model->toggleFavorite(listed(kick.id));
    // (The scripted analyser hands its strings out only once; the edit's analysis gets fresh ones.)
    audio.result = makeAnalysis(128, 0.8, "F#", 0.7, "F# major", 0.6);
    EXPECT_TRUE(await(model->applyEdit(makeEdit(0.3, 2.9, 0.2, 0.6, true), listed(vocal.id))));
    model->modifyAnalyzingSampleIDs([&](auto& ids) { ids.insert(kick.id); });

    host.resize(760, 700);
    auto* kickRow = place(new BridgeSampleRow(*model, listed(kick.id)));
    auto* vocalRow = place(new BridgeSampleRow(*model, listed(vocal.id)));
    model->togglePreview(listed(vocal.id));
    scheduler->advanceBy(400ms);
    host.layout()->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
    settle();
    save(kickRow, "sample-row");
    save(vocalRow, "sample-row-edited-playing");

    click(part(kickRow, "chopToggle"));
    QTest::qWait(300); // the panel's opening animation
    settle();
    save(kickRow, "sample-row-chop-panel");

    model->stopPreview();
    auto* sheet = new SampleEditSheet(*model, listed(vocal.id));
    sheet->adjustSize();
    sheet->show();
    settle();
    save(sheet, "edit-sheet");
    delete sheet;
}

} // namespace
} // namespace vt::test
