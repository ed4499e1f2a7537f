// Spectrum helpers for the sound tests: a radix-2 FFT with a Blackman-Harris window (side lobes
// below -92 dB), tone frequency by zero crossings, and simple signal statistics.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace spectrum {

// Magnitudes in dB of the first n samples (n a power of two), bins 0..n/2.
inline std::vector<double> magnitudesDb(const std::vector<float>& x, size_t n) {
    std::vector<std::complex<double>> a(n);
    double mean = 0.0;
    for (size_t i = 0; i < n; ++i) mean += x[i];
    mean /= static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        const double w =
            0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
        a[i] = (x[i] - mean) * w;
    }
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1.0);
            for (size_t k = 0; k < len / 2; ++k) {
                auto u = a[i + k];
                auto v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
    std::vector<double> db(n / 2 + 1);
    for (size_t i = 0; i <= n / 2; ++i) db[i] = 20.0 * std::log10(std::abs(a[i]) + 1e-30);
    return db;
}

// Frequency of a periodic signal from its mean-crossings (rising), in cycles per sample.
inline double crossingFrequency(const std::vector<float>& x, size_t from, size_t to) {
    double mean = 0.0;
    for (size_t i = from; i < to; ++i) mean += x[i];
    mean /= static_cast<double>(to - from);
    double first = -1.0;
    double last = -1.0;
    int count = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (x[i - 1] < mean && x[i] >= mean) {
            const double t = static_cast<double>(i - 1) + (mean - x[i - 1]) / (x[i] - x[i - 1]);
            if (first < 0) {
                first = t;
            } else {
                ++count;
            }
            last = t;
        }
    }
    return count > 0 ? count / (last - first) : 0.0;
}

// Frequency of the strongest line between lo and hi (in cycles per sample), refined by a
// parabola through the peak bin and its neighbours (in dB).
inline double peakFrequency(const std::vector<float>& x, size_t n, double lo, double hi) {
    auto db = magnitudesDb(x, n);
    size_t best = 0;
    for (size_t b = 1; b + 1 < db.size(); ++b) {
        const double f = static_cast<double>(b) / static_cast<double>(n);
        if (f >= lo && f <= hi && (best == 0 || db[b] > db[best])) best = b;
    }
    if (best == 0) return 0.0;
    const double a = db[best - 1], b = db[best], c = db[best + 1];
    const double shift = 0.5 * (a - c) / (a - 2 * b + c);
    return (static_cast<double>(best) + shift) / static_cast<double>(n);
}

inline double rms(const std::vector<float>& x, size_t from, size_t to) {
    double mean = 0.0;
    for (size_t i = from; i < to; ++i) mean += x[i];
    mean /= static_cast<double>(to - from);
    double s = 0.0;
    for (size_t i = from; i < to; ++i) s += (x[i] - mean) * (x[i] - mean);
    return std::sqrt(s / static_cast<double>(to - from));
}

} // namespace spectrum
