// One frame of the show as the frame loop draws it, plus the copy that presenting it needs,
// against one memcpy of the 640 x 480 back buffer measured in the same run.
#include "gfx/gfx.h"
#include "gfx/inspect.h"
#include "platform/headless/headless_platform.h"
#include "shell/shell.h"
#include "show/stars.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr size_t pixels = 640 * 480;

// Seconds per memcpy of one back buffer, measured here so that the ratio compares like with like.
double memcpySeconds() {
    std::vector<uint32_t> a(pixels, 1), b(pixels);
    const int rounds = 2000;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        std::memcpy(b.data(), a.data(), pixels * 4);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / rounds;
}

void BM_BackBufferMemcpy(benchmark::State& state) {
    std::vector<uint32_t> a(pixels, 1), b(pixels);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), pixels * 4);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BackBufferMemcpy)->Unit(benchmark::kMicrosecond);

// Runs `frame` repeatedly over a headless 640 x 480 screen prepared by `setUp`, adding the copy
// that presenting needs, and reports milliseconds per frame and the ratio to one memcpy.
template <typename SetUp, typename Frame>
void measureFrames(benchmark::State& state, SetUp setUp, Frame frame) {
    platform::HeadlessBackend backend;
    platform::setBackend(&backend);
    backend.start();
    releaseGraphics();
    openWindowedMode(640, 480);
    setUp();
    std::vector<uint32_t> presented(pixels);
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        frame();
        std::memcpy(presented.data(), backBuffer(), pixels * 4); // what presenting copies
        benchmark::DoNotOptimize(presented.data());
        benchmark::ClobberMemory();
    }
    const double perFrame =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() /
        static_cast<double>(state.iterations());
    const double base = memcpySeconds();
    state.counters["frame_ms"] = perFrame * 1e3;
    state.counters["memcpy_ms"] = base * 1e3;
    state.counters["x_memcpy"] = perFrame / base;
    releaseGraphics();
    platform::setBackend(nullptr);
}

// The frame of the first step: clear, six star draws, two bars.
void BM_StarsFrame(benchmark::State& state) {
    measureFrames(
        state,
        [] {
            starLayers = StarLayers{};
            buildStarLayers();
        },
        [] {
            clearScreen(0);
            drawStarLayers();
            drawBorderBars();
        });
}
BENCHMARK(BM_StarsFrame)->Unit(benchmark::kMicrosecond);

// The complete show frame: clear, stars, all scroller positions, logo, band, bars.
void BM_ShowFrame(benchmark::State& state) {
    measureFrames(
        state, [] { setUpShow(); }, [] { drawShowFrame(); });
}
BENCHMARK(BM_ShowFrame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
