#include "Platform/Audio/Fft.h"

#include <fftw3.h>
#include <mutex>

namespace vt {

namespace {

std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

struct RealFft::Plans {
    float* samples = nullptr;
    fftwf_complex* spectrum = nullptr;
    fftwf_plan forward = nullptr;
    fftwf_plan inverse = nullptr;
};

RealFft::RealFft(int size) : n(size), plans(std::make_unique<Plans>()) {
    if (size < 2 || size % 2 != 0)
        throw FftError("The transform size must be an even number of at least 2.");
    std::lock_guard lock(plannerMutex());
    plans->samples = fftwf_alloc_real(static_cast<size_t>(n));
    plans->spectrum = fftwf_alloc_complex(static_cast<size_t>(n / 2 + 1));
    if (plans->samples != nullptr && plans->spectrum != nullptr) {
        plans->forward = fftwf_plan_dft_r2c_1d(n, plans->samples, plans->spectrum, FFTW_ESTIMATE);
        plans->inverse = fftwf_plan_dft_c2r_1d(n, plans->spectrum, plans->samples, FFTW_ESTIMATE);
    }
    if (plans->forward == nullptr || plans->inverse == nullptr) {
        if (plans->forward != nullptr)
            fftwf_destroy_plan(plans->forward);
        if (plans->inverse != nullptr)
            fftwf_destroy_plan(plans->inverse);
        fftwf_free(plans->samples);
        fftwf_free(plans->spectrum);
        throw FftError("The transform could not be set up.");
    }
}

RealFft::~RealFft() {
    std::lock_guard lock(plannerMutex());
    fftwf_destroy_plan(plans->forward);
    fftwf_destroy_plan(plans->inverse);
    fftwf_free(plans->samples);
    fftwf_free(plans->spectrum);
}

void RealFft::forward(const float* input, float* real, float* imag) {
    const int half = n / 2;
    for (int i = 0; i < n; ++i)
        plans->samples[i] = input[i];
    fftwf_execute(plans->forward);
    const fftwf_complex* bins = plans->spectrum;
    real[0] = 2.0f * bins[0][0];
    imag[0] = 2.0f * bins[half][0];
    for (int k = 1; k < half; ++k) {
        real[k] = 2.0f * bins[k][0];
        imag[k] = 2.0f * bins[k][1];
    }
}

void RealFft::inverse(const float* real, const float* imag, float* output) {
    const int half = n / 2;
    fftwf_complex* bins = plans->spectrum;
    bins[0][0] = real[0];
    bins[0][1] = 0.0f;
    bins[half][0] = imag[0];
    bins[half][1] = 0.0f;
    for (int k = 1; k < half; ++k) {
        bins[k][0] = real[k];
        bins[k][1] = imag[k];
    }
    fftwf_execute(plans->inverse);
    const float scale = 1.0f / (2.0f * static_cast<float>(n));
    for (int i = 0; i < n; ++i)
        output[i] = plans->samples[i] * scale;
}

} // namespace vt
