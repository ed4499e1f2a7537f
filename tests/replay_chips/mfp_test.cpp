#include "mfp/mfp68901.h"

#include <gtest/gtest.h>

namespace {

using namespace replay::mfp;

uint64_t cyclesForTicks(uint64_t ticks) {
    return (ticks * kCpuClock + kMfpClock - 1) / kMfpClock;
}

// Enables and unmasks a channel.
void enable(Mfp68901& m, int channel) {
    const unsigned ier = channel >= 8 ? kIera : kIerb;
    const unsigned imr = channel >= 8 ? kImra : kImrb;
    const uint8_t bit = static_cast<uint8_t>(1u << (channel & 7));
    m.write(0, ier, m.read(0, ier) | bit);
    m.write(0, imr, m.read(0, imr) | bit);
}

struct TimerRegs {
    int timer;
    int channel;
    unsigned control;
    unsigned data;
    int shift; // where the mode sits in the control register
};
constexpr TimerRegs kTimers[] = {{kTimerA, kChTimerA, kTacr, kTadr, 0},
                                 {kTimerB, kChTimerB, kTbcr, kTbdr, 0},
                                 {kTimerC, kChTimerC, kTcdcr, kTcdr, 4},
                                 {kTimerD, kChTimerD, kTcdcr, kTddr, 0}};

TEST(Mfp68901, TimerPeriodForEveryPrescaler) {
    const uint32_t prescale[8] = {0, 4, 10, 16, 50, 64, 100, 200};
    for (const TimerRegs& t : kTimers) {
        for (int code = 1; code <= 7; ++code) {
            for (unsigned data : {1u, 77u, 0u}) {
                Mfp68901 m;
                enable(m, t.channel);
                m.write(0, t.data, static_cast<uint8_t>(data));
                m.write(0, t.control, static_cast<uint8_t>(code << t.shift));
                const uint64_t period = uint64_t{prescale[code]} * (data ? data : 256);
                // The first timeout comes exactly one period in, not a cycle earlier.
                const uint64_t due = cyclesForTicks(period);
                EXPECT_EQ(m.nextEventCycle(), due) << t.timer << " " << code << " " << data;
                m.advance(due - 1);
                EXPECT_FALSE(m.irqPending());
                m.advance(due);
                EXPECT_TRUE(m.irqPending());
                // Over a second the count matches the rate exactly.
                m.advance(kCpuClock);
                EXPECT_EQ(m.timeouts(t.timer), kMfpClock * kCpuClock / kCpuClock / period)
                    << t.timer << " " << code << " " << data;
            }
        }
    }
}

TEST(Mfp68901, DataRegisterReadsTheCounter) {
    Mfp68901 m;
    m.write(0, kTcdr, 192);
    m.write(0, kTcdcr, 0x50); // timer C, prescaler 64: the 200 Hz system timer
    EXPECT_EQ(m.read(0, kTcdr), 192);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 10), kTcdr), 182);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 191), kTcdr), 1);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 192), kTcdr), 192); // reloaded
    // A running timer takes a new value at its next reload; a stopped one at once.
    m.write(cyclesForTicks(64 * 200), kTcdr, 10);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 200), kTcdr), 184);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 384), kTcdr), 10);
    m.write(cyclesForTicks(64 * 386), kTcdcr, 0x00);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 500), kTcdr), 8); // stopped keeps its count
    m.write(cyclesForTicks(64 * 500), kTcdr, 99);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 500), kTcdr), 99);
    m.write(cyclesForTicks(64 * 500), kTcdr, 0);
    EXPECT_EQ(m.read(cyclesForTicks(64 * 500), kTcdr), 0); // 256 reads as 0
}

TEST(Mfp68901, PrioritiesNestingAndEndOfInterrupt) {
    for (bool software : {false, true}) {
        Mfp68901 m;
        m.write(0, kVr, software ? 0x48 : 0x40);
        enable(m, kChTimerA);
        enable(m, kChTimerC);
        m.write(0, kTadr, 1);
        m.write(0, kTcdr, 1);
        m.write(0, kTacr, 1);
        m.write(0, kTcdcr, 0x10);
        m.advance(cyclesForTicks(8));
        ASSERT_TRUE(m.irqPending());
        EXPECT_EQ(m.read(cyclesForTicks(8), kIpra), 1u << (kChTimerA - 8));
        EXPECT_EQ(m.acknowledge(), 0x40 | kChTimerA); // highest channel first
        if (software) {
            // Timer A in service holds back the lower timer C ...
            EXPECT_EQ(m.read(cyclesForTicks(8), kIsra), 1u << (kChTimerA - 8));
            EXPECT_FALSE(m.irqPending());
            m.write(cyclesForTicks(8), kIsra, 0x00); // end of interrupt
        }
        EXPECT_TRUE(m.irqPending());
        EXPECT_EQ(m.acknowledge(), 0x40 | kChTimerC);
        if (software) {
            // ... but a higher channel still gets through while C is in service.
            m.advance(cyclesForTicks(12));
            EXPECT_TRUE(m.irqPending());
            EXPECT_EQ(m.acknowledge(), 0x40 | kChTimerA);
            EXPECT_EQ(m.read(cyclesForTicks(12), kIsrb), 1u << kChTimerC);
        } else {
            EXPECT_EQ(m.read(cyclesForTicks(8), kIsrb), 0);
        }
    }
}

TEST(Mfp68901, EnableMaskAndPendingRegisters) {
    Mfp68901 m;
    m.write(0, kTddr, 10);
    m.write(0, kTcdcr, 0x01);
    m.advance(cyclesForTicks(100));
    EXPECT_EQ(m.read(cyclesForTicks(100), kIprb), 0) << "disabled channels latch nothing";
    m.write(cyclesForTicks(100), kIerb, 1u << kChTimerD);
    m.advance(cyclesForTicks(200));
    EXPECT_EQ(m.read(cyclesForTicks(200), kIprb), 1u << kChTimerD);
    EXPECT_FALSE(m.irqPending()) << "masked";
    m.write(cyclesForTicks(200), kImrb, 1u << kChTimerD);
    EXPECT_TRUE(m.irqPending());
    m.write(cyclesForTicks(200), kIprb, 0xff); // ones leave pending bits alone
    EXPECT_TRUE(m.irqPending());
    m.write(cyclesForTicks(200), kIprb, static_cast<uint8_t>(~(1u << kChTimerD)));
    EXPECT_FALSE(m.irqPending());
    m.advance(cyclesForTicks(240));
    EXPECT_TRUE(m.irqPending());
    m.write(cyclesForTicks(240), kIerb, 0); // disabling drops the request
    EXPECT_FALSE(m.irqPending());
    EXPECT_EQ(m.nextEventCycle(), kNever);
    EXPECT_EQ(m.acknowledge(), -1);
}

TEST(Mfp68901, EventCountAndInputLines) {
    Mfp68901 m;
    enable(m, kChTimerA);
    enable(m, kChGpip7);
    m.write(0, kTadr, 3);
    m.write(0, kTacr, 8);
    EXPECT_EQ(m.nextEventCycle(), kNever) << "event mode does not run on the clock";
    m.timerAInput(100);
    m.timerAInput(200);
    EXPECT_FALSE(m.irqPending());
    EXPECT_EQ(m.read(200, kTadr), 1);
    m.timerAInput(300);
    EXPECT_EQ(m.acknowledge(), kChTimerA); // VR base 0
    EXPECT_EQ(m.read(300, kTadr), 3);
    m.gpipPulse(400, 7);
    EXPECT_EQ(m.acknowledge(), kChGpip7);
    EXPECT_EQ(m.timeouts(kTimerA), 1u);
}

// Pulses delivered as a burst count like the same pulses one by one.
TEST(Mfp68901, EventCountBursts) {
    struct Case {
        uint8_t data;
        uint64_t burst;
        uint64_t timeouts;
        int counterAfter; // as the data register reads (256 reads 0)
    } cases[] = {
        {3, 2, 0, 1}, {3, 3, 1, 3},   {3, 7, 2, 2},   {3, 9, 3, 3},
        {1, 5, 5, 1}, {0, 255, 0, 1}, {0, 256, 1, 0}, {0, 600, 2, 168},
    };
    for (const Case& c : cases) {
        for (const bool oneByOne : {false, true}) {
            Mfp68901 m;
            enable(m, kChTimerA);
            m.write(0, kTadr, c.data);
            m.write(0, kTacr, 8);
            if (oneByOne) {
                for (uint64_t i = 0; i < c.burst; ++i) m.timerAInput(10 + i);
            } else {
                m.timerAInput(10, c.burst);
            }
            EXPECT_EQ(m.timeouts(kTimerA), c.timeouts) << int(c.data) << " " << c.burst;
            EXPECT_EQ(m.read(1000, kTadr), c.counterAfter) << int(c.data) << " " << c.burst;
            EXPECT_EQ(m.irqPending(), c.timeouts > 0);
        }
    }
}

} // namespace
