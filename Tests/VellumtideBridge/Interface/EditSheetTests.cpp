// The edit sheet: its working edit and sliders, Apply, the busy states, and the rendered preview
// with its temporary file.

#include "Tests/VellumtideBridge/Interface/SampleViewsFixture.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditPreview.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"

#include <QPointer>

namespace vt::test {
namespace {

using namespace std::chrono_literals;
using bridgeui::DoubleSlider;
using bridgeui::StyledButton;
using vt::ui::ElidedLabel;

class EditSheetTest : public SampleViewsTest {
protected:
    // Starts the controller on one sample of the given length and opens its sheet.
    SampleEditSheet* open(double duration = 2.0, std::optional<BridgeSampleEdit> shownEdit = std::nullopt) {
        take = sampleWithPeaks("take", 100);
        take.duration = duration;
        seedLibrary({take});
        makePlayable(take, 1.0);
        start();
        settle();
        SampleItem shown = listed(take.id);
        if (shownEdit)
            shown.edit = *shownEdit;
        model->editSample(shown);
        return place(new SampleEditSheet(*model, shown));
    }

    QString text(QWidget* sheet, const char* name) { return part<ElidedLabel>(sheet, name)->text(); }
    StyledButton* button(QWidget* sheet, const char* name) { return part<StyledButton>(sheet, name); }
    DoubleSlider* slider(QWidget* sheet, const char* name) { return part<DoubleSlider>(sheet, name); }
    void slideTo(DoubleSlider* slider, int position) {
        slider->slider()->setValue(position);
        settle();
    }

    std::vector<std::filesystem::path> previewFiles() const {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (std::filesystem::directory_iterator it(SampleEditPreview::previewFolder(paths), error), end;
             !error && it != end; it.increment(error))
            files.push_back(it->path());
        return files;
    }

    SampleItem take;
};

TEST_F(EditSheetTest, OpensOnTheSanitisedEditAndSlidersKeepTheirLimits) {
    auto* sheet = open(2.0, makeEdit(0.5, 9, 3));
    EXPECT_EQ(text(sheet, "selectedText"), "1.500s selected");
    EXPECT_DOUBLE_EQ(slider(sheet, "startSlider")->maximum(), 1.95);
    EXPECT_DOUBLE_EQ(slider(sheet, "endSlider")->minimum(), 0.55);
    EXPECT_EQ(text(sheet, "endValue"), "2.000s");
    EXPECT_EQ(text(sheet, "fadeInValue"), "0.750s");
    EXPECT_DOUBLE_EQ(slider(sheet, "fadeInSlider")->maximum(), 0.75);
    EXPECT_TRUE(listed(take.id).edit.isNeutral()); // nothing stored until Apply

    slideTo(slider(sheet, "startSlider"), DoubleSlider::steps);
    EXPECT_EQ(text(sheet, "startValue"), "1.950s");
    EXPECT_EQ(text(sheet, "selectedText"), "0.050s selected");
    EXPECT_DOUBLE_EQ(slider(sheet, "endSlider")->minimum(), 2.0);

    click(button(sheet, "resetButton"));
    EXPECT_EQ(text(sheet, "selectedText"), "2.000s selected");
    slideTo(slider(sheet, "endSlider"), 0);
    EXPECT_EQ(text(sheet, "endValue"), "0.050s");
    slideTo(slider(sheet, "endSlider"), DoubleSlider::steps - 1); // within 0.001 s of the end
    EXPECT_EQ(text(sheet, "endValue"), "2.000s");

    click(part(sheet, "normalizeSwitch"));
    EXPECT_TRUE(part<QAbstractButton>(sheet, "normalizeSwitch")->isChecked());
    EXPECT_EQ(text(sheet, "selectedText"), "2.000s selected");
}

TEST_F(EditSheetTest, FadeSlidersReachHalfTheKeptLengthAtMostFiveSeconds) {
    auto* sheet = open(14.05);
    EXPECT_DOUBLE_EQ(slider(sheet, "fadeInSlider")->maximum(), 5);
    slideTo(slider(sheet, "fadeInSlider"), DoubleSlider::steps);
    EXPECT_EQ(text(sheet, "fadeInValue"), "5.000s");

    // Shortening the kept range to about 3 s cuts the fade to half of it.
    slideTo(slider(sheet, "endSlider"), 2107);
    EXPECT_NEAR(slider(sheet, "fadeInSlider")->maximum(), 1.5, 1e-3);
    EXPECT_NEAR(slider(sheet, "fadeInSlider")->value(), 1.5, 1e-3);
}

TEST_F(EditSheetTest, ApplyStaysOpenOnFailureAndClosesOnSuccess) {
    auto* sheet = open();
    QPointer<SampleEditSheet> guard(sheet);
    slideTo(slider(sheet, "startSlider"), DoubleSlider::steps / 2);
    audio.failRenderAt = 1;
    click(button(sheet, "applyButton"));
    EXPECT_TRUE(model->editingSample());
    EXPECT_EQ(model->errorMessage(), "The sample audio could not be read.");
    EXPECT_EQ(button(sheet, "applyButton")->text(), "Apply");
    EXPECT_TRUE(button(sheet, "applyButton")->isEnabled());

    click(button(sheet, "applyButton"));
    EXPECT_FALSE(model->editingSample());
    EXPECT_NEAR(listed(take.id).edit.startTime, 0.975, 1e-9);
}

TEST_F(EditSheetTest, BusyStatesDisableTheRightButtonsAndCloseAlwaysWorks) {
    auto* sheet = open();
    // An edit of this sample applied from elsewhere (the window's other controls) is rendering.
    audio.renderGate = Completion<bool>();
    BridgeSampleEdit trimmed;
    trimmed.startTime = 0.5;
    auto applying = model->applyEdit(trimmed, take);
    for (const char* name : {"resetButton", "cancelButton", "applyButton"})
        EXPECT_FALSE(button(sheet, name)->isEnabled()) << name;
    EXPECT_EQ(button(sheet, "applyButton")->text(), "Applying");
    EXPECT_TRUE(button(sheet, "previewButton")->isEnabled());
    audio.renderGate->resolve(true);
    audio.renderGate.reset();
    EXPECT_TRUE(await(std::move(applying)));
    EXPECT_TRUE(button(sheet, "applyButton")->isEnabled());

    // A rendering preview disables Apply as well; the close button closes during an Apply.
    slideTo(slider(sheet, "startSlider"), DoubleSlider::steps / 2);
    // Started from the keyboard: while it renders the focus moves to no other control, and it is
    // back on the button to stop the preview.
    audio.renderGate = Completion<bool>();
    button(sheet, "previewButton")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button(sheet, "previewButton"), Qt::Key_Space);
    settle();
    EXPECT_EQ(button(sheet, "previewButton")->text(), "Rendering");
    EXPECT_FALSE(button(sheet, "previewButton")->isEnabled());
    EXPECT_EQ(button(sheet, "applyButton")->text(), "Applying");
    EXPECT_FALSE(part(sheet, "closeButton")->hasFocus());
    audio.renderGate->resolve(true);
    settle();
    EXPECT_EQ(button(sheet, "previewButton")->text(), "Stop Preview");
    EXPECT_TRUE(button(sheet, "previewButton")->hasFocus());

    audio.renderGate = Completion<bool>();
    click(button(sheet, "applyButton"));
    EXPECT_EQ(model->renderingEditSampleID(), take.id);
    click(part(sheet, "closeButton"));
    EXPECT_FALSE(model->editingSample());
    audio.renderGate->resolve(true);
    audio.renderGate.reset();
    settle();
    EXPECT_FALSE(model->renderingEditSampleID());
    EXPECT_TRUE(listed(take.id).edit.isActive(take.duration));
}

TEST_F(EditSheetTest, PreviewPlaysTheRawFileOrARenderedTemporaryFileAndDeletesIt) {
    auto* sheet = open();
    auto* preview = button(sheet, "previewButton");
    model->togglePreview(listed(take.id));
    ASSERT_TRUE(model->playingSampleID());

    // A neutral edit plays the library's raw file and writes nothing.
    click(preview);
    EXPECT_FALSE(model->playingSampleID());
    EXPECT_EQ(players->last().file, libraryRoot() / "Samples" / "take.wav");
    EXPECT_TRUE(previewFiles().empty());
    EXPECT_EQ(preview->text(), "Stop Preview");
    EXPECT_EQ(text(sheet, "previewStatus"), "0.000s / 1.000s");
    click(preview);
    EXPECT_EQ(text(sheet, "previewStatus"), "Preview current edit");
    EXPECT_TRUE(std::filesystem::exists(libraryRoot() / "Samples" / "take.wav"));

    // An active edit renders a file of its own; a second preview replaces it.
    slideTo(slider(sheet, "startSlider"), DoubleSlider::steps / 2);
    click(preview);
    ASSERT_EQ(previewFiles().size(), 1u);
    const auto first = previewFiles()[0];
    EXPECT_EQ(first.filename().string().substr(0, 37), take.id.string() + "-");
    EXPECT_EQ(players->last().file, first);
    click(preview);
    EXPECT_TRUE(previewFiles().empty());
    click(preview);
    ASSERT_EQ(previewFiles().size(), 1u);
    EXPECT_NE(previewFiles()[0], first);

    // Progress, then the player's end stops the preview and deletes the file.
    scheduler->advanceBy(480ms);
    EXPECT_EQ(text(sheet, "previewStatus"), "0.480s / 1.000s");
    scheduler->advanceBy(480ms);
    EXPECT_EQ(text(sheet, "previewStatus"), "0.960s / 1.000s");
    scheduler->advanceBy(40ms);
    EXPECT_EQ(text(sheet, "previewStatus"), "Preview current edit");
    EXPECT_EQ(preview->text(), "Preview");
    EXPECT_TRUE(previewFiles().empty());
    EXPECT_FALSE(players->last().playing);

    // A change of the edit stops a playing preview at once.
    click(preview);
    click(part(sheet, "denoiseSwitch"));
    EXPECT_EQ(preview->text(), "Preview");
    EXPECT_TRUE(previewFiles().empty());

    // Closing the sheet deletes the file of a playing preview.
    click(preview);
    EXPECT_EQ(previewFiles().size(), 1u);
    delete sheet;
    EXPECT_TRUE(previewFiles().empty());
}

TEST_F(EditSheetTest, PreviewFailuresReachTheErrorTextAndLeaveNoFileBehind) {
    auto* sheet = open();
    auto* preview = button(sheet, "previewButton");
    slideTo(slider(sheet, "startSlider"), DoubleSlider::steps / 2);

    audio.failRenderAt = 1;
    click(preview);
    EXPECT_EQ(model->errorMessage(), "The sample audio could not be read.");
    EXPECT_EQ(preview->text(), "Preview");
    EXPECT_TRUE(previewFiles().empty());

    model->setErrorMessage(std::nullopt);
    players->setServerReachable(false);
    click(preview);
    EXPECT_EQ(model->errorMessage(), "The edit preview could not be played.");
    EXPECT_EQ(preview->text(), "Preview");
    EXPECT_TRUE(preview->isEnabled());
    EXPECT_EQ(previewFiles().size(), 1u); // kept until the next stop that deletes it
    click(part(sheet, "normalizeSwitch"));
    EXPECT_TRUE(previewFiles().empty());
    players->setServerReachable(true);

    // The sound output failing while the preview plays ends it with the failure's text.
    model->setErrorMessage(std::nullopt);
    click(preview);
    EXPECT_EQ(preview->text(), "Stop Preview");
    players->failPlayingStreams();
    settle();
    EXPECT_EQ(model->errorMessage(), "The sound output failed: Entity killed");
    EXPECT_EQ(preview->text(), "Preview");
    EXPECT_TRUE(previewFiles().empty());

    // A raw file that cannot be read fails at once.
    writeFile(libraryRoot() / "Samples" / "take.wav", "RIFF");
    click(button(sheet, "resetButton"));
    model->setErrorMessage(std::nullopt);
    click(preview);
    EXPECT_FALSE(model->errorMessage().value_or("").empty());
    EXPECT_EQ(preview->text(), "Preview");
    EXPECT_TRUE(previewFiles().empty());

    // The sheet closing while a preview renders leaves no file behind.
    slideTo(slider(sheet, "startSlider"), DoubleSlider::steps / 2);
    audio.renderGate = Completion<bool>();
    click(preview);
    delete sheet;
    audio.renderGate->resolve(true);
    settle();
    EXPECT_TRUE(previewFiles().empty());
}

TEST_F(EditSheetTest, PreviewOfASoundOfNoLengthEndsAtOnce) {
    take = sampleWithPeaks("take", 100);
    seedLibrary({take});
    makePlayable(take, 0);
    start();
    settle();
    SampleEditPreview preview(*model, listed(take.id));
    awaitVoid(preview.playEditPreview({}));
    ASSERT_FALSE(model->errorMessage()) << *model->errorMessage();
    EXPECT_TRUE(preview.isPreviewPlaying());
    EXPECT_DOUBLE_EQ(preview.editPreviewDuration(), 0.001);
    settle();
    EXPECT_FALSE(preview.isPreviewPlaying());
    EXPECT_EQ(preview.editPreviewProgress(), 0);
}

} // namespace
} // namespace vt::test
