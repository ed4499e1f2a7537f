// Band-limiting rate conversion from the sound chips' 250 kHz stream to the host's rate.
//
// Three stages: two half-band decimators (250 kHz -> 125 kHz -> 62.6 kHz), then a polyphase
// windowed-sinc filter that lands on the output rate (any rate from 32 kHz to 62 kHz, with
// coefficients interpolated between 256 phases). Everything above half the output rate is
// attenuated by at least 80 dB; the pass band reaches about 17 kHz at 44.1 kHz and 19 kHz at
// 48 kHz. All buffers are sized once by configure(); process() does not allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace replay::audio {

// The ST's CPU clock (PAL machines) and the chip stream derived from it.
inline constexpr double kCpuClock = 8010613.0;
inline constexpr double kChipRate = kCpuClock / 32.0;

class HalfBandDecimator {
  public:
    // taps: odd length with a centre tap (4k+3 for a true half-band).
    void configure(int taps, double stopbandDb, size_t maxInput);
    void reset();
    // Consumes n samples, writes the outputs they complete to out; returns how many.
    size_t process(const float* in, size_t n, float* out);

  private:
    // The stream is kept split by parity: each output's centre tap falls on an odd-numbered
    // sample and all its other taps on even-numbered ones, so the filter runs over two plain
    // arrays with no strided access.
    std::vector<float> coef_; // coefficients of the odd offsets 1, 3, 5, ...
    float centre_ = 0.5f;
    size_t k_ = 0; // number of odd-offset coefficients
    std::vector<float> even_;
    std::vector<float> odd_;
    size_t evenFill_ = 0;
    size_t oddFill_ = 0;
    size_t next_ = 0;    // position in even_ of the newest sample of the next output
    bool toOdd_ = false; // the next input sample is odd-numbered
};

// Polyphase windowed-sinc stage for one or two channels on the same clock: the coefficients of
// an output's phase are worked out once and serve both channels.
class FractionalResampler {
  public:
    void configure(double inRate, double outRate, size_t maxInput);
    void reset();
    // One channel (the left history).
    size_t process(const float* in, size_t n, float* out);
    // Both channels, n samples each.
    size_t process(const float* inLeft, const float* inRight, size_t n, float* outLeft,
                   float* outRight);
    // The right history becomes a copy of the left one (a mono stream turning stereo).
    void copyLeftToRight();
    size_t maxOutput(size_t n) const;

  private:
    static constexpr int kTaps = 64;
    static constexpr int kPhases = 256;
    template <bool Stereo>
    size_t run(const float* inLeft, const float* inRight, size_t n, float* outLeft,
               float* outRight);
    std::vector<float> table_; // kPhases x (row, step to the next row) x kTaps
    std::vector<float> left_;
    std::vector<float> right_;
    size_t fill_ = 0;
    uint64_t pos_ = 0;  // next output time in the histories, 32.32 fixed point
    uint64_t step_ = 0; // input samples per output sample, 32.32
};

// The two half-band stages of one channel, chip rate to a quarter of it, with their buffers.
class QuarterRate {
  public:
    void configure(size_t maxInputBlock);
    void reset();
    // Consumes n chip-rate samples; returns how many quarter-rate samples are in out().
    size_t process(const float* in, size_t n);
    const float* out() const { return mid2_.data(); }

  private:
    HalfBandDecimator stage1_;
    HalfBandDecimator stage2_;
    std::vector<float> mid1_;
    std::vector<float> mid2_;
};

// One channel's chain from the chip rate to the output rate.
class Decimator {
  public:
    // Returns false for output rates the filters are not made for.
    bool configure(int outputRate, size_t maxInputBlock);
    void reset();
    // Consumes n chip-rate samples (n <= maxInputBlock); returns the number of output samples.
    size_t process(const float* in, size_t n, float* out);
    // Upper bound of the outputs of one process() call with n inputs.
    size_t maxOutput(size_t n) const { return stage3_.maxOutput(n / 4 + 2); }

  private:
    QuarterRate quarter_;
    FractionalResampler stage3_;
};

// Left and right chains. While both inputs carry the same signal (the YM alone) only the left
// chain runs and its output is copied; the first stereo block starts the right chain from the
// left one's state, which is the same signal's history.
class StereoDecimator {
  public:
    bool configure(int outputRate, size_t maxInputBlock);
    void reset();
    size_t process(const float* left, const float* right, size_t n, bool stereo, float* outLeft,
                   float* outRight);
    size_t maxOutput(size_t n) const { return stage3_.maxOutput(n / 4 + 2); }

  private:
    QuarterRate quarter_[2];
    FractionalResampler stage3_;
    bool stereo_ = false;
};

// Removes the DC offset (the chips' output is one-sided) with a one-pole high-pass filter.
class DcBlocker {
  public:
    void configure(double rate, double cornerHz = 5.0);
    void reset() { x1_ = y1_ = 0.0f; }
    float step(float x) {
        float y = x - x1_ + r_ * y1_;
        x1_ = x;
        y1_ = y;
        return y;
    }

  private:
    float r_ = 0.999f;
    float x1_ = 0.0f;
    float y1_ = 0.0f;
};

} // namespace replay::audio
