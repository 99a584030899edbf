#include "Platform/Audio/AudioFile.h"
#include "Platform/Audio/WavWriter.h"
#include "Tests/Support/Audio/M4aFixture.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

namespace {

using vt::test::TemporaryFolder;
using Code = BridgeSampleRenderer::RenderError::Code;

std::vector<float> ramp(size_t frames, float step = 0.0001f) {
    std::vector<float> out(frames);
    for (size_t i = 0; i < frames; ++i)
        out[i] = step * static_cast<float>(i + 1);
    return out;
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SampleRenderer, NeutralEditRendersEveryFrameClampedAsFloat) {
    TemporaryFolder folder;
    // Lengths whose duration does not convert back to the same frame count.
    for (const size_t frames : {44101u, 44100u * 3 + 7u, 48000u + 1u, 12345u}) {
        const auto input = folder / "in.wav";
        std::vector<float> samples = vt::test::sineWave(300, 44100, frames, 1.4);
        vt::test::writeWav(input, 44100, {samples, vt::test::noise(frames, 0.2)});
        BridgeSampleRenderer::renderSynchronously(input, folder / "out.wav", BridgeSampleEdit{});
        const vt::AudioData out = vt::readAudioFile(folder / "out.wav");
        ASSERT_EQ(out.frameCount(), frames);
        EXPECT_EQ(out.sampleRate, 44100);
        ASSERT_EQ(out.channels.size(), 2u);
        for (size_t i = 0; i < frames; i += 97)
            ASSERT_EQ(out.channels[0][i], std::clamp(samples[i], -1.0f, 1.0f)) << frames << " " << i;
    }

    // A 16-bit source becomes a 32-bit float file of the same rate and channels.
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open((folder / "pcm.wav").c_str(), SFM_WRITE, &info);
    std::vector<short> pcm(2000, 8192);
    sf_write_short(file, pcm.data(), 2000);
    sf_close(file);
    BridgeSampleRenderer::renderSynchronously(folder / "pcm.wav", folder / "pcm-out.wav", BridgeSampleEdit{});
    SF_INFO outInfo{};
    SNDFILE* rendered = sf_open((folder / "pcm-out.wav").c_str(), SFM_READ, &outInfo);
    ASSERT_NE(rendered, nullptr);
    EXPECT_EQ(outInfo.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(outInfo.samplerate, 22050);
    EXPECT_EQ(outInfo.frames, 2000);
    sf_close(rendered);
}

TEST(SampleRenderer, TrimFadesAndNormaliseFollowTheEdit) {
    TemporaryFolder folder;
    const auto input = folder / "ramp.wav";
    const std::vector<float> source = ramp(4000); // 4 s at 1 kHz
    vt::test::writeWav(input, 1000, {source});

    BridgeSampleEdit edit;
    edit.startTime = 1.0;
    edit.endTime = 1.1;
    edit.fadeIn = 0.1; // longer than half the range: sanitised to 0.05 s = 50 frames
    BridgeSampleRenderer::renderSynchronously(input, folder / "trim.wav", edit);
    vt::AudioData out = vt::readAudioFile(folder / "trim.wav");
    ASSERT_EQ(out.frameCount(), 100u);
    EXPECT_EQ(out.channels[0][0], 0.0f);
    EXPECT_FLOAT_EQ(out.channels[0][25], 0.5f * source[1025]);
    EXPECT_EQ(out.channels[0][50], source[1050]);
    EXPECT_EQ(out.channels[0][99], source[1099]);

    // A fade-in over the whole range gives gains 0, 1/n … (n−1)/n; a fade-out ends in silence.
    vt::AudioData buffer{1000, {std::vector<float>(10, 0.5f)}};
    BridgeSampleRenderer::applyGain(buffer, 0.010, 0, false);
    for (int i = 0; i < 10; ++i)
        EXPECT_FLOAT_EQ(buffer.channels[0][i], 0.5f * i / 10.0f);
    buffer = {1000, {std::vector<float>(10, 0.5f)}};
    BridgeSampleRenderer::applyGain(buffer, 0, 0.004, false);
    EXPECT_EQ(buffer.channels[0][9], 0.0f);
    EXPECT_FLOAT_EQ(buffer.channels[0][6], 0.5f * 3 / 4.0f);
    EXPECT_EQ(buffer.channels[0][5], 0.5f);

    // Normalising: peak 0.5 becomes 0.98; digital silence stays as it is.
    buffer = {1000, {{0.5f, -0.25f}, {0.1f, 0.0f}}};
    BridgeSampleRenderer::applyGain(buffer, 0, 0, true);
    EXPECT_FLOAT_EQ(buffer.channels[0][0], 0.98f);
    EXPECT_FLOAT_EQ(buffer.channels[0][1], -0.49f);
    EXPECT_FLOAT_EQ(buffer.channels[1][0], 0.196f);
    buffer = {1000, {{0.0f, 0.0000005f}}};
    BridgeSampleRenderer::applyGain(buffer, 0, 0, true);
    EXPECT_EQ(buffer.channels[0][1], 0.0000005f);
}

TEST(SampleRenderer, SelectionsNearTheEndsAreSanitisedAgainstTheDecodedLength) {
    TemporaryFolder folder;
    const auto input = folder / "ramp.wav";
    const std::vector<float> source = ramp(4000);
    vt::test::writeWav(input, 1000, {source});

    BridgeSampleEdit late;
    late.startTime = 9.0; // past the end: capped to the last 0.05 s
    BridgeSampleRenderer::renderSynchronously(input, folder / "late.wav", late);
    vt::AudioData out = vt::readAudioFile(folder / "late.wav");
    ASSERT_EQ(out.frameCount(), 50u);
    EXPECT_EQ(out.channels[0].front(), source[3950]);
    EXPECT_EQ(out.channels[0].back(), source[3999]);

    BridgeSampleEdit tail;
    tail.startTime = 3.9;
    tail.endTime = 3.9995; // within 1 ms of the end: the end is dropped, every frame kept
    BridgeSampleRenderer::renderSynchronously(input, folder / "tail.wav", tail);
    EXPECT_EQ(vt::readAudioFile(folder / "tail.wav").frameCount(), 100u);

    // At a very low rate the end frame falls on the first one: one frame is still rendered.
    vt::test::writeWav(folder / "slow.wav", 10, {{0.1f, 0.2f, 0.3f, 0.4f}});
    BridgeSampleEdit tiny;
    tiny.endTime = 0.01;
    BridgeSampleRenderer::renderSynchronously(folder / "slow.wav", folder / "slow-out.wav", tiny);
    out = vt::readAudioFile(folder / "slow-out.wav");
    EXPECT_EQ(out.channels.at(0), (std::vector<float>{0.1f}));

    // A long source with an early end gives exactly the selection.
    const std::vector<float> longSource = ramp(300000, 0.000003f);
    vt::test::writeWav(folder / "long.wav", 48000, {longSource});
    BridgeSampleEdit middle;
    middle.startTime = 2.0;
    middle.endTime = 2.5;
    BridgeSampleRenderer::renderSynchronously(folder / "long.wav", folder / "middle.wav", middle);
    out = vt::readAudioFile(folder / "middle.wav");
    ASSERT_EQ(out.frameCount(), 24000u);
    EXPECT_EQ(out.channels[0].front(), longSource[96000]);
    EXPECT_EQ(out.channels[0].back(), longSource[119999]);

    // A start beyond the first decoded blocks, without an end: from there to the last frame.
    BridgeSampleEdit late48k;
    late48k.startTime = 3.0;
    BridgeSampleRenderer::renderSynchronously(folder / "long.wav", folder / "rest.wav", late48k);
    out = vt::readAudioFile(folder / "rest.wav");
    ASSERT_EQ(out.frameCount(), 156000u);
    EXPECT_EQ(out.channels[0].front(), longSource[144000]);
    EXPECT_EQ(out.channels[0].back(), longSource.back());

    // A start less than 0.05 s before the end moves back to keep the shortest selection.
    BridgeSampleEdit nearEnd;
    nearEnd.startTime = 6.23;
    BridgeSampleRenderer::renderSynchronously(folder / "long.wav", folder / "near-end.wav", nearEnd);
    out = vt::readAudioFile(folder / "near-end.wav");
    ASSERT_EQ(out.frameCount(), 2400u);
    EXPECT_EQ(out.channels[0].front(), longSource[297600]);
}

TEST(SampleRenderer, OutputIsWholeOrAbsentAndFailuresAreTyped) {
    TemporaryFolder folder;
    const auto input = folder / "in.wav";
    vt::test::writeWav(input, 8000, {vt::test::sineWave(200, 8000, 8000)});

    // A missing folder is created; an existing output is replaced; no temporary stays.
    const auto output = folder / "Edited" / "deep" / "ABC.wav";
    BridgeSampleRenderer::renderSynchronously(input, output, BridgeSampleEdit{});
    BridgeSampleEdit trimmed;
    trimmed.endTime = 0.5;
    BridgeSampleRenderer::renderSynchronously(input, output, trimmed);
    EXPECT_EQ(vt::readAudioFile(output).frameCount(), 4000u);
    EXPECT_EQ(folderEntries(output.parent_path()), std::vector<std::string>{"ABC.wav"});

    // The output cannot be put in place (a folder is there): the error names the output with the
    // system's reason, and the temporary is gone.
    std::filesystem::create_directories(folder / "Busy" / "out.wav" / "inner");
    try {
        BridgeSampleRenderer::renderSynchronously(input, folder / "Busy" / "out.wav", trimmed);
        ADD_FAILURE() << "the blocked output was not reported";
    } catch (const vt::WavWriterError& error) {
        EXPECT_STREQ(error.what(), "The audio file \"out.wav\" could not be written: Is a directory.");
    }
    EXPECT_EQ(folderEntries(folder / "Busy"), std::vector<std::string>{"out.wav"});

    // An unreadable source writes nothing.
    vt::test::writeFile(folder / "junk.m4a", std::string(3000, 'j'));
    EXPECT_THROW(
        BridgeSampleRenderer::renderSynchronously(folder / "junk.m4a", folder / "Out" / "x.wav", trimmed),
        vt::AudioFileError);
    EXPECT_FALSE(std::filesystem::exists(folder / "Out" / "x.wav"));

    const BridgeSampleRenderer::RenderError tooLong(Code::unsupportedLength);
    const BridgeSampleRenderer::RenderError unreadable(Code::unreadableAudio);
    EXPECT_STREQ(tooLong.what(), "This sample is too long to render in the lightweight editor.");
    EXPECT_STREQ(unreadable.what(), "The sample audio could not be read.");
    EXPECT_FALSE(tooLong == unreadable);
    EXPECT_TRUE(unreadable == BridgeSampleRenderer::RenderError(Code::unreadableAudio));
}

TEST(SampleRenderer, DenoisedAndCompressedSourcesKeepTheirLength) {
    TemporaryFolder folder;
    const size_t frames = 96000;
    std::vector<float> signal = vt::test::noise(frames, 0.01);
    const auto tone = vt::test::sineWave(800, 48000, frames, 0.3);
    for (size_t i = 30000; i < 70000; ++i)
        signal[i] += tone[i];
    vt::test::writeWav(folder / "noisy.wav", 48000, vt::test::replicate(signal, 2));
    BridgeSampleEdit edit;
    edit.denoise = true;
    edit.normalize = true;
    BridgeSampleRenderer::renderSynchronously(folder / "noisy.wav", folder / "clean.wav", edit);
    const vt::AudioData clean = vt::readAudioFile(folder / "clean.wav");
    ASSERT_EQ(clean.frameCount(), frames);
    float peak = 0;
    for (const float sample : clean.channels[1])
        peak = std::max(peak, std::fabs(sample));
    EXPECT_FLOAT_EQ(peak, 0.98f);

    vt::test::writeM4a(folder / "voice.m4a", 44100, {vt::test::sineWave(440, 44100, 44100)});
    BridgeSampleRenderer::renderSynchronously(folder / "voice.m4a", folder / "voice.wav", BridgeSampleEdit{});
    EXPECT_EQ(vt::readAudioFile(folder / "voice.wav").frameCount(), 44100u);
}

} // namespace

// A disk that fills up while a render is written: the text names the output and the system's
// reason, and neither the output nor a temporary is left behind. The file-size limit stands in
// for the full disk, so that the test needs no privileges.
TEST(SampleRenderer, AWriteThatRunsOutOfRoomLeavesNothingAndSaysWhy) {
    TemporaryFolder folder;
    const auto input = folder / "in.wav";
    vt::test::writeWav(input, 48000, {vt::test::sineWave(200, 48000, 96000)});
    const auto output = folder / "Edited" / "ABC.wav";
    std::filesystem::create_directories(output.parent_path());

    struct FileSizeLimit {
        rlimit saved{};
        void (*savedHandler)(int) = nullptr;
        FileSizeLimit() {
            getrlimit(RLIMIT_FSIZE, &saved);
            savedHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = 64 * 1024;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        ~FileSizeLimit() {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, savedHandler);
        }
    };
    std::string text;
    {
        FileSizeLimit limit;
        try {
            BridgeSampleRenderer::renderSynchronously(input, output, BridgeSampleEdit{});
        } catch (const std::exception& error) {
            text = error.what();
        }
    }
    EXPECT_EQ(text, "The audio file \"ABC.wav\" could not be written: File too large.");
    EXPECT_EQ(folderEntries(output.parent_path()), std::vector<std::string>{});
}
