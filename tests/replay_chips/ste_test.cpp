#include "ste/ste_sound.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using replay::ste::SteSound;

constexpr uint32_t kRamSize = 64 * 1024;

struct Ste {
    std::vector<uint8_t> ram = std::vector<uint8_t>(kRamSize);
    SteSound dma;
    std::vector<float> left, right;
    std::vector<uint64_t> frameEnds; // cycle of the last frame end of each report
    uint64_t endCount = 0;           // frame ends reported in all
    explicit Ste(size_t samples) : left(samples), right(samples) {
        dma.attachMemory(ram.data(), ram.size());
        dma.beginBlock(left.data(), right.data(), samples);
        dma.onFrameEnd(
            [](void* self, uint64_t cycle, uint64_t count) {
                static_cast<Ste*>(self)->frameEnds.push_back(cycle);
                static_cast<Ste*>(self)->endCount += count;
            },
            this);
    }
    void frame(uint32_t start, uint32_t end, uint64_t cycle = 0) {
        for (int i = 0; i < 3; ++i) {
            dma.write(cycle, 0xff8903 + 2 * i, static_cast<uint8_t>(start >> (16 - 8 * i)));
            dma.write(cycle, 0xff890f + 2 * i, static_cast<uint8_t>(end >> (16 - 8 * i)));
        }
    }
    uint32_t counter(uint64_t cycle) {
        return (uint32_t{dma.read(cycle, 0xff8909)} << 16) |
               (uint32_t{dma.read(cycle, 0xff890b)} << 8) | dma.read(cycle, 0xff890d);
    }
};

TEST(SteSound, PlaybackRates) {
    // Mode 0..3: one DMA sample every 40, 20, 10, 5 chip samples (6258 .. 50066 Hz).
    for (uint8_t mode = 0; mode < 4; ++mode) {
        const uint32_t period = 40u >> mode;
        Ste s(4000);
        for (uint32_t i = 0; i < 256; ++i)
            s.ram[0x1000 + i] = static_cast<uint8_t>(i & 1 ? 0x90 : 0x70);
        s.frame(0x1000, 0x1100);
        s.dma.write(0, 0xff8921, 0x80 | mode); // mono
        s.dma.write(0, 0xff8901, 1);
        s.dma.runTo(4000 * 32);
        size_t lastChange = 0;
        int changes = 0;
        for (size_t i = 1; i < std::min<size_t>(4000, 200 * period); ++i) {
            if (s.left[i] != s.left[i - 1]) {
                if (changes > 0) {
                    EXPECT_EQ(i - lastChange, period) << int(mode);
                }
                lastChange = i;
                ++changes;
            }
        }
        EXPECT_GT(changes, 50);
        EXPECT_EQ(s.left[0], static_cast<float>(0x70));
        EXPECT_EQ(s.left[period], static_cast<float>(static_cast<int8_t>(0x90)));
        EXPECT_EQ(s.left, s.right);
    }
}

TEST(SteSound, StereoFrameEndAndStop) {
    Ste s(2000);
    for (uint32_t i = 0; i < 40; i += 2) {
        s.ram[0x2000 + i] = 10;
        s.ram[0x2001 + i] = static_cast<uint8_t>(-20);
    }
    s.frame(0x2000, 0x2028);        // 20 stereo samples
    s.dma.write(0, 0xff8921, 0x03); // stereo, 50 kHz
    s.dma.write(64, 0xff8901, 1);   // starts at chip sample 2
    const uint64_t due = s.dma.nextEventCycle();
    EXPECT_EQ(s.counter(32 * 12), 0x2000u + 2 * 2); // fetched at chip samples 2 and 7
    s.dma.runTo(2000 * 32);
    EXPECT_EQ(s.left[2], 10.0f);
    EXPECT_EQ(s.right[2], -20.0f);
    ASSERT_EQ(s.frameEnds.size(), 1u);
    EXPECT_EQ(s.frameEnds[0], (2 + 19 * 5) * 32u); // when the last sample is fetched
    EXPECT_EQ(due, s.frameEnds[0] + 32);
    EXPECT_FALSE(s.dma.playing());
    EXPECT_EQ(s.dma.read(2000 * 32, 0xff8901), 0);
    EXPECT_EQ(s.left[1999], 0.0f);
}

// The host hears of frame ends in bursts when it brings the DMA up to date, and can ask when the
// n-th next one falls due: one-sample looping frames at 50 kHz end every 5 chip samples.
TEST(SteSound, FrameEndsComeInBurstsOnTheirCycles) {
    Ste s(1000);
    s.frame(0x6000, 0x6002); // one stereo sample
    s.dma.write(0, 0xff8921, 0x03);
    s.dma.write(0, 0xff8901, 3);
    // Fetches at chip samples 0, 5, 10, ...; each ends a frame.
    for (uint64_t n : {1u, 2u, 3u, 40u})
        EXPECT_EQ(s.dma.frameEndCycle(n), ((n - 1) * 5 + 1) * 32) << n;
    const uint64_t third = s.dma.frameEndCycle(3);
    s.dma.runTo(third);
    ASSERT_EQ(s.frameEnds.size(), 1u);
    EXPECT_EQ(s.endCount, 3u);
    EXPECT_EQ(s.frameEnds[0], 10 * 32u);
    s.dma.runTo(third); // nothing new
    EXPECT_EQ(s.frameEnds.size(), 1u);
    EXPECT_EQ(s.dma.frameEndCycle(1), third + 5 * 32);
    // A frame of 100 samples queued in the registers: the current one-sample frame ends first.
    s.frame(0x7000, 0x7000 + 200, third);
    EXPECT_EQ(s.dma.frameEndCycle(1), third + 5 * 32);
    EXPECT_EQ(s.dma.frameEndCycle(2), third + 5 * 32 + 100 * 5 * 32);
    s.dma.write(third, 0xff8901, 1); // no loop: the DMA stops after this frame
    EXPECT_EQ(s.dma.frameEndCycle(2), ~uint64_t{0});
}

// Before the DMA first plays its buffers are not written; a start in the middle of a block
// clears what came before it, so the mix of that part is the YM's alone.
TEST(SteSound, FirstStartInsideABlockMixesCleanly) {
    Ste s(400);
    std::fill(s.left.begin(), s.left.end(), 1000.0f); // stale contents
    std::fill(s.right.begin(), s.right.end(), 1000.0f);
    std::fill(s.ram.begin() + 0x8000, s.ram.begin() + 0x8100, 64);
    s.frame(0x8000, 0x8100);
    s.dma.write(0, 0xff8921, 0x83);
    s.dma.runTo(100 * 32);
    s.dma.write(100 * 32, 0xff8901, 1);
    s.dma.runTo(400 * 32);
    std::vector<float> ym(400, 0.25f);
    s.dma.mixWithYm(ym.data(), ym.size(), s.left.data(), s.right.data());
    EXPECT_FLOAT_EQ(s.left[0], 0.25f);
    EXPECT_FLOAT_EQ(s.right[99], 0.25f);
    EXPECT_GT(s.left[100], 0.25f);
    EXPECT_FLOAT_EQ(s.left[100], s.right[399]);
}

TEST(SteSound, LoopPicksUpNewRegistersAtFrameEnd) {
    Ste s(3000);
    std::fill(s.ram.begin() + 0x3000, s.ram.begin() + 0x3010, 5);
    std::fill(s.ram.begin() + 0x4000, s.ram.begin() + 0x4010, 7);
    s.frame(0x3000, 0x3010);
    s.dma.write(0, 0xff8921, 0x83);
    s.dma.write(0, 0xff8901, 3); // play, loop
    s.frame(0x4000, 0x4010, 32); // queued for the next frame
    s.dma.runTo(3000 * 32);
    EXPECT_EQ(s.left[0], 5.0f);
    EXPECT_EQ(s.left[16 * 5 - 1], 5.0f);
    EXPECT_EQ(s.left[16 * 5], 7.0f);
    EXPECT_EQ(s.endCount, 3000u / 80);
    EXPECT_TRUE(s.dma.playing());
    EXPECT_TRUE(s.dma.used());
}

// Every output sample against the memory it comes from, at each rate, mono and stereo, across
// frame ends of a looping frame, rendered in uneven pieces.
TEST(SteSound, SamplesFollowMemoryAcrossFrames) {
    for (uint8_t mode = 0; mode < 4; ++mode) {
        for (const bool stereo : {false, true}) {
            const uint32_t period = 40u >> mode;
            const uint32_t step = stereo ? 2 : 1;
            const uint32_t start = 0x5000, bytes = 38 * step; // 38 samples a frame
            const size_t total = 7000;
            Ste s(total);
            uint32_t seed = 12345 + mode;
            for (uint32_t i = 0; i < bytes; ++i) {
                seed = seed * 1103515245u + 12345u;
                s.ram[start + i] = static_cast<uint8_t>(seed >> 16);
            }
            s.frame(start, start + bytes);
            s.dma.write(0, 0xff8921, static_cast<uint8_t>((stereo ? 0 : 0x80) | mode));
            s.dma.write(0, 0xff8901, 3);
            uint64_t cycle = 0;
            for (size_t piece : {1, 3, 77, 400, 5, 2048, 9999}) {
                cycle = std::min<uint64_t>(cycle + piece * 32, total * 32);
                s.dma.runTo(cycle);
            }
            for (size_t i = 0; i < total; ++i) {
                const uint32_t n = static_cast<uint32_t>(i / period) % 38;
                const float l = static_cast<int8_t>(s.ram[start + n * step]);
                const float r = static_cast<int8_t>(s.ram[start + n * step + step - 1]);
                ASSERT_EQ(s.left[i], l) << int(mode) << stereo << " " << i;
                ASSERT_EQ(s.right[i], r) << int(mode) << stereo << " " << i;
            }
            EXPECT_EQ(s.endCount, (total + period - 1) / period / 38);
        }
    }
}

uint16_t lmc(unsigned function, unsigned value) {
    return static_cast<uint16_t>((2u << 9) | (function << 6) | value);
}

TEST(SteSound, MicrowireVolumes) {
    struct Case {
        const char* what;
        uint16_t mask;
        uint16_t data;
        int master, left, right;
    } cases[] = {
        {"master -40 dB", 0x07ff, lmc(3, 20), 20, 20, 20},
        {"left -20 dB", 0x07ff, lmc(5, 10), 40, 10, 20},
        {"right -6 dB", 0x07ff, lmc(4, 17), 40, 20, 17},
        {"master past the top", 0x07ff, lmc(3, 63), 40, 20, 20},
        {"mask away from the low bits", 0xffe0, static_cast<uint16_t>(lmc(3, 5) << 5), 5, 20, 20},
        {"wrong device address", 0x07ff, static_cast<uint16_t>(lmc(3, 5) ^ 0x400), 40, 20, 20},
        {"too few mask bits", 0x00ff, lmc(3, 5), 40, 20, 20},
    };
    for (const Case& c : cases) {
        SteSound d;
        d.writeWord(0, 0xff8924, c.mask);
        d.writeWord(0, 0xff8922, c.data);
        EXPECT_EQ(d.masterVolume(), c.master) << c.what;
        EXPECT_EQ(d.leftVolume(), c.left) << c.what;
        EXPECT_EQ(d.rightVolume(), c.right) << c.what;
        EXPECT_EQ(d.readWord(1000, 0xff8924), c.mask) << c.what;
        // Without the DMA the YM alone is mixed, still through the two sides' volumes: the
        // output is stereo as soon as they differ.
        EXPECT_EQ(d.stereoOutput(), c.left != c.right) << c.what;
        float ym[4] = {0.5f, 0.5f, 0.5f, 0.5f}, left[4], right[4];
        d.mixWithYm(ym, 4, left, right);
        EXPECT_NEAR(20.0 * std::log10(left[3] / right[3]), 2.0 * (c.left - c.right), 1e-3)
            << c.what;
    }
    SteSound d;
    d.writeWord(0, 0xff8924, 0x07ff);
    d.writeWord(0, 0xff8922, lmc(3, 20));
    // While the command shifts out (16 us) the mask reads rotated, then comes back.
    EXPECT_NE(d.readWord(8, 0xff8924), 0x07ff);
    EXPECT_NE(d.readWord(112, 0xff8924), 0x07ff);
    EXPECT_EQ(d.readWord(128, 0xff8924), 0x07ff);
    EXPECT_NEAR(d.masterGain(), 0.01, 1e-6);
    d.writeWord(0, 0xff8922, lmc(3, 0));
    EXPECT_EQ(d.masterGain(), 0.0f);
    d.writeWord(0, 0xff8922, lmc(3, 40));
    d.writeWord(0, 0xff8922, lmc(1, 0)); // bass and treble stay flat
    d.writeWord(0, 0xff8922, lmc(2, 12));
    d.writeWord(0, 0xff8922, lmc(5, 14)); // left -12 dB
    float ym[2] = {0.5f, 0.5f};
    float l[2] = {0, 0}, r[2] = {0, 0};
    d.mixWithYm(ym, 2, l, r);
    EXPECT_FLOAT_EQ(r[0], 0.5f);
    EXPECT_NEAR(l[0], 0.5f * std::pow(10.0, -12.0 / 20.0), 1e-6);
    d.writeWord(0, 0xff8922, lmc(0, 2)); // mixer: YM off
    l[0] = r[0] = 0;
    d.mixWithYm(ym, 1, l, r);
    EXPECT_EQ(r[0], 0.0f);
}

} // namespace
