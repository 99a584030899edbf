// The pad kit controller against a real unit: loading samples and chops onto the selected pad,
// tuning, and the three copies of the kit (published, stored, in the unit) staying in step.

#include "Tests/VellumtideAU/Window/WindowTestSupport.h"
#include "VellumtideAU/Engine/VellumtideAudioUnit.h"
#include "VellumtideAU/Window/VellumtidePadKitController.h"

#include <QSignalSpy>
#include <cmath>
#include <gtest/gtest.h>

namespace {

using vt::test::WindowFixture;
using Kind = VellumtidePadAssignment::SourceKind;

struct PadKitControllerTest : ::testing::Test {
    WindowFixture fixture;
    std::shared_ptr<VellumtideAudioUnit> unit = VellumtideAudioUnit::create({});
    std::shared_ptr<VellumtideAudioUnitReference> reference =
        std::make_shared<VellumtideAudioUnitReference>();

    PadKitControllerTest() { reference->set(unit); }

    std::unique_ptr<VellumtidePadKitController> makeController() {
        return std::make_unique<VellumtidePadKitController>(reference, fixture.settings);
    }

    std::optional<VellumtidePadKitState> storedKit() const {
        auto value = fixture.settings->value(VellumtidePadKitController::settingsKey);
        if (!value)
            return std::nullopt;
        return VellumtidePadKitState::fromJsonText(value->toByteArray().toStdString());
    }

    void storeText(const std::string& text) {
        fixture.settings->setValue(VellumtidePadKitController::settingsKey, QByteArray::fromStdString(text));
    }

    VellumtidePluginSample sample(const std::string& title, bool available = true) {
        VellumtidePluginSample result;
        result.id = vt::Uuid::random();
        result.title = title;
        result.originalDuration = result.duration = 2.0;
        result.peaks = {0.1f, 0.5f, 0.9f};
        result.audioURL = fixture.samplePath(title + ".wav");
        result.isAvailable = available;
        if (available)
            WindowFixture::writeSound(result.audioURL);
        return result;
    }

    VellumtidePluginChop chop(std::int64_t index, double start, double end, bool available = true) {
        VellumtidePluginChop result;
        result.id = vt::Uuid::random();
        result.index = index;
        result.startTime = start;
        result.endTime = end;
        result.duration = std::max(end - start, 0.0);
        result.audioURL = fixture.libraryFolder / "Chops" / (result.id.string() + ".wav");
        result.isAvailable = available;
        if (available)
            WindowFixture::writeSound(result.audioURL);
        return result;
    }

    // The published, stored and unit kits are one and the same.
    void expectInStep(const VellumtidePadKitController& controller) {
        EXPECT_EQ(storedKit(), controller.state());
        EXPECT_EQ(unit->padKitState(), controller.state());
    }
};

TEST_F(PadKitControllerTest, StartsFromTheStoredKitAndHandsItToTheUnit) {
    auto fresh = makeController();
    EXPECT_EQ(fresh->state(), VellumtidePadKitState::empty);
    EXPECT_EQ(fresh->selectedSlot(), 0);
    EXPECT_FALSE(storedKit()) << "constructing stores nothing";

    auto soundPath = fixture.samplePath("five.wav");
    WindowFixture::writeSound(soundPath);
    auto first = VellumtidePadAssignment(vt::Uuid::random(), 5, "First", Kind::sample, std::nullopt,
                                         std::nullopt, soundPath.string(), 0.1, {0.5f});
    auto second = first;
    second.id = vt::Uuid::random();
    second.title = "Second";
    storeText(VellumtidePadKitState{{first, second}}.toJsonText());
    auto restored = makeController();
    ASSERT_EQ(restored->state().assignments.size(), 1u);
    EXPECT_EQ(restored->state().assignments[0].title, "First");
    EXPECT_EQ(unit->padKitState(), restored->state());
    EXPECT_NE(unit->loadedPad(5), nullptr);

    unit->applyPadKit(VellumtidePadKitState::empty);
    for (std::string broken : {"not json", R"({"assignments":[{"slot":"three"}]})", "{}"}) {
        storeText(broken);
        EXPECT_EQ(makeController()->state(), VellumtidePadKitState::empty) << broken;
    }
}

TEST_F(PadKitControllerTest, LoadsOntoTheSelectedPadKeepingItsTuningAndAdvances) {
    auto controller = makeController();
    QSignalSpy stateSpy(controller.get(), &VellumtidePadKitController::stateChanged);

    controller->setSelectedSlot(3);
    controller->load(sample("Old"));
    controller->setVolume(1.2, 3);
    controller->setPitch(-5, 3);
    controller->setSelectedSlot(3);
    auto kick = sample("Kick");
    controller->load(kick);
    auto pad = controller->state().assignment(3);
    ASSERT_TRUE(pad);
    EXPECT_EQ(pad->title, "Kick");
    EXPECT_EQ(pad->sourceKind, Kind::sample);
    EXPECT_EQ(pad->sourceID, kick.id);
    EXPECT_FALSE(pad->parentSampleID);
    EXPECT_EQ(pad->filePath, kick.audioURL.string());
    EXPECT_FLOAT_EQ(pad->volume, 1.2f);
    EXPECT_DOUBLE_EQ(pad->pitchSemitones, -5);
    EXPECT_EQ(controller->selectedSlot(), 4);
    EXPECT_NE(unit->loadedPad(3), nullptr);
    EXPECT_GE(stateSpy.count(), 4);
    expectInStep(*controller);

    // An empty pad gets the default tuning; a chop is titled after its sample and its number.
    auto loop = sample("Loop");
    auto third = chop(2, 0.5, 1.0);
    controller->load(third, loop);
    pad = controller->state().assignment(4);
    ASSERT_TRUE(pad);
    EXPECT_EQ(pad->title, "Loop 03");
    EXPECT_EQ(pad->sourceKind, Kind::chop);
    EXPECT_EQ(pad->sourceID, third.id);
    EXPECT_EQ(pad->parentSampleID, loop.id);
    EXPECT_FLOAT_EQ(pad->volume, 0.86f);
    EXPECT_DOUBLE_EQ(pad->pitchSemitones, 0);
    EXPECT_EQ(VellumtidePadKitController::chopPadTitle(chop(0, 0, 1, false), loop), "Loop 01");
    EXPECT_EQ(VellumtidePadKitController::chopPadTitle(chop(99, 0, 1, false), loop), "Loop 100");

    controller->setSelectedSlot(15);
    controller->load(sample("Last"));
    EXPECT_EQ(controller->selectedSlot(), 0);
    expectInStep(*controller);

    // Missing files load nothing and change nothing.
    const auto before = controller->state();
    stateSpy.clear();
    controller->load(sample("Gone", false));
    controller->load(chop(0, 0, 1, false), loop);
    EXPECT_EQ(controller->state(), before);
    EXPECT_EQ(controller->selectedSlot(), 0);
    EXPECT_EQ(stateSpy.count(), 0);
}

TEST_F(PadKitControllerTest, ChopPeaksAreTheChopsStretchOfTheSampleOverview) {
    auto withPeaks = [this](std::size_t count) {
        auto result = sample("Peaks", false);
        result.originalDuration = 10;
        result.peaks.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            result.peaks[i] = float(i) / float(count - 1); // a ramp: value = position
        return result;
    };
    auto middle = chop(0, 2.5, 7.5, false);
    EXPECT_EQ(VellumtidePadKitController::chopPeaks(middle, withPeaks(40)).size(), 18u);
    EXPECT_EQ(VellumtidePadKitController::chopPeaks(middle, withPeaks(150)).size(), 50u);
    EXPECT_EQ(VellumtidePadKitController::chopPeaks(middle, withPeaks(300)).size(), 64u);
    auto ramp = VellumtidePadKitController::chopPeaks(middle, withPeaks(300));
    EXPECT_NEAR(ramp.front(), 0.25f, 1e-5);
    EXPECT_NEAR(ramp.back(), 0.75f, 1e-5);
    for (std::size_t i = 1; i < ramp.size(); ++i)
        EXPECT_GT(ramp[i], ramp[i - 1]);

    // An end before the start is the slice of 0.0001 after the start; a start that is not a
    // number is the sample's start.
    auto backwards = VellumtidePadKitController::chopPeaks(chop(0, 5, 1, false), withPeaks(300));
    EXPECT_NEAR(backwards.front(), 0.5f, 1e-5);
    EXPECT_NEAR(backwards.back(), 0.5001f, 1e-4);
    auto unknownStart =
        VellumtidePadKitController::chopPeaks(chop(0, std::nan(""), 5, false), withPeaks(300));
    EXPECT_NEAR(unknownStart.front(), 0.0f, 1e-6);

    auto silentLength = withPeaks(40);
    silentLength.originalDuration = 0;
    EXPECT_EQ(VellumtidePadKitController::chopPeaks(middle, silentLength), silentLength.peaks);
}

TEST_F(PadKitControllerTest, TuningIsClampedStoredAndApplied) {
    auto controller = makeController();
    controller->load(sample("Snare")); // slot 0, selects 1
    controller->setSelectedSlot(0);
    struct Case {
        double value;
        float volume;
    };
    for (Case c : {Case{2.0, 1.5f}, Case{-1, 0.0f}, Case{std::nan(""), 0.0f}, Case{0.5, 0.5f}}) {
        controller->setVolume(c.value, 0);
        EXPECT_FLOAT_EQ(controller->state().assignment(0)->volume, c.volume);
        expectInStep(*controller);
    }
    controller->setPitch(30, 0);
    EXPECT_DOUBLE_EQ(controller->state().assignment(0)->pitchSemitones, 24);
    controller->setPitch(std::nan(""), 0);
    EXPECT_DOUBLE_EQ(controller->state().assignment(0)->pitchSemitones, -24);
    expectInStep(*controller);

    // A pad without a sound is not tuned; tuning one pad never touches the selected one.
    const auto before = controller->state();
    controller->setVolume(1.0, 7);
    controller->setPitch(3, 7);
    EXPECT_EQ(controller->state(), before);
    controller->setSelectedSlot(5);
    controller->setVolume(0.25, 0);
    EXPECT_FALSE(controller->state().assignment(5)) << "the tuned sound stays on its own pad";
    EXPECT_FLOAT_EQ(controller->state().assignment(0)->volume, 0.25f);
    expectInStep(*controller);
}

TEST_F(PadKitControllerTest, AUnitThatAlreadyHoldsPadsKeepsThemWhenTheWindowIsBuilt) {
    auto stored = sample("Stored");
    makeController()->load(stored);
    auto restored = sample("Restored");
    const VellumtidePadKitState document{
        {VellumtidePadAssignment(vt::Uuid::random(), 7, "Restored", Kind::sample, restored.id, std::nullopt,
                                 restored.audioURL.string(), 2.0, restored.peaks)}};
    unit->applyPadKit(document); // the host restores its document before the window opens
    auto controller = makeController();
    EXPECT_EQ(unit->padKitState(), document);
    EXPECT_EQ(controller->state(), document);
    EXPECT_EQ(storedKit(), document);

    unit->applyPadKit(VellumtidePadKitState::empty); // a fresh unit gets the stored kit
    makeController();
    EXPECT_EQ(unit->padKitState(), document);
}

TEST_F(PadKitControllerTest, WithoutAUnitTheKitIsStillPublishedAndStored) {
    auto lonely = std::make_shared<VellumtideAudioUnitReference>();
    VellumtidePadKitController controller(lonely, fixture.settings);
    controller.load(sample("Clap"));
    EXPECT_TRUE(controller.state().assignment(0));
    EXPECT_EQ(storedKit(), controller.state());
    EXPECT_EQ(unit->padKitState(), VellumtidePadKitState::empty);
}

// The host restores its document while the window is open: the window takes the restored kit
// over on its next check, and an edit made before that check edits the restored kit.
TEST_F(PadKitControllerTest, AKitRestoredUnderneathIsTakenOverOnTheCheckAndBeforeAnEdit) {
    auto timer = std::make_unique<vt::test::ManualRefreshTimer>();
    auto* check = timer.get();
    VellumtidePadKitController controller(reference, fixture.settings, std::move(timer));
    for (int pad = 0; pad < 5; ++pad)
        controller.load(sample("Pad " + std::to_string(pad + 1)));
    controller.startWatchingUnit();
    ASSERT_TRUE(check->active);
    EXPECT_FALSE(controller.reconcileWithUnit()) << "the window's own kit is not news";
    controller.setVolume(0.5, 1);
    EXPECT_FALSE(controller.reconcileWithUnit()) << "nor is its own edit";

    auto restoreDocument = [this](const VellumtidePadKitState& kit) {
        unit->setFullStateForDocument(
            vt::au::StateDictionary{{VellumtideAudioUnit::stateKey, kit.toJsonText()}});
    };
    VellumtidePadKitState six = controller.state();
    six.assignments.push_back(VellumtidePadAssignment(vt::Uuid::random(), 5, "Pad 6", Kind::sample,
                                                      std::nullopt, std::nullopt,
                                                      sample("Pad 6").audioURL.string(), 2.0, {0.5f}));
    restoreDocument(six);
    QSignalSpy stateSpy(&controller, &VellumtidePadKitController::stateChanged);
    check->tick();
    EXPECT_EQ(controller.state(), six);
    EXPECT_EQ(stateSpy.count(), 1);
    expectInStep(controller);

    // Restored again, then a volume edit before any check: the edit lands on the restored kit.
    VellumtidePadKitState seven = six;
    seven.assignments.push_back(VellumtidePadAssignment(vt::Uuid::random(), 6, "Pad 7", Kind::sample,
                                                        std::nullopt, std::nullopt,
                                                        sample("Pad 7").audioURL.string(), 2.0, {0.5f}));
    restoreDocument(seven);
    controller.setVolume(1.25, 0);
    EXPECT_EQ(unit->padKitState().assignments.size(), 7u);
    EXPECT_FLOAT_EQ(unit->padKitState().assignment(0)->volume, 1.25f);
    expectInStep(controller);

    // A loaded sample goes onto the restored kit too, and a restored empty kit empties the window.
    restoreDocument(six);
    controller.setSelectedSlot(9);
    controller.load(sample("Late"));
    EXPECT_EQ(unit->padKitState().assignments.size(), 7u);
    EXPECT_FALSE(unit->padKitState().assignment(6)) << "pad 7 was restored away before the load";
    restoreDocument(VellumtidePadKitState::empty);
    check->tick();
    EXPECT_EQ(controller.state(), VellumtidePadKitState::empty);
    expectInStep(controller);

    // A new unit without a kit of its own gets the window's on the next check.
    controller.load(sample("Kept"));
    auto fresh = VellumtideAudioUnit::create({});
    reference->set(fresh);
    check->tick();
    EXPECT_EQ(fresh->padKitState(), controller.state());
    controller.stopWatchingUnit();
    EXPECT_FALSE(check->active);
}

} // namespace
