// MC68901 multi-function peripheral as used in the Atari ST: the four timers, the interrupt
// controller and the general purpose input lines (the serial port is reduced to registers).
//
// Registers sit at the odd addresses $FFFA01 + 2 * index. Timers count the 2.4576 MHz MFP clock
// through prescalers of 4, 10, 16, 50, 64, 100 or 200 (delay mode) or pulses on the timer A
// input (event mode, fed by the STE sound DMA). All times are CPU cycles of the 8 MHz clock;
// the device converts them exactly to MFP clock ticks, so timer effects land on the same
// cycle whatever the caller's step size.
//
// The interrupt side: a timeout (or input edge) sets the channel's pending bit when the channel
// is enabled; the highest enabled, unmasked, pending channel above every channel in service
// asks the CPU for an interrupt at level 6. acknowledge() hands out the vector number and, in
// software end-of-interrupt mode (VR bit 3), marks the channel in service until the program
// clears its in-service bit.
#pragma once

#include <cstdint>

namespace replay::mfp {

inline constexpr uint64_t kCpuClock = 8010613;
inline constexpr uint64_t kMfpClock = 2457600;
inline constexpr int kIrqLevel = 6;
inline constexpr uint64_t kNever = ~uint64_t{0};

// Register indices (address = 0xFFFA01 + 2 * index).
enum Reg : unsigned {
    kGpip = 0,
    kAer,
    kDdr,
    kIera,
    kIerb,
    kIpra,
    kIprb,
    kIsra,
    kIsrb,
    kImra,
    kImrb,
    kVr,
    kTacr,
    kTbcr,
    kTcdcr,
    kTadr,
    kTbdr,
    kTcdr,
    kTddr,
    kScr,
    kUcr,
    kRsr,
    kTsr,
    kUdr,
    kRegCount
};

enum Timer : int { kTimerA = 0, kTimerB, kTimerC, kTimerD };

// Interrupt channels, 15 the highest priority.
enum Channel : int {
    kChGpip0 = 0,
    kChGpip1,
    kChGpip2,
    kChGpip3,
    kChTimerD,
    kChTimerC,
    kChGpip4,
    kChGpip5,
    kChTimerB,
    kChTxError,
    kChTxEmpty,
    kChRxError,
    kChRxFull,
    kChTimerA,
    kChGpip6,
    kChGpip7
};

class Mfp68901 {
  public:
    Mfp68901() { reset(); }
    void reset();

    uint8_t read(uint64_t cycle, unsigned reg);
    void write(uint64_t cycle, unsigned reg, uint8_t value);

    // Runs the timers up to cycle, setting pending bits for every timeout on the way.
    void advance(uint64_t cycle);
    // Earliest cycle after the last advance() at which an enabled timer times out; kNever if
    // none. The caller runs the CPU no further than this before calling advance() again.
    uint64_t nextEventCycle() const;

    // Whether the MFP asks the CPU for an interrupt (at kIrqLevel).
    bool irqPending() const { return highestRequest() >= 0; }
    // The CPU takes the interrupt: returns the vector number, or -1 when nothing is pending.
    int acknowledge();

    // `count` pulses on the timer A input (counts in event mode), the last one at `cycle`.
    void timerAInput(uint64_t cycle, uint64_t count = 1);
    // A low-high-low pulse on a general purpose input line (bit 0..7): the edge that the active
    // edge register selects raises the line's interrupt.
    void gpipPulse(uint64_t cycle, int bit);

    // Whether pulses on the timer A input or GPIP line `bit` would change anything now: timer A
    // counts events, or the line's interrupt is enabled. When not, a host may deliver them late.
    bool observesPulses(int bit) const;
    // How many pulses (on timer A's input and GPIP line `bit` together) may come before one of
    // them changes anything but timer A's count: 1 while the line's interrupt is enabled, the
    // counter in event mode, 0 when pulses do not matter at all.
    uint64_t pulsesUntilChange(int bit) const;

    // Times timer t has run out since reset (for statistics and tests).
    uint64_t timeouts(int t) const { return timers_[t].timeouts; }

  private:
    struct TimerState {
        uint8_t mode = 0;       // 0 stop, 1-7 delay prescaler code, 8 event count, 9-15 pulse
        uint8_t data = 0;       // reload value, 0 meaning 256
        uint32_t counter = 256; // value at anchor (1..256)
        uint64_t anchor = 0;    // MFP tick where the prescaler started from zero with 'counter'
        uint32_t prescale = 0;  // MFP ticks per count while running in delay mode, else 0
        uint64_t timeouts = 0;
    };

    static uint64_t tickAt(uint64_t cycle) { return cycle * kMfpClock / kCpuClock; }
    static uint64_t cycleAt(uint64_t tick) {
        return (tick * kCpuClock + kMfpClock - 1) / kMfpClock;
    }

    void runTimer(int t, uint64_t tick);
    uint32_t currentCount(int t, uint64_t tick) const;
    void setMode(int t, uint8_t mode, uint64_t tick);
    void timeout(int t, uint64_t count);
    void raise(int channel);
    int highestRequest() const;

    uint8_t regs_[kRegCount] = {};
    uint16_t ier_ = 0, ipr_ = 0, isr_ = 0, imr_ = 0;
    uint8_t gpipInput_ = 0xff;
    TimerState timers_[4];
    uint64_t nowTick_ = 0;
    uint64_t nowCycle_ = 0; // the cycle nowTick_ was worked out from
};

} // namespace replay::mfp
