// Every tune of the shared collection: init returns, a minute of play raises no exception and
// stays within its budgets, and the output is not silent. Prints a table per tune.
#include "../replay_chips/shared_data.h"
#include "machine/machine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

using replay::machine::Machine;
using replay::machine::State;

TEST(RealTunes, AMinuteOfEveryTune) {
    auto files = testdata::sndhFiles();
    SKIP_WITHOUT_SHARED_TUNES(files);
#ifdef INTRO_SANITIZED
    const double seconds = 10.0; // the sanitizers make it slow; the bounds are what matters
#else
    const double seconds = 60.0;
#endif
    const size_t rate = 44100;
    std::vector<int16_t> pcm(2 * rate);
    std::printf("%-58s %5s %6s %5s %-5s %4s %6s %7s\n", "tune", "rate", "play%", "long", "timer",
                "dma", "rms", "x real");
    std::vector<double> speeds;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        std::vector<uint8_t> file = testdata::readFile(path);
        auto m = std::make_unique<Machine>();
        ASSERT_EQ(m->load(file.data(), file.size(), 0), replay::machine::kOk) << name;
        double sum = 0.0;
        size_t count = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (double t = 0; t < seconds; t += 1.0) {
            m->render(pcm.data(), rate);
            for (int16_t s : pcm) sum += double(s) * s;
            count += pcm.size();
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const auto& st = m->stats();
        EXPECT_EQ(m->state(), State::kPlaying)
            << name << ": fault vector " << st.faultVector << " at $" << std::hex << st.faultPc;
        // Every call finished within the hard budget. A few tunes need more than one play
        // period for some calls (the table's "long" column); their next call then waits.
        EXPECT_GT(st.playCalls, static_cast<uint64_t>(seconds * m->header().rate * 0.45)) << name;
        EXPECT_LT(st.maxPlayCycles, m->playBudget) << name;
        const double rms = std::sqrt(sum / static_cast<double>(count));
        EXPECT_GT(rms, 100.0) << name << " is silent";
        std::string timers;
        for (int t = 0; t < 4; ++t)
            if (st.timerTimeouts[t] > 0 && !(t == 2 && st.timerTimeouts[t] <= 201 * seconds))
                timers += static_cast<char>('A' + t);
        speeds.push_back(seconds / elapsed);
        std::printf(
            "%-58.58s %5d %5.1f%% %5llu %-5s %4s %6.0f %7.0f\n", name.c_str(), m->header().rate,
            100.0 * static_cast<double>(st.maxPlayCycles) / static_cast<double>(m->playPeriod()),
            static_cast<unsigned long long>(st.longPlays), timers.empty() ? "-" : timers.c_str(),
            st.dmaUsed ? "yes" : "-", rms, seconds / elapsed);
    }
    std::sort(speeds.begin(), speeds.end());
    std::printf("render speed: slowest %.0fx, median %.0fx real time\n", speeds.front(),
                speeds[speeds.size() / 2]);
}

} // namespace
