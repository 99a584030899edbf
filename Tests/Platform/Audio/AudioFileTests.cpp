#include "Platform/Audio/AudioDecoder.h"
#include "Platform/Audio/AudioFile.h"
#include "Platform/Audio/WavWriter.h"
#include "Tests/Support/Audio/M4aFixture.h"
#include "Tests/Support/TemporaryFolder.h"

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <sndfile.h>
#include <unistd.h>

namespace vt {
namespace {

using test::TemporaryFolder;

TEST(AudioFile, FloatWavRoundTripsExactlyWithItsRateAndChannels) {
    TemporaryFolder folder;
    const auto path = folder / "tone.wav";
    test::Channels channels{test::sineWave(440, 22050, 12345, 0.7), test::noise(12345, 0.3)};
    test::writeWav(path, 22050, channels);

    const AudioData data = readAudioFile(path);
    EXPECT_EQ(data.sampleRate, 22050);
    ASSERT_EQ(data.channels.size(), 2u);
    EXPECT_EQ(data.frameCount(), 12345u);
    EXPECT_EQ(data.channels, channels);

    AudioFileReader reader(path);
    EXPECT_EQ(reader.channelCount(), 2);
    EXPECT_EQ(reader.estimatedFrameCount(), 12345);
    std::vector<std::vector<float>> block;
    size_t total = 0;
    while (const size_t got = reader.read(block, 1000)) {
        EXPECT_LE(got, 1000u);
        ASSERT_EQ(block[1].size(), got);
        EXPECT_EQ(block[1][0], channels[1][total]);
        total += got;
    }
    EXPECT_EQ(total, 12345u);
    EXPECT_EQ(reader.read(block, 10), 0u);
}

TEST(AudioFile, NonFiniteSamplesReadAsZeroAndLimitsAreEnforced) {
    TemporaryFolder folder;
    const auto path = folder / "odd.wav";
    std::vector<float> samples{0.25f, std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(), -0.5f};
    test::writeWav(path, 8000, {samples});
    const AudioData data = readAudioFile(path);
    EXPECT_EQ(data.channels.at(0), (std::vector<float>{0.25f, 0, 0, -0.5f}));

    EXPECT_NO_THROW(readAudioFile(path, 4));
    EXPECT_THROW(readAudioFile(path, 3), AudioFileError);
}

TEST(AudioFile, IntegerFormatsAndEmptyFilesDecode) {
    TemporaryFolder folder;
    const auto path = folder / "pcm16.aiff";
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const short values[] = {0, 16384, -32768, 32767};
    ASSERT_EQ(sf_write_short(file, values, 4), 4);
    sf_close(file);
    const AudioData data = readAudioFile(path);
    EXPECT_EQ(data.sampleRate, 16000);
    EXPECT_EQ(data.channels.at(0), (std::vector<float>{0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f}));

    const auto empty = folder / "empty.wav";
    test::writeWav(empty, 44100, {{}});
    const AudioData none = readAudioFile(empty);
    EXPECT_EQ(none.sampleRate, 44100);
    EXPECT_EQ(none.frameCount(), 0u);
}

// The whole of a decoder's output: its rate, its channels and their samples.
AudioData decodedBy(detail::AudioDecoder& decoder) {
    AudioData data;
    data.sampleRate = decoder.sampleRate();
    data.channels.resize(static_cast<size_t>(decoder.channelCount()));
    while (decoder.readAppending(data.channels, 1000) > 0) {
    }
    return data;
}

bool sameBits(const AudioData& a, const AudioData& b) {
    if (a.sampleRate != b.sampleRate || a.channels.size() != b.channels.size())
        return false;
    for (size_t c = 0; c < a.channels.size(); ++c) {
        if (a.channels[c].size() != b.channels[c].size() ||
            std::memcmp(a.channels[c].data(), b.channels[c].data(), a.channels[c].size() * sizeof(float)) !=
                0)
            return false;
    }
    return true;
}

// WAV, AIFF and FLAC files are read without FFmpeg, to the same floats as FFmpeg reads them: every
// sample width in both byte orders, floats, the extensible WAV header, an AIFF whose sound chunk
// counts its pad byte (FFmpeg used to refuse the odd byte after the last frame), and a FLAC stream
// with a damaged frame, which is read on through FFmpeg from there.
TEST(AudioFile, PcmFilesAreReadDirectlyToFfmpegsSamples) {
    TemporaryFolder folder;
    struct Case {
        const char* name;
        int format;
        int channels;
    };
    const Case cases[] = {
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2},
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2},
        {"s32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 2},
        {"f64.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 1},
        {"x24.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 3},
        {"xf32.wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2},
        {"s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 2},
        {"s24.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1},
        {"s32.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 2},
        {"f32.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 2},
        {"f64.aifc", SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, 1},
        {"le16.aifc", SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE, 2},
        {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2},
        {"s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1},
    };
    const size_t frames = 20001;
    std::vector<float> interleaved = test::noise(frames * 3, 1.0, 9);
    interleaved[0] = 1.0f;
    interleaved[1] = -1.0f;
    for (const Case& c : cases) {
        const auto path = folder / c.name;
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = c.channels;
        info.format = c.format;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr) << c.name;
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        ASSERT_EQ(sf_writef_float(file, interleaved.data(), frames), static_cast<sf_count_t>(frames));
        sf_close(file);
        if (std::string(c.name) == "s16.flac") {
            std::fstream damaged(path, std::ios::in | std::ios::out | std::ios::binary);
            damaged.seekp(static_cast<std::streamoff>(std::filesystem::file_size(path) * 2 / 3));
            damaged.put('\x55');
        }

        detail::FileHandle handle(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        auto direct = detail::openPcmDecoder(path, handle);
        if (!direct)
            direct = detail::openFlacDecoder(path, handle);
        ASSERT_NE(direct, nullptr) << c.name << " is left to FFmpeg";
        const AudioData ours = decodedBy(*direct);
        EXPECT_EQ(ours.frameCount(),
                  c.name == std::string("s16.flac") ? readAudioFile(path).frameCount() : frames)
            << c.name;
        EXPECT_TRUE(sameBits(ours, decodedBy(*detail::openFfmpegDecoder(path)))) << c.name;
    }
}

TEST(AudioFile, AacM4aDecodesWithPrimingTrimmed) {
    TemporaryFolder folder;
    const auto path = folder / "voice.m4a";
    const size_t frames = 48000;
    test::writeM4a(path, 48000, test::replicate(test::sineWave(1000, 48000, frames, 0.5), 2));

    const AudioData data = readAudioFile(path);
    EXPECT_EQ(data.sampleRate, 48000);
    ASSERT_EQ(data.channels.size(), 2u);
    // The decoder hands back the encoded length, not the priming before it.
    EXPECT_EQ(data.frameCount(), frames);
    // With the priming gone the tone lines up with the original in phase.
    double error = 0;
    const auto reference = test::sineWave(1000, 48000, frames, 0.5);
    for (size_t i = 4800; i < 43200; ++i)
        error = std::max(error, static_cast<double>(std::fabs(data.channels[0][i] - reference[i])));
    EXPECT_LT(error, 0.05);
}

TEST(AudioFile, UnreadableInputsFailWithATypedError) {
    TemporaryFolder folder;
    EXPECT_THROW(readAudioFile(folder / "missing.wav"), AudioFileError);
    test::writeFile(folder / "junk.wav", std::string(4000, 'x'));
    EXPECT_THROW(readAudioFile(folder / "junk.wav"), AudioFileError);
    std::filesystem::create_directory(folder / "folder.wav");
    EXPECT_THROW(readAudioFile(folder / "folder.wav"), AudioFileError);
    // A playlist must not make the decoder fetch anything from the network.
    test::writeFile(folder / "list.m3u8", "#EXTM3U\n#EXTINF:1,\nhttp://192.0.2.1/a.wav\n");
    EXPECT_THROW(readAudioFile(folder / "list.m3u8"), AudioFileError);
    try {
        readAudioFile(folder / "junk.wav");
    } catch (const AudioFileError& error) {
        EXPECT_NE(std::string(error.what()).find("\"junk.wav\""), std::string::npos);
    }
}

TEST(WavWriter, ChecksCountsSizesAndTheFolder) {
    TemporaryFolder folder;
    WavWriter writer(folder / "a.wav", 48000, 2);
    EXPECT_THROW(writer.write({{0.1f}}, 0, 1), WavWriterError);         // wrong channel count
    EXPECT_THROW(writer.write({{0.1f}, {0.2f}}, 0, 2), WavWriterError); // past the end
    writer.write({{0.1f, 0.2f}, {0.3f, 0.4f}}, 1, 1);
    writer.close();
    const AudioData data = readAudioFile(folder / "a.wav");
    EXPECT_EQ(data.channels, (std::vector<std::vector<float>>{{0.2f}, {0.4f}}));

    EXPECT_THROW(WavWriter(folder / "no" / "such.wav", 48000, 1), WavWriterError);
    EXPECT_THROW(WavWriter(folder / "b.wav", 0, 1), WavWriterError);
    try {
        WavWriter missing(folder / "no" / "such.wav", 48000, 1);
    } catch (const WavWriterError& error) {
        EXPECT_STREQ(error.what(),
                     "The audio file \"such.wav\" could not be written: No such file or directory.");
    }
    EXPECT_TRUE(fitsInFloatWav(500'000'000, 2));
    EXPECT_FALSE(fitsInFloatWav(600'000'000, 2));
    EXPECT_FALSE(fitsInFloatWav(1'073'741'824, 1));
}

// A full disk: /dev/full refuses every write with ENOSPC. The text names the file the user knows
// (not the one written to) and the system's reason.
TEST(WavWriter, AFullDiskIsNamedWithTheSystemsReason) {
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is not writable here";
    std::string text;
    try {
        WavWriter writer("/dev/full", 48000, 1, "/library/Edited/Take.wav");
        writer.write({std::vector<float>(200000, 0.25f)});
        writer.close();
    } catch (const WavWriterError& error) {
        text = error.what();
    }
    EXPECT_EQ(text, "The audio file \"Take.wav\" could not be written: No space left on device.");
}

} // namespace
} // namespace vt
