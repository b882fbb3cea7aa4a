#include "analysis/TruePeak.h"

#include <algorithm>
#include <cmath>
#include <numbers>

// The library's own oversampling costs three times the rest of the analysis. Here a block
// whose largest sample, times the filter's largest gain, cannot reach the peak found so far is
// skipped, and the rest runs one phase and one tap at a time over the block, loops the compiler
// vectorises (this file is built for it: see CMakeLists.txt).
TTruePeak::TTruePeak(int channels) : channels_(std::clamp(channels, 1, 2)) {
    for (size_t p = 0; p < 3; ++p) {
        const double f = double(p + 1) / 4.0;
        std::array<double, kTaps> h{};
        double sum = 0.0;
        for (int k = 0; k < kTaps; ++k) {
            const double x = std::numbers::pi * (f - (k - kBefore));  // distance from tap to point
            const double w = 0.42 + 0.5 * std::cos(x / 6.0) + 0.08 * std::cos(2.0 * x / 6.0);  // Blackman
            h[size_t(k)] = std::sin(x) / x * w;
            sum += h[size_t(k)];
        }
        double absSum = 0.0;
        for (int k = 0; k < kTaps; ++k) {
            taps_[p][size_t(k)] = float(h[size_t(k)] / sum);  // unit gain at DC
            absSum += std::abs(h[size_t(k)] / sum);
        }
        gain_ = std::max(gain_, float(absSum));
    }
    for (auto& b : buffer_) b.assign(kCarry, 0.0f);  // the song starts out of silence
}

void TTruePeak::Add(const int16_t* samples, size_t frames) {
    for (int c = 0; c < channels_; ++c) {
        std::vector<float>& b = buffer_[size_t(c)];
        b.resize(kCarry + frames);
        for (size_t i = 0; i < frames; ++i) b[kCarry + i] = float(samples[i * size_t(channels_) + size_t(c)]);
        Scan(b);
    }
}

void TTruePeak::Finish() {
    const std::vector<int16_t> silence(size_t(kTaps - kBefore) * size_t(channels_), 0);
    Add(silence.data(), kTaps - kBefore);
}

void TTruePeak::Scan(std::vector<float>& b) {
    float largest = 0.0f;
    for (const float v : b) largest = std::max(largest, std::abs(v));
    if (largest * gain_ > peak_ && b.size() > size_t(kCarry)) {
        const size_t count = b.size() - kCarry;  // the intervals n .. n+1 with all their taps
        out_.resize(count);
        float top = 0.0f;
        for (const auto& t : taps_) {
            std::fill(out_.begin(), out_.end(), 0.0f);
            for (int k = 0; k < kTaps; ++k) {
                const float h = t[size_t(k)];
                const float* x = b.data() + k;
                float* y = out_.data();
                for (size_t n = 0; n < count; ++n) y[n] += h * x[n];
            }
            for (const float y : out_) top = std::max(top, std::abs(y));
        }
        peak_ = std::max({peak_, top, largest});
    }
    std::copy(b.end() - kCarry, b.end(), b.begin());
    b.resize(kCarry);
}
