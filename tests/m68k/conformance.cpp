// Runs every single-instruction vector file of a folder through the 68000 core and prints a
// per-file table: register/RAM agreement and total cycle agreement. Each case runs twice, with
// plain memory and through the bus hooks (which also catch writes to unlisted addresses).
//
//   m68k_conformance [folder] [-v N] [-t N] [-f name-substring]
//
// folder defaults to the shared vector set; -v prints the details of the first N failing cases,
// -t those of the first N cases whose data accesses come on other cycles than the vectors';
// -f runs only the files whose names contain the substring.
//
// A last column, for information only, gives the share of cases whose data-space bus cycles
// (reads and writes of operands and stack frames) came in the vectors' order, at the same
// addresses and starting on the same cycles, as seen by the bus hooks.
//
// Exit codes: 0 all requirements met, 1 a requirement failed, 77 folder missing (skipped).
// Requirements: every register and RAM check passes and at least 99.5 % of the cycle counts
// agree, in every file but the two advisory ones (TAS, TRAPV), which are reported only.
#include "m68k/cpu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// A data-space bus cycle: where it starts, counted from the start of the instruction.
struct DataAccess {
    bool write;
    uint32_t addr;
    uint32_t start;
    bool operator==(const DataAccess&) const = default;
};

struct Case {
    std::string name;
    State initial, final;
    uint32_t cycles = 0;
    std::vector<DataAccess> data; // the vectors' data reads and writes, in order
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
        uint32_t n = r.u32();
        uint32_t at = 0;
        for (uint32_t k = 0; k < n && r.ok && r.pos < start + size; ++k) {
            if (r.pos + 5 > r.size) return false;
            uint8_t kind = bytes[r.pos++];
            uint32_t len = r.u32();
            if (kind != 0) {
                uint32_t fc = r.u32(), addr = r.u32();
                r.u32(); // data
                r.u32(); // UDS
                r.u32(); // LDS
                if ((kind == 1 || kind == 2) && (fc == 1 || fc == 5))
                    c.data.push_back({kind == 1, addr & 0xFFFFFE, at}); // the bus has no A0
            }
            at += len;
        }
        r.pos = start + size;
        out.push_back(std::move(c));
    }
    return r.ok;
}

const char* const kRegNames[19] = {"D0", "D1", "D2", "D3", "D4", "D5",  "D6",  "D7", "A0", "A1",
                                   "A2", "A3", "A4", "A5", "A6", "USP", "SSP", "SR", "PC"};

struct Totals {
    size_t cases = 0, state = 0, cycles = 0, timing = 0;
};

class Runner {
  public:
    Runner() : ram_(0x1000000, 0) {}

    // Returns true when registers and RAM agree; `cyclesOk` tells about the cycle count.
    // With `viaHooks` every access goes through the bus hooks instead of plain memory, and a
    // write to an address the case does not list counts as a failure.
    bool run(const Case& t, bool& cyclesOk, bool verbose, bool viaHooks) {
        for (auto& [addr, word] : t.initial.ram) {
            ram_[addr & 0xFFFFFF] = static_cast<uint8_t>(word >> 8);
            ram_[(addr + 1) & 0xFFFFFF] = static_cast<uint8_t>(word);
        }
        writes_.clear();
        seen_.clear();
        m68k::Bus bus;
        if (viaHooks) {
            bus.ctx = this;
            bus.read = [](void* ctx, uint32_t addr, int size, m68k::Fc fc) -> uint32_t {
                auto* self = static_cast<Runner*>(ctx);
                self->note(false, addr, fc);
                const auto& ram = self->ram_;
                if (size == 1) return ram[addr];
                return uint32_t(ram[addr]) << 8 | ram[(addr + 1) & 0xFFFFFF];
            };
            bus.write = [](void* ctx, uint32_t addr, uint32_t value, int size, m68k::Fc fc) {
                auto* self = static_cast<Runner*>(ctx);
                self->note(true, addr, fc);
                self->writes_.push_back(addr & ~1u);
                if (size == 1) {
                    self->ram_[addr] = static_cast<uint8_t>(value);
                } else {
                    self->ram_[addr] = static_cast<uint8_t>(value >> 8);
                    self->ram_[(addr + 1) & 0xFFFFFF] = static_cast<uint8_t>(value);
                }
                return true;
            };
        } else {
            bus.ram = ram_.data();
            bus.ramLo = 0;
            bus.ramHi = 0x1000000;
        }
        m68k::Cpu cpu(bus);
        cpu_ = &cpu;
        const uint32_t* in = t.initial.regs;
        cpu.setSr(static_cast<uint16_t>(in[17]));
        for (int i = 0; i < 8; ++i) cpu.setD(i, in[i]);
        for (int i = 0; i < 7; ++i) cpu.setA(i, in[8 + i]);
        cpu.setUsp(in[15]);
        cpu.setSsp(in[16]);
        cpu.setPc(in[18] - 4);
        int used = cpu.step();
        timingOk_ = seen_ == t.data;
        if (verbose && viaHooks && !timingOk_) {
            std::printf("    data accesses (write, address, cycle): got");
            for (auto& a : seen_) std::printf(" %c%06X@%u", a.write ? 'w' : 'r', a.addr, a.start);
            std::printf("\n    want");
            for (auto& a : t.data) std::printf(" %c%06X@%u", a.write ? 'w' : 'r', a.addr, a.start);
            std::printf("\n");
        }
        cpu_ = nullptr;

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
            uint16_t have =
                static_cast<uint16_t>(ram_[addr & 0xFFFFFF] << 8 | ram_[(addr + 1) & 0xFFFFFF]);
            if (have != word) {
                ok = false;
                if (verbose) std::printf("    RAM %06X: got %04X want %04X\n", addr, have, word);
            }
        }
        for (uint32_t w : writes_) {
            bool listed = false;
            for (auto& e : t.final.ram) listed = listed || (e.first & 0xFFFFFF) == w;
            if (!listed) {
                ok = false;
                if (verbose) std::printf("    stray write at %06X\n", w);
            }
            ram_[w] = 0;
            ram_[w + 1] = 0;
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

    // After a run through the hooks: whether the data reads and writes came in the vectors'
    // order, at the same addresses, each starting on the same cycle.
    bool dataTimingOk() const { return timingOk_; }

  private:
    void note(bool write, uint32_t addr, m68k::Fc fc) {
        if (fc == m68k::Fc::UserData || fc == m68k::Fc::SuperData)
            seen_.push_back({write, addr & 0xFFFFFE, static_cast<uint32_t>(cpu_->cycles())});
    }

    std::vector<uint8_t> ram_;
    m68k::Cpu* cpu_ = nullptr;
    std::vector<DataAccess> seen_;
    bool timingOk_ = false;
    std::vector<uint32_t> writes_; // word addresses written through the hooks
};

bool advisory(const std::string& file) {
    return file.rfind("TAS.", 0) == 0 || file.rfind("TRAPV.", 0) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder = INTRO_M68K_VECTORS;
    int verboseLimit = 0;
    int timingLimit = 0;
    std::string filter;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-v" && i + 1 < argc)
            verboseLimit = std::atoi(argv[++i]);
        else if (a == "-t" && i + 1 < argc)
            timingLimit = std::atoi(argv[++i]);
        else if (a == "-f" && i + 1 < argc)
            filter = argv[++i];
        else
            folder = a;
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
    std::printf("%-22s %7s %16s %16s  %-8s %s\n", "file", "cases", "regs+RAM", "cycles", "verdict",
                "data timing (information)");
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
            // Once with plain memory, once through the bus hooks: both must agree.
            bool cyc = false, cycHooks = false;
            bool ok = runner.run(c, cyc, false, false);
            bool okHooks = runner.run(c, cycHooks, false, true);
            t.timing += runner.dataTimingOk();
            if (!runner.dataTimingOk() && timingLimit > 0) {
                --timingLimit;
                std::printf("  TIMING %s\n", c.name.c_str());
                bool again = false;
                runner.run(c, again, true, true);
            }
            if ((!ok || !cyc || !okHooks || !cycHooks) && shown < verboseLimit) {
                // run the case again, printing each disagreement
                ++shown;
                std::printf("  FAIL %s\n", c.name.c_str());
                bool again = false;
                runner.run(c, again, true, !(ok && cyc));
            }
            ok = ok && okHooks;
            cyc = cyc && cycHooks;
            ++t.cases;
            t.state += ok;
            t.cycles += cyc;
        }
        double ps = t.cases ? 100.0 * t.state / t.cases : 0.0;
        double pc = t.cases ? 100.0 * t.cycles / t.cases : 0.0;
        bool meets = t.state == t.cases && t.cycles * 1000 >= t.cases * 995;
        const char* verdict = meets ? "ok" : advisory(name) ? "advisory" : "FAIL";
        if (!meets && !advisory(name)) allOk = false;
        std::printf("%-22s %7zu %8zu %6.2f%% %8zu %6.2f%%  %-8s %6.2f%%\n", name.c_str(), t.cases,
                    t.state, ps, t.cycles, pc, verdict, t.cases ? 100.0 * t.timing / t.cases : 0.0);
        sum.cases += t.cases;
        sum.state += t.state;
        sum.cycles += t.cycles;
        sum.timing += t.timing;
    }
    std::printf("%-22s %7zu %8zu %6.2f%% %8zu %6.2f%%  %-8s %6.2f%%\n", "total", sum.cases,
                sum.state, sum.cases ? 100.0 * sum.state / sum.cases : 0.0, sum.cycles,
                sum.cases ? 100.0 * sum.cycles / sum.cases : 0.0, allOk ? "PASS" : "FAIL",
                sum.cases ? 100.0 * sum.timing / sum.cases : 0.0);
    return allOk ? 0 : 1;
}
