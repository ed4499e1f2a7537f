#include "mfp/mfp68901.h"

#include <algorithm>
#include <bit>
#include <iterator>

namespace replay::mfp {
namespace {

constexpr uint32_t kPrescale[8] = {0, 4, 10, 16, 50, 64, 100, 200};
constexpr int kTimerChannel[4] = {kChTimerA, kChTimerB, kChTimerC, kChTimerD};

uint32_t reloadValue(uint8_t data) {
    return data ? data : 256u;
}

} // namespace

void Mfp68901::reset() {
    std::fill(std::begin(regs_), std::end(regs_), 0);
    ier_ = ipr_ = isr_ = imr_ = 0;
    gpipInput_ = 0xff;
    for (TimerState& t : timers_) t = TimerState{};
    nowTick_ = 0;
    nowCycle_ = 0;
    regs_[kTsr] = 0x80; // transmitter buffer empty
}

uint32_t Mfp68901::currentCount(int t, uint64_t tick) const {
    const TimerState& s = timers_[t];
    if (s.prescale == 0 || tick <= s.anchor) return s.counter;
    const uint64_t steps = (tick - s.anchor) / s.prescale;
    return s.counter - static_cast<uint32_t>(steps); // runTimer keeps steps < counter
}

void Mfp68901::timeout(int t, uint64_t count) {
    timers_[t].timeouts += count;
    raise(kTimerChannel[t]);
}

// Brings timer t to tick: every timeout before or at tick reloads the counter and raises the
// interrupt (several timeouts before the CPU looks collapse into one pending bit).
void Mfp68901::runTimer(int t, uint64_t tick) {
    TimerState& s = timers_[t];
    if (s.prescale == 0) return;
    const uint64_t first = s.anchor + uint64_t{s.prescale} * s.counter;
    if (tick < first) return;
    const uint64_t period = uint64_t{s.prescale} * reloadValue(s.data);
    const uint64_t extra = (tick - first) / period;
    s.anchor = first + extra * period;
    s.counter = reloadValue(s.data);
    timeout(t, extra + 1);
}

void Mfp68901::advance(uint64_t cycle) {
    if (cycle <= nowCycle_) return; // already there (pulses often come on one cycle)
    nowCycle_ = cycle;
    const uint64_t tick = tickAt(cycle);
    if (tick < nowTick_) return;
    nowTick_ = tick;
    for (int t = 0; t < 4; ++t) runTimer(t, tick);
}

uint64_t Mfp68901::nextEventCycle() const {
    uint64_t best = kNever;
    for (int t = 0; t < 4; ++t) {
        const TimerState& s = timers_[t];
        if (s.prescale == 0 || !(ier_ & (1u << kTimerChannel[t]))) continue;
        best = std::min(best, s.anchor + uint64_t{s.prescale} * s.counter);
    }
    return best == kNever ? kNever : cycleAt(best);
}

void Mfp68901::setMode(int t, uint8_t mode, uint64_t tick) {
    TimerState& s = timers_[t];
    s.counter = currentCount(t, tick);
    s.mode = mode;
    const uint32_t prescale = mode >= 1 && mode <= 7 ? kPrescale[mode]
                              : mode >= 9            ? kPrescale[mode - 8] // pulse width: no input
                                                     : 0;
    s.prescale = prescale;
    s.anchor = tick; // the prescaler starts over
}

void Mfp68901::raise(int channel) {
    if (ier_ & (1u << channel)) ipr_ |= static_cast<uint16_t>(1u << channel);
}

int Mfp68901::highestRequest() const {
    const uint16_t requests = ipr_ & imr_;
    if (!requests) return -1;
    int top = 15;
    while (!(requests & (1u << top))) --top;
    // Channels in service block themselves and everything below them.
    if (isr_ && top <= static_cast<int>(std::bit_width(static_cast<unsigned>(isr_))) - 1) return -1;
    return top;
}

int Mfp68901::acknowledge() {
    const int channel = highestRequest();
    if (channel < 0) return -1;
    ipr_ &= static_cast<uint16_t>(~(1u << channel));
    if (regs_[kVr] & 0x08) isr_ |= static_cast<uint16_t>(1u << channel);
    return (regs_[kVr] & 0xf0) | channel;
}

void Mfp68901::timerAInput(uint64_t cycle, uint64_t count) {
    advance(cycle);
    TimerState& s = timers_[kTimerA];
    if (s.mode != 8 || count == 0) return;
    if (count < s.counter) {
        s.counter -= static_cast<uint32_t>(count);
        return;
    }
    // The counter runs out, reloads, and may run out again within the burst.
    const uint64_t reload = reloadValue(s.data);
    const uint64_t after = count - s.counter;
    s.counter = static_cast<uint32_t>(reload - after % reload);
    timeout(kTimerA, 1 + after / reload);
}

void Mfp68901::gpipPulse(uint64_t cycle, int bit) {
    advance(cycle);
    static constexpr int kGpipChannel[8] = {kChGpip0, kChGpip1, kChGpip2, kChGpip3,
                                            kChGpip4, kChGpip5, kChGpip6, kChGpip7};
    if (bit >= 0 && bit < 8) raise(kGpipChannel[bit]);
}

bool Mfp68901::observesPulses(int bit) const {
    return pulsesUntilChange(bit) != 0;
}

uint64_t Mfp68901::pulsesUntilChange(int bit) const {
    static constexpr int kGpipChannel[8] = {kChGpip0, kChGpip1, kChGpip2, kChGpip3,
                                            kChGpip4, kChGpip5, kChGpip6, kChGpip7};
    if (bit >= 0 && bit < 8 && (ier_ & (1u << kGpipChannel[bit]))) return 1;
    return timers_[kTimerA].mode == 8 ? timers_[kTimerA].counter : 0;
}

uint8_t Mfp68901::read(uint64_t cycle, unsigned reg) {
    advance(cycle);
    switch (reg) {
    case kGpip:
        return static_cast<uint8_t>((regs_[kGpip] & regs_[kDdr]) | (gpipInput_ & ~regs_[kDdr]));
    case kIera:
        return static_cast<uint8_t>(ier_ >> 8);
    case kIerb:
        return static_cast<uint8_t>(ier_);
    case kIpra:
        return static_cast<uint8_t>(ipr_ >> 8);
    case kIprb:
        return static_cast<uint8_t>(ipr_);
    case kIsra:
        return static_cast<uint8_t>(isr_ >> 8);
    case kIsrb:
        return static_cast<uint8_t>(isr_);
    case kImra:
        return static_cast<uint8_t>(imr_ >> 8);
    case kImrb:
        return static_cast<uint8_t>(imr_);
    case kTadr:
    case kTbdr:
    case kTcdr:
    case kTddr: {
        const int t = static_cast<int>(reg - kTadr);
        return static_cast<uint8_t>(currentCount(t, nowTick_)); // 256 reads as 0
    }
    default:
        return reg < kRegCount ? regs_[reg] : 0xff;
    }
}

void Mfp68901::write(uint64_t cycle, unsigned reg, uint8_t value) {
    advance(cycle);
    if (reg >= kRegCount) return;
    auto setHigh = [](uint16_t& r, uint8_t v) {
        r = static_cast<uint16_t>((r & 0x00ff) | (v << 8));
    };
    auto setLow = [](uint16_t& r, uint8_t v) { r = static_cast<uint16_t>((r & 0xff00) | v); };
    switch (reg) {
    case kIera:
        setHigh(ier_, value);
        ipr_ &= ier_; // disabling a channel drops its pending request
        break;
    case kIerb:
        setLow(ier_, value);
        ipr_ &= ier_;
        break;
    case kIpra:
        ipr_ &= static_cast<uint16_t>((value << 8) | 0xff);
        break; // only clears
    case kIprb:
        ipr_ &= static_cast<uint16_t>(0xff00 | value);
        break;
    case kIsra:
        isr_ &= static_cast<uint16_t>((value << 8) | 0xff);
        break;
    case kIsrb:
        isr_ &= static_cast<uint16_t>(0xff00 | value);
        break;
    case kImra:
        setHigh(imr_, value);
        break;
    case kImrb:
        setLow(imr_, value);
        break;
    case kTacr:
    case kTbcr: {
        const int t = reg == kTacr ? kTimerA : kTimerB;
        regs_[reg] = value & 0x1f;
        setMode(t, value & 0x0f, nowTick_);
        break;
    }
    case kTcdcr:
        regs_[reg] = value & 0x77;
        if (((value >> 4) & 7) != timers_[kTimerC].mode)
            setMode(kTimerC, (value >> 4) & 7, nowTick_);
        if ((value & 7) != timers_[kTimerD].mode) setMode(kTimerD, value & 7, nowTick_);
        break;
    case kTadr:
    case kTbdr:
    case kTcdr:
    case kTddr: {
        const int t = static_cast<int>(reg - kTadr);
        TimerState& s = timers_[t];
        s.data = value;
        regs_[reg] = value;
        if (s.mode == 0) s.counter = reloadValue(value); // a stopped timer loads at once
        break;
    }
    default:
        regs_[reg] = value;
        break;
    }
}

} // namespace replay::mfp
