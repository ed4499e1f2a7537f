// YM2149 sound chip as wired in the Atari ST.
//
// The chip runs from the 2 MHz clock (the 8 MHz CPU clock divided by 4) and is stepped here at
// 2 MHz / 8 = 250 kHz: one output sample per 32 CPU cycles. Register writes carry the CPU cycle
// at which they happen; the chip first produces every sample before that cycle, so a write
// lands on the right sample.
//
// Output: the three voices' pins are tied together on the ST and loaded by one resistor, so the
// mix is not the sum of the voices. Each voice is modelled as a conductance that depends on its
// 5-bit level (measured single-voice levels of a real machine, the in-between envelope steps
// interpolated on the logarithmic scale); the mix is the voltage across the shared load.
#pragma once

#include <cstddef>
#include <cstdint>

namespace replay::ym {

inline constexpr uint32_t kCpuCyclesPerSample = 32; // 8 MHz / 250 kHz
inline constexpr int kRegisterCount = 16;

class Ym2149 {
  public:
    Ym2149();

    void reset();

    // Bus side: $FF8800 selects (write) or reads the selected register; $FF8802 writes it.
    void select(uint8_t reg) { selected_ = reg; }
    uint8_t readSelected() const;
    void writeSelected(uint64_t cycle, uint8_t value) { writeRegister(cycle, selected_, value); }
    void writeRegister(uint64_t cycle, unsigned reg, uint8_t value);
    uint8_t reg(unsigned r) const { return r < kRegisterCount ? regs_[r] : 0xff; }

    // Output goes to out[0..capacity) from the next sample on; runTo(cycle) produces every
    // sample that ends at or before cycle (never past capacity). produced() counts this block.
    void beginBlock(float* out, size_t capacity);
    void runTo(uint64_t cycle);
    size_t produced() const { return produced_; }

    // Current level of a voice, 0..15: its fixed volume, or the envelope's level when the
    // voice follows the envelope. The tone and noise state do not matter here.
    int voiceLevel(int voice) const;

    // Mix of the three voices for the given 5-bit levels, 0..1 (1 = all three at full level).
    static float mix(unsigned levelA, unsigned levelB, unsigned levelC);

  private:
    void generate(size_t count);
    void updatePeriods();
    unsigned envelopeLevel() const;

    uint8_t regs_[kRegisterCount] = {};
    uint8_t selected_ = 0;

    // Generators: counters count 250 kHz steps up to their period.
    uint32_t tonePeriod_[3] = {1, 1, 1};
    uint32_t toneCount_[3] = {};
    uint32_t toneOut_[3] = {};
    uint32_t noisePeriod_ = 2; // in steps: the noise shifts at half the tone rate
    uint32_t noiseCount_ = 0;
    uint32_t lfsr_ = 1;
    uint32_t envPeriod_ = 1;
    uint32_t envCount_ = 0;
    uint32_t envPos_ = 0; // 0..95, see the shape table

    float* out_ = nullptr;
    size_t capacity_ = 0;
    size_t produced_ = 0;
    uint64_t sampleClock_ = 0;

    uint32_t lastKey_ = 0xffffffff;
    float lastValue_ = 0.0f;
};

} // namespace replay::ym
