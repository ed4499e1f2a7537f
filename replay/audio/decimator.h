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
    std::vector<float> odd_; // coefficients of the odd offsets 1, 3, 5, ...
    float centre_ = 0.5f;
    int half_ = 0; // taps / 2
    std::vector<float> buf_;
    size_t fill_ = 0; // samples in buf_
    size_t next_ = 0; // centre of the next output in buf_
};

class FractionalResampler {
  public:
    void configure(double inRate, double outRate, size_t maxInput);
    void reset();
    size_t process(const float* in, size_t n, float* out);
    size_t maxOutput(size_t n) const;

  private:
    static constexpr int kTaps = 64;
    static constexpr int kPhases = 256;
    std::vector<float> table_; // (kPhases + 1) x kTaps
    std::vector<float> buf_;
    std::vector<float> coef_;
    size_t fill_ = 0;
    uint64_t pos_ = 0;  // next output time in buf_, 32.32 fixed point
    uint64_t step_ = 0; // input samples per output sample, 32.32
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
    HalfBandDecimator stage1_;
    HalfBandDecimator stage2_;
    FractionalResampler stage3_;
    std::vector<float> mid1_;
    std::vector<float> mid2_;
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
    size_t maxOutput(size_t n) const { return left_.maxOutput(n); }

  private:
    Decimator left_;
    Decimator right_;
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
