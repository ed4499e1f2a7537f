#include "ym/ym2149.h"

#include "audio/fill_run.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace replay::ym {
namespace {

// Register masks: unused bits read back as zero.
constexpr uint8_t kMask[kRegisterCount] = {0xff, 0x0f, 0xff, 0x0f, 0xff, 0x0f, 0x1f, 0xff,
                                           0x1f, 0x1f, 0x1f, 0xff, 0xff, 0x0f, 0xff, 0xff};

// Single-voice output for the 16 fixed volumes, measured on an ST and normalised to the top
// level. Fixed volume v is envelope step 2v+1 of the chip's 32 steps.
constexpr double kMeasuredLevel[16] = {0.000, 0.005, 0.008, 0.012, 0.018, 0.024, 0.036, 0.048,
                                       0.069, 0.095, 0.139, 0.191, 0.287, 0.407, 0.648, 1.000};

// Share of the supply that one voice at full level puts across the shared load on its own.
constexpr double kSingleVoiceSwing = 1.0 / 3.0;

struct Tables {
    // Conductance of one voice for each of the 32 steps, in units of the load's conductance.
    std::array<double, 32> conductance{};
    double fullScale = 1.0;
    // Envelope: 16 shapes x 96 positions (first cycle, second cycle, third cycle); after 95
    // the position wraps to 32, so cycles 2 and 3 repeat for ever.
    std::array<std::array<uint8_t, 96>, 16> envelope{};

    Tables() {
        std::array<double, 32> level{};
        for (int v = 0; v < 16; ++v) {
            level[2 * v + 1] = kMeasuredLevel[v];
            double below = v > 0 ? kMeasuredLevel[v - 1] : 0.0;
            level[2 * v] =
                below > 0.0 ? std::sqrt(below * kMeasuredLevel[v]) : kMeasuredLevel[v] * 0.7071;
        }
        for (int n = 0; n < 32; ++n) {
            // One voice alone: V = g / (g + 1) of the supply, which must equal its level.
            double v = level[n] * kSingleVoiceSwing;
            conductance[n] = v / (1.0 - v);
        }
        double all = 3.0 * conductance[31];
        fullScale = all / (all + 1.0);

        for (int shape = 0; shape < 16; ++shape) {
            const bool attack = shape & 4;
            const bool cont = shape & 8;
            const bool alt = shape & 2;
            const bool hold = shape & 1;
            auto ramp = [](bool up, int i) { return static_cast<uint8_t>(up ? i : 31 - i); };
            for (int i = 0; i < 32; ++i) {
                envelope[shape][i] = ramp(attack, i);
                uint8_t second;
                uint8_t third;
                if (!cont) {
                    second = third = 0;
                } else if (hold) {
                    const bool endHigh = attack != alt;
                    second = third = endHigh ? 31 : 0;
                } else if (alt) {
                    second = ramp(!attack, i);
                    third = ramp(attack, i);
                } else {
                    second = third = ramp(attack, i);
                }
                envelope[shape][32 + i] = second;
                envelope[shape][64 + i] = third;
            }
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// Whether the envelope can still change: shapes that end in a constant level stop mattering.
bool envelopeHolds(unsigned shape, uint32_t pos) {
    return pos >= 32 && (!(shape & 8) || (shape & 1));
}

} // namespace

Ym2149::Ym2149() {
    reset();
}

void Ym2149::reset() {
    std::fill(std::begin(regs_), std::end(regs_), 0);
    regs_[7] = 0xff;
    selected_ = 0;
    std::fill(std::begin(toneCount_), std::end(toneCount_), 0);
    std::fill(std::begin(toneOut_), std::end(toneOut_), 0);
    noiseCount_ = 0;
    lfsr_ = 1;
    envCount_ = 0;
    envPos_ = 0;
    sampleClock_ = 0;
    produced_ = 0;
    lastKey_ = 0xffffffff;
    updatePeriods();
}

uint8_t Ym2149::readSelected() const {
    return selected_ < kRegisterCount ? regs_[selected_] : 0xff;
}

void Ym2149::updatePeriods() {
    for (int v = 0; v < 3; ++v) {
        uint32_t p = regs_[2 * v] | ((regs_[2 * v + 1] & 0x0f) << 8);
        tonePeriod_[v] = std::max<uint32_t>(p, 1);
        if (toneCount_[v] >= tonePeriod_[v]) toneCount_[v] = tonePeriod_[v] - 1;
    }
    noisePeriod_ = 2 * std::max<uint32_t>(regs_[6] & 0x1f, 1);
    if (noiseCount_ >= noisePeriod_) noiseCount_ = noisePeriod_ - 1;
    envPeriod_ = std::max<uint32_t>(regs_[11] | (regs_[12] << 8), 1);
    if (envCount_ >= envPeriod_) envCount_ = envPeriod_ - 1;
}

void Ym2149::writeRegister(uint64_t cycle, unsigned reg, uint8_t value) {
    if (reg >= kRegisterCount) return;
    runTo(cycle);
    regs_[reg] = value & kMask[reg];
    if (reg == 13) {
        envPos_ = 0;
        envCount_ = 0;
    }
    if (reg <= 6 || reg == 11 || reg == 12) updatePeriods();
}

void Ym2149::beginBlock(float* out, size_t capacity) {
    out_ = out;
    capacity_ = out ? capacity : 0;
    produced_ = 0;
}

void Ym2149::runTo(uint64_t cycle) {
    const uint64_t target = cycle / kCpuCyclesPerSample;
    if (target <= sampleClock_) return;
    size_t n =
        static_cast<size_t>(std::min<uint64_t>(target - sampleClock_, capacity_ - produced_));
    if (n) generate(n);
}

unsigned Ym2149::envelopeLevel() const {
    return tables().envelope[regs_[13] & 15][envPos_];
}

int Ym2149::voiceLevel(int voice) const {
    if (voice < 0 || voice > 2) return 0;
    uint8_t v = regs_[8 + voice];
    return (v & 0x10) ? static_cast<int>(envelopeLevel() >> 1) : (v & 0x0f);
}

float Ym2149::mix(unsigned a, unsigned b, unsigned c) {
    const Tables& t = tables();
    double g = t.conductance[a & 31] + t.conductance[b & 31] + t.conductance[c & 31];
    return static_cast<float>(g / (g + 1.0) / t.fullScale);
}

// Produces count samples. The output is constant between generator events, so the work is
// done per run of equal samples: the next event of any generator that can change the output
// ends the run, and generators that cannot (a tone masked off, a held envelope) are only
// moved on arithmetically.
void Ym2149::generate(size_t count) {
    const unsigned mixer = regs_[7];
    const unsigned shape = regs_[13] & 15;
    const auto& env = tables().envelope[shape];
    bool levelCanSound[3];
    bool envUsed = false;
    for (int v = 0; v < 3; ++v) {
        const uint8_t vol = regs_[8 + v];
        envUsed |= (vol & 0x10) != 0;
        levelCanSound[v] = (vol & 0x1f) != 0;
    }
    bool toneMatters[3];
    bool noiseMatters = false;
    for (int v = 0; v < 3; ++v) {
        toneMatters[v] = levelCanSound[v] && !(mixer & (1u << v));
        noiseMatters |= levelCanSound[v] && !(mixer & (8u << v));
    }

    size_t done = 0;
    while (done < count) {
        const bool envMatters = envUsed && !envelopeHolds(shape, envPos_);
        // Length of the run: up to the next event that changes the output.
        uint32_t run = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 20));
        for (int v = 0; v < 3; ++v)
            if (toneMatters[v]) run = std::min(run, tonePeriod_[v] - toneCount_[v]);
        if (noiseMatters) run = std::min(run, noisePeriod_ - noiseCount_);
        if (envMatters) run = std::min(run, envPeriod_ - envCount_);

        // Output of the current state.
        const unsigned envLevel = env[envPos_];
        const unsigned noiseBit = lfsr_ & 1u;
        unsigned levels[3];
        for (int v = 0; v < 3; ++v) {
            const unsigned tone = toneOut_[v] | ((mixer >> v) & 1u);
            const unsigned noise = noiseBit | ((mixer >> (3 + v)) & 1u);
            const uint8_t vol = regs_[8 + v];
            const unsigned level =
                (vol & 0x10) ? envLevel : ((vol & 0x0f) ? 2u * (vol & 0x0f) + 1u : 0u);
            levels[v] = (tone & noise) ? level : 0u;
        }
        const uint32_t key = levels[0] | (levels[1] << 5) | (levels[2] << 10);
        if (key != lastKey_) {
            lastKey_ = key;
            lastValue_ = mix(levels[0], levels[1], levels[2]);
        }
        audio::fillRun(out_ + produced_ + done, run, capacity_ - produced_ - done, lastValue_);
        done += run;

        // Move every generator on by the run. A run ends on the next event of every generator
        // that matters, so one period is the usual step; only idle ones need a division.
        for (int v = 0; v < 3; ++v) {
            uint32_t c = toneCount_[v] + run;
            const uint32_t p = tonePeriod_[v];
            if (c >= p) {
                const uint32_t toggles = c < 2 * p ? 1 : c / p;
                c -= toggles * p;
                toneOut_[v] ^= toggles & 1u;
            }
            toneCount_[v] = c;
        }
        noiseCount_ += run;
        if (noiseCount_ >= noisePeriod_) {
            const uint32_t shifts = noiseCount_ < 2 * noisePeriod_ ? 1 : noiseCount_ / noisePeriod_;
            noiseCount_ -= shifts * noisePeriod_;
            // 17-bit shift register, taps at bits 0 and 3. When nothing listens, only its
            // phase is kept.
            if (noiseMatters)
                for (uint32_t s = 0; s < shifts; ++s)
                    lfsr_ = (lfsr_ >> 1) | (((lfsr_ ^ (lfsr_ >> 3)) & 1u) << 16);
        }
        envCount_ += run;
        if (envCount_ >= envPeriod_) {
            const uint32_t steps = envCount_ < 2 * envPeriod_ ? 1 : envCount_ / envPeriod_;
            envCount_ -= steps * envPeriod_;
            if (envPos_ + steps < 96) {
                envPos_ += steps;
            } else {
                envPos_ = 32 + (envPos_ + steps - 32) % 64;
            }
        }
    }
    produced_ += count;
    sampleClock_ += count;
}

} // namespace replay::ym
