#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include "Platform/Async/Background.h"
#include "Platform/Audio/WavWriter.h"
#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Audio/BridgeSpectralCleaner.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

using RenderError = BridgeSampleRenderer::RenderError;
using Channels = std::vector<std::vector<float>>;

constexpr std::size_t readBlockFrames = 65536;
constexpr double shortestSelection = 0.05;

const char* descriptionOf(RenderError::Code code) {
    switch (code) {
    case RenderError::Code::unsupportedLength:
        return "This sample is too long to render in the lightweight editor.";
    case RenderError::Code::unreadableAudio:
        break;
    }
    return "The sample audio could not be read.";
}

// A frame position from seconds, rounded down and kept within what int64 can hold.
std::int64_t frameAt(double rate, double seconds) {
    const double frames = std::floor(rate * seconds);
    if (!(frames > 0))
        return 0;
    return frames >= 9.0e18 ? static_cast<std::int64_t>(9.0e18) : static_cast<std::int64_t>(frames);
}

// Frames [keptStart, keptStart + size) of the source, decoded in one pass.
struct DecodedRange {
    Channels channels;
    std::int64_t keptStart = 0;
    std::int64_t fileFrames = 0; // frames decoded; the whole file unless stoppedEarly
    bool stoppedEarly = false;

    std::int64_t keptFrames() const {
        return channels.empty() ? 0 : static_cast<std::int64_t>(channels.front().size());
    }
    void dropFront(std::int64_t count) {
        for (auto& channel : channels)
            channel.erase(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(count));
        keptStart += count;
    }
};

// Decodes the source once, keeping only what the edit can select. The file's length decides how
// the edit is sanitised: a start less than the shortest selection before the end moves back, so
// until the file is known to reach that far past the requested start, that much is kept before
// it (and the most recent frames, for a start past the end). Once it does, everything before the
// start goes and the selection begins at the front of the arrays. With a set end, decoding stops
// once the file is known to reach past it, which fixes the sanitised range.
DecodedRange decodeSelection(vt::AudioFileReader& reader, double rate, const BridgeSampleEdit& edit) {
    const double requestedStart = (std::isnan(edit.startTime) || edit.startTime < 0) ? 0 : edit.startTime;
    const std::int64_t margin = static_cast<std::int64_t>(std::ceil(rate * shortestSelection)) + 2;
    const std::int64_t startFrame = frameAt(rate, requestedStart);
    const std::int64_t keepFrom = std::max<std::int64_t>(startFrame - margin, 0);
    const std::int64_t startSettlesAt = frameAt(rate, requestedStart + shortestSelection) + 2;
    std::optional<std::int64_t> stopAt;
    if (edit.endTime && !std::isinf(*edit.endTime)) {
        const double end = std::isnan(*edit.endTime)
                               ? requestedStart + shortestSelection
                               : std::max(*edit.endTime, requestedStart + shortestSelection);
        stopAt = frameAt(rate, end + 0.002) + 2;
    }
    const std::int64_t channelCount = reader.channelCount();
    const std::int64_t keepLimit = std::min<std::int64_t>(
        BridgeSampleRenderer::maximumFrames,
        static_cast<std::int64_t>(0xFFFFFFFFLL / (static_cast<std::int64_t>(sizeof(float)) * channelCount)));

    DecodedRange range;
    range.channels.resize(static_cast<std::size_t>(channelCount));
    if (const auto estimate = reader.estimatedFrameCount(); estimate && *estimate > keepFrom) {
        const std::int64_t expected = std::min(stopAt.value_or(*estimate), *estimate) - keepFrom;
        const auto reserve =
            static_cast<std::size_t>(std::clamp<std::int64_t>(expected + margin, 0, keepLimit));
        for (auto& channel : range.channels)
            vt::reserveChannel(channel, reserve + readBlockFrames);
    }
    while (const std::size_t got = reader.readAppending(range.channels, readBlockFrames)) {
        range.fileFrames += static_cast<std::int64_t>(got);
        const bool startSettled = range.fileFrames >= startSettlesAt;
        const std::int64_t target =
            startSettled ? startFrame
                         : std::max<std::int64_t>(std::min(keepFrom, range.fileFrames - margin), 0);
        const std::int64_t surplus = target - range.keptStart;
        if (surplus > 0 && (startSettled || surplus >= static_cast<std::int64_t>(readBlockFrames)))
            range.dropFront(surplus);
        if (range.keptFrames() > keepLimit + 2 * margin)
            throw RenderError(RenderError::Code::unsupportedLength);
        if (stopAt && range.fileFrames >= *stopAt) {
            range.stoppedEarly = true;
            break;
        }
    }
    return range;
}

struct Selection {
    vt::AudioData buffer;
    BridgeSampleEdit edit; // sanitised
};

Selection readSelection(const std::filesystem::path& inputPath, const BridgeSampleEdit& edit) {
    vt::AudioFileReader reader(inputPath);
    const double rate = std::max(reader.sampleRate(), 1.0);
    DecodedRange range = decodeSelection(reader, rate, edit);
    const double duration = static_cast<double>(range.fileFrames) / rate;
    Selection selection;
    selection.edit = edit.sanitized(duration);
    const std::int64_t first = frameAt(rate, selection.edit.startTime);
    // Without an end the selection runs to the last decoded frame.
    const std::int64_t end =
        selection.edit.endTime ? frameAt(rate, selection.edit.effectiveEnd(duration)) : range.fileFrames;
    std::int64_t count = end - first;
    if (count < 1)
        count = 1;
    if (count > BridgeSampleRenderer::maximumFrames)
        throw RenderError(RenderError::Code::unsupportedLength);
    const std::int64_t offset = std::clamp<std::int64_t>(first - range.keptStart, 0, range.keptFrames());
    const std::int64_t available = std::min(count, range.keptFrames() - offset);
    range.dropFront(offset);
    for (auto& channel : range.channels)
        channel.resize(static_cast<std::size_t>(available));
    if (!vt::fitsInFloatWav(static_cast<std::uint64_t>(available), range.channels.size()))
        throw RenderError(RenderError::Code::unsupportedLength);
    selection.buffer.sampleRate = rate;
    selection.buffer.channels = std::move(range.channels);
    return selection;
}

float clampUnit(float value) {
    return std::clamp(value, -1.0f, 1.0f);
}

std::int64_t fadeFrames(double seconds, double rate, std::int64_t n) {
    const double frames = std::round(seconds * rate);
    if (!(frames > 0))
        return 0;
    return frames >= static_cast<double>(n) ? n : static_cast<std::int64_t>(frames);
}

// Removes the temporary on every exit; after the rename there is nothing left to remove.
struct TemporaryRemover {
    std::filesystem::path path;
    ~TemporaryRemover() { vt::removeRegularFile(path); }
};

// Writes the buffer under a temporary name beside the output, then renames it onto the output.
// Every failure names the output (never the temporary) with the system's reason, and leaves
// nothing behind.
void writeWhole(const vt::AudioData& buffer, const std::filesystem::path& outputPath) {
    const std::filesystem::path folder = outputPath.has_parent_path() ? outputPath.parent_path() : ".";
    auto failure = [&](const std::error_code& reason) {
        return vt::WavWriterError::about(outputPath, reason.value());
    };
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        throw failure(error);
    TemporaryRemover temporary;
    try {
        temporary.path = vt::createTemporaryFile(folder);
    } catch (const std::filesystem::filesystem_error& creation) {
        throw failure(creation.code());
    }
    {
        vt::WavWriter writer(temporary.path, std::max(buffer.sampleRate, 1.0),
                             static_cast<int>(buffer.channels.size()), outputPath);
        writer.write(buffer.channels);
        writer.close();
    }
    std::filesystem::rename(temporary.path, outputPath, error);
    if (error)
        throw failure(error);
}

} // namespace

BridgeSampleRenderer::RenderError::RenderError(Code code)
    : std::runtime_error(descriptionOf(code)), errorCode(code) {}

void BridgeSampleRenderer::applyGain(vt::AudioData& buffer, double fadeIn, double fadeOut, bool normalize) {
    const std::int64_t n = static_cast<std::int64_t>(buffer.frameCount());
    const double rate = std::max(buffer.sampleRate, 1.0);
    const std::int64_t inFrames = fadeFrames(fadeIn, rate, n);
    const std::int64_t outFrames = fadeFrames(fadeOut, rate, n);
    float gain = 1.0f;
    if (normalize) {
        float peak = 0;
        for (const auto& channel : buffer.channels) {
            for (const float sample : channel)
                peak = std::max(peak, std::fabs(sample));
        }
        if (peak > 0.000001f)
            gain = 0.98f / peak;
    }
    for (auto& channel : buffer.channels) {
        float* samples = channel.data();
        for (std::int64_t i = 0; i < n; ++i) {
            float g = 1.0f;
            if (inFrames > 0 && i < inFrames)
                g = static_cast<float>(i) / static_cast<float>(inFrames);
            if (outFrames > 0 && i >= n - outFrames)
                g = g * static_cast<float>(n - 1 - i) / static_cast<float>(outFrames);
            samples[i] = clampUnit(g * gain * samples[i]);
        }
    }
}

void BridgeSampleRenderer::renderSynchronously(const std::filesystem::path& inputPath,
                                               const std::filesystem::path& outputPath,
                                               const BridgeSampleEdit& edit) {
    try {
        Selection selection = readSelection(inputPath, edit);
        if (selection.edit.denoise) {
            vt::AudioData cleaned = BridgeSpectralCleaner::denoise(selection.buffer);
            selection.buffer = vt::AudioData{};
            selection.buffer = std::move(cleaned);
        }
        applyGain(selection.buffer, selection.edit.fadeIn, selection.edit.fadeOut, selection.edit.normalize);
        writeWhole(selection.buffer, outputPath);
    } catch (const std::bad_alloc&) {
        throw RenderError(RenderError::Code::unreadableAudio);
    } catch (const std::length_error&) {
        throw RenderError(RenderError::Code::unsupportedLength);
    }
}

// A plain function rather than a coroutine: the work's closure must not be built inside a
// co_await expression (see Background.h).
QCoro::Task<void> BridgeSampleRenderer::render(std::filesystem::path inputPath,
                                               std::filesystem::path outputPath, BridgeSampleEdit edit) {
    return vt::runInBackground(vt::userInitiatedPool(),
                               [inputPath = std::move(inputPath), outputPath = std::move(outputPath), edit] {
                                   renderSynchronously(inputPath, outputPath, edit);
                               });
}
