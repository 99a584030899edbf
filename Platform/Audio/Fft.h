#pragma once
// A real FFT over FFTW single precision with a packed layout: N real samples become N/2 complex
// values scaled to twice the discrete Fourier transform, with bin 0 in real[0] and bin N/2 in
// imag[0]. The inverse scales by 1/(2N), so an unchanged spectrum gives back the input.

#include <memory>
#include <stdexcept>

namespace vt {

// The transform could not be set up (bad size or no plan).
class FftError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

class RealFft {
public:
    // size: an even number of at least 2. Plans are made with FFTW_ESTIMATE under one
    // process-wide lock (FFTW's planner is not thread-safe). Throws FftError.
    explicit RealFft(int size);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    int size() const { return n; }
    // input: size() samples; real and imag: size()/2 values each.
    void forward(const float* input, float* real, float* imag);
    // real and imag: size()/2 packed values; output: size() samples, scaled by 1/(2N).
    void inverse(const float* real, const float* imag, float* output);

private:
    struct Plans;
    int n = 0;
    std::unique_ptr<Plans> plans;
};

} // namespace vt
