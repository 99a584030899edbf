#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"

#include "Platform/Audio/WavWriter.h"
#include "Platform/Core/AtomicFile.h"
#include "VellumtideBridge/Sources/Audio/BridgeSpectralCleaner.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <optional>

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
// Called after each decoded block with the range and whether the start is settled; it may take
// frames off the front of a settled range, holding back at most heldFrames beyond a block.
using BlockHook = std::function<void(DecodedRange&, bool startSettled)>;

DecodedRange decodeSelection(vt::AudioFileReader& reader, double rate, const BridgeSampleEdit& edit,
                             const BlockHook& afterBlock = {}, std::int64_t heldFrames = 0) {
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
    const auto estimate = reader.estimatedFrameCount();
    if (estimate && *estimate > keepFrom) {
        // The arrays' room, made once: the whole selection, or, handed on as it goes, what is
        // held back with the blocks around it.
        std::int64_t expected = std::min(stopAt.value_or(*estimate), *estimate) - keepFrom;
        if (afterBlock)
            expected =
                std::min<std::int64_t>(expected, std::min(heldFrames, keepLimit) + 2 * readBlockFrames);
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
        if (afterBlock)
            afterBlock(range, startSettled);
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

// The rest of the selection once decoding has ended, given that its first `handedOn` frames have
// already left the range; the edit is sanitised against the decoded length.
Selection finishSelection(DecodedRange range, double rate, const BridgeSampleEdit& edit,
                          std::int64_t handedOn = 0) {
    const double duration = static_cast<double>(range.fileFrames) / rate;
    Selection selection;
    selection.edit = edit.sanitized(duration);
    const std::int64_t first = frameAt(rate, selection.edit.startTime) + handedOn;
    // Without an end the selection runs to the last decoded frame.
    const std::int64_t end =
        selection.edit.endTime ? frameAt(rate, selection.edit.effectiveEnd(duration)) : range.fileFrames;
    std::int64_t count = std::max<std::int64_t>(end - first, handedOn > 0 ? 0 : 1);
    if (count + handedOn > BridgeSampleRenderer::maximumFrames)
        throw RenderError(RenderError::Code::unsupportedLength);
    const std::int64_t offset = std::clamp<std::int64_t>(first - range.keptStart, 0, range.keptFrames());
    const std::int64_t available = std::min(count, range.keptFrames() - offset);
    range.dropFront(offset);
    for (auto& channel : range.channels)
        channel.resize(static_cast<std::size_t>(available));
    if (!vt::fitsInFloatWav(static_cast<std::uint64_t>(available + handedOn), range.channels.size()))
        throw RenderError(RenderError::Code::unsupportedLength);
    selection.buffer.sampleRate = rate;
    selection.buffer.channels = std::move(range.channels);
    return selection;
}

Selection readSelection(const std::filesystem::path& inputPath, const BridgeSampleEdit& edit) {
    vt::AudioFileReader reader(inputPath);
    const double rate = std::max(reader.sampleRate(), 1.0);
    return finishSelection(decodeSelection(reader, rate, edit), rate, edit);
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

float peakOf(const Channels& channels, std::size_t offset, std::size_t count) {
    float peak = 0;
    for (const auto& channel : channels) {
        for (std::size_t i = offset; i < offset + count; ++i)
            peak = std::max(peak, std::fabs(channel[i]));
    }
    return peak;
}

float normalisingGain(float peak) {
    return peak > 0.000001f ? 0.98f / peak : 1.0f;
}

// The gain stage's shape over a selection of n frames: linear fades of whole frames and one gain.
struct GainShape {
    std::int64_t inFrames = 0;
    std::int64_t outFrames = 0;
    float gain = 1.0f;

    // Frames [offset, offset + count) of the arrays, which stand at `index` in a selection of n
    // frames, faded, scaled and clamped to −1…1 in place. Frames between the fades take the plain
    // gain in a loop of their own (the same arithmetic, without the per-frame tests).
    void apply(Channels& channels, std::size_t offset, std::size_t count, std::int64_t index,
               std::int64_t n) const {
        const std::int64_t end = index + static_cast<std::int64_t>(count);
        const std::int64_t plainFrom = std::clamp(inFrames, index, end);
        const std::int64_t plainTo = std::clamp(outFrames > 0 ? n - outFrames : end, plainFrom, end);
        for (auto& channel : channels) {
            float* samples = channel.data() + offset; // frame `index` of the selection
            shapeFrames(samples, index, index, plainFrom, n);
            float* plain = samples + (plainFrom - index);
            for (std::int64_t k = 0; k < plainTo - plainFrom; ++k)
                plain[k] = clampUnit(gain * plain[k]);
            shapeFrames(samples, index, plainTo, end, n);
        }
    }

private:
    // Frames [from, to) of a selection whose frame `index` is samples[0].
    void shapeFrames(float* samples, std::int64_t index, std::int64_t from, std::int64_t to,
                     std::int64_t n) const {
        for (std::int64_t i = from; i < to; ++i) {
            float g = 1.0f;
            if (inFrames > 0 && i < inFrames)
                g = static_cast<float>(i) / static_cast<float>(inFrames);
            if (outFrames > 0 && i >= n - outFrames)
                g = g * static_cast<float>(n - 1 - i) / static_cast<float>(outFrames);
            float& sample = samples[i - index];
            sample = clampUnit(g * gain * sample);
        }
    }
};

// Frames of the selection handed on: `count` frames at the front of the arrays, standing at
// `index` in the selection. The last block carries the sanitised edit and the selection's length.
struct SelectionBlock {
    Channels& channels;
    std::size_t count;
    std::int64_t index;
    double rate;
    const BridgeSampleEdit* finalEdit = nullptr;
    std::int64_t length = 0;
};
using SelectionSink = std::function<void(const SelectionBlock&)>;

// Frames kept back from the decoding head: enough that neither fade can reach a frame handed on
// before the file's length is known.
std::int64_t holdBackFrames(const BridgeSampleEdit& edit, double rate) {
    const auto seconds = [](double fade) { return std::isnan(fade) || fade < 0 ? 0.0 : fade; };
    const double longest = std::max(seconds(edit.fadeIn), seconds(edit.fadeOut));
    const double frames = std::ceil((2 * longest + 0.01) * rate) + 16;
    return frames < 9.0e18 ? static_cast<std::int64_t>(frames) : std::numeric_limits<std::int64_t>::max();
}

// The most frames the selection can hold whatever the file's length: decoding runs a block past a
// set end, and those frames must not go.
std::int64_t selectionLengthLimit(const BridgeSampleEdit& edit, double rate) {
    if (!edit.endTime || std::isinf(*edit.endTime))
        return std::numeric_limits<std::int64_t>::max();
    const double start = (std::isnan(edit.startTime) || edit.startTime < 0) ? 0 : edit.startTime;
    const double end = std::isnan(*edit.endTime) ? start : std::max(*edit.endTime, start + shortestSelection);
    return frameAt(rate, end) - frameAt(rate, start);
}

// Hands the edit's selection on in order, block by block, without ever holding all of it. A frame
// goes once the start is settled and more than the hold-back follows it; the rest goes when
// decoding ends, in one last block, against the edit sanitised for the decoded length.
void streamSelection(const std::filesystem::path& inputPath, const BridgeSampleEdit& edit,
                     const SelectionSink& sink) {
    vt::AudioFileReader reader(inputPath);
    const double rate = std::max(reader.sampleRate(), 1.0);
    const std::int64_t holdBack = holdBackFrames(edit, rate);
    const std::int64_t selectionLimit = selectionLengthLimit(edit, rate);
    std::int64_t handedOn = 0;
    const BlockHook handOnSettled = [&](DecodedRange& range, bool startSettled) {
        const std::int64_t ready = std::min(range.keptFrames(), selectionLimit - handedOn) - holdBack;
        if (!startSettled || ready < static_cast<std::int64_t>(readBlockFrames))
            return;
        if (handedOn + ready > BridgeSampleRenderer::maximumFrames ||
            !vt::fitsInFloatWav(static_cast<std::uint64_t>(handedOn + ready), range.channels.size()))
            throw RenderError(RenderError::Code::unsupportedLength);
        sink({range.channels, static_cast<std::size_t>(ready), handedOn, rate});
        handedOn += ready;
        range.dropFront(ready);
    };
    DecodedRange decoded = decodeSelection(reader, rate, edit, handOnSettled, holdBack); // moves handedOn on
    Selection rest = finishSelection(std::move(decoded), rate, edit, handedOn);
    const std::size_t remaining = rest.buffer.frameCount();
    sink({rest.buffer.channels, remaining, handedOn, rate, &rest.edit,
          handedOn + static_cast<std::int64_t>(remaining)});
}

float peakOfSelection(const std::filesystem::path& inputPath, const BridgeSampleEdit& edit) {
    float peak = 0;
    streamSelection(inputPath, edit, [&](const SelectionBlock& block) {
        peak = std::max(peak, peakOf(block.channels, 0, block.count));
    });
    return peak;
}

// Removes the temporary on every exit (after the rename only its folder, when left empty).
struct TemporaryRemover {
    std::filesystem::path path;
    ~TemporaryRemover() { vt::removeTemporaryFile(path); }
};

// Writes the buffer under a temporary name beside the output, then renames it onto the output.
// Every failure names the output (never the temporary) with the system's reason, and leaves
// nothing behind.
// Writes the output through a temporary beside it (named as every temporary is, so a start-up
// sweep finds one left by a crash) and renames it into place. A failure names the output and the
// system's reason and leaves no temporary.
void writeThroughTemporary(const std::filesystem::path& outputPath,
                           const std::function<void(const std::filesystem::path& temporary)>& write) {
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
    write(temporary.path);
    std::filesystem::rename(temporary.path, outputPath, error);
    if (error)
        throw failure(error);
}

void writeWhole(const vt::AudioData& buffer, const std::filesystem::path& outputPath) {
    writeThroughTemporary(outputPath, [&](const std::filesystem::path& temporary) {
        vt::WavWriter writer(temporary, std::max(buffer.sampleRate, 1.0),
                             static_cast<int>(buffer.channels.size()), outputPath);
        writer.write(buffer.channels);
        writer.close();
    });
}

// The fade-in of frames handed on before the length is known: the hold-back guarantees the
// selection is more than twice as long as the fade, so sanitising cannot shorten it.
GainShape earlyShape(const BridgeSampleEdit& edit, double rate, float gain) {
    const double fadeIn = std::isnan(edit.fadeIn) || edit.fadeIn < 0 ? 0 : edit.fadeIn;
    return {fadeFrames(fadeIn, rate, std::numeric_limits<std::int64_t>::max()), 0, gain};
}

// Streams the selection through the gain stage into the output. Frames handed on early lie before
// any fade-out and after the fade-in's length is settled; the last ones are shaped against the
// final length.
void writeStreamed(const std::filesystem::path& inputPath, const std::filesystem::path& outputPath,
                   const BridgeSampleEdit& edit, float gain) {
    writeThroughTemporary(outputPath, [&](const std::filesystem::path& temporary) {
        std::optional<vt::WavWriter> writer;
        streamSelection(inputPath, edit, [&](const SelectionBlock& block) {
            if (!writer)
                writer.emplace(temporary, block.rate, static_cast<int>(block.channels.size()), outputPath);
            const std::int64_t n = block.finalEdit ? block.length : std::numeric_limits<std::int64_t>::max();
            const GainShape shape = block.finalEdit
                                        ? GainShape{fadeFrames(block.finalEdit->fadeIn, block.rate, n),
                                                    fadeFrames(block.finalEdit->fadeOut, block.rate, n), gain}
                                        : earlyShape(edit, block.rate, gain);
            shape.apply(block.channels, 0, block.count, block.index, n);
            writer->write(block.channels, 0, block.count);
        });
        writer->close();
    });
}

} // namespace

BridgeSampleRenderer::RenderError::RenderError(Code code)
    : std::runtime_error(descriptionOf(code)), errorCode(code) {}

void BridgeSampleRenderer::applyGain(vt::AudioData& buffer, double fadeIn, double fadeOut, bool normalize) {
    const std::int64_t n = static_cast<std::int64_t>(buffer.frameCount());
    const double rate = std::max(buffer.sampleRate, 1.0);
    const GainShape shape{fadeFrames(fadeIn, rate, n), fadeFrames(fadeOut, rate, n),
                          normalize ? normalisingGain(peakOf(buffer.channels, 0, buffer.frameCount()))
                                    : 1.0f};
    shape.apply(buffer.channels, 0, buffer.frameCount(), 0, n);
}

void BridgeSampleRenderer::renderSynchronously(const std::filesystem::path& inputPath,
                                               const std::filesystem::path& outputPath,
                                               const BridgeSampleEdit& edit) {
    if (edit.denoise)
        return renderHeldSynchronously(inputPath, outputPath, edit);
    try {
        const float gain = edit.normalize ? normalisingGain(peakOfSelection(inputPath, edit)) : 1.0f;
        writeStreamed(inputPath, outputPath, edit, gain);
    } catch (const std::bad_alloc&) {
        throw RenderError(RenderError::Code::unreadableAudio);
    } catch (const std::length_error&) {
        throw RenderError(RenderError::Code::unsupportedLength);
    }
}

void BridgeSampleRenderer::renderHeldSynchronously(const std::filesystem::path& inputPath,
                                                   const std::filesystem::path& outputPath,
                                                   const BridgeSampleEdit& edit) {
    try {
        Selection selection = readSelection(inputPath, edit);
        if (selection.edit.denoise)
            BridgeSpectralCleaner::denoiseInPlace(selection.buffer);
        applyGain(selection.buffer, selection.edit.fadeIn, selection.edit.fadeOut, selection.edit.normalize);
        writeWhole(selection.buffer, outputPath);
    } catch (const std::bad_alloc&) {
        throw RenderError(RenderError::Code::unreadableAudio);
    } catch (const std::length_error&) {
        throw RenderError(RenderError::Code::unsupportedLength);
    }
}
