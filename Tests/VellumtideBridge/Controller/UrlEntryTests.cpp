// The "vellumtide:" URL entry.

#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

namespace vt::test {
namespace {

const QString known = QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");

TEST(EditSampleID, FormsOfTheScheme) {
    auto id = Uuid::parse(known.toStdString());
    auto of = [](const QString& url) { return BridgeViewModel::editSampleID(url); };
    EXPECT_EQ(of("vellumtide://edit/" + known), id);
    EXPECT_EQ(of("vellumtide://edit/" + known.toLower()), id);
    EXPECT_EQ(of("vellumtide://open?sample=" + known), id);
    EXPECT_EQ(of("vellumtide://anything/else?x=1&edit=" + known), id);
    EXPECT_EQ(of("vellumtide://edit/not-a-uuid/" + known), id);
    EXPECT_FALSE(of("Vellumtide://edit/" + known));
    EXPECT_FALSE(of("vellumtide://Edit/" + known));
    EXPECT_FALSE(of("vellumtide://open"));
    EXPECT_FALSE(of("vellumtide://edit/" + known.left(35)));
    EXPECT_FALSE(of("vellumtide://edit/{" + known + "}"));
    EXPECT_FALSE(of("vellumtide://open?sample=nope&edit=" + known));
    EXPECT_EQ(of("vellumtide://edit/" + known + "?sample=nope&edit=" + known.toLower()), id);
    EXPECT_FALSE(of("https://edit/" + known));
    EXPECT_FALSE(of("vellumtide:edit/" + known));
}

TEST_F(ControllerTest, HandleOpenURLWakesAndOpensTheEditor) {
    auto take = makeSample("take", 100), gone = makeSample("gone", 90);
    take.id = *Uuid::parse(known.toStdString());
    seedLibrary({take, gone});
    auto& m = start();
    settle();
    m.renameSample(m.samples()[0], "Shown");
    settleWrites();
    m.setIsWatchModeEnabled(false);
    m.setStatusMessage("before");
    record();
    m.handleOpenURL("vellumtide://open");
    EXPECT_TRUE(m.isWatchModeEnabled());
    EXPECT_EQ(desktop->activations, 1);
    EXPECT_EQ(m.statusMessage(), "before");
    EXPECT_NE(std::find(changes.begin(), changes.end(), BridgeViewModel::Field::isWatchModeEnabled),
              changes.end());

    m.handleOpenURL("vellumtide://edit/" + known.toLower());
    ASSERT_TRUE(m.editingSample());
    EXPECT_EQ(m.editingSample()->title, "Shown");
    EXPECT_EQ(m.statusMessage(), "Editing Shown");

    m.deleteSample(m.displaySamples({gone})[0]);
    settleWrites();
    m.handleOpenURL("vellumtide://edit/" + QString::fromStdString(gone.id.string()));
    EXPECT_EQ(m.editingSample()->id, gone.id);
    EXPECT_EQ(m.statusMessage(), "Editing gone");

    m.handleOpenURL("vellumtide://edit/" + QString::fromStdString(Uuid::random().string()));
    EXPECT_EQ(m.statusMessage(), "Sample not found");
    EXPECT_EQ(m.errorMessage(), "That sample is not in the Bridge library yet.");
}

} // namespace
} // namespace vt::test
