// STE DMA sound ($FF8900-$FF8925) and the LMC1992 volume/tone chip behind the microwire
// interface.
//
// The DMA plays signed 8-bit samples from RAM, mono or stereo (left byte first), at 6258,
// 12517, 25033 or 50066 Hz: the CPU clock divided by 1280, 640, 320 or 160, i.e. one sample
// every 40, 20, 10 or 5 chip samples of 32 CPU cycles. Frame start and end registers are
// double-buffered: a running frame keeps the addresses it started with, and a looping frame
// picks up the registers again when it ends. Each frame end pulses the MFP's timer A input
// and its GPIP 7 line (through the callback).
//
// The LMC1992 receives 11-bit commands shifted out of the data register under the mask
// register; master, left and right volume and the mixer input are applied, bass and treble are
// accepted and kept flat.
#pragma once

#include <cstddef>
#include <cstdint>

namespace replay::ste {

inline constexpr uint32_t kBase = 0xff8900;
inline constexpr uint32_t kEnd = 0xff8926; // one past the last register byte
inline constexpr uint32_t kCpuCyclesPerSample = 32;

class SteSound {
  public:
    // Frame ends reach the handler when the DMA has been brought up to a cycle (runTo(), and
    // register accesses): `count` of them since the last call, the last one at `cycle`.
    using FrameEndHandler = void (*)(void* context, uint64_t cycle, uint64_t count);

    SteSound() { reset(); }
    void reset();

    void attachMemory(const uint8_t* ram, size_t size) {
        ram_ = ram;
        ramSize_ = size;
    }
    void onFrameEnd(FrameEndHandler handler, void* context) {
        frameEnd_ = handler;
        frameEndContext_ = context;
    }

    // Byte access to kBase..kEnd-1 (other addresses read 0 and ignore writes).
    uint8_t read(uint64_t cycle, uint32_t address);
    void write(uint64_t cycle, uint32_t address, uint8_t value);
    // The microwire registers are words; word writes must go through here to send a command.
    uint16_t readWord(uint64_t cycle, uint32_t address);
    void writeWord(uint64_t cycle, uint32_t address, uint16_t value);

    // DMA output goes to left/right[0..capacity) from the next chip sample on.
    void beginBlock(float* left, float* right, size_t capacity);
    void runTo(uint64_t cycle);
    // Like runTo() when a frame end is due by `cycle`; otherwise nothing (the samples wait for
    // the next runTo()). For hosts that only need the frame ends on time.
    void syncTo(uint64_t cycle) {
        if (cycle >= nextEnd_) runTo(cycle);
    }
    size_t produced() const { return produced_; }
    // Cycle of the next frame end while playing, ~0 otherwise.
    uint64_t nextEventCycle() const { return frameEndCycle(1); }
    // Cycle of the n-th frame end from now (n >= 1) with the registers as they are, ~0 if the
    // DMA stops before it.
    uint64_t frameEndCycle(uint64_t n) const;
    bool playing() const { return control_ & 1; }
    // True once the DMA has played anything since reset.
    bool used() const { return used_; }
    // Whether the two output channels can differ: the DMA has played, or the volumes differ.
    bool stereoOutput() const { return used_ || left_ != right_; }

    // Mixes the YM stream into the DMA stream of this block and applies the LMC1992 settings:
    // left/right[i] = (dma + ymWeight * ym[i]) * gains. Until the DMA first plays, the block's
    // DMA buffers are left unwritten and the mix is the YM's alone.
    void mixWithYm(const float* ym, size_t n, float* left, float* right) const;

    // Linear gains from the current LMC1992 settings (1 = 0 dB).
    float masterGain() const;
    float leftGain() const;
    float rightGain() const;
    float ymGain() const;
    int masterVolume() const { return master_; } // 0..40, 2 dB steps
    int leftVolume() const { return left_; }     // 0..20
    int rightVolume() const { return right_; }   // 0..20

  private:
    void start();
    void produce(size_t count);
    void command(uint16_t bits);
    uint32_t frameRegister(int first) const;
    uint32_t samplePeriod() const { return 40u >> (mode_ & 3); }
    bool stereo() const { return !(mode_ & 0x80); }

    const uint8_t* ram_ = nullptr;
    size_t ramSize_ = 0;
    FrameEndHandler frameEnd_ = nullptr;
    void* frameEndContext_ = nullptr;

    uint8_t regs_[0x26] = {};
    uint8_t control_ = 0;
    uint8_t mode_ = 0;
    uint32_t frameStart_ = 0; // the running frame's latched addresses
    uint32_t frameStop_ = 0;
    uint32_t counter_ = 0;
    uint32_t countdown_ = 0; // chip samples until the next DMA sample
    float sampleLeft_ = 0.0f;
    float sampleRight_ = 0.0f;
    bool used_ = false;

    uint16_t microwireRotated(uint64_t cycle, uint16_t value) const;

    uint64_t microwireStart_ = ~uint64_t{0}; // cycle the last command started shifting
    uint16_t microwireData_ = 0;
    uint16_t microwireMask_ = 0;
    int master_ = 40;
    int left_ = 20;
    int right_ = 20;
    int bass_ = 6;
    int treble_ = 6;
    int mixer_ = 1; // 0: YM at -12 dB, 1: YM mixed in, 2: YM off

    float* outLeft_ = nullptr;
    float* outRight_ = nullptr;
    size_t capacity_ = 0;
    size_t produced_ = 0;
    uint64_t sampleClock_ = 0;
    uint64_t pendingEnds_ = 0;        // frame ends not yet handed to the handler
    uint64_t lastEndCycle_ = 0;       // cycle of the newest of them
    uint64_t nextEnd_ = ~uint64_t{0}; // frameEndCycle(1) as of the last change
};

} // namespace replay::ste
