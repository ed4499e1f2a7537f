// Speed of the sound path without the CPU: the YM producing its 250 kHz stream under a busy
// register load, and the decimator bringing it to the output rate. Reported as times real
// time (one second of sound per iteration).
#include "audio/decimator.h"
#include "mfp/mfp68901.h"
#include "ym/ym2149.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr size_t kBlock = 5007; // one 50 Hz frame of chip samples
constexpr int kFramesPerSecond = 50;

// A tune-like load: three tones, noise on one voice, an envelope, registers changed 50 times a
// second (as a play routine does) plus a 4 kHz volume write stream (as a digidrum does) when
// `digi` is set.
void runYm(replay::ym::Ym2149& ym, std::vector<float>& out, int frame, bool digi) {
    const uint64_t base = uint64_t(frame) * kBlock * replay::ym::kCpuCyclesPerSample;
    ym.beginBlock(out.data(), out.size());
    ym.writeRegister(base, 0, static_cast<uint8_t>(100 + frame % 50));
    ym.writeRegister(base, 2, static_cast<uint8_t>(200 - frame % 30));
    ym.writeRegister(base, 4, static_cast<uint8_t>(30 + frame % 7));
    ym.writeRegister(base, 6, 7);
    ym.writeRegister(base, 7, 0x2c);
    ym.writeRegister(base, 8, 13);
    ym.writeRegister(base, 9, 0x10);
    ym.writeRegister(base, 10, 11);
    ym.writeRegister(base, 11, 90);
    if (frame % 8 == 0) ym.writeRegister(base, 13, 10);
    if (digi) {
        for (uint64_t c = 0; c < kBlock * 32; c += 2000)
            ym.writeRegister(base + c, 10, static_cast<uint8_t>((c / 2000) & 15));
    }
    ym.runTo(base + kBlock * replay::ym::kCpuCyclesPerSample);
}

void BM_YmOneSecond(benchmark::State& state) {
    replay::ym::Ym2149 ym;
    std::vector<float> out(kBlock);
    int frame = 0;
    for (auto _ : state) {
        for (int f = 0; f < kFramesPerSecond; ++f) runYm(ym, out, frame++, state.range(0) != 0);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_YmOneSecond)->Arg(0)->Arg(1)->ArgName("digi");

void BM_DecimateOneSecondStereo(benchmark::State& state) {
    replay::audio::StereoDecimator decimator;
    decimator.configure(static_cast<int>(state.range(0)), kBlock);
    replay::ym::Ym2149 ym;
    std::vector<float> in(kBlock), outL(decimator.maxOutput(kBlock)), outR(outL.size());
    runYm(ym, in, 0, false);
    for (auto _ : state) {
        for (int f = 0; f < kFramesPerSecond; ++f)
            decimator.process(in.data(), in.data(), kBlock, true, outL.data(), outR.data());
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecimateOneSecondStereo)->Arg(44100)->Arg(48000)->ArgName("rate");

// Timer load of a SID-voice tune: timer A at about 5 kHz and timer D at about 2.5 kHz, each
// timeout taken and acknowledged.
void BM_MfpSidTimersOneSecond(benchmark::State& state) {
    using namespace replay::mfp;
    for (auto _ : state) {
        Mfp68901 m;
        m.write(0, kIera, 1u << (kChTimerA - 8));
        m.write(0, kImra, 1u << (kChTimerA - 8));
        m.write(0, kIerb, 1u << kChTimerD);
        m.write(0, kImrb, 1u << kChTimerD);
        m.write(0, kTadr, 123);
        m.write(0, kTacr, 1);
        m.write(0, kTddr, 246);
        m.write(0, kTcdcr, 1);
        uint64_t now = 0;
        while (now < kCpuClock) {
            now = std::min(m.nextEventCycle(), kCpuClock);
            m.advance(now);
            while (m.acknowledge() >= 0) {
            }
        }
        benchmark::DoNotOptimize(m.timeouts(kTimerA));
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MfpSidTimersOneSecond);

} // namespace

BENCHMARK_MAIN();
