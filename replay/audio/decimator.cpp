#include "audio/decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace replay::audio {
namespace {

double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

double kaiserBeta(double stopbandDb) {
    if (stopbandDb > 50.0) return 0.1102 * (stopbandDb - 8.7);
    if (stopbandDb >= 21.0)
        return 0.5842 * std::pow(stopbandDb - 21.0, 0.4) + 0.07886 * (stopbandDb - 21.0);
    return 0.0;
}

// Kaiser window at x in [-1, 1].
double kaiser(double x, double beta) {
    if (x <= -1.0 || x >= 1.0) return 0.0;
    return besselI0(beta * std::sqrt(1.0 - x * x)) / besselI0(beta);
}

double sinc(double x) {
    if (std::fabs(x) < 1e-12) return 1.0;
    return std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}

constexpr size_t kSlack = 8;

} // namespace

void HalfBandDecimator::configure(int taps, double stopbandDb, size_t maxInput) {
    half_ = taps / 2;
    const double beta = kaiserBeta(stopbandDb);
    odd_.clear();
    double sum = 0.5;
    for (int k = 1; k <= half_; k += 2) {
        double c = 0.5 * sinc(k / 2.0) * kaiser(static_cast<double>(k) / (half_ + 1), beta);
        odd_.push_back(static_cast<float>(c));
        sum += 2.0 * c;
    }
    for (float& c : odd_) c = static_cast<float>(c / sum); // unity gain at DC
    centre_ = static_cast<float>(0.5 / sum);
    buf_.assign(2 * static_cast<size_t>(half_) + maxInput + kSlack, 0.0f);
    reset();
}

void HalfBandDecimator::reset() {
    std::fill(buf_.begin(), buf_.end(), 0.0f);
    fill_ = 2 * static_cast<size_t>(half_); // silence as history
    next_ = static_cast<size_t>(half_);
}

size_t HalfBandDecimator::process(const float* in, size_t n, float* out) {
    std::memcpy(buf_.data() + fill_, in, n * sizeof(float));
    fill_ += n;
    const size_t h = static_cast<size_t>(half_);
    if (next_ + h >= fill_) return 0;
    const size_t count = (fill_ - 1 - h - next_) / 2 + 1;
    // Coefficient by coefficient over all outputs: plain loops the compiler vectorises.
    const float* x = buf_.data() + next_;
    for (size_t j = 0; j < count; ++j) out[j] = centre_ * x[2 * j];
    for (size_t i = 0; i < odd_.size(); ++i) {
        const float c = odd_[i];
        const float* up = x + (2 * i + 1);
        const float* down = x - static_cast<ptrdiff_t>(2 * i + 1);
        for (size_t j = 0; j < count; ++j) out[j] += c * (up[2 * j] + down[2 * j]);
    }
    next_ += 2 * count;
    // Keep what the next outputs still need.
    const size_t keepFrom = next_ - h;
    std::memmove(buf_.data(), buf_.data() + keepFrom, (fill_ - keepFrom) * sizeof(float));
    fill_ -= keepFrom;
    next_ -= keepFrom;
    return count;
}

void FractionalResampler::configure(double inRate, double outRate, size_t maxInput) {
    const double stopbandDb = 80.0;
    const double beta = kaiserBeta(stopbandDb);
    // Transition width that kTaps buys at this attenuation; the stop band starts at half the
    // output rate so that nothing folds back into the output.
    const double width = (stopbandDb - 7.95) / (14.36 * kTaps) * inRate;
    const double stopEdge = std::min(outRate, inRate) / 2.0;
    const double cutoff = (stopEdge - width / 2.0) / inRate; // in cycles per input sample
    table_.assign(static_cast<size_t>(kPhases + 1) * kTaps, 0.0f);
    for (int p = 0; p <= kPhases; ++p) {
        const double frac = static_cast<double>(p) / kPhases;
        double sum = 0.0;
        double row[kTaps];
        for (int j = 0; j < kTaps; ++j) {
            const double d = j - (kTaps / 2 - 1) - frac; // tap time relative to the output
            row[j] = 2.0 * cutoff * sinc(2.0 * cutoff * d) * kaiser(d / (kTaps / 2), beta);
            sum += row[j];
        }
        for (int j = 0; j < kTaps; ++j)
            table_[static_cast<size_t>(p) * kTaps + j] = static_cast<float>(row[j] / sum);
    }
    step_ = static_cast<uint64_t>(std::llround(inRate / outRate * 4294967296.0));
    buf_.assign(kTaps + maxInput + kSlack, 0.0f);
    coef_.assign(kTaps, 0.0f);
    reset();
}

void FractionalResampler::reset() {
    std::fill(buf_.begin(), buf_.end(), 0.0f);
    fill_ = kTaps;
    pos_ = uint64_t{kTaps / 2 - 1} << 32;
}

size_t FractionalResampler::maxOutput(size_t n) const {
    return static_cast<size_t>(((uint64_t{n} + 2) << 32) / step_) + 2;
}

size_t FractionalResampler::process(const float* in, size_t n, float* out) {
    std::memcpy(buf_.data() + fill_, in, n * sizeof(float));
    fill_ += n;
    size_t produced = 0;
    float* coef = coef_.data();
    for (;;) {
        const size_t base = static_cast<size_t>(pos_ >> 32);
        if (base + kTaps / 2 >= fill_) break; // the newest tap is not there yet
        const uint32_t frac = static_cast<uint32_t>(pos_);
        const uint32_t phase = frac >> 24; // 256 phases
        const float mixWeight = static_cast<float>(frac & 0xffffff) * (1.0f / 16777216.0f);
        const float* a = table_.data() + static_cast<size_t>(phase) * kTaps;
        const float* b = a + kTaps;
        for (int j = 0; j < kTaps; ++j) coef[j] = a[j] + (b[j] - a[j]) * mixWeight;
        const float* x = buf_.data() + base - (kTaps / 2 - 1);
        float acc[8] = {};
        for (int j = 0; j < kTaps; j += 8)
            for (int k = 0; k < 8; ++k) acc[k] += coef[j + k] * x[j + k];
        out[produced++] =
            ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
        pos_ += step_;
    }
    const size_t base = static_cast<size_t>(pos_ >> 32);
    const size_t keepFrom = base - (kTaps / 2 - 1);
    std::memmove(buf_.data(), buf_.data() + keepFrom, (fill_ - keepFrom) * sizeof(float));
    fill_ -= keepFrom;
    pos_ -= uint64_t{keepFrom} << 32;
    return produced;
}

bool Decimator::configure(int outputRate, size_t maxInputBlock) {
    if (outputRate < 32000 || outputRate > 62000) return false;
    stage1_.configure(23, 90.0, maxInputBlock);
    stage2_.configure(47, 90.0, maxInputBlock / 2 + 2);
    stage3_.configure(kChipRate / 4.0, outputRate, maxInputBlock / 4 + 4);
    mid1_.assign(maxInputBlock / 2 + 2, 0.0f);
    mid2_.assign(maxInputBlock / 4 + 4, 0.0f);
    return true;
}

void Decimator::reset() {
    stage1_.reset();
    stage2_.reset();
    stage3_.reset();
}

size_t Decimator::process(const float* in, size_t n, float* out) {
    size_t n1 = stage1_.process(in, n, mid1_.data());
    size_t n2 = stage2_.process(mid1_.data(), n1, mid2_.data());
    return stage3_.process(mid2_.data(), n2, out);
}

bool StereoDecimator::configure(int outputRate, size_t maxInputBlock) {
    stereo_ = false;
    return left_.configure(outputRate, maxInputBlock) &&
           right_.configure(outputRate, maxInputBlock);
}

void StereoDecimator::reset() {
    left_.reset();
    right_.reset();
    stereo_ = false;
}

size_t StereoDecimator::process(const float* left, const float* right, size_t n, bool stereo,
                                float* outLeft, float* outRight) {
    if (stereo && !stereo_) {
        right_ = left_; // same sizes: the vectors copy without allocating
        stereo_ = true;
    }
    const size_t produced = left_.process(left, n, outLeft);
    if (stereo_) {
        right_.process(right, n, outRight);
    } else {
        std::memcpy(outRight, outLeft, produced * sizeof(float));
    }
    return produced;
}

void DcBlocker::configure(double rate, double cornerHz) {
    r_ = static_cast<float>(1.0 - 2.0 * std::numbers::pi * cornerHz / rate);
    reset();
}

} // namespace replay::audio
