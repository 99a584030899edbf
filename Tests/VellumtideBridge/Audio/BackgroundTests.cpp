#include "Platform/Audio/AudioFile.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleAnalyzer.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include <QThread>
#include <gtest/gtest.h>

namespace {

using vt::test::TemporaryFolder;

TEST(AudioBackground, WorkRunsOffTheMainThreadAndErrorsKeepTheirType) {
    vt::test::testApplication();
    TemporaryFolder folder;
    const auto input = folder / "hits.wav";
    vt::test::writeWav(input, 44100, {vt::test::hitsAt({0.2, 0.7, 1.2}, 44100, 66150)});

    const auto rendered = vt::test::runTask<bool>([&]() -> QCoro::Task<bool> {
        co_await BridgeSampleRenderer::render(input, folder / "Edited" / "out.wav", BridgeSampleEdit{});
        co_return QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    ASSERT_TRUE(rendered.finished);
    ASSERT_FALSE(rendered.error);
    EXPECT_TRUE(*rendered.value); // resumed on the main thread
    EXPECT_TRUE(std::filesystem::exists(folder / "Edited" / "out.wav"));

    const auto chops = vt::test::runTask<std::vector<BridgeSampleChop>>(
        [&] { return BridgeSampleRenderer::detectChops(input, 0.65); });
    ASSERT_TRUE(chops.value);
    EXPECT_EQ(chops.value->size(), 3u);

    const auto analysis =
        vt::test::runTask<BridgeSampleAnalysis>([&] { return BridgeSampleAnalyzer::analyze(input); });
    ASSERT_TRUE(analysis.value);
    EXPECT_TRUE(analysis.value->analyzedAt);

    // A selection that cannot be denoised (no frame) fails with the renderer's own error.
    vt::test::writeWav(folder / "empty.wav", 44100, {{}});
    BridgeSampleEdit denoise;
    denoise.denoise = true;
    const auto failed = vt::test::runTask<bool>([&]() -> QCoro::Task<bool> {
        co_await BridgeSampleRenderer::render(folder / "empty.wav", folder / "x.wav", denoise);
        co_return true;
    });
    ASSERT_TRUE(failed.error);
    try {
        std::rethrow_exception(failed.error);
    } catch (const BridgeSampleRenderer::RenderError& error) {
        EXPECT_EQ(error.code(), BridgeSampleRenderer::RenderError::Code::unreadableAudio);
        EXPECT_STREQ(error.what(), "The sample audio could not be read.");
    }
    const auto missing = vt::test::runTask<BridgeSampleAnalysis>(
        [&] { return BridgeSampleAnalyzer::analyze(folder / "missing.wav"); });
    EXPECT_THROW(std::rethrow_exception(missing.error), vt::AudioFileError);
}

} // namespace
