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
#include <optional>
#include <sndfile.h>
#include <unistd.h>

namespace vt {
namespace {

using test::TemporaryFolder;
using namespace std::string_literals;

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

// Bytes of WAV and AIFF files, written field by field.
namespace bytes {

std::string little(uint64_t value, int width) {
    std::string out;
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

std::string big(uint64_t value, int width) {
    std::string out = little(value, width);
    return {out.rbegin(), out.rend()};
}

// A chunk with its id, its size in the given byte order, its body and the pad byte after an odd body.
std::string chunk(const std::string& id, const std::string& body, bool bigEndian = false) {
    const auto size = static_cast<uint64_t>(body.size());
    return id + (bigEndian ? big(size, 4) : little(size, 4)) + body + (body.size() % 2 ? "\x00"s : ""s);
}

std::string wav(const std::string& chunks, std::optional<uint32_t> riffSize = std::nullopt) {
    return "RIFF" + little(riffSize.value_or(static_cast<uint32_t>(chunks.size() + 4)), 4) + "WAVE" + chunks;
}

// A format chunk; with validBits, the extensible form (PCM or float by tag) with its sub-format GUID.
std::string fmt(int tag, int channels, int bits, int blockAlign, std::optional<int> validBits = std::nullopt,
                bool bigEndian = false) {
    const auto put = [bigEndian](uint64_t value, int width) {
        return bigEndian ? big(value, width) : little(value, width);
    };
    std::string body = put(validBits ? 0xFFFE : static_cast<uint64_t>(tag), 2) +
                       put(static_cast<uint64_t>(channels), 2) + put(44100, 4) +
                       put(44100u * static_cast<uint32_t>(blockAlign), 4) +
                       put(static_cast<uint64_t>(blockAlign), 2) + put(static_cast<uint64_t>(bits), 2);
    if (validBits)
        body += put(22, 2) + put(static_cast<uint64_t>(*validBits), 2) + put(3, 4) +
                put(static_cast<uint64_t>(tag), 4) + "\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71"s;
    return chunk("fmt ", body, bigEndian);
}

// An AIFF (compression empty) or AIFF-C file's common chunk at 22,050 Hz and its sound chunk.
std::string aiff(int channels, int bits, const std::string& samples, const std::string& compression = "",
                 const std::string& before = "", const std::string& after = "") {
    const int frameBytes = channels * (compression == "fl64"   ? 8
                                       : compression == "fl32" ? 4
                                                               : (bits + 7) / 8);
    const std::string rate = big(16383 + 14, 2) + big(22050ull << (63 - 14), 8);
    std::string common = big(static_cast<uint64_t>(channels), 2) +
                         big(samples.size() / static_cast<uint64_t>(frameBytes), 4) +
                         big(static_cast<uint64_t>(bits), 2) + rate;
    if (!compression.empty())
        common += compression + "\x04none"s + "\x00"s;
    const std::string chunks =
        before + chunk("COMM", common, true) + chunk("SSND", std::string(8, '\0') + samples, true) + after;
    const std::string form = compression.empty() ? "AIFF" : "AIFC";
    return "FORM" + big(chunks.size() + 4, 4) + form + chunks;
}

// Samples as integers in containers of the given width (full scale 2^(8·width−1)), offset to
// unsigned for 8-bit WAV, or as floats of 4 or 8 bytes.
enum class Kind { unsignedInt, signedInt, floating };
std::string samples(const std::vector<double>& values, Kind kind, int width, bool bigEndian) {
    std::string out;
    for (double value : values) {
        uint64_t word;
        if (kind == Kind::floating && width == 4) {
            const float single = static_cast<float>(value);
            uint32_t raw;
            std::memcpy(&raw, &single, sizeof raw);
            word = raw;
        } else if (kind == Kind::floating) {
            std::memcpy(&word, &value, sizeof word);
        } else {
            const auto integer = static_cast<int64_t>(std::ldexp(value, 8 * width - 1));
            word = static_cast<uint64_t>(integer + (kind == Kind::unsignedInt ? 128 : 0));
        }
        out += bigEndian ? big(word, width) : little(word, width);
    }
    return out;
}

} // namespace bytes

// Values exactly representable with the given significant bits: silence, half, full scale both
// ways and the smallest step either way.
std::vector<double> exactValues(int bits) {
    const double step = std::ldexp(1.0, 1 - bits);
    return {0.0, 0.5, -1.0, 127.0 / 128.0, step, -step};
}

// Every form of WAV and AIFF holding uncompressed samples is read to the values written, the
// container's width deciding the scale whatever the valid bits; the first of two "data" chunks is
// the one read, as sox reads it; a size of 0 or 0xFFFFFFFF (written while streaming) reads to the
// end of the file; a block size that does not divide among the channels reads by the sample width,
// as sox reads it; A-law still decodes (through FFmpeg); every form not known is refused with a
// text that says why, never handed to a decoder that would read it as other values.
TEST(AudioFile, EveryPcmFormIsReadToItsValuesOrRefused) {
    using namespace bytes;
    using K = Kind;
    const auto floats = std::vector<double>{0.0, 0.5, -1.0, 1.5, 0.1, -0.3};
    const auto v8 = exactValues(8), v16 = exactValues(16), v20 = exactValues(20), v24 = exactValues(24),
               v32 = exactValues(32);
    const std::string s16 = samples(v16, K::signedInt, 2, false);
    const std::string list = chunk("LIST", "INFOISFT\x03\x00\x00\x00vt\x00"s);
    struct Case {
        std::string name;
        std::string file;
        std::vector<double> written; // two channels interleaved, or one with mono
        int channels = 2;
        double rate = 44100;
        std::string refusal = {};
    };
    const std::vector<Case> cases = {
        {"u8.wav", wav(fmt(1, 2, 8, 2) + chunk("data", samples(v8, K::unsignedInt, 1, false))), v8},
        {"s16.wav", wav(fmt(1, 2, 16, 4) + chunk("data", s16)), v16},
        {"s24.wav", wav(fmt(1, 2, 24, 6) + chunk("data", samples(v24, K::signedInt, 3, false))), v24},
        {"s32.wav", wav(fmt(1, 2, 32, 8) + chunk("data", samples(v32, K::signedInt, 4, false))), v32},
        {"20in24.wav", wav(fmt(1, 2, 20, 6) + chunk("data", samples(v20, K::signedInt, 3, false))), v20},
        {"block-slip.wav", wav(fmt(1, 2, 16, 3) + chunk("data", s16)), v16},
        {"f32.wav", wav(fmt(3, 2, 32, 8) + chunk("data", samples(floats, K::floating, 4, false))), floats},
        {"f64.wav", wav(fmt(3, 2, 64, 16) + chunk("data", samples(floats, K::floating, 8, false))), floats},
        {"x16.wav", wav(fmt(1, 2, 16, 4, 16) + chunk("data", s16)), v16},
        {"x24in32.wav", wav(fmt(1, 2, 32, 8, 24) + chunk("data", samples(v24, K::signedInt, 4, false))), v24},
        {"x20in24.wav", wav(fmt(1, 2, 24, 6, 20) + chunk("data", samples(v20, K::signedInt, 3, false))), v20},
        {"xf32.wav", wav(fmt(3, 2, 32, 8, 32) + chunk("data", samples(floats, K::floating, 4, false))),
         floats},
        {"rifx.wav",
         "RIFX" + big(4 + 24 + 8 + 12, 4) + "WAVE" + fmt(1, 2, 16, 4, std::nullopt, true) + "data" +
             big(12, 4) + samples(v16, K::signedInt, 2, true),
         v16},
        {"rf64.wav",
         "RF64" + little(0xFFFFFFFF, 4) + "WAVE" +
             chunk("ds64", little(4 + 36 + 24 + 8 + 12 + list.size(), 8) + little(12, 8) + little(6, 8) +
                               little(0, 4)) +
             fmt(1, 2, 16, 4) + "data" + little(0xFFFFFFFF, 4) + s16 + list,
         v16},
        // A 3-byte chunk before the format and a mono 8-bit data chunk of 5 bytes, each padded.
        {"odd-chunks.wav",
         wav(chunk("junk", "abc") + fmt(1, 1, 8, 1) +
             chunk("data", samples({v8.begin(), v8.end() - 1}, K::unsignedInt, 1, false)) + list),
         {v8.begin(), v8.end() - 1},
         1},
        {"after-data.wav", wav(fmt(1, 2, 16, 4) + chunk("data", s16) + list + chunk("id3 ", "ID3abc")), v16},
        {"streamed.wav", wav(fmt(1, 2, 16, 4) + "data" + little(0xFFFFFFFF, 4) + s16, 0xFFFFFFFF), v16},
        {"streamed-zero.wav", wav(fmt(1, 2, 16, 4) + "data" + little(0, 4) + s16, 0), v16},
        {"cut-short.wav", wav(fmt(1, 2, 16, 4) + "data" + little(1000, 4) + s16 + "\x01"s), v16},
        {"two-data.wav",
         wav(fmt(1, 2, 16, 4) + chunk("data", s16) + chunk("data", samples(v8, K::signedInt, 2, false))),
         v16},
        {"alaw.wav", wav(fmt(6, 1, 8, 1) + chunk("data", "\xD5\x55"s)), {1.0 / 4096, -1.0 / 4096}, 1},
        {"s8.aiff", aiff(2, 8, samples(v8, K::signedInt, 1, true)), v8, 2, 22050},
        {"s16.aiff",
         aiff(2, 16, samples(v16, K::signedInt, 2, true), "", chunk("NAME", "odd", true),
              chunk("ANNO", "after", true)),
         v16, 2, 22050},
        {"s24.aiff", aiff(2, 24, samples(v24, K::signedInt, 3, true)), v24, 2, 22050},
        {"s32.aiff", aiff(2, 32, samples(v32, K::signedInt, 4, true)), v32, 2, 22050},
        {"none.aifc", aiff(2, 16, samples(v16, K::signedInt, 2, true), "NONE"), v16, 2, 22050},
        {"sowt16.aifc", aiff(2, 16, samples(v16, K::signedInt, 2, false), "sowt"), v16, 2, 22050},
        {"sowt24.aifc", aiff(2, 24, samples(v24, K::signedInt, 3, false), "sowt"), v24, 2, 22050},
        {"sowt32.aifc", aiff(2, 32, samples(v32, K::signedInt, 4, false), "sowt"), v32, 2, 22050},
        {"fl32.aifc", aiff(2, 32, samples(floats, K::floating, 4, true), "fl32"), floats, 2, 22050},
        {"fl64.aifc", aiff(2, 64, samples(floats, K::floating, 8, true), "fl64"), floats, 2, 22050},
        {"s48.wav",
         wav(fmt(1, 1, 48, 6) + chunk("data", std::string(12, '\0'))),
         {},
         1,
         0,
         "it holds 48-bit integer samples"},
        {"f16.wav",
         wav(fmt(3, 1, 16, 2) + chunk("data", std::string(4, '\0'))),
         {},
         1,
         0,
         "it holds 16-bit float samples"},
        {"f32in64.wav",
         wav(fmt(3, 1, 32, 8) + chunk("data", std::string(16, '\0'))),
         {},
         1,
         0,
         "it holds 32-bit float samples in 64-bit containers"},
        {"x33in32.wav",
         wav(fmt(1, 1, 32, 4, 33) + chunk("data", std::string(8, '\0'))),
         {},
         1,
         0,
         "its format chunk states 33-bit samples in 32-bit containers"},
        {"no-data.wav", wav(fmt(1, 2, 16, 4) + list), {}, 1, 0, "it has no \"data\" chunk"},
        {"no-format.wav", wav(chunk("data", s16)), {}, 1, 0, "it has no format chunk"},
        {"s40.aiff", aiff(1, 40, std::string(10, '\0')), {}, 1, 0, "it holds 40-bit integer samples"},
        {"abcd.aifc",
         aiff(1, 16, std::string(4, '\0'), "abcd"),
         {},
         1,
         0,
         "its audio is stored as \"abcd\", a form that cannot be read"},
    };
    TemporaryFolder folder;
    for (const Case& c : cases) {
        const auto path = folder / c.name;
        test::writeFile(path, c.file);
        if (!c.refusal.empty()) {
            std::string text;
            try {
                readAudioFile(path);
            } catch (const AudioFileError& error) {
                text = error.what();
            }
            EXPECT_EQ(text, "The file \"" + c.name + "\" cannot be read: " + c.refusal + ".");
            continue;
        }
        std::vector<std::vector<float>> expected(static_cast<size_t>(c.channels));
        for (size_t i = 0; i < c.written.size(); ++i)
            expected[i % expected.size()].push_back(static_cast<float>(c.written[i]));
        AudioData data;
        try {
            data = readAudioFile(path);
        } catch (const AudioFileError& error) {
            ADD_FAILURE() << c.name << ": " << error.what();
            continue;
        }
        EXPECT_EQ(data.sampleRate, c.rate) << c.name;
        EXPECT_EQ(data.channels, expected) << c.name;
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
