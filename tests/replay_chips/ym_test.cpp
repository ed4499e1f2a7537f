#include "spectrum.h"
#include "ym/ym2149.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using replay::ym::kCpuCyclesPerSample;
using replay::ym::Ym2149;

constexpr uint64_t at(uint64_t sample) {
    return sample * kCpuCyclesPerSample;
}

// A chip with an output block of n samples; writes go in at cycle 0 unless given.
struct Chip {
    Ym2149 ym;
    std::vector<float> out;
    explicit Chip(size_t n) : out(n) { ym.beginBlock(out.data(), out.size()); }
    void set(std::initializer_list<std::pair<unsigned, uint8_t>> regs, uint64_t cycle = 0) {
        for (auto [r, v] : regs) ym.writeRegister(cycle, r, v);
    }
    std::vector<float>& run() {
        ym.runTo(at(out.size()));
        return out;
    }
};

TEST(Ym2149, ToneFrequencyFollowsThePeriod) {
    // Period p gives 125 kHz / p: one cycle per 2p chip samples. 0 acts as 1.
    for (unsigned p : {0u, 1u, 2u, 8u, 100u, 0x123u, 0xfffu}) {
        Chip c(std::max<size_t>(40000, 12 * std::max(p, 1u)));
        c.set({{2, uint8_t(p)}, {3, uint8_t(p >> 8)}, {7, 0x3d}, {9, 15}}); // voice B
        auto& out = c.run();
        const double expected = 1.0 / (2.0 * std::max(p, 1u));
        EXPECT_NEAR(spectrum::crossingFrequency(out, 0, out.size()), expected, expected * 1e-3)
            << "period " << p;
    }
}

TEST(Ym2149, EnvelopeShapes) {
    // Period 10: each of the 32 steps lasts 10 samples, a full ramp 320 samples.
    struct Case {
        unsigned shape;
        bool repeats;
        double cycleSamples; // for repeating shapes
        int endLevel;        // level held after the first ramp, for the others
    } cases[] = {
        {0, false, 0, 0},    {4, false, 0, 0},   {8, true, 320, -1},  {9, false, 0, 0},
        {10, true, 640, -1}, {11, false, 0, 15}, {12, true, 320, -1}, {13, false, 0, 15},
        {14, true, 640, -1}, {15, false, 0, 0},
    };
    for (const Case& c : cases) {
        Chip chip(20000);
        chip.set({{7, 0x3f}, {8, 0x10}, {11, 10}, {12, 0}, {13, uint8_t(c.shape)}});
        auto& out = chip.run();
        const bool attack = c.shape & 4;
        // The first step sits at the ramp's start.
        EXPECT_EQ(out[0], attack ? Ym2149::mix(0, 0, 0) : Ym2149::mix(31, 0, 0)) << c.shape;
        if (c.repeats) {
            EXPECT_NEAR(spectrum::crossingFrequency(out, 0, out.size()), 1.0 / c.cycleSamples, 1e-6)
                << c.shape;
        } else {
            std::set<float> after(out.begin() + 400, out.end());
            ASSERT_EQ(after.size(), 1u) << c.shape;
            EXPECT_EQ(*after.begin(), Ym2149::mix(c.endLevel ? 31 : 0, 0, 0)) << c.shape;
            EXPECT_EQ(chip.ym.voiceLevel(0), c.endLevel) << c.shape;
        }
    }
}

TEST(Ym2149, ShapeWriteRestartsTheEnvelope) {
    Chip c(4000);
    c.set({{7, 0x3f}, {8, 0x10}, {11, 5}, {13, 0}}); // decay to silence in 160 samples
    c.set({{13, 0}}, at(1000));                      // same shape again: restart
    auto& out = c.run();
    EXPECT_EQ(out[999], Ym2149::mix(0, 0, 0));
    EXPECT_EQ(out[1000], Ym2149::mix(31, 0, 0));
    EXPECT_EQ(out[1004], Ym2149::mix(31, 0, 0));
    EXPECT_EQ(out[1005], Ym2149::mix(30, 0, 0));
}

TEST(Ym2149, NoiseShiftsAtHalfTheToneRate) {
    for (unsigned np : {1u, 5u, 31u}) {
        Chip c(200000);
        c.set({{6, uint8_t(np)}, {7, 0x37}, {8, 15}}); // noise only, voice A
        auto& out = c.run();
        size_t high = 0;
        size_t changes = 0;
        for (size_t i = 1; i < out.size(); ++i) {
            high += out[i] > 0.5f;
            if (out[i] != out[i - 1]) {
                ++changes;
                EXPECT_EQ(i % (2 * np), 0u) << "noise " << np << " changed between shifts";
            }
        }
        // A maximal-length register: about half the shifts change the output, half the time high.
        const double shifts = static_cast<double>(out.size()) / (2 * np);
        EXPECT_NEAR(changes / shifts, 0.5, 0.05) << np;
        EXPECT_NEAR(static_cast<double>(high) / out.size(), 0.5, 0.05) << np;
    }
}

TEST(Ym2149, WritesLandOnTheirSample) {
    Chip c(3000);
    c.set({{7, 0x3f}, {10, 4}});
    c.set({{10, 12}}, at(1000) + 5);
    c.set({{10, 0}}, at(2000));
    auto& out = c.run();
    EXPECT_EQ(out[999], Ym2149::mix(0, 0, 9));
    EXPECT_EQ(out[1000], Ym2149::mix(0, 0, 25));
    EXPECT_EQ(out[1999], Ym2149::mix(0, 0, 25));
    EXPECT_EQ(out[2000], Ym2149::mix(0, 0, 0));
    EXPECT_EQ(c.ym.produced(), 3000u);
}

TEST(Ym2149, LevelsAndMixing) {
    // One voice alone follows the measured levels.
    const double measured[16] = {0.000, 0.005, 0.008, 0.012, 0.018, 0.024, 0.036, 0.048,
                                 0.069, 0.095, 0.139, 0.191, 0.287, 0.407, 0.648, 1.000};
    const double top = Ym2149::mix(31, 0, 0);
    for (int v = 0; v < 16; ++v)
        EXPECT_NEAR(Ym2149::mix(2 * v + 1, 0, 0) / top, measured[v], 1e-6) << v;
    // Tied outputs: two voices give less than twice one, three at full are the top of the scale.
    EXPECT_GT(Ym2149::mix(31, 31, 0), top * 1.3);
    EXPECT_LT(Ym2149::mix(31, 31, 0), top * 1.9);
    EXPECT_FLOAT_EQ(Ym2149::mix(31, 31, 31), 1.0f);
    EXPECT_EQ(Ym2149::mix(0, 0, 0), 0.0f);
    for (unsigned l = 2; l < 32; ++l) EXPECT_GT(Ym2149::mix(l, 7, 3), Ym2149::mix(l - 1, 7, 3));

    Ym2149 ym;
    ym.writeRegister(0, 8, 9);
    ym.writeRegister(0, 9, 0x10);
    ym.writeRegister(0, 13, 13); // attack: starts at level 0
    EXPECT_EQ(ym.voiceLevel(0), 9);
    EXPECT_EQ(ym.voiceLevel(1), 0);
    EXPECT_EQ(ym.voiceLevel(2), 0);
    ym.writeRegister(0, 13, 9); // decay: starts at the top
    EXPECT_EQ(ym.voiceLevel(1), 15);
}

TEST(Ym2149, RegistersReadBackMasked) {
    Ym2149 ym;
    const uint8_t mask[16] = {0xff, 0x0f, 0xff, 0x0f, 0xff, 0x0f, 0x1f, 0xff,
                              0x1f, 0x1f, 0x1f, 0xff, 0xff, 0x0f, 0xff, 0xff};
    for (unsigned r = 0; r < 16; ++r) {
        ym.select(static_cast<uint8_t>(r));
        ym.writeSelected(0, 0xff);
        EXPECT_EQ(ym.readSelected(), mask[r]) << r;
    }
    ym.select(16);
    EXPECT_EQ(ym.readSelected(), 0xff);
}

} // namespace
