#include "headless_fixture.h"

#include <set>

namespace {

using ServicesTest = HeadlessTest;

TEST_F(ServicesTest, RandomNumbersCoverTheirWholeRangeInclusive) {
    struct Case {
        int32_t max, min; // min < 0: randomInt(max)
        int32_t low, high;
        int draws;
    };
    const Case cases[] = {
        {640, -1, 0, 640, 200000}, // the maximum itself comes up about once in 641 draws
        {0, -1, 0, 0, 100},
        {5, 9, 5, 5, 100}, // min above max is lowered to max
        {16777215, 255, 255, 16777215, 20000},
        {1, 0, 0, 1, 1000},
    };
    for (const auto& c : cases) {
        int32_t lo = INT32_MAX, hi = INT32_MIN;
        for (int i = 0; i < c.draws; ++i) {
            int32_t v = c.min < 0 ? randomInt(c.max) : randomInRange(c.max, c.min);
            ASSERT_GE(v, c.low) << c.max << "," << c.min;
            ASSERT_LE(v, c.high) << c.max << "," << c.min;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        if (c.high - c.low < 1000) {
            EXPECT_EQ(lo, c.low) << c.max << "," << c.min;
            EXPECT_EQ(hi, c.high) << c.max << "," << c.min;
        } else {
            EXPECT_LT(lo, c.low + (c.high - c.low) / 100);
            EXPECT_GT(hi, c.high - (c.high - c.low) / 100);
        }
    }
}

TEST_F(ServicesTest, RandomSequenceDependsOnTheRunsSeed) {
    auto sequence = [&](uint64_t seed) {
        releaseGraphics(); // forgets the generator; it is seeded again at its next use
        backend.seed = seed;
        std::vector<int32_t> v;
        for (int i = 0; i < 16; ++i) v.push_back(randomInt(1000000));
        return v;
    };
    EXPECT_EQ(sequence(7), sequence(7));
    EXPECT_NE(sequence(7), sequence(8));
}

TEST_F(ServicesTest, ColourPackingAndAngles) {
    EXPECT_EQ(rgb(224, 0, 224), 14680288);
    EXPECT_EQ(rgb(0, 0, 224), 224 << 16);
    EXPECT_EQ(rgb(255, 255, 255), 0xFFFFFF);
    EXPECT_EQ(degreesToRadians(180.0f), static_cast<float>(3.141592653589793));
    EXPECT_EQ(degreesToRadians(7.0f), static_cast<float>(7.0 * 0.017453292519943295));
}

TEST_F(ServicesTest, ElapsedTimeStartsAtZeroAndTruncates) {
    backend.counterStep = 0;
    EXPECT_EQ(elapsedMilliseconds(), 0);
    backend.counterValue += 9999; // just under one millisecond at 10 MHz
    EXPECT_EQ(elapsedMilliseconds(), 0);
    backend.counterValue += 1;
    EXPECT_EQ(elapsedMilliseconds(), 1);
    backend.counterValue += 45000000;
    EXPECT_EQ(elapsedMilliseconds(), 4501);
}

TEST_F(ServicesTest, ElapsedTimeFallsBackToTheTickCount) {
    backend.frequency = 0;
    backend.ticksMs = 123456;
    EXPECT_EQ(elapsedMilliseconds(), 123456);
    EXPECT_EQ(setFrameRate(60), 0);
    EXPECT_EQ(pacingTicks(), 0);
}

TEST_F(ServicesTest, PacingWaitsMoreThanTheIntervalAfterTheFirstFlip) {
    backend.counterStep = 1; // every read of the counter advances it by one tick
    examineDisplays();
    ASSERT_NE(openFullScreen(640, 480, displayDepth(0), ""), 0);
    ASSERT_NE(setFrameRate(60), 0);
    const int64_t T = 10000000 / 61;
    EXPECT_EQ(pacingTicks(), T);

    const int64_t before = backend.counterValue;
    flipBuffers();
    EXPECT_EQ(backend.counterReads(), 1); // the first flip does not wait
    const int64_t last1 = before;
    flipBuffers();
    const int64_t last2 = backend.counterValue - 1;
    EXPECT_EQ(last2 - last1, T + 1); // no sooner than T + 1 ticks after the previous one
    flipBuffers();
    const int64_t last3 = backend.counterValue - 1;
    EXPECT_EQ(last3 - last2, T + 1);

    // A frame that already took longer than the interval does not wait at all.
    backend.counterValue += 10 * T;
    const int64_t reads = backend.counterReads();
    flipBuffers();
    EXPECT_EQ(backend.counterReads(), reads + 1);
    EXPECT_EQ(backend.framesPresented(), 4);
}

TEST_F(ServicesTest, WindowedScreenAtTheRatesRefreshIsPacedByTheDisplayAlone) {
    backend.counterStep = 1;
    backend.desktop.refreshRate = 60;
    openScreen(640, 480);
    setFrameRate(60);
    const int64_t reads = backend.counterReads();
    for (int i = 0; i < 5; ++i) flipBuffers();
    EXPECT_EQ(backend.counterReads(), reads);

    backend.desktop.refreshRate = 75; // any other refresh rate: paced by both
    openScreen(640, 480);
    setFrameRate(60);
    flipBuffers();
    flipBuffers();
    EXPECT_GT(backend.counterReads(), reads + 1000);
}

TEST_F(ServicesTest, LostFullScreenShowsNothingAndReturnsAfterWaiting) {
    examineDisplays();
    openFullScreen(640, 480, displayDepth(0), "");
    setFrameRate(60);
    backend.available = false;
    EXPECT_NE(flipBuffers(), 0);
    EXPECT_EQ(backend.framesPresented(), 0);
    EXPECT_EQ(backend.sleptMs(), 32);
    backend.available = true;
    flipBuffers();
    EXPECT_EQ(backend.framesPresented(), 1);
}

TEST_F(ServicesTest, DisplaysWindowsAndScreens) {
    EXPECT_EQ(displayDepth(0), 0); // before examineDisplays
    EXPECT_EQ(examineDisplays(), 1);
    EXPECT_EQ(displayDepth(0), 32);
    EXPECT_EQ(displayDepth(1), 0);
    EXPECT_EQ(openFullScreen(640, 480, 24, ""), 0); // only 16 and 32 bits per pixel
    int32_t a = openWindow(-1, 0, 0, 340, 120, "", windowBorderless | windowCentred);
    int32_t b = openWindow(-1, 0, 0, 340, 120, "", windowBorderless);
    EXPECT_NE(a, b);
    EXPECT_NE(windowHandle(a), 0u);
    keepWindowOnTop(a, 1);
    EXPECT_TRUE(backend.windowOnTop(windowHandle(a)));
    EXPECT_EQ(backend.windowsOpen(), 2);
    closeWindow(a);
    EXPECT_EQ(windowHandle(a), 0u);
    EXPECT_EQ(backend.windowsOpen(), 1);
    backend.queueEvent(256); // a close request is only an event; nothing closes
    EXPECT_EQ(pollWindowEvent(), 256);
    EXPECT_EQ(pollWindowEvent(), 0);
    EXPECT_EQ(backend.windowsOpen(), 1);
}

TEST_F(ServicesTest, EscapeReadsDownOrPressedSinceTheLastQuery) {
    backend.pressKey(0x1B, 0);
    EXPECT_NE(escapePressed(), 0);
    EXPECT_EQ(escapePressed(), 0); // the press was reported once
    backend.holdKey(0x1B, 0, 1);
    EXPECT_NE(escapePressed(), 0);
    EXPECT_NE(escapePressed(), 0); // held: down at every query
}

} // namespace
