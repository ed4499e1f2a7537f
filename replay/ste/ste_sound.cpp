#include "ste/ste_sound.h"

#include "audio/fill_run.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace replay::ste {
namespace {

// Register offsets from kBase.
constexpr uint32_t kControl = 0x01;
constexpr uint32_t kStartHigh = 0x03;
constexpr uint32_t kCounterHigh = 0x09;
constexpr uint32_t kEndHigh = 0x0f;
constexpr uint32_t kMode = 0x21;
constexpr uint32_t kMicrowireData = 0x22;
constexpr uint32_t kMicrowireMask = 0x24;

constexpr uint32_t kAddressMask = 0x3ffffe; // 4 MiB, even addresses
// The DMA's full scale against the YM's (whose mix spans 0..1).
constexpr float kDmaWeight = 0.5f / 128.0f;

float decibels(double db) {
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

} // namespace

void SteSound::reset() {
    std::fill(std::begin(regs_), std::end(regs_), 0);
    control_ = 0;
    mode_ = 0;
    frameStart_ = frameStop_ = counter_ = 0;
    countdown_ = 0;
    sampleLeft_ = sampleRight_ = 0.0f;
    used_ = false;
    microwireData_ = microwireMask_ = 0;
    microwireStart_ = ~uint64_t{0};
    master_ = 40;
    left_ = right_ = 20;
    bass_ = treble_ = 6;
    mixer_ = 1;
    produced_ = 0;
    sampleClock_ = 0;
    pendingEnds_ = 0;
    lastEndCycle_ = 0;
    nextEnd_ = ~uint64_t{0};
}

uint32_t SteSound::frameRegister(int first) const {
    return ((uint32_t{regs_[first]} << 16) | (uint32_t{regs_[first + 2]} << 8) | regs_[first + 4]) &
           kAddressMask;
}

void SteSound::start() {
    if (!used_ && capacity_) { // the block so far was skipped while nothing played
        std::fill_n(outLeft_, produced_, 0.0f);
        std::fill_n(outRight_, produced_, 0.0f);
    }
    frameStart_ = frameRegister(kStartHigh);
    frameStop_ = frameRegister(kEndHigh);
    counter_ = frameStart_;
    countdown_ = 0; // the first sample is fetched at once
    used_ = true;
}

uint8_t SteSound::read(uint64_t cycle, uint32_t address) {
    if (address < kBase || address >= kEnd) return 0;
    const uint32_t off = address - kBase;
    switch (off) {
    case kControl:
        runTo(cycle);
        return control_;
    case kCounterHigh:
    case kCounterHigh + 2:
    case kCounterHigh + 4:
        runTo(cycle);
        return static_cast<uint8_t>(counter_ >> (8 * (2 - (off - kCounterHigh) / 2)));
    case kMode:
        return mode_;
    case kMicrowireData:
        return static_cast<uint8_t>(microwireRotated(cycle, microwireData_) >> 8);
    case kMicrowireData + 1:
        return static_cast<uint8_t>(microwireRotated(cycle, microwireData_));
    case kMicrowireMask:
        return static_cast<uint8_t>(microwireRotated(cycle, microwireMask_) >> 8);
    case kMicrowireMask + 1:
        return static_cast<uint8_t>(microwireRotated(cycle, microwireMask_));
    default:
        return (off & 1) ? regs_[off] : 0;
    }
}

void SteSound::write(uint64_t cycle, uint32_t address, uint8_t value) {
    if (address < kBase || address >= kEnd) return;
    runTo(cycle);
    const uint32_t off = address - kBase;
    switch (off) {
    case kControl: {
        const bool wasPlaying = control_ & 1;
        control_ = value & 3;
        if (!wasPlaying && (control_ & 1)) start();
        break;
    }
    case kMode:
        mode_ = value & 0x8f;
        break;
    case kMicrowireData:
        microwireData_ = static_cast<uint16_t>((microwireData_ & 0x00ff) | (value << 8));
        break;
    case kMicrowireData + 1:
        microwireData_ = static_cast<uint16_t>((microwireData_ & 0xff00) | value);
        command(microwireData_);
        microwireStart_ = cycle;
        break;
    case kMicrowireMask:
        microwireMask_ = static_cast<uint16_t>((microwireMask_ & 0x00ff) | (value << 8));
        break;
    case kMicrowireMask + 1:
        microwireMask_ = static_cast<uint16_t>((microwireMask_ & 0xff00) | value);
        break;
    default:
        if ((off & 1) && off >= kStartHigh && off <= kEndHigh + 4 &&
            (off < kCounterHigh || off > kCounterHigh + 4))
            regs_[off] = value; // frame registers; the counter is read-only
        break;
    }
    nextEnd_ = frameEndCycle(1);
}

uint16_t SteSound::readWord(uint64_t cycle, uint32_t address) {
    return static_cast<uint16_t>((read(cycle, address) << 8) | read(cycle, address + 1));
}

void SteSound::writeWord(uint64_t cycle, uint32_t address, uint16_t value) {
    write(cycle, address, static_cast<uint8_t>(value >> 8));
    write(cycle, address + 1, static_cast<uint8_t>(value));
}

// While a command shifts out (16 bits, one per microsecond) both registers read rotated; a
// program waits for the mask to change and then to come back before it sends the next one.
uint16_t SteSound::microwireRotated(uint64_t cycle, uint16_t value) const {
    constexpr uint64_t kCyclesPerBit = 8;
    if (cycle < microwireStart_ || cycle - microwireStart_ >= 16 * kCyclesPerBit) return value;
    const unsigned k = static_cast<unsigned>((cycle - microwireStart_) / kCyclesPerBit) + 1;
    return static_cast<uint16_t>((value << k) | (value >> (16 - k)));
}

// Shifts the data register out under the mask, most significant bit first; the LMC1992 takes
// the last 11 bits: address %10, a 3-bit function and 6 bits of value.
void SteSound::command(uint16_t data) {
    uint32_t bits = 0;
    int count = 0;
    for (int b = 15; b >= 0; --b) {
        if (microwireMask_ & (1u << b)) {
            bits = (bits << 1) | ((data >> b) & 1u);
            ++count;
        }
    }
    if (count < 11 || ((bits >> 9) & 3) != 2) return;
    const int value = static_cast<int>(bits & 0x3f);
    switch ((bits >> 6) & 7) {
    case 0:
        mixer_ = value & 3;
        break;
    case 1:
        bass_ = std::min(value & 0x0f, 12);
        break;
    case 2:
        treble_ = std::min(value & 0x0f, 12);
        break;
    case 3:
        master_ = std::min(value, 40);
        break;
    case 4:
        right_ = std::min(value & 0x1f, 20);
        break;
    case 5:
        left_ = std::min(value & 0x1f, 20);
        break;
    default:
        break;
    }
}

float SteSound::masterGain() const {
    return master_ == 0 ? 0.0f : decibels(-80.0 + 2.0 * master_);
}
float SteSound::leftGain() const {
    return decibels(-40.0 + 2.0 * left_);
}
float SteSound::rightGain() const {
    return decibels(-40.0 + 2.0 * right_);
}
float SteSound::ymGain() const {
    return mixer_ == 0 ? decibels(-12.0) : mixer_ == 2 ? 0.0f : 1.0f;
}

void SteSound::beginBlock(float* left, float* right, size_t capacity) {
    outLeft_ = left;
    outRight_ = right;
    capacity_ = (left && right) ? capacity : 0;
    produced_ = 0;
}

void SteSound::runTo(uint64_t cycle) {
    const uint64_t target = cycle / kCpuCyclesPerSample;
    if (target <= sampleClock_) return;
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(target - sampleClock_, capacity_ - produced_));
    if (n) produce(n);
    nextEnd_ = frameEndCycle(1);
    if (pendingEnds_) {
        const uint64_t count = pendingEnds_;
        pendingEnds_ = 0;
        if (frameEnd_) frameEnd_(frameEndContext_, lastEndCycle_, count);
    }
}

// The state lives in locals through the loop: the compiler cannot tell the output stores from
// the members, and would reload every member after each of them.
void SteSound::produce(size_t count) {
    float* const left = outLeft_ + produced_;
    float* const right = outRight_ + produced_;
    const size_t room = capacity_ - produced_;
    const uint32_t period = samplePeriod();
    const uint32_t step = stereo() ? 2 : 1;
    // A looping frame starts over from the registers as they are now (a write to them ends the
    // stretch that produce() covers).
    const uint32_t nextStart = frameRegister(kStartHigh);
    const uint32_t nextStop = frameRegister(kEndHigh);
    const uint8_t* const ram = ram_;
    const size_t ramSize = ram ? ramSize_ : 0;
    uint8_t control = control_;
    uint32_t counter = counter_;
    uint32_t start = frameStart_;
    uint32_t stop = frameStop_;
    uint32_t countdown = countdown_;
    float sampleLeft = sampleLeft_;
    float sampleRight = sampleRight_;
    uint64_t ends = pendingEnds_;
    uint64_t lastEnd = lastEndCycle_;
    size_t done = 0;
    while (done < count) {
        if (!(control & 1)) {
            if (used_) { // before the first frame the buffers are not read at all
                std::fill_n(left + done, count - done, 0.0f);
                std::fill_n(right + done, count - done, 0.0f);
            }
            break;
        }
        if (countdown == 0) { // fetch the next sample
            if (counter < stop) {
                auto at = [&](uint32_t a) {
                    return a < ramSize ? static_cast<float>(static_cast<int8_t>(ram[a])) : 0.0f;
                };
                sampleLeft = at(counter);
                sampleRight = at(counter + step - 1);
                counter += step;
            }
            if (counter >= stop) { // the frame ends on this fetch
                ++ends;
                lastEnd = (sampleClock_ + done) * kCpuCyclesPerSample;
                if (control & 2) {
                    start = nextStart;
                    stop = nextStop;
                    counter = start;
                } else {
                    control &= static_cast<uint8_t>(~1u);
                }
            }
            countdown = period;
            continue;
        }
        const size_t run = std::min<size_t>(countdown, count - done);
        audio::fillRun(left + done, run, room - done, sampleLeft);
        audio::fillRun(right + done, run, room - done, sampleRight);
        countdown -= static_cast<uint32_t>(run);
        done += run;
    }
    control_ = control;
    counter_ = counter;
    frameStart_ = start;
    frameStop_ = stop;
    countdown_ = countdown;
    sampleLeft_ = sampleLeft;
    sampleRight_ = sampleRight;
    pendingEnds_ = ends;
    lastEndCycle_ = lastEnd;
    produced_ += count;
    sampleClock_ += count;
}

uint64_t SteSound::frameEndCycle(uint64_t n) const {
    if (!(control_ & 1) || n == 0) return ~uint64_t{0};
    const uint32_t shift = stereo() ? 1 : 0; // bytes per sample 2 or 1
    // A frame takes one fetch per sample, and at least one (an empty frame ends at once).
    auto fetchesOf = [shift](uint32_t from, uint32_t to) -> uint64_t {
        return std::max<uint64_t>(1, (to > from ? to - from + shift : 0) >> shift);
    };
    uint64_t fetches = fetchesOf(counter_, frameStop_);
    if (n > 1) {
        if (!(control_ & 2)) return ~uint64_t{0}; // stops at the end of this frame
        fetches += (n - 1) * fetchesOf(frameRegister(kStartHigh), frameRegister(kEndHigh));
    }
    const uint64_t sample = sampleClock_ + countdown_ + (fetches - 1) * samplePeriod();
    return (sample + 1) * kCpuCyclesPerSample;
}

void SteSound::mixWithYm(const float* ym, size_t n, float* left, float* right) const {
    const float master = masterGain();
    const float gl = master * leftGain();
    const float gr = master * rightGain();
    const float y = ymGain();
    if (!used_) { // the DMA has not played yet: its buffers hold nothing
        for (size_t i = 0; i < n; ++i) {
            left[i] = ym[i] * y * gl;
            right[i] = ym[i] * y * gr;
        }
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        left[i] = (left[i] * kDmaWeight + ym[i] * y) * gl;
        right[i] = (right[i] * kDmaWeight + ym[i] * y) * gr;
    }
}

} // namespace replay::ste
