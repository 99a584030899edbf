#include "Platform/Audio/Fft.h"
#include "Tests/Support/Audio/AudioFixtures.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vt {
namespace {

TEST(RealFft, PackedSpectrumIsTwiceTheTransform) {
    const int n = 16;
    RealFft fft(n);
    std::vector<float> input(n, 1.0f); // DC only: DFT bin 0 = n
    std::vector<float> real(n / 2), imag(n / 2);
    fft.forward(input.data(), real.data(), imag.data());
    EXPECT_FLOAT_EQ(real[0], 2.0f * n);
    EXPECT_FLOAT_EQ(imag[0], 0.0f);

    for (int i = 0; i < n; ++i)
        input[i] = (i % 2 == 0) ? 1.0f : -1.0f; // Nyquist only
    fft.forward(input.data(), real.data(), imag.data());
    EXPECT_FLOAT_EQ(real[0], 0.0f);
    EXPECT_FLOAT_EQ(imag[0], 2.0f * n);

    // A cosine at bin 3 has DFT value n/2 there; packed: n.
    for (int i = 0; i < n; ++i)
        input[i] = static_cast<float>(std::cos(2 * M_PI * 3 * i / n));
    fft.forward(input.data(), real.data(), imag.data());
    EXPECT_NEAR(real[3], n, 1e-4);
    EXPECT_NEAR(imag[3], 0, 1e-4);
    EXPECT_NEAR(real[2], 0, 1e-4);
}

TEST(RealFft, RoundTripIsUnityAndBadSizesFail) {
    for (const int n : {2, 1024, 2048}) {
        RealFft fft(n);
        const auto input = test::noise(static_cast<size_t>(n), 0.9, 3);
        std::vector<float> real(n / 2), imag(n / 2), output(n);
        fft.forward(input.data(), real.data(), imag.data());
        fft.inverse(real.data(), imag.data(), output.data());
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(output[i], input[i], 1e-5) << n << " " << i;
    }
    EXPECT_THROW(RealFft(0), FftError);
    EXPECT_THROW(RealFft(7), FftError);
}

TEST(RealFft, PlansCanBeMadeFromManyThreads) {
    std::vector<std::thread> threads;
    std::vector<float> results(8);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &results] {
            for (int round = 0; round < 20; ++round) {
                RealFft fft(512);
                std::vector<float> input(512, 0.5f), real(256), imag(256);
                fft.forward(input.data(), real.data(), imag.data());
                results[t] = real[0];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const float value : results)
        EXPECT_FLOAT_EQ(value, 512.0f);
}

} // namespace
} // namespace vt
