// Runs every single-instruction vector file of a folder through the 68000 core and prints a
// per-file table: register/RAM agreement and total cycle agreement.
//
//   m68k_conformance [folder] [-v N] [-f name-substring]
//
// Exit codes: 0 all requirements met, 1 a requirement failed, 77 folder missing (skipped).
// Requirements: every register and RAM check passes and at least 99.5 % of the cycle counts
// agree, in every file but the two advisory ones (TAS, TRAPV), which are reported only.
#include "m68k/cpu.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFileMagic = 0x1A3F5D71;
constexpr uint32_t kTestMagic = 0xABC12367;
constexpr uint32_t kNameMagic = 0x89ABCDEF;
constexpr uint32_t kStateMagic = 0x01234567;
constexpr uint32_t kTransMagic = 0x456789AB;

struct State {
    uint32_t regs[19] = {}; // D0-D7, A0-A6, USP, SSP, SR, PC
    std::vector<std::pair<uint32_t, uint16_t>> ram;
};

struct Case {
    std::string name;
    State initial, final;
    uint32_t cycles = 0;
};

// Bounds-checked little-endian reader.
struct Reader {
    const uint8_t* p;
    size_t size;
    size_t pos = 0;
    bool ok = true;
    uint32_t u32() {
        if (pos + 4 > size) {
            ok = false;
            return 0;
        }
        uint32_t v = p[pos] | p[pos + 1] << 8 | p[pos + 2] << 16 | uint32_t(p[pos + 3]) << 24;
        pos += 4;
        return v;
    }
    uint16_t u16() {
        if (pos + 2 > size) {
            ok = false;
            return 0;
        }
        uint16_t v = static_cast<uint16_t>(p[pos] | p[pos + 1] << 8);
        pos += 2;
        return v;
    }
};

bool readState(Reader& r, State& s) {
    size_t start = r.pos;
    uint32_t size = r.u32();
    if (r.u32() != kStateMagic) return false;
    for (auto& reg : s.regs) reg = r.u32();
    r.u32(); // prefetch words: the instruction words are also in the RAM list
    r.u32();
    uint32_t n = r.u32();
    if (!r.ok || n > (r.size - r.pos) / 6) return false;
    s.ram.resize(n);
    for (auto& e : s.ram) {
        e.first = r.u32();
        e.second = r.u16();
    }
    r.pos = start + size;
    return r.ok && r.pos <= r.size;
}

bool parseFile(const std::vector<uint8_t>& bytes, std::vector<Case>& out) {
    Reader r{bytes.data(), bytes.size()};
    if (r.u32() != kFileMagic) return false;
    uint32_t count = r.u32();
    for (uint32_t i = 0; i < count && r.ok; ++i) {
        size_t start = r.pos;
        uint32_t size = r.u32();
        if (size < 8 || start + size > bytes.size() || r.u32() != kTestMagic) return false;
        Case c;
        size_t nameStart = r.pos;
        uint32_t nameSize = r.u32();
        if (r.u32() != kNameMagic) return false;
        uint32_t len = r.u32();
        if (!r.ok || len > r.size - r.pos) return false;
        c.name.assign(reinterpret_cast<const char*>(bytes.data() + r.pos), len);
        r.pos = nameStart + nameSize;
        if (!readState(r, c.initial) || !readState(r, c.final)) return false;
        r.u32(); // transactions block size
        if (r.u32() != kTransMagic) return false;
        c.cycles = r.u32();
        r.pos = start + size;
        out.push_back(std::move(c));
    }
    return r.ok;
}

const char* const kRegNames[19] = {"D0", "D1", "D2", "D3", "D4",  "D5",  "D6", "D7", "A0", "A1",
                                   "A2", "A3", "A4", "A5", "A6", "USP", "SSP", "SR", "PC"};

struct Totals {
    size_t cases = 0, state = 0, cycles = 0;
};

class Runner {
  public:
    Runner() : ram_(0x1000000, 0) {}

    // Returns true when registers and RAM agree; `cyclesOk` tells about the cycle count.
    bool run(const Case& t, bool& cyclesOk, bool verbose) {
        for (auto& [addr, word] : t.initial.ram) {
            ram_[addr & 0xFFFFFF] = static_cast<uint8_t>(word >> 8);
            ram_[(addr + 1) & 0xFFFFFF] = static_cast<uint8_t>(word);
        }
        m68k::Bus bus;
        bus.ram = ram_.data();
        bus.ramLo = 0;
        bus.ramHi = 0x1000000;
        m68k::Cpu cpu(bus);
        const uint32_t* in = t.initial.regs;
        cpu.setSr(static_cast<uint16_t>(in[17]));
        for (int i = 0; i < 8; ++i) cpu.setD(i, in[i]);
        for (int i = 0; i < 7; ++i) cpu.setA(i, in[8 + i]);
        cpu.setUsp(in[15]);
        cpu.setSsp(in[16]);
        cpu.setPc(in[18] - 4);
        int used = cpu.step();

        uint32_t got[19];
        for (int i = 0; i < 8; ++i) got[i] = cpu.d(i);
        for (int i = 0; i < 7; ++i) got[8 + i] = cpu.a(i);
        got[15] = cpu.usp();
        got[16] = cpu.ssp();
        got[17] = cpu.sr();
        // The vectors' PC is the next prefetch address, two words past the next instruction;
        // a stopped processor has not refilled its queue.
        got[18] = cpu.pc() + (cpu.stopped() ? 0 : 4);
        bool ok = true;
        const uint32_t* want = t.final.regs;
        for (int i = 0; i < 19; ++i) {
            if (got[i] != want[i]) {
                ok = false;
                if (verbose)
                    std::printf("    %s: got %08X want %08X (was %08X)\n", kRegNames[i], got[i],
                                want[i], in[i]);
            }
        }
        for (auto& [addr, word] : t.final.ram) {
            uint16_t have = static_cast<uint16_t>(ram_[addr & 0xFFFFFF] << 8 |
                                                  ram_[(addr + 1) & 0xFFFFFF]);
            if (have != word) {
                ok = false;
                if (verbose)
                    std::printf("    RAM %06X: got %04X want %04X\n", addr, have, word);
            }
        }
        cyclesOk = static_cast<uint32_t>(used) == t.cycles;
        if (verbose && !cyclesOk) std::printf("    cycles: got %d want %u\n", used, t.cycles);
        for (auto& [addr, word] : t.initial.ram) {
            ram_[addr & 0xFFFFFF] = 0;
            ram_[(addr + 1) & 0xFFFFFF] = 0;
        }
        for (auto& [addr, word] : t.final.ram) {
            ram_[addr & 0xFFFFFF] = 0;
            ram_[(addr + 1) & 0xFFFFFF] = 0;
        }
        return ok;
    }

  private:
    std::vector<uint8_t> ram_;
};

bool advisory(const std::string& file) {
    return file.rfind("TAS.", 0) == 0 || file.rfind("TRAPV.", 0) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder = INTRO_M68K_VECTORS;
    int verboseLimit = 0;
    std::string filter;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-v" && i + 1 < argc) verboseLimit = std::atoi(argv[++i]);
        else if (a == "-f" && i + 1 < argc) filter = argv[++i];
        else folder = a;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        std::printf("vector folder %s not found: skipped\n", folder.c_str());
        return 77;
    }
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        std::string n = e.path().filename().string();
        if (e.is_regular_file() && n.size() > 4 && n.substr(n.size() - 4) == ".bin" &&
            (filter.empty() || n.find(filter) != std::string::npos))
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::printf("no vector files in %s\n", folder.c_str());
        return 1;
    }

    Runner runner;
    bool allOk = true;
    Totals sum;
    int shown = 0;
    std::printf("%-22s %7s %16s %16s  %s\n", "file", "cases", "regs+RAM", "cycles", "verdict");
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<Case> cases;
        std::string name = path.filename().string();
        if (!parseFile(bytes, cases)) {
            std::printf("%-22s unreadable\n", name.c_str());
            allOk = false;
            continue;
        }
        Totals t;
        for (const auto& c : cases) {
            bool cyc = false;
            bool verbose = false;
            bool ok = runner.run(c, cyc, false);
            if ((!ok || !cyc) && shown < verboseLimit) {
                ++shown;
                std::printf("  FAIL %s\n", c.name.c_str());
                bool dummy;
                verbose = true;
                runner.run(c, dummy, verbose);
            }
            ++t.cases;
            t.state += ok;
            t.cycles += cyc;
        }
        double ps = t.cases ? 100.0 * t.state / t.cases : 0.0;
        double pc = t.cases ? 100.0 * t.cycles / t.cases : 0.0;
        bool meets = t.state == t.cases && t.cycles * 1000 >= t.cases * 995;
        const char* verdict = meets ? "ok" : advisory(name) ? "advisory" : "FAIL";
        if (!meets && !advisory(name)) allOk = false;
        std::printf("%-22s %7zu %8zu %6.2f%% %8zu %6.2f%%  %s\n", name.c_str(), t.cases, t.state,
                    ps, t.cycles, pc, verdict);
        sum.cases += t.cases;
        sum.state += t.state;
        sum.cycles += t.cycles;
    }
    std::printf("%-22s %7zu %8zu %6.2f%% %8zu %6.2f%%  %s\n", "total", sum.cases, sum.state,
                sum.cases ? 100.0 * sum.state / sum.cases : 0.0, sum.cycles,
                sum.cases ? 100.0 * sum.cycles / sum.cases : 0.0, allOk ? "PASS" : "FAIL");
    return allOk ? 0 : 1;
}
