// Internal helpers of the 68000 interpreter: bus access, effective addresses, flags.
#pragma once

#include "m68k/cpu.h"

#include <bit>
#include <cstring>

namespace m68k {

inline constexpr uint32_t kAddrMask = 0xFFFFFF;

// The bus and operand helpers sit on every instruction's path: keep them inlined.
#if defined(__GNUC__)
#define M68K_HOT __attribute__((always_inline)) inline
#define M68K_NOINLINE __attribute__((noinline))
#else
#define M68K_HOT inline
#define M68K_NOINLINE
#endif

// Big-endian words in plain memory.
M68K_HOT uint32_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap16(v);
    return v;
}
M68K_HOT void store16(uint8_t* p, uint32_t v) {
    uint16_t w = static_cast<uint16_t>(v);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap16(w);
    std::memcpy(p, &w, 2);
}

template <int S> constexpr uint32_t sizeMask() {
    return S == 1 ? 0xFFu : S == 2 ? 0xFFFFu : 0xFFFFFFFFu;
}
template <int S> constexpr uint32_t sizeMsb() {
    return S == 1 ? 0x80u : S == 2 ? 0x8000u : 0x80000000u;
}
template <int S> constexpr int32_t signExtend(uint32_t v) {
    if constexpr (S == 1)
        return static_cast<int8_t>(v);
    else if constexpr (S == 2)
        return static_cast<int16_t>(v);
    else
        return static_cast<int32_t>(v);
}

struct Exec {
    using Handler = void (*)(Cpu&, uint32_t);
    static const Handler* table();

    // ---- bus access
    static M68K_HOT bool inRam(const Cpu& c, uint32_t a) { return a - c.bus_.ramLo < c.ramSpan_; }

    static M68K_HOT uint32_t rd8(Cpu& c, uint32_t addr) {
        uint32_t a = addr & kAddrMask;
        uint32_t v = inRam(c, a) ? c.bus_.ram[a] : c.slowRead(a, 1, Space::Data);
        c.cycles_ += 4;
        return v;
    }
    static M68K_HOT uint32_t rd16(Cpu& c, uint32_t addr, Space fc) {
        if (addr & 1) c.addressError(addr, true, fc);
        uint32_t a = addr & kAddrMask;
        uint32_t v = inRam(c, a) ? load16(c.bus_.ram + a) : c.slowRead(a, 2, fc);
        c.cycles_ += 4;
        return v;
    }
    static M68K_HOT uint32_t rd16(Cpu& c, uint32_t addr) { return rd16(c, addr, Space::Data); }
    static M68K_HOT uint32_t rd32(Cpu& c, uint32_t addr) {
        uint32_t hi = rd16(c, addr);
        return hi << 16 | rd16(c, addr + 2);
    }
    // Operand read in program space (PC-relative modes).
    template <int S> static M68K_HOT uint32_t rdProg(Cpu& c, uint32_t addr) {
        if constexpr (S == 1) {
            uint32_t a = addr & kAddrMask;
            uint32_t v = inRam(c, a) ? c.bus_.ram[a] : c.slowRead(a, 1, Space::Program);
            c.cycles_ += 4;
            return v;
        } else if constexpr (S == 2) {
            return rd16(c, addr, Space::Program);
        } else {
            uint32_t hi = rd16(c, addr, Space::Program);
            return hi << 16 | rd16(c, addr + 2, Space::Program);
        }
    }
    template <int S> static M68K_HOT uint32_t rd(Cpu& c, uint32_t addr) {
        if constexpr (S == 1)
            return rd8(c, addr);
        else if constexpr (S == 2)
            return rd16(c, addr);
        else
            return rd32(c, addr);
    }

    static M68K_HOT void wr8(Cpu& c, uint32_t addr, uint32_t v) {
        uint32_t a = addr & kAddrMask;
        if (inRam(c, a))
            c.bus_.ram[a] = static_cast<uint8_t>(v);
        else
            c.slowWrite(a, v & 0xFF, 1, Space::Data);
        c.cycles_ += 4;
    }
    static M68K_HOT void wr16(Cpu& c, uint32_t addr, uint32_t v) {
        if (addr & 1) c.addressError(addr, false, Space::Data);
        uint32_t a = addr & kAddrMask;
        if (inRam(c, a)) {
            store16(c.bus_.ram + a, v);
        } else {
            c.slowWrite(a, v & 0xFFFF, 2, Space::Data);
        }
        c.cycles_ += 4;
    }
    static M68K_HOT void wr32(Cpu& c, uint32_t addr, uint32_t v) {
        wr16(c, addr, v >> 16);
        wr16(c, addr + 2, v);
    }
    // Long write in the order a predecrementing store uses (low word first).
    static void wr32Down(Cpu& c, uint32_t addr, uint32_t v) {
        if (addr & 1) c.addressError(addr, false, Space::Data);
        wr16(c, addr + 2, v);
        wr16(c, addr, v >> 16);
    }
    template <int S> static M68K_HOT void wr(Cpu& c, uint32_t addr, uint32_t v) {
        if constexpr (S == 1)
            wr8(c, addr, v);
        else if constexpr (S == 2)
            wr16(c, addr, v);
        else
            wr32(c, addr, v);
    }

    // Instruction stream.
    // Read-modify-write instructions refill the prefetch queue between their read and their
    // write: count that bus cycle now rather than at the end of the instruction.
    static M68K_HOT void prefetchNow(Cpu& c) { c.prefetchDue_ = false; }

    // Extension words. The PC is even here: the opcode fetch checked it, and an instruction
    // only steps it by words (new values go through jump(), which checks them).
    static M68K_HOT uint32_t fetch(Cpu& c) {
        const uint32_t a = c.pc_ & kAddrMask;
        const uint32_t v = inRam(c, a) ? load16(c.bus_.ram + a) : c.slowRead(a, 2, Space::Program);
        c.cycles_ += 4;
        c.pc_ += 2;
        return v;
    }
    // The opcode word: it was in the prefetch queue already; the bus cycle that refills the
    // queue is counted by startPrefetch().
    static M68K_HOT uint32_t fetchOpcode(Cpu& c) {
        const uint32_t addr = c.pc_;
        if (addr & 1) c.addressError(addr, true, Space::Program);
        const uint32_t a = addr & kAddrMask;
        const uint32_t v = inRam(c, a) ? load16(c.bus_.ram + a) : c.slowRead(a, 2, Space::Program);
        c.pc_ = addr + 2;
        return v;
    }
    static M68K_HOT uint32_t fetch32(Cpu& c) {
        const uint32_t a = c.pc_ & kAddrMask;
        if (inRam(c, a) && inRam(c, a + 2)) { // both words at once
            const uint32_t v = load16(c.bus_.ram + a) << 16 | load16(c.bus_.ram + a + 2);
            c.cycles_ += 8;
            c.pc_ += 4;
            return v;
        }
        const uint32_t hi = fetch(c);
        return hi << 16 | fetch(c);
    }

    // ---- registers
    static uint32_t& dreg(Cpu& c, int n) { return c.r_[n]; }
    static uint32_t& areg(Cpu& c, int n) { return c.r_[8 + n]; }
    template <int S> static void setDreg(Cpu& c, int n, uint32_t v) {
        if constexpr (S == 4)
            c.r_[n] = v;
        else
            c.r_[n] = (c.r_[n] & ~sizeMask<S>()) | (v & sizeMask<S>());
    }

    // ---- flags
    template <int S> static M68K_HOT void setNZ(Cpu& c, uint32_t r) {
        c.nf_ = (r & sizeMsb<S>()) != 0;
        c.zf_ = (r & sizeMask<S>()) == 0;
    }
    template <int S> static M68K_HOT void logicFlags(Cpu& c, uint32_t r) {
        setNZ<S>(c, r);
        c.vf_ = 0;
        c.cf_ = 0;
    }
    template <int S> static M68K_HOT uint32_t add(Cpu& c, uint32_t s, uint32_t d, uint32_t x = 0) {
        uint64_t wide = uint64_t(s & sizeMask<S>()) + (d & sizeMask<S>()) + x;
        uint32_t r = static_cast<uint32_t>(wide) & sizeMask<S>();
        c.cf_ = c.xf_ = (wide >> (S * 8)) & 1;
        c.vf_ = (((s ^ r) & (d ^ r)) & sizeMsb<S>()) != 0;
        setNZ<S>(c, r);
        return r;
    }
    template <int S> static M68K_HOT uint32_t sub(Cpu& c, uint32_t s, uint32_t d, uint32_t x = 0) {
        uint64_t wide = uint64_t(d & sizeMask<S>()) - (s & sizeMask<S>()) - x;
        uint32_t r = static_cast<uint32_t>(wide) & sizeMask<S>();
        c.cf_ = c.xf_ = (wide >> (S * 8)) & 1;
        c.vf_ = (((s ^ d) & (r ^ d)) & sizeMsb<S>()) != 0;
        setNZ<S>(c, r);
        return r;
    }
    template <int S> static M68K_HOT void cmp(Cpu& c, uint32_t s, uint32_t d) {
        uint8_t x = c.xf_;
        sub<S>(c, s, d);
        c.xf_ = x;
    }

    static bool cond(const Cpu& c, int cc) {
        switch (cc & 15) {
        case 0:
            return true;
        case 1:
            return false;
        case 2:
            return !c.cf_ && !c.zf_;
        case 3:
            return c.cf_ || c.zf_;
        case 4:
            return !c.cf_;
        case 5:
            return c.cf_;
        case 6:
            return !c.zf_;
        case 7:
            return c.zf_;
        case 8:
            return !c.vf_;
        case 9:
            return c.vf_;
        case 10:
            return !c.nf_;
        case 11:
            return c.nf_;
        case 12:
            return c.nf_ == c.vf_;
        case 13:
            return c.nf_ != c.vf_;
        case 14:
            return !c.zf_ && c.nf_ == c.vf_;
        default:
            return c.zf_ || c.nf_ != c.vf_;
        }
    }

    // ---- effective addresses
    // Brief extension word index: d8(base, Xn).
    static M68K_HOT uint32_t indexed(Cpu& c, uint32_t base) {
        uint32_t ext = fetch(c);
        uint32_t x = c.r_[(ext >> 12) & 15];
        if (!(ext & 0x800)) x = static_cast<uint32_t>(static_cast<int16_t>(x));
        c.cycles_ += 2;
        return base + static_cast<uint32_t>(static_cast<int8_t>(ext)) + x;
    }
    // Step of (An)+ / -(An) for a size: A7 keeps word alignment for bytes.
    template <int S> static uint32_t step(int reg) { return (S == 1 && reg == 7) ? 2 : S; }

    // Address of a memory operand for modes 2, 5, 6 and 7.0-7.3 (no side effects on An);
    // sets the PC stacked by an address error on the access that follows.
    static M68K_HOT uint32_t controlAddr(Cpu& c, int m, int r) {
        switch (m) {
        case 2:
            c.aePc_ = c.pc_;
            return c.r_[8 + r];
        case 5: {
            uint32_t a = c.r_[8 + r] + static_cast<uint32_t>(static_cast<int16_t>(fetch(c)));
            c.aePc_ = c.pc_ - 2;
            return a;
        }
        case 6: {
            uint32_t a = indexed(c, c.r_[8 + r]);
            c.aePc_ = c.pc_ - 2;
            return a;
        }
        default:
            switch (r) {
            case 0: {
                uint32_t a = static_cast<uint32_t>(static_cast<int16_t>(fetch(c)));
                c.aePc_ = c.pc_;
                return a;
            }
            case 1: {
                uint32_t a = fetch32(c);
                c.aePc_ = c.pc_;
                return a;
            }
            case 2: {
                uint32_t base = c.pc_;
                uint32_t a = base + static_cast<uint32_t>(static_cast<int16_t>(fetch(c)));
                c.aePc_ = c.pc_ - 2;
                return a;
            }
            default: {
                uint32_t a = indexed(c, c.pc_);
                c.aePc_ = c.pc_ - 2;
                return a;
            }
            }
        }
    }

    template <int S> static M68K_HOT uint32_t immediate(Cpu& c) {
        if constexpr (S == 4)
            return fetch32(c);
        else
            return fetch(c) & sizeMask<S>();
    }

    // (An)+ read: a faulting long access leaves An alone; byte and word ones have stepped it.
    template <int S> static M68K_HOT uint32_t postIncRead(Cpu& c, int r, uint32_t stacked) {
        uint32_t a = c.r_[8 + r];
        c.aePc_ = stacked;
        if constexpr (S == 4) {
            uint32_t v = rd<S>(c, a);
            c.r_[8 + r] = a + 4;
            return v;
        }
        c.r_[8 + r] = a + step<S>(r);
        return rd<S>(c, a);
    }
    // -(An) long read low word first, as ADDX/SUBX do; An changes only when both words came.
    static uint32_t preDecReadLong(Cpu& c, int r) {
        uint32_t a = c.r_[8 + r] - 4;
        uint32_t lo = rd16(c, a + 2);
        uint32_t hi = rd16(c, a);
        c.r_[8 + r] = a;
        return hi << 16 | lo;
    }

    // Reads a source operand of any mode.
    template <int S> static M68K_HOT uint32_t readEa(Cpu& c, int m, int r) {
        switch (m) {
        case 0:
            return c.r_[r] & sizeMask<S>();
        case 1:
            return c.r_[8 + r] & sizeMask<S>();
        case 3:
            return postIncRead<S>(c, r, c.pc_);
        case 4: {
            c.cycles_ += 2;
            uint32_t a = c.r_[8 + r] - step<S>(r);
            c.r_[8 + r] = a;
            c.aePc_ = S == 4 ? c.pc_ : c.pc_ + 2;
            return rd<S>(c, a);
        }
        case 7:
            if (r == 4) return immediate<S>(c);
            if (r >= 2) return rdProg<S>(c, controlAddr(c, m, r));
            [[fallthrough]];
        default:
            return rd<S>(c, controlAddr(c, m, r));
        }
    }

    // Read-modify-write operand: readRmw returns the value and leaves the address in `addr`;
    // writeRmw stores the result to the same place.
    template <int S> static M68K_HOT uint32_t readRmw(Cpu& c, int m, int r, uint32_t& addr) {
        switch (m) {
        case 0:
            return c.r_[r] & sizeMask<S>();
        case 3: {
            addr = c.r_[8 + r];
            c.aePc_ = c.pc_;
            if constexpr (S == 4) {
                uint32_t v = rd<S>(c, addr);
                c.r_[8 + r] = addr + 4;
                return v;
            }
            c.r_[8 + r] = addr + step<S>(r);
            return rd<S>(c, addr);
        }
        case 4: {
            c.cycles_ += 2;
            addr = c.r_[8 + r] - step<S>(r);
            c.r_[8 + r] = addr;
            c.aePc_ = S == 4 ? c.pc_ : c.pc_ + 2;
            return rd<S>(c, addr);
        }
        default:
            addr = controlAddr(c, m, r);
            return rd<S>(c, addr);
        }
    }
    template <int S>
    static M68K_HOT void writeRmw(Cpu& c, int m, int r, uint32_t addr, uint32_t v) {
        if (m == 0) {
            setDreg<S>(c, r, v);
        } else {
            prefetchNow(c);
            if constexpr (S == 4) { // a read-modify-write stores the low word first
                wr16(c, addr + 2, v);
                wr16(c, addr, v >> 16);
            } else {
                wr<S>(c, addr, v);
            }
        }
    }

    // Write-only destination (CLR-like use is done through readRmw; this is for Scc-less cases)
    static void push16(Cpu& c, uint32_t v) {
        c.r_[15] -= 2;
        wr16(c, c.r_[15], v);
    }
    static void push32(Cpu& c, uint32_t v) {
        c.r_[15] -= 4;
        wr16(c, c.r_[15], v >> 16);
        wr16(c, c.r_[15] + 2, v);
    }
    static uint32_t pop16(Cpu& c) {
        uint32_t v = rd16(c, c.r_[15]);
        c.r_[15] += 2;
        return v;
    }
    static uint32_t pop32(Cpu& c) {
        uint32_t v = rd32(c, c.r_[15]);
        c.r_[15] += 4;
        return v;
    }

    static bool supervisor(const Cpu& c) { return (c.sr_ & 0x2000) != 0; }

    // Changes the program counter to `target`; an odd target raises the address error at once
    // with `stackedPc` as the stacked PC.
    // `faultCycles` is what the instruction has cost when the fetch at an odd target fails
    // (negative: as counted so far).
    static void jump(Cpu& c, uint32_t target, uint32_t stackedPc, int faultCycles) {
        if (target & 1) {
            if (faultCycles >= 0) c.cycles_ = c.instrCycles_ + faultCycles;
            c.aePc_ = stackedPc;
            c.addressError(target, true, Space::Program);
        }
        c.pc_ = target;
    }

    static void illegal(Cpu& c, uint32_t op);
    static void privilege(Cpu& c);
};

} // namespace m68k
