#include "audio/decimator.h"
#include "spectrum.h"
#include "ym/ym2149.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using replay::audio::Decimator;
using replay::audio::kChipRate;

// Runs a chip-rate signal through the decimator in uneven blocks.
std::vector<float> decimate(const std::vector<float>& in, int rate) {
    Decimator d;
    const size_t maxBlock = 5000;
    EXPECT_TRUE(d.configure(rate, maxBlock));
    std::vector<float> out;
    std::vector<float> block(d.maxOutput(maxBlock));
    size_t sizes[] = {1, 4999, 37, 5000, 2048, 3};
    for (size_t pos = 0, i = 0; pos < in.size(); ++i) {
        size_t n = std::min(sizes[i % 6], in.size() - pos);
        size_t got = d.process(in.data() + pos, n, block.data());
        EXPECT_LE(got, d.maxOutput(n));
        out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
        pos += n;
    }
    return out;
}

// The chip's output for a tone at the given period on voice A, full volume.
std::vector<float> ymTone(unsigned period, size_t samples) {
    replay::ym::Ym2149 ym;
    std::vector<float> out(samples);
    ym.beginBlock(out.data(), out.size());
    ym.writeRegister(0, 0, period & 0xff);
    ym.writeRegister(0, 1, period >> 8);
    ym.writeRegister(0, 7, 0x3e);
    ym.writeRegister(0, 8, 15);
    ym.runTo(samples * replay::ym::kCpuCyclesPerSample);
    return out;
}

// A 15.6 kHz square wave from the chip: its harmonics at 47, 78, 109 kHz ... all lie above the
// output's Nyquist frequency, so every other line in the output spectrum is an alias.
TEST(Decimator, SquareToneLeavesNoAliasAboveMinus60Db) {
    const std::vector<float> chip = ymTone(8, 250000);
    const double toneHz = kChipRate / 16.0; // 15.6 kHz
    for (int rate : {44100, 48000}) {
        std::vector<float> out = decimate(chip, rate);
        ASSERT_GT(out.size(), 40000u);
        std::vector<float> tail(out.begin() + 4000, out.end());
        const size_t n = 32768;
        auto db = spectrum::magnitudesDb(tail, n);
        const double binHz = static_cast<double>(rate) / n;
        const size_t toneBin = static_cast<size_t>(std::lround(toneHz / binHz));
        double tone = -1e9;
        for (size_t b = toneBin - 3; b <= toneBin + 3; ++b) tone = std::max(tone, db[b]);
        double worst = -1e9;
        double worstHz = 0;
        for (size_t b = 20; b < db.size(); ++b) {
            if (b + 8 >= toneBin && b <= toneBin + 8) continue; // the tone's own main lobe
            if (db[b] > worst) {
                worst = db[b];
                worstHz = b * binHz;
            }
        }
        std::printf("%d Hz output: strongest other line %.1f dB below the tone, at %.0f Hz\n", rate,
                    tone - worst, worstHz);
        EXPECT_LT(worst - tone, -60.0) << rate << " Hz output: line at " << worstHz << " Hz";
        // The fundamental of a full-scale square keeps its level through the pass band.
        EXPECT_NEAR(spectrum::crossingFrequency(tail, 0, tail.size()) * rate, toneHz, 0.5);
    }
}

// A sweep of sines across and beyond the band: the pass band keeps its level, everything that
// would fold back is gone.
TEST(Decimator, PassBandAndStopBand) {
    struct Case {
        double hz;
        double minGainDb;
        double maxGainDb;
    } cases[] = {
        {1000.0, -0.05, 0.05},   {10000.0, -0.05, 0.05},  {16000.0, -0.1, 0.1},
        {23000.0, -200, -80.0},  {30000.0, -200, -80.0},  {60000.0, -200, -80.0},
        {100000.0, -200, -80.0}, {120000.0, -200, -80.0},
    };
    for (const Case& c : cases) {
        std::vector<float> in(150000);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * c.hz * i / kChipRate));
        std::vector<float> out = decimate(in, 44100);
        const double gain =
            20.0 * std::log10(spectrum::rms(out, 2000, out.size()) / std::sqrt(0.5));
        EXPECT_GE(gain, c.minGainDb) << c.hz;
        EXPECT_LE(gain, c.maxGainDb) << c.hz;
    }
}

// The stereo chain runs one channel until a block is stereo; the switch must not click: the
// right channel continues exactly as a chain that ran in stereo all along.
TEST(StereoDecimator, SwitchToStereoKeepsHistory) {
    const size_t block = 3000;
    std::vector<float> in(block * 6);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * 3000.0 * i / kChipRate));
    replay::audio::StereoDecimator lazy, eager;
    ASSERT_TRUE(lazy.configure(48000, block));
    ASSERT_TRUE(eager.configure(48000, block));
    std::vector<float> l1(lazy.maxOutput(block)), r1(l1.size()), l2(l1.size()), r2(l1.size());
    for (size_t b = 0; b < 6; ++b) {
        const float* x = in.data() + b * block;
        const bool stereoNow = b >= 3;
        size_t n1 = lazy.process(x, x, block, stereoNow, l1.data(), r1.data());
        size_t n2 = eager.process(x, x, block, true, l2.data(), r2.data());
        ASSERT_EQ(n1, n2);
        for (size_t i = 0; i < n1; ++i) {
            ASSERT_EQ(l1[i], l2[i]) << b << " " << i;
            ASSERT_EQ(r1[i], r2[i]) << b << " " << i;
        }
    }
}

TEST(Decimator, RejectsRatesItIsNotMadeFor) {
    Decimator d;
    EXPECT_FALSE(d.configure(22050, 1024));
    EXPECT_FALSE(d.configure(96000, 1024));
    EXPECT_TRUE(d.configure(44100, 1024));
}

TEST(DcBlocker, RemovesOffsetKeepsTone) {
    replay::audio::DcBlocker dc;
    dc.configure(48000.0);
    std::vector<float> out(96000);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = dc.step(
            0.7f + 0.2f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * i / 48000.0)));
    double mean = 0;
    for (size_t i = 48000; i < out.size(); ++i) mean += out[i];
    EXPECT_NEAR(mean / 48000.0, 0.0, 1e-3);
    EXPECT_NEAR(spectrum::rms(out, 48000, out.size()), 0.2 / std::sqrt(2.0), 2e-3);
}

} // namespace
