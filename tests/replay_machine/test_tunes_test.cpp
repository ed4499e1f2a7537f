// The machine against small tunes written for it: each one sounds in a way the analysis of the
// rendered PCM can pin down.
#include "../replay_chips/spectrum.h"
#include "ice/ice.h"
#include "machine/machine.h"
#include "machine/player.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using replay::machine::Machine;
using replay::machine::State;

constexpr int kRate = 48000;
constexpr double kYmClock = 8010613.0 / 4.0;

std::vector<uint8_t> tune(const std::string& name) {
    std::ifstream in(std::filesystem::path(INTRO_TEST_TUNES_DIR) / (name + ".sndh"),
                     std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

#define LOAD_TUNE(var, name)                                                                       \
    std::vector<uint8_t> var = tune(name);                                                         \
    if (var.empty()) GTEST_SKIP() << "test tunes not assembled (no m68k-linux-gnu-as)"

struct Rendered {
    std::vector<float> left, right;
};

Rendered render(Machine& m, double seconds) {
    const size_t frames = static_cast<size_t>(seconds * kRate);
    std::vector<int16_t> pcm(2 * frames);
    m.render(pcm.data(), frames);
    Rendered r;
    for (size_t i = 0; i < frames; ++i) {
        r.left.push_back(pcm[2 * i]);
        r.right.push_back(pcm[2 * i + 1]);
    }
    return r;
}

// Plays a tune and returns its left channel after the first half second.
std::vector<float> play(const std::vector<uint8_t>& file, double seconds, Machine& m,
                        int subtune = 1) {
    EXPECT_EQ(m.setOutputRate(kRate), replay::machine::kOk);
    EXPECT_EQ(m.load(file.data(), file.size(), subtune), replay::machine::kOk);
    Rendered r = render(m, seconds);
    EXPECT_EQ(m.state(), State::kPlaying);
    return std::vector<float>(r.left.begin() + kRate / 2, r.left.end());
}

double hz(const std::vector<float>& x) {
    return spectrum::crossingFrequency(x, 0, x.size()) * kRate;
}

TEST(TestTunes, ToneFrequency) {
    LOAD_TUNE(file, "tone");
    Machine m;
    auto x = play(file, 2.0, m);
    EXPECT_NEAR(hz(x), kYmClock / (16.0 * 284), 0.05);
    EXPECT_GT(spectrum::rms(x, 0, x.size()), 3000.0);
    EXPECT_EQ(m.voiceLevel(0), 15);
    EXPECT_EQ(m.voiceLevel(1), 0);
}

TEST(TestTunes, EnvelopePeriod) {
    LOAD_TUNE(file, "envelope");
    Machine m;
    auto x = play(file, 2.0, m);
    EXPECT_NEAR(hz(x), kYmClock / (256.0 * 100), 0.05); // one saw-tooth per 32 steps of 8 x 100
}

TEST(TestTunes, NoiseHasNoPitch) {
    LOAD_TUNE(file, "noise");
    Machine m;
    auto x = play(file, 1.5, m);
    EXPECT_GT(spectrum::rms(x, 0, x.size()), 2000.0);
    // Energy spread over the band: no line holds more than a sliver of it.
    auto db = spectrum::magnitudesDb(x, 32768);
    double total = 0.0, peak = 0.0;
    for (double d : db) {
        const double p = std::pow(10.0, d / 10.0);
        total += p;
        peak = std::max(peak, p);
    }
    EXPECT_LT(peak / total, 0.002);
    EXPECT_EQ(m.voiceLevel(1), 15);
}

TEST(TestTunes, TimerASidVoice) {
    LOAD_TUNE(file, "sid");
    Machine m;
    auto x = play(file, 2.0, m);
    const double interrupts = 2457600.0 / (4 * 123);
    EXPECT_NEAR(hz(x), interrupts / 2, 0.5);
    EXPECT_GT(m.stats().timerTimeouts[0], 9000u);
}

TEST(TestTunes, TimerDDigidrum) {
    LOAD_TUNE(file, "digidrum");
    Machine m;
    auto x = play(file, 2.5, m);
    const double samples = 2457600.0 / (4 * 77);
    // The triangle through the logarithmic levels is peaky: take the spectrum's main line.
    EXPECT_NEAR(spectrum::peakFrequency(x, 65536, 100.0 / kRate, 1000.0 / kRate) * kRate,
                samples / 32, 0.2);
    EXPECT_GT(spectrum::rms(x, 0, x.size()), 1000.0);
}

TEST(TestTunes, SteDmaSample) {
    LOAD_TUNE(file, "dma");
    Machine m;
    ASSERT_EQ(m.setOutputRate(kRate), replay::machine::kOk);
    ASSERT_EQ(m.load(file.data(), file.size(), 1), replay::machine::kOk);
    Rendered r = render(m, 2.0);
    std::vector<float> x(r.left.begin() + kRate / 2, r.left.end());
    EXPECT_NEAR(hz(x), 8010613.0 / 160 / 200, 0.05);
    EXPECT_GT(spectrum::rms(x, 0, x.size()), 3000.0);
    EXPECT_EQ(r.left, r.right);
    EXPECT_TRUE(m.stats().dmaUsed);
    EXPECT_EQ(m.voiceLevel(0) + m.voiceLevel(1) + m.voiceLevel(2), 0);
}

TEST(TestTunes, IcePackedTunePlaysLikeThePlainOne) {
    LOAD_TUNE(file, "tone");
    std::vector<uint8_t> packed = replay::ice::pack(file.data(), file.size());
    ASSERT_FALSE(packed.empty());
    Machine plain, ice;
    auto a = play(file, 1.0, plain);
    auto b = play(packed, 1.0, ice);
    EXPECT_EQ(a, b);
}

// Tunes that go wrong are cut off; nothing hangs and the machine keeps producing silence.
TEST(TestTunes, BadTunesStopCleanly) {
    LOAD_TUNE(file, "bad");
    struct Case {
        int subtune;
        int loadStatus;
        int faultVector;
    } cases[] = {
        {1, replay::machine::kErrInitTimeout, 0},
        {2, replay::machine::kErrInitFault, 2},
        {3, replay::machine::kErrInitFault, 4},
        {4, replay::machine::kOk, 0},
    };
    for (const Case& c : cases) {
        Machine m;
        m.initBudget = 2'000'000;
        m.playBudget = 400'000;
        ASSERT_EQ(m.load(file.data(), file.size(), c.subtune), c.loadStatus) << c.subtune;
        EXPECT_EQ(m.stats().faultVector, c.faultVector) << c.subtune;
        Rendered r = render(m, 0.5);
        EXPECT_EQ(m.state(), State::kFaulted) << c.subtune;
        EXPECT_LT(spectrum::rms(r.left, kRate / 4, r.left.size()), 1.0) << c.subtune;
    }
    Machine m;
    EXPECT_EQ(m.load(file.data(), file.size(), 5), replay::machine::kErrBadSubtune);
}

TEST(TestTunes, BadFiles) {
    LOAD_TUNE(file, "tone");
    std::vector<uint8_t> wrongMagic = file;
    wrongMagic[13] = 'X';
    const std::vector<uint8_t> packed = replay::ice::pack(file.data(), file.size());
    ASSERT_GT(packed.size(), 16u);
    const std::vector<uint8_t> iceCut(packed.begin(), packed.end() - 3);
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7919 >> 3);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int status;
    } cases[] = {
        {"empty", {}, replay::machine::kErrNoData},
        {"truncated header", std::vector<uint8_t>(file.begin(), file.begin() + 10),
         replay::machine::kErrNotSndh},
        {"wrong magic", wrongMagic, replay::machine::kErrNotSndh},
        {"garbage", garbage, replay::machine::kErrNotSndh},
        {"cut ICE file", iceCut, replay::machine::kErrDepack},
    };
    for (const Case& c : cases) {
        Machine m;
        EXPECT_EQ(m.load(c.bytes.data(), c.bytes.size(), 1), c.status) << c.what;
        std::vector<int16_t> pcm(2 * 1000, 123);
        m.render(pcm.data(), 1000);
        EXPECT_EQ(*std::max_element(pcm.begin(), pcm.end()), 0) << c.what;
    }
}

TEST(TestTunes, VolumeAndStop) {
    LOAD_TUNE(file, "tone");
    Machine full, half;
    auto a = play(file, 1.0, full);
    half.setVolume(50);
    auto b = play(file, 1.0, half);
    EXPECT_NEAR(spectrum::rms(b, 0, b.size()) / spectrum::rms(a, 0, a.size()), 0.5, 0.01);
    full.stop();
    EXPECT_EQ(full.state(), State::kStopped);
    EXPECT_EQ(full.voiceLevel(0), 0);
    Rendered r = render(full, 0.5);
    EXPECT_LT(spectrum::rms(r.left, kRate / 4, r.left.size()), 1.0);
}

// Cookie jar, 50 Hz, Super, Sversion, Setexc, Supexec, Giaccess, an unknown call and Dosound:
// the tune itself checks the answers and says so with the voice it sounds.
TEST(TestTunes, OperatingSystemCalls) {
    LOAD_TUNE(file, "os");
    Machine m;
    auto x = play(file, 1.0, m);
    EXPECT_EQ(m.voiceLevel(1), 0) << "a call answered wrongly";
    EXPECT_EQ(m.voiceLevel(0), 15) << "the Dosound script did not run";
    EXPECT_NEAR(hz(x), kYmClock / (16.0 * 284), 0.1);
}

// A play call that overruns its period delays the next one, which then runs as soon as it
// returns (one request stays pending, as a timer's would): a tune whose work grows with the
// time since its last call gets back onto its period instead of being called every other one.
TEST(TestTunes, OverrunPlayCallRunsLateNotSkipped) {
    LOAD_TUNE(file, "catchup");
    Machine m;
    ASSERT_EQ(m.setOutputRate(kRate), replay::machine::kOk);
    ASSERT_EQ(m.load(file.data(), file.size(), 1), replay::machine::kOk);
    render(m, 2.0);
    const auto& st = m.stats();
    EXPECT_EQ(m.state(), State::kPlaying);
    EXPECT_GT(st.maxPlayCycles, m.playPeriod()); // the first call did overrun
    EXPECT_LE(st.longPlays, 4u);    // a few calls to catch up (each requests lost while one
    EXPECT_LE(st.skippedPlays, 3u); // waits), then every one on time: 200 Hz for two seconds
    EXPECT_GE(st.playCalls, 396u);
    EXPECT_GT(st.timerTimeouts[0], 32000u);
}

// The plain API: start, volume, levels, render and stop in the order a host uses them.
TEST(Player, Lifecycle) {
    LOAD_TUNE(file, "tone");
    replay::Player p(48000);
    EXPECT_EQ(p.outputRate(), 48000);
    EXPECT_LT(p.start(nullptr, 0, 1), 0);
    EXPECT_LT(p.start(file.data(), file.size(), 2), 0); // one sub-tune only
    ASSERT_EQ(p.start(file.data(), file.size(), 1), 0);
    p.setVolume(100);
    std::vector<int16_t> pcm(2 * 4800);
    p.render(pcm.data(), 4800);
    EXPECT_EQ(p.channelLevel(0), 15);
    EXPECT_EQ(p.channelLevel(1), 0);
    EXPECT_EQ(p.channelLevel(3), 0);
    EXPECT_GT(*std::max_element(pcm.begin(), pcm.end()), 1000);
    p.stop();
    EXPECT_EQ(p.channelLevel(0), 0);
    ASSERT_EQ(p.start(file.data(), file.size(), 0), 0); // again, default sub-tune
    p.render(pcm.data(), 4800);
    EXPECT_EQ(p.channelLevel(0), 15);
}

} // namespace
