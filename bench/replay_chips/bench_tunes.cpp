// Render speed of every tune in the shared collection, in times real time: one iteration
// renders ten seconds at 44.1 kHz after init (the best of five runs counts). Prints the
// slowest and the median at the end.
#include "machine/machine.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kSeconds = 10.0;
constexpr size_t kRate = 44100;
// Each tune renders this many times from a fresh load; the fastest run counts (the one least
// disturbed by other work on the machine).
constexpr int kRuns = 5;

std::map<std::string, double>& speeds() {
    static std::map<std::string, double> s;
    return s;
}

void renderTune(benchmark::State& state, const std::vector<uint8_t>& file,
                const std::string& name) {
    std::vector<int16_t> pcm(2 * kRate);
    double fastest = 0.0; // seconds of the least disturbed run
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<replay::machine::Machine>();
        if (m->load(file.data(), file.size(), 0) != replay::machine::kOk) {
            state.SkipWithError("load failed");
            break;
        }
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        for (double t = 0; t < kSeconds; t += 1.0) m->render(pcm.data(), kRate);
        const double busy =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (fastest == 0.0 || busy < fastest) fastest = busy;
        benchmark::DoNotOptimize(pcm.data());
    }
    if (fastest > 0.0) {
        const double speed = kSeconds / fastest;
        state.counters["x_realtime"] = speed;
        speeds()[name] = speed;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir = std::filesystem::path(INTRO_SHARED_DIR) / "sndh";
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.path().extension() == ".sndh") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) std::fprintf(stderr, "no tunes in %s\n", dir.c_str());
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        auto bytes = std::make_shared<std::vector<uint8_t>>(std::istreambuf_iterator<char>(in),
                                                            std::istreambuf_iterator<char>());
        const std::string name = f.stem().string();
        benchmark::RegisterBenchmark(
            ("Tune/" + name).c_str(),
            [bytes, name](benchmark::State& s) { renderTune(s, *bytes, name); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kRuns);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::vector<std::pair<double, std::string>> sorted;
    for (const auto& [name, speed] : speeds()) sorted.emplace_back(speed, name);
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty()) {
        for (size_t i = 0; i < std::min<size_t>(5, sorted.size()); ++i)
            std::printf("%8.0fx  %s\n", sorted[i].first, sorted[i].second.c_str());
        std::printf("slowest: %.0fx real time (%s)\n", sorted.front().first,
                    sorted.front().second.c_str());
        std::printf("median:  %.0fx real time\n", sorted[sorted.size() / 2].first);
    }
    return 0;
}
