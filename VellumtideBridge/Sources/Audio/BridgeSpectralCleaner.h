#pragma once
// The denoise step of an edit render: a short-time spectral gate that learns a stationary noise
// spectrum from each channel's quiet frames and attenuates, bin by bin, what does not rise
// above it. Stateless; every operation is a static function.

#include "Platform/Audio/AudioFile.h"

#include <cstddef>
#include <vector>

struct BridgeSpectralCleaner {
    BridgeSpectralCleaner() = delete;

    // A new buffer of the same rate, channel count and length holding the denoised samples,
    // clamped to −1…1. Throws BridgeSampleRenderer::RenderError (unreadableAudio) for a buffer
    // without channels or frames, or when the new buffer cannot be allocated.
    static vt::AudioData denoise(const vt::AudioData& buffer);
    // The same, over the buffer itself: besides the buffer, only one transform frame's worth of
    // output is held at a time.
    static void denoiseInPlace(vt::AudioData& buffer);

    // Frame starts 0, hop, 2·hop … while the next start plus fftSize stays below sampleCount,
    // then sampleCount − fftSize when that was not the last; the single start 0 when the
    // transform is not shorter than the samples.
    static std::vector<std::size_t> frameStarts(std::size_t sampleCount, std::size_t fftSize,
                                                std::size_t hopSize);
    // The element at ⌊clamp(fraction, 0, 1) × (count − 1)⌋ of an ascending list; 0 when empty.
    static float percentile(const std::vector<float>& sorted, double fraction);
    // Adds the magnitudes of one packed spectrum (N/2 real and imaginary values) to an
    // accumulator of N/2 + 1 bins; does nothing for an accumulator of another size.
    static void accumulateMagnitude(const std::vector<float>& real, const std::vector<float>& imag,
                                    std::vector<float>& accumulator);
    // Smooths the inner values with weights 0.22, 0.56, 0.22 (first and last stay); does
    // nothing for fewer than five values.
    static void smoothProfile(std::vector<float>& values);
};
