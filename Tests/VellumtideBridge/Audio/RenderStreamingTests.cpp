// The streamed render against the render that holds the whole selection, and the denoised render
// against fingerprints of its output taken before it learnt to work in place.

#include "Platform/Audio/AudioFile.h"
#include "Platform/Audio/Fft.h"
#include "Tests/Support/Audio/M4aFixture.h"
#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideBridge/Library/EditFixtures.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace {

using vt::test::makeEdit;
using vt::test::TemporaryFolder;

// FNV-1a over the samples' bytes, channel after channel.
std::uint64_t fingerprint(const vt::AudioData& audio) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const auto& channel : audio.channels) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(channel.data());
        for (std::size_t i = 0; i < channel.size() * sizeof(float); ++i)
            hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

bool sameSamples(const vt::AudioData& a, const vt::AudioData& b) {
    if (a.sampleRate != b.sampleRate || a.channels.size() != b.channels.size())
        return false;
    for (std::size_t c = 0; c < a.channels.size(); ++c) {
        if (a.channels[c].size() != b.channels[c].size() ||
            std::memcmp(a.channels[c].data(), b.channels[c].data(), a.channels[c].size() * sizeof(float)) !=
                0)
            return false;
    }
    return true;
}

// A noisy tone with a loud middle on two different channels, and a short mono burst.
void writeSources(const std::filesystem::path& folder) {
    const std::size_t frames = 96000;
    std::vector<float> signal = vt::test::noise(frames, 0.01);
    const auto tone = vt::test::sineWave(800, 48000, frames, 0.3);
    for (std::size_t i = 30000; i < 70000; ++i)
        signal[i] += tone[i];
    vt::test::writeWav(folder / "noisy.wav", 48000, {signal, vt::test::noise(frames, 0.02, 7)});
    vt::test::writeWav(folder / "short.wav", 22050, {vt::test::noise(3000, 0.3, 9)});
    vt::test::writeWav(folder / "hot.wav", 1000, {vt::test::sawWave(3, 1000, 4000, 8, 1.6)});
    vt::test::writeM4a(folder / "voice.m4a", 44100, {vt::test::sineWave(440, 44100, 220500)});
    // Ten seconds: long enough for frames to be handed on while decoding goes on.
    std::vector<float> loud = vt::test::sawWave(110, 48000, 480000, 8, 1.3);
    const auto quiet = vt::test::noise(480000, 0.05, 11);
    for (std::size_t i = 0; i < 480000; i += 2)
        loud[i] *= 0.5f;
    vt::test::writeWav(folder / "long.wav", 48000, {loud, quiet});
}

TEST(RenderStreaming, StreamedOutputEqualsTheHeldRenderForEveryKindOfEdit) {
    TemporaryFolder folder;
    writeSources(folder.path());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<BridgeSampleEdit> edits = {
        makeEdit(0, std::nullopt, 0, 0),
        makeEdit(0.3, 1.7, 0.2, 0.4),
        makeEdit(0.3, 1.7, 0.2, 0.4, true),
        makeEdit(0, std::nullopt, 0.5, 0.5, true),
        makeEdit(0.1, std::nullopt, 5, 5),     // fades longer than half the selection
        makeEdit(9, std::nullopt, 0.01, 0.01), // start past the end
        makeEdit(1.95, 1.9995, 0, 0.02),       // the end within a hair of the file's end
        makeEdit(0.5, 0.5, 0.1, 0.1),          // end at the start: the shortest selection
        makeEdit(nan, nan, nan, nan, true),
        makeEdit(-1, inf, 0.25, 0, true),
        makeEdit(1.2, std::nullopt, 0, 0.3),
        makeEdit(1, 7.5, 0.5, 0.5),
        makeEdit(0.5, std::nullopt, 1, 2, true),
        makeEdit(2, 9.99999, 0.05, 3),
        makeEdit(9.97, std::nullopt, 0.2, 0.2, true),
    };
    for (const char* source : {"noisy.wav", "short.wav", "hot.wav", "voice.m4a", "long.wav"}) {
        for (std::size_t i = 0; i < edits.size(); ++i) {
            SCOPED_TRACE(std::string(source) + " edit " + std::to_string(i));
            BridgeSampleRenderer::renderSynchronously(folder / source, folder / "streamed.wav", edits[i]);
            BridgeSampleRenderer::renderHeldSynchronously(folder / source, folder / "held.wav", edits[i]);
            EXPECT_TRUE(sameSamples(vt::readAudioFile(folder / "streamed.wav"),
                                    vt::readAudioFile(folder / "held.wav")));
        }
    }
}

// The transform's own output on a fixed input: the recorded outputs hold only where it matches.
constexpr std::uint64_t recordedFftFingerprint = 0x8679b8a427fe40fdull;

std::uint64_t fftFingerprint() {
    vt::AudioData spectra;
    const auto input = vt::test::noise(2048, 0.5, 3);
    for (int size : {1024, 2048}) {
        vt::RealFft fft(size);
        std::vector<float> real(static_cast<std::size_t>(size / 2)), imag(real.size());
        fft.forward(input.data(), real.data(), imag.data());
        spectra.channels.push_back(real);
        spectra.channels.push_back(imag);
    }
    return fingerprint(spectra);
}

TEST(RenderStreaming, DenoisedOutputIsBitForBitWhatItWas) {
    TemporaryFolder folder;
    writeSources(folder.path());
    BridgeSampleEdit whole;
    whole.denoise = true;
    BridgeSampleEdit trimmed = makeEdit(0.3, 1.7, 0.2, 0.4, true);
    trimmed.denoise = true;
    const struct {
        const char* source;
        BridgeSampleEdit edit;
        std::size_t frames;
        std::uint64_t fingerprint;
    } cases[] = {
        {"noisy.wav", whole, 96000, 0x539d84ea8bfb2dcfull},
        {"noisy.wav", trimmed, 67200, 0x879687d9a1439726ull},
        {"short.wav", whole, 3000, 0x1201b5b822d74874ull},
    };
    if (fftFingerprint() != recordedFftFingerprint)
        GTEST_SKIP() << "this processor's transforms round differently from where the output was recorded";
    for (const auto& expected : cases) {
        BridgeSampleRenderer::renderSynchronously(folder / expected.source, folder / "clean.wav",
                                                  expected.edit);
        const vt::AudioData clean = vt::readAudioFile(folder / "clean.wav");
        EXPECT_EQ(clean.frameCount(), expected.frames) << expected.source;
        EXPECT_EQ(fingerprint(clean), expected.fingerprint)
            << expected.source << std::hex << " 0x" << fingerprint(clean);
    }
}

} // namespace
