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

// Eight floats as one value: GCC and Clang turn arithmetic on it into SIMD instructions of the
// target (two SSE registers on a plain x86-64, one AVX register where there is one).
using Vec8 = float __attribute__((vector_size(32)));
using Vec4 = float __attribute__((vector_size(16)));
using Vec16 = float __attribute__((vector_size(64)));
// The helpers taking and returning Vec8 are always inlined: no call passes one, so the note
// about the calling convention of such arguments does not apply.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

inline Vec8 load8(const float* p) {
    Vec8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store8(float* p, const Vec8& v) {
    std::memcpy(p, &v, sizeof v);
}
inline Vec8 splat8(float x) {
    return Vec8{x, x, x, x, x, x, x, x};
}
inline Vec16 load16(const float* p) {
    Vec16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// Lanes summed in a fixed order, the same for one side alone and for two side by side (a
// mono history turning stereo goes on with identical results).
inline Vec8 fold16(const Vec16& v) {
    return __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7) +
           __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
}
inline Vec4 fold8(const Vec8& v) {
    return __builtin_shufflevector(v, v, 0, 1, 2, 3) + __builtin_shufflevector(v, v, 4, 5, 6, 7);
}
inline float sum8(const Vec8& v) {
    const Vec4 h = fold8(v);
    return (h[0] + h[2]) + (h[1] + h[3]);
}

// The filter loops below are built three times on x86-64 ELF systems: for the baseline
// processor, for one with AVX2 and FMA, and for one with AVX-512; the loader picks the one the
// machine runs. Elsewhere (the Windows library among them) only the baseline build exists.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define REPLAY_SIMD_CLONES                                                                         \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define REPLAY_SIMD_CLONES
#endif

// One half-band output per q: the centre tap on o[q], the odd offsets on e[q - i] and
// e[q + 1 + i].
void halfBandAny(size_t k, const float* e, const float* o, const float* c, float centre,
                 size_t count, float* out) {
    for (size_t q = 0; q < count; ++q) {
        float acc = centre * o[q];
        for (size_t i = 0; i < k; ++i) acc += c[i] * (e[q + 1 + i] + e[q - i]);
        out[q] = acc;
    }
}

// The same with K known at compile time, which keeps the coefficients in registers; eight
// outputs are worked out side by side.
template <size_t K>
[[gnu::always_inline]] inline void halfBandBody(const float* e, const float* o, const float* c,
                                                float centre, size_t count, float* out) {
    Vec8 cv[K];
    for (size_t i = 0; i < K; ++i) cv[i] = splat8(c[i]);
    const Vec8 centreV = splat8(centre);
    size_t q = 0;
    for (; q + 8 <= count; q += 8) {
        Vec8 acc = centreV * load8(o + q);
        for (size_t i = 0; i < K; ++i) acc += cv[i] * (load8(e + q + 1 + i) + load8(e + q - i));
        store8(out + q, acc);
    }
    halfBandAny(K, e + q, o + q, c, centre, count - q, out + q);
}

REPLAY_SIMD_CLONES
void halfBand6(const float* e, const float* o, const float* c, float centre, size_t count,
               float* out) {
    halfBandBody<6>(e, o, c, centre, count, out);
}

REPLAY_SIMD_CLONES
void halfBand12(const float* e, const float* o, const float* c, float centre, size_t count,
                float* out) {
    halfBandBody<12>(e, o, c, centre, count, out);
}

// The polyphase stage's outputs from `pos` on while their newest tap is in the history
// (`fill` samples of left, and of right when it is not null). Each output's coefficients lie
// between two table rows (row a, step d to the next one) and are interpolated on the way.
template <bool Stereo>
[[gnu::always_inline]] inline size_t polyphaseBody(const float* table, const float* left,
                                                   const float* right, size_t fill, uint64_t& pos,
                                                   uint64_t step, float* outLeft, float* outRight) {
    constexpr size_t kTaps = 64;
    size_t produced = 0;
    for (;;) {
        const size_t base = static_cast<size_t>(pos >> 32);
        if (base + kTaps / 2 >= fill) break; // the newest tap is not there yet
        const uint32_t frac = static_cast<uint32_t>(pos);
        const uint32_t phase = frac >> 24; // 256 phases
        const float wf = static_cast<float>(frac & 0xffffff) * (1.0f / 16777216.0f);
        const Vec16 w = {wf, wf, wf, wf, wf, wf, wf, wf, wf, wf, wf, wf, wf, wf, wf, wf};
        const float* a = table + static_cast<size_t>(phase) * 2 * kTaps;
        const float* d = a + kTaps;
        const float* xl = left + base - (kTaps / 2 - 1);
        const float* xr = Stereo ? right + base - (kTaps / 2 - 1) : nullptr;
        // Sixteen lanes per side (one AVX-512 register, two AVX or four SSE ones).
        Vec16 l = {}, r = {};
        for (size_t j = 0; j < kTaps; j += 16) {
            const Vec16 c = load16(a + j) + load16(d + j) * w;
            l += c * load16(xl + j);
            if constexpr (Stereo) r += c * load16(xr + j);
        }
        if constexpr (Stereo) {
            // Both sides folded together: [l0+l2, l1+l3, r0+r2, r1+r3] of the folded halves.
            const Vec4 lh = fold8(fold16(l)), rh = fold8(fold16(r));
            const Vec4 q = __builtin_shufflevector(lh, rh, 0, 1, 4, 5) +
                           __builtin_shufflevector(lh, rh, 2, 3, 6, 7);
            outLeft[produced] = q[0] + q[1];
            outRight[produced] = q[2] + q[3];
        } else {
            outLeft[produced] = sum8(fold16(l));
        }
        ++produced;
        pos += step;
    }
    return produced;
}

REPLAY_SIMD_CLONES
size_t polyphaseMono(const float* table, const float* left, size_t fill, uint64_t& pos,
                     uint64_t step, float* out) {
    return polyphaseBody<false>(table, left, nullptr, fill, pos, step, out, nullptr);
}

REPLAY_SIMD_CLONES
size_t polyphaseStereo(const float* table, const float* left, const float* right, size_t fill,
                       uint64_t& pos, uint64_t step, float* outLeft, float* outRight) {
    return polyphaseBody<true>(table, left, right, fill, pos, step, outLeft, outRight);
}

bool outputRateSupported(int outputRate) {
    return outputRate >= 32000 && outputRate <= 62000;
}

} // namespace

void HalfBandDecimator::configure(int taps, double stopbandDb, size_t maxInput) {
    const int half = taps / 2;
    const double beta = kaiserBeta(stopbandDb);
    coef_.clear();
    double sum = 0.5;
    for (int k = 1; k <= half; k += 2) {
        double c = 0.5 * sinc(k / 2.0) * kaiser(static_cast<double>(k) / (half + 1), beta);
        coef_.push_back(static_cast<float>(c));
        sum += 2.0 * c;
    }
    for (float& c : coef_) c = static_cast<float>(c / sum); // unity gain at DC
    centre_ = static_cast<float>(0.5 / sum);
    k_ = coef_.size();
    even_.assign(2 * k_ + maxInput / 2 + kSlack, 0.0f);
    odd_.assign(even_.size(), 0.0f);
    reset();
}

// Sample t of the stream (t = 0 is the first input) is even_[2K + t/2] or odd_[2K + t/2]; the
// history before it is silence. Output j is centred on sample 2(j - K) + 1 and spans samples
// 2(j - 2K) + 2 .. 2j, so it is complete once even sample 2j has arrived.
void HalfBandDecimator::reset() {
    std::fill(even_.begin(), even_.end(), 0.0f);
    std::fill(odd_.begin(), odd_.end(), 0.0f);
    evenFill_ = oddFill_ = next_ = 2 * k_;
    toOdd_ = false;
}

size_t HalfBandDecimator::process(const float* in, size_t n, float* out) {
    // Split the input by parity.
    size_t i = 0;
    if (toOdd_ && n > 0) {
        odd_[oddFill_++] = in[0];
        i = 1;
    }
    const size_t pairs = (n - i) / 2;
    float* e = even_.data() + evenFill_;
    float* o = odd_.data() + oddFill_;
    const float* src = in + i;
    for (size_t m = 0; m < pairs; ++m) {
        e[m] = src[2 * m];
        o[m] = src[2 * m + 1];
    }
    evenFill_ += pairs;
    oddFill_ += pairs;
    i += 2 * pairs;
    if (i < n) {
        even_[evenFill_++] = in[i];
        toOdd_ = true;
    } else if (n > 0) {
        toOdd_ = false; // the last sample was odd-numbered
    }
    const size_t count = evenFill_ - next_;
    const float* ep = even_.data() + next_ - k_;
    const float* op = odd_.data() + next_ - k_;
    switch (k_) {
    case 6:
        halfBand6(ep, op, coef_.data(), centre_, count, out);
        break;
    case 12:
        halfBand12(ep, op, coef_.data(), centre_, count, out);
        break;
    default:
        halfBandAny(k_, ep, op, coef_.data(), centre_, count, out);
        break;
    }
    next_ = evenFill_;
    // Keep what the next outputs still need: 2K - 1 even samples before the next one.
    const size_t keepFrom = next_ - (2 * k_ - 1);
    std::memmove(even_.data(), even_.data() + keepFrom, (evenFill_ - keepFrom) * sizeof(float));
    std::memmove(odd_.data(), odd_.data() + keepFrom, (oddFill_ - keepFrom) * sizeof(float));
    evenFill_ -= keepFrom;
    oddFill_ -= keepFrom;
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
    std::vector<float> rows(static_cast<size_t>(kPhases + 1) * kTaps, 0.0f);
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
            rows[static_cast<size_t>(p) * kTaps + j] = static_cast<float>(row[j] / sum);
    }
    // Each phase keeps its row and the step to the next phase's row.
    table_.assign(static_cast<size_t>(kPhases) * 2 * kTaps, 0.0f);
    for (size_t p = 0; p < kPhases; ++p) {
        for (size_t j = 0; j < kTaps; ++j) {
            const float a = rows[p * kTaps + j];
            table_[p * 2 * kTaps + j] = a;
            table_[p * 2 * kTaps + kTaps + j] = rows[(p + 1) * kTaps + j] - a;
        }
    }
    step_ = static_cast<uint64_t>(std::llround(inRate / outRate * 4294967296.0));
    left_.assign(kTaps + maxInput + kSlack, 0.0f);
    right_.assign(left_.size(), 0.0f);
    reset();
}

void FractionalResampler::reset() {
    std::fill(left_.begin(), left_.end(), 0.0f);
    std::fill(right_.begin(), right_.end(), 0.0f);
    fill_ = kTaps;
    pos_ = uint64_t{kTaps / 2 - 1} << 32;
}

void FractionalResampler::copyLeftToRight() {
    std::copy(left_.begin(), left_.begin() + static_cast<ptrdiff_t>(fill_), right_.begin());
}

size_t FractionalResampler::maxOutput(size_t n) const {
    return static_cast<size_t>(((uint64_t{n} + 2) << 32) / step_) + 2;
}

size_t FractionalResampler::process(const float* in, size_t n, float* out) {
    return run<false>(in, nullptr, n, out, nullptr);
}

size_t FractionalResampler::process(const float* inLeft, const float* inRight, size_t n,
                                    float* outLeft, float* outRight) {
    return run<true>(inLeft, inRight, n, outLeft, outRight);
}

template <bool Stereo>
size_t FractionalResampler::run(const float* inLeft, const float* inRight, size_t n, float* outLeft,
                                float* outRight) {
    std::memcpy(left_.data() + fill_, inLeft, n * sizeof(float));
    if constexpr (Stereo) std::memcpy(right_.data() + fill_, inRight, n * sizeof(float));
    fill_ += n;
    const size_t produced =
        Stereo ? polyphaseStereo(table_.data(), left_.data(), right_.data(), fill_, pos_, step_,
                                 outLeft, outRight)
               : polyphaseMono(table_.data(), left_.data(), fill_, pos_, step_, outLeft);
    const size_t base = static_cast<size_t>(pos_ >> 32);
    const size_t keepFrom = base - (kTaps / 2 - 1);
    const size_t keep = fill_ - keepFrom;
    std::memmove(left_.data(), left_.data() + keepFrom, keep * sizeof(float));
    if constexpr (Stereo)
        std::memmove(right_.data(), right_.data() + keepFrom, keep * sizeof(float));
    fill_ = keep;
    pos_ -= uint64_t{keepFrom} << 32;
    return produced;
}

void QuarterRate::configure(size_t maxInputBlock) {
    stage1_.configure(23, 90.0, maxInputBlock);
    stage2_.configure(47, 90.0, maxInputBlock / 2 + 2);
    mid1_.assign(maxInputBlock / 2 + 2, 0.0f);
    mid2_.assign(maxInputBlock / 4 + 4, 0.0f);
}

void QuarterRate::reset() {
    stage1_.reset();
    stage2_.reset();
}

size_t QuarterRate::process(const float* in, size_t n) {
    const size_t n1 = stage1_.process(in, n, mid1_.data());
    return stage2_.process(mid1_.data(), n1, mid2_.data());
}

bool Decimator::configure(int outputRate, size_t maxInputBlock) {
    if (!outputRateSupported(outputRate)) return false;
    quarter_.configure(maxInputBlock);
    stage3_.configure(kChipRate / 4.0, outputRate, maxInputBlock / 4 + 4);
    return true;
}

void Decimator::reset() {
    quarter_.reset();
    stage3_.reset();
}

size_t Decimator::process(const float* in, size_t n, float* out) {
    const size_t n2 = quarter_.process(in, n);
    return stage3_.process(quarter_.out(), n2, out);
}

bool StereoDecimator::configure(int outputRate, size_t maxInputBlock) {
    stereo_ = false;
    if (!outputRateSupported(outputRate)) return false;
    for (QuarterRate& q : quarter_) q.configure(maxInputBlock);
    stage3_.configure(kChipRate / 4.0, outputRate, maxInputBlock / 4 + 4);
    return true;
}

void StereoDecimator::reset() {
    for (QuarterRate& q : quarter_) q.reset();
    stage3_.reset();
    stereo_ = false;
}

size_t StereoDecimator::process(const float* left, const float* right, size_t n, bool stereo,
                                float* outLeft, float* outRight) {
    if (stereo && !stereo_) {
        quarter_[1] = quarter_[0]; // same sizes: the vectors copy without allocating
        stage3_.copyLeftToRight();
        stereo_ = true;
    }
    const size_t n2 = quarter_[0].process(left, n);
    if (!stereo_) {
        const size_t produced = stage3_.process(quarter_[0].out(), n2, outLeft);
        std::memcpy(outRight, outLeft, produced * sizeof(float));
        return produced;
    }
    quarter_[1].process(right, n);
    return stage3_.process(quarter_[0].out(), quarter_[1].out(), n2, outLeft, outRight);
}

void DcBlocker::configure(double rate, double cornerHz) {
    r_ = static_cast<float>(1.0 - 2.0 * std::numbers::pi * cornerHz / rate);
    reset();
}

} // namespace replay::audio
