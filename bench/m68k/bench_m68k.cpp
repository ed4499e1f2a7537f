// Speed of the 68000 core on a music-routine shaped loop (music_loop.s, assembled into the
// words below with m68k-linux-gnu-as -m68000 and objcopy -O binary). The loop writes sound-chip
// registers through the device hook, as a tune's play routine does, and uses MOVEM, MOVEP, DBRA,
// shifts and rotates by register, MULU and indexed table look-ups.
//
// Counter "x_realtime": emulated cycles per second of host time divided by 8,000,000, i.e. how
// many times faster than an 8 MHz machine.
#include "m68k/cpu.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

const uint16_t kMusicLoop[] = {
    0x4FFA, 0x0236, 0x48E7, 0xFFFC, 0x41F9, 0x00FF, 0x8800, 0x43FA, 0x009C, 0x7E02, 0x3011, 0x5251,
    0x0240, 0x003F, 0x45FA, 0x00A0, 0x1232, 0x0000, 0x4881, 0xD241, 0x47FA, 0x00D4, 0x3433, 0x1000,
    0x3629, 0x0002, 0x5669, 0x0002, 0x0243, 0x001F, 0x49FA, 0x00DA, 0x1834, 0x3000, 0x4884, 0xE444,
    0xD444, 0x3A07, 0xDA45, 0x1085, 0x1142, 0x0002, 0x5205, 0x1085, 0xE04A, 0x1142, 0x0002, 0x3C29,
    0x0004, 0x5346, 0x6A02, 0x7C0F, 0x3346, 0x0004, 0xCCFC, 0x0055, 0xEC8E, 0x7A08, 0xDA47, 0x1085,
    0x1146, 0x0002, 0x43E9, 0x0006, 0x51CF, 0xFF92, 0x203C, 0x0738, 0x0600, 0x323A, 0x001E, 0x7407,
    0xC441, 0xE5B8, 0xE4B8, 0x01C8, 0x0000, 0x4BFA, 0x000E, 0x5255, 0x4CDF, 0x3FFF, 0x5280, 0x6000,
    0xFF5C, 0x0000, 0x0000, 0x0000, 0x000F, 0x0005, 0x0007, 0x0009, 0x000B, 0x000D, 0x0003, 0x0002,
    0x0405, 0x0709, 0x0B0C, 0x0B09, 0x0705, 0x0402, 0x0002, 0x0404, 0x0707, 0x0909, 0x0705, 0x0504,
    0x0402, 0x0200, 0x000C, 0x0003, 0x070A, 0x0C0A, 0x0703, 0x0003, 0x070A, 0x0C0A, 0x0703, 0x0505,
    0x0505, 0x0707, 0x0707, 0x0909, 0x0909, 0x0B0B, 0x0B0B, 0x0EEE, 0x0E18, 0x0D4D, 0x0C8E, 0x0BDA,
    0x0B2F, 0x0A8F, 0x09F7, 0x0968, 0x08E1, 0x0861, 0x07E9, 0x0777, 0x0019, 0x3147, 0x5A6A, 0x757D,
    0x7F7D, 0x756A, 0x5A47, 0x3119, 0x00E7, 0xCFB9, 0xA696, 0x8B83, 0x8183, 0x8B96, 0xA6B9, 0xCFE7,
};

constexpr uint32_t kRamSize = 512 * 1024;
constexpr uint32_t kCodeAt = 0x1000;

struct Machine {
    std::vector<uint8_t> ram = std::vector<uint8_t>(kRamSize, 0);
    uint8_t chip[16] = {};
    uint8_t selected = 0;
    uint64_t writes = 0;

    static uint32_t read(void* ctx, uint32_t addr, int size, m68k::Fc) {
        auto* m = static_cast<Machine*>(ctx);
        if ((addr & 0xFFFF00) == 0xFF8800) return m->chip[m->selected & 15];
        return size == 1 ? 0xFF : 0xFFFF;
    }
    static bool write(void* ctx, uint32_t addr, uint32_t value, int size, m68k::Fc) {
        auto* m = static_cast<Machine*>(ctx);
        if ((addr & 0xFFFF00) == 0xFF8800) {
            uint8_t v = static_cast<uint8_t>(size == 2 ? value >> 8 : value);
            if ((addr & 2) == 0)
                m->selected = v;
            else
                m->chip[m->selected & 15] = v;
            ++m->writes;
        }
        return true;
    }

    Machine() {
        auto put32 = [&](uint32_t a, uint32_t v) {
            for (int i = 0; i < 4; ++i) ram[a + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
        };
        put32(0, kRamSize);
        put32(4, kCodeAt);
        uint32_t a = kCodeAt;
        for (uint16_t w : kMusicLoop) {
            ram[a++] = static_cast<uint8_t>(w >> 8);
            ram[a++] = static_cast<uint8_t>(w);
        }
    }
    m68k::Bus bus() {
        m68k::Bus b;
        b.ram = ram.data();
        b.ramLo = 0;
        b.ramHi = kRamSize;
        b.ctx = this;
        b.read = &Machine::read;
        b.write = &Machine::write;
        return b;
    }
};

void BM_MusicLoop(benchmark::State& state) {
    Machine machine;
    m68k::Cpu cpu(machine.bus());
    cpu.reset();
    int64_t cycles = 0;
    for (auto _ : state) {
        cycles += cpu.run(160256); // one 50 Hz frame of an 8 MHz machine
        benchmark::DoNotOptimize(machine.chip);
    }
    if (cpu.halted()) state.SkipWithError("the loop faulted");
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(cycles) / 8e6, benchmark::Counter::kIsRate);
    state.counters["chip_writes_per_frame"] = benchmark::Counter(
        static_cast<double>(machine.writes) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_MusicLoop)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
