// Instruction handlers and the opcode decode table of the 68000 interpreter.
#include "cpu_internal.h"

#include <array>
#include <utility>

namespace m68k {

enum AluKind { kAdd, kSub, kAnd, kOr, kEor, kCmp };

struct Ops : Exec {
    static int modeOf(uint32_t op) { return (op >> 3) & 7; }
    static int regOf(uint32_t op) { return op & 7; }
    static int reg9(uint32_t op) { return (op >> 9) & 7; }

    template <int S, int K> static uint32_t alu(Cpu& c, uint32_t s, uint32_t d) {
        if constexpr (K == kAdd)
            return add<S>(c, s, d);
        else if constexpr (K == kSub)
            return sub<S>(c, s, d);
        else if constexpr (K == kCmp) {
            cmp<S>(c, s, d);
            return d;
        } else {
            uint32_t r = K == kAnd ? (s & d) : K == kOr ? (s | d) : (s ^ d);
            logicFlags<S>(c, r);
            return r;
        }
    }

    // ------------------------------------------------------------------ data movement
    // Specialised per source and destination mode: the addressing switches fold away.
    template <int S, int SM, int DM> static void move(Cpu& c, uint32_t op) {
        constexpr int sm = SM, dm = DM;
        int sr = regOf(op), dr = reg9(op);
        uint32_t v = readEa<S>(c, sm, sr);
        if (dm == 1) {
            c.r_[8 + dr] = S == 2 ? static_cast<uint32_t>(static_cast<int16_t>(v)) : v;
            return;
        }
        if (dm == 0) {
            setDreg<S>(c, dr, v);
            logicFlags<S>(c, v);
            return;
        }
        uint32_t stacked = c.pc_ + 2;
        uint32_t a;
        switch (dm) {
        case 2:
        case 3:
            a = c.r_[8 + dr];
            break;
        case 4:
            a = c.r_[8 + dr] - step<S>(dr);
            break;
        case 5:
            a = c.r_[8 + dr] + static_cast<uint32_t>(static_cast<int16_t>(fetch(c)));
            break;
        case 6:
            a = indexed(c, c.r_[8 + dr]);
            break;
        default:
            if (dr == 0) {
                a = static_cast<uint32_t>(static_cast<int16_t>(fetch(c)));
            } else {
                a = fetch32(c);
                if (sm <= 1 || (sm == 7 && sr == 4)) stacked += 2;
            }
            break;
        }
        c.aePc_ = stacked;
        if (S != 1 && (a & 1)) moveWriteFault<S>(c, op, a, v);
        logicFlags<S>(c, v);
        // Bus cycle order: towards -(An) the queue is refilled before the write; an absolute
        // long destination after a memory source fetches its second address word after it.
        bool lateWord = dm == 7 && dr == 1 && !(sm <= 1 || (sm == 7 && sr == 4));
        if (dm == 4) prefetchNow(c);
        if (lateWord) c.cycles_ -= 4;
        if (S == 4 && dm == 4)
            wr32Down(c, a, v);
        else
            wr<S>(c, a, v);
        if (lateWord) c.cycles_ += 4;
        if (dm == 3)
            c.r_[8 + dr] = a + step<S>(dr);
        else if (dm == 4)
            c.r_[8 + dr] = a;
    }

    // State a MOVE leaves when its write to the odd address `a` faults, then the fault.
    template <int S>
    [[noreturn]] static void moveWriteFault(Cpu& c, uint32_t op, uint32_t a, uint32_t v) {
        int sm = modeOf(op), sr = regOf(op), dm = (op >> 6) & 7, dr = reg9(op);
        if (dm == 7 && dr == 1 && !(sm <= 1 || (sm == 7 && sr == 4)))
            c.cycles_ -= 4; // the second address word is not fetched yet
        if constexpr (S == 2) {
            logicFlags<2>(c, v);
            if (dm == 4) {
                // towards -(An) the next opcode is prefetched before the write: the fault
                // stacks that opcode and leaves An decremented
                c.r_[8 + dr] = a;
                c.ir_ = static_cast<uint16_t>(rd16(c, c.pc_, Space::Program));
            }
            c.addressError(a, false, Space::Data);
        } else {
            // Flags as the microcode has them when the first word's write faults: from one
            // half of the value, V and C cleared or still the old ones.
            bool regSrc = sm <= 1 || (sm == 7 && sr == 4);
            bool absL = dm == 7 && dr == 1;
            if (regSrc && (dm == 2 || dm == 3)) {
                // untouched
            } else if (regSrc && (dm == 5 || dm == 6)) {
                setNZ<2>(c, v >> 16);
            } else {
                setNZ<2>(c, (!regSrc && (dm == 2 || dm == 3 || absL)) ? v : v >> 16);
                c.vf_ = c.cf_ = 0;
            }
            if (dm == 4) {
                c.cycles_ += 4; // the next opcode is prefetched first; the low word goes first
                c.addressError(a + 2, false, Space::Data);
            }
            c.addressError(a, false, Space::Data);
        }
    }

    static void moveq(Cpu& c, uint32_t op) {
        uint32_t v = static_cast<uint32_t>(static_cast<int8_t>(op));
        c.r_[reg9(op)] = v;
        logicFlags<4>(c, v);
    }

    template <int M> static void lea(Cpu& c, uint32_t op) {
        constexpr int m = M;
        uint32_t a = controlAddr(c, m, regOf(op));
        if (m == 6 || (m == 7 && regOf(op) == 3)) c.cycles_ += 2;
        c.r_[8 + reg9(op)] = a;
    }

    static void pea(Cpu& c, uint32_t op) {
        int m = modeOf(op);
        uint32_t a = controlAddr(c, m, regOf(op));
        if (m == 6 || (m == 7 && regOf(op) == 3)) c.cycles_ += 2;
        if (!(m == 7 && regOf(op) <= 1)) prefetchNow(c); // absolute: pushes come first
        c.aePc_ = c.pc_ + 2;
        push32(c, a);
    }

    static void exg(Cpu& c, uint32_t op) {
        int x = reg9(op), y = regOf(op);
        int mode = (op >> 3) & 0x1F;
        int rx = mode == 0x09 ? 8 + x : x;
        int ry = mode == 0x08 ? y : 8 + y;
        uint32_t t = c.r_[rx];
        c.r_[rx] = c.r_[ry];
        c.r_[ry] = t;
        c.cycles_ += 2;
    }

    static void swap(Cpu& c, uint32_t op) {
        uint32_t& d = c.r_[regOf(op)];
        d = d << 16 | d >> 16;
        logicFlags<4>(c, d);
    }

    static void extw(Cpu& c, uint32_t op) {
        uint32_t v = static_cast<uint32_t>(static_cast<int8_t>(c.r_[regOf(op)]));
        setDreg<2>(c, regOf(op), v);
        logicFlags<2>(c, v);
    }
    static void extl(Cpu& c, uint32_t op) {
        uint32_t v = static_cast<uint32_t>(static_cast<int16_t>(c.r_[regOf(op)]));
        c.r_[regOf(op)] = v;
        logicFlags<4>(c, v);
    }

    template <int S> static void movemToMem(Cpu& c, uint32_t op) {
        uint32_t mask = fetch(c);
        int m = modeOf(op), r = regOf(op);
        if (m == 4) {
            uint32_t a = c.r_[8 + r];
            c.aePc_ = c.pc_ + 2;
            for (int i = 0; i < 16; ++i) {
                if (!(mask & (1u << i))) continue;
                a -= S;
                uint32_t v = c.r_[15 - i];
                if constexpr (S == 2) {
                    wr16(c, a, v);
                } else {
                    if (a & 1) c.addressError(a + 2, false, Space::Data); // low word first
                    wr32Down(c, a, v);
                }
            }
            c.r_[8 + r] = a;
            return;
        }
        uint32_t a = controlAddr(c, m, r);
        c.aePc_ = c.pc_ + 2;
        for (int i = 0; i < 16; ++i) {
            if (!(mask & (1u << i))) continue;
            if constexpr (S == 2)
                wr16(c, a, c.r_[i]);
            else
                wr32(c, a, c.r_[i]);
            a += S;
        }
    }

    template <int S> static void movemToReg(Cpu& c, uint32_t op) {
        uint32_t mask = fetch(c);
        int m = modeOf(op), r = regOf(op);
        uint32_t a = m == 3 ? c.r_[8 + r] : controlAddr(c, m, r);
        c.aePc_ = c.pc_ + 2;
        Space fc = (m == 7 && r >= 2) ? Space::Program : Space::Data;
        for (int i = 0; i < 16; ++i) {
            if (!(mask & (1u << i))) continue;
            uint32_t v = rd16(c, a, fc);
            if constexpr (S == 2)
                v = static_cast<uint32_t>(static_cast<int16_t>(v));
            else
                v = v << 16 | rd16(c, a + 2, fc);
            c.r_[i] = v;
            a += S;
        }
        rd16(c, a, fc); // the 68000 reads one word past the last register
        if (m == 3) c.r_[8 + r] = a;
    }

    template <int S> static void movep(Cpu& c, uint32_t op) {
        int dr = reg9(op);
        uint32_t a = c.r_[8 + regOf(op)] + static_cast<uint32_t>(static_cast<int16_t>(fetch(c)));
        if (op & 0x80) {
            uint32_t v = c.r_[dr];
            for (int sh = S * 8 - 8; sh >= 0; sh -= 8, a += 2) wr8(c, a, v >> sh);
        } else {
            uint32_t v = 0;
            for (int i = 0; i < S; ++i, a += 2) v = v << 8 | rd8(c, a);
            setDreg<S>(c, dr, v);
        }
    }

    // ------------------------------------------------------------------ arithmetic and logic
    template <int S, int K, int M> static void aluToReg(Cpu& c, uint32_t op) {
        constexpr int m = M;
        uint32_t s = readEa<S>(c, m, regOf(op));
        int dr = reg9(op);
        uint32_t r = alu<S, K>(c, s, c.r_[dr]);
        if constexpr (K != kCmp) setDreg<S>(c, dr, r);
        if constexpr (S == 4) {
            if (K == kCmp)
                c.cycles_ += 2;
            else
                c.cycles_ += (m <= 1 || (m == 7 && regOf(op) == 4)) ? 4 : 2;
        }
    }

    template <int S, int K, int M> static void aluToEa(Cpu& c, uint32_t op) {
        constexpr int m = M;
        int r = regOf(op);
        uint32_t addr = 0;
        uint32_t d = readRmw<S>(c, m, r, addr);
        uint32_t res = alu<S, K>(c, c.r_[reg9(op)], d);
        writeRmw<S>(c, m, r, addr, res);
        if (S == 4 && m == 0) c.cycles_ += 4;
    }

    template <int S, int K, int M> static void aluImm(Cpu& c, uint32_t op) {
        uint32_t s = immediate<S>(c);
        constexpr int m = M;
        int r = regOf(op);
        if (m == 0) {
            uint32_t res = alu<S, K>(c, s, c.r_[r]);
            if constexpr (K != kCmp) setDreg<S>(c, r, res);
            if constexpr (S == 4) c.cycles_ += K == kCmp ? 2 : 4;
            return;
        }
        uint32_t addr = 0;
        uint32_t d = readRmw<S>(c, m, r, addr);
        uint32_t res = alu<S, K>(c, s, d);
        if constexpr (K != kCmp) writeRmw<S>(c, m, r, addr, res);
    }

    template <int S, bool Sub, int M> static void addq(Cpu& c, uint32_t op) {
        uint32_t q = reg9(op);
        if (q == 0) q = 8;
        constexpr int m = M;
        int r = regOf(op);
        if (m == 1) {
            c.r_[8 + r] += Sub ? -q : q;
            c.cycles_ += 4;
            return;
        }
        uint32_t addr = 0;
        uint32_t d = readRmw<S>(c, m, r, addr);
        uint32_t res = Sub ? sub<S>(c, q, d) : add<S>(c, q, d);
        writeRmw<S>(c, m, r, addr, res);
        if (S == 4 && m == 0) c.cycles_ += 4;
    }

    template <int S, int K, int M> static void adda(Cpu& c, uint32_t op) {
        constexpr int m = M;
        uint32_t s = readEa<S>(c, m, regOf(op));
        if (S == 2) s = static_cast<uint32_t>(static_cast<int16_t>(s));
        uint32_t& a = c.r_[8 + reg9(op)];
        if constexpr (K == kCmp) {
            cmp<4>(c, s, a);
            c.cycles_ += 2;
        } else {
            a = K == kAdd ? a + s : a - s;
            if (S == 2 || m <= 1 || (m == 7 && regOf(op) == 4))
                c.cycles_ += 4;
            else
                c.cycles_ += 2;
        }
    }

    // Mem: the -(Ay),-(Ax) form (register form otherwise).
    template <int S, bool Sub, bool Mem> static void addx(Cpu& c, uint32_t op) {
        int ry = regOf(op), rx = reg9(op);
        uint8_t z = c.zf_;
        if constexpr (Mem) {
            c.cycles_ += 2;
            c.aePc_ = c.pc_ + 2;
            uint32_t s, d;
            if constexpr (S == 4) {
                s = preDecReadLong(c, ry);
                d = preDecReadLong(c, rx);
            } else {
                c.r_[8 + ry] -= step<S>(ry);
                s = rd<S>(c, c.r_[8 + ry]);
                c.r_[8 + rx] -= step<S>(rx);
                d = rd<S>(c, c.r_[8 + rx]);
            }
            uint32_t res = Sub ? sub<S>(c, s, d, c.xf_) : add<S>(c, s, d, c.xf_);
            if constexpr (S == 4) { // low word, queue refill, high word
                wr16(c, c.r_[8 + rx] + 2, res);
                prefetchNow(c);
                wr16(c, c.r_[8 + rx], res >> 16);
            } else {
                prefetchNow(c);
                wr<S>(c, c.r_[8 + rx], res);
            }
            if (res) z = 0;
            c.zf_ = z;
        } else {
            uint32_t res =
                Sub ? sub<S>(c, c.r_[ry], c.r_[rx], c.xf_) : add<S>(c, c.r_[ry], c.r_[rx], c.xf_);
            setDreg<S>(c, rx, res);
            if (res) z = 0;
            c.zf_ = z;
            if (S == 4) c.cycles_ += 4;
        }
    }

    template <int S> static void cmpm(Cpu& c, uint32_t op) {
        int ry = regOf(op), rx = reg9(op);
        uint32_t s;
        if constexpr (S == 4) {
            // a fault on the first long read has already stepped Ay by one word
            c.aePc_ = c.pc_ + 2;
            uint32_t a = c.r_[8 + ry];
            c.r_[8 + ry] = a + 2;
            s = rd32(c, a);
            c.r_[8 + ry] = a + 4;
        } else {
            s = postIncRead<S>(c, ry, c.pc_ + 2);
        }
        c.aePc_ = c.pc_ + 2;
        uint32_t d = rd<S>(c, c.r_[8 + rx]); // a fault here leaves Ax alone
        c.r_[8 + rx] += step<S>(rx);
        cmp<S>(c, s, d);
    }

    template <int S, int K, int M> static void unary(Cpu& c, uint32_t op) {
        // K: 0 NEGX, 1 CLR, 2 NEG, 3 NOT
        constexpr int m = M;
        int r = regOf(op);
        uint32_t addr = 0;
        uint32_t d = readRmw<S>(c, m, r, addr);
        uint32_t res;
        if constexpr (K == 0) {
            uint8_t z = c.zf_;
            res = sub<S>(c, d, 0, c.xf_);
            c.zf_ = res ? 0 : z;
        } else if constexpr (K == 1) {
            res = 0;
            logicFlags<S>(c, 0);
        } else if constexpr (K == 2) {
            res = sub<S>(c, d, 0);
        } else {
            res = ~d & sizeMask<S>();
            logicFlags<S>(c, res);
        }
        writeRmw<S>(c, m, r, addr, res);
        if (S == 4 && m == 0) c.cycles_ += 2;
    }

    template <int S, int M> static void tst(Cpu& c, uint32_t op) {
        logicFlags<S>(c, readEa<S>(c, M, regOf(op)));
    }

    static void tas(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        uint32_t addr = 0;
        uint32_t d = readRmw<1>(c, m, r, addr);
        logicFlags<1>(c, d);
        if (m == 0) {
            setDreg<1>(c, r, d | 0x80);
        } else {
            c.cycles_ += 2; // an indivisible read-modify-write cycle: the write follows at once
            wr8(c, addr, d | 0x80);
        }
    }

    static void scc(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        bool t = cond(c, (op >> 8) & 15);
        if (m == 0) {
            setDreg<1>(c, r, t ? 0xFF : 0);
            if (t) c.cycles_ += 2;
            return;
        }
        uint32_t addr = 0;
        readRmw<1>(c, m, r, addr);
        prefetchNow(c);
        wr8(c, addr, t ? 0xFF : 0);
    }

    static void mulu(Cpu& c, uint32_t op) {
        uint32_t s = readEa<2>(c, modeOf(op), regOf(op));
        uint32_t& d = c.r_[reg9(op)];
        uint32_t res = (d & 0xFFFF) * s;
        d = res;
        logicFlags<4>(c, res);
        c.cycles_ += 34 + 2 * __builtin_popcount(s);
    }
    static void muls(Cpu& c, uint32_t op) {
        uint32_t s = readEa<2>(c, modeOf(op), regOf(op));
        uint32_t& d = c.r_[reg9(op)];
        int32_t res = static_cast<int32_t>(static_cast<int16_t>(d)) * static_cast<int16_t>(s);
        d = static_cast<uint32_t>(res);
        logicFlags<4>(c, d);
        uint32_t pattern = (s << 1) ^ s; // bit pairs (with an appended zero) that differ
        c.cycles_ += 34 + 2 * __builtin_popcount(pattern & 0xFFFF);
    }

    static int divuCycles(uint32_t dividend, uint32_t divisor) {
        int mcycles = 38;
        uint32_t hdivisor = divisor << 16;
        for (int i = 0; i < 15; ++i) {
            uint32_t temp = dividend;
            dividend <<= 1;
            if (temp & 0x80000000u) {
                dividend -= hdivisor;
            } else {
                mcycles += 2;
                if (dividend >= hdivisor) {
                    dividend -= hdivisor;
                    mcycles--;
                }
            }
        }
        return mcycles * 2;
    }

    static void divu(Cpu& c, uint32_t op) {
        uint32_t s = readEa<2>(c, modeOf(op), regOf(op));
        uint32_t& d = c.r_[reg9(op)];
        if (s == 0) {
            divZero(c);
            return;
        }
        if ((d >> 16) >= s) {
            c.vf_ = 1;
            c.cf_ = 0;
            c.nf_ = 1;
            c.zf_ = 0;
            c.cycles_ += 6;
            return;
        }
        uint32_t q = d / s, rem = d % s;
        c.cycles_ += divuCycles(d, s) - 4;
        d = rem << 16 | q;
        logicFlags<2>(c, q);
    }

    static void divs(Cpu& c, uint32_t op) {
        uint32_t s = readEa<2>(c, modeOf(op), regOf(op));
        uint32_t& d = c.r_[reg9(op)];
        if (s == 0) {
            divZero(c);
            return;
        }
        int32_t dividend = static_cast<int32_t>(d);
        int32_t divisor = static_cast<int16_t>(s);
        int mcycles = 6;
        if (dividend < 0) mcycles++;
        uint32_t adividend = dividend < 0 ? 0u - static_cast<uint32_t>(dividend) : dividend;
        uint32_t adivisor = divisor < 0 ? static_cast<uint32_t>(-divisor) : divisor;
        if ((adividend >> 16) >= adivisor) {
            c.vf_ = 1;
            c.cf_ = 0;
            c.nf_ = 1;
            c.zf_ = 0;
            c.cycles_ += (mcycles + 2) * 2 - 4;
            return;
        }
        uint32_t aq = adividend / adivisor;
        mcycles += 55;
        if (divisor >= 0) mcycles += dividend >= 0 ? -1 : 1;
        for (int i = 0; i < 15; ++i) {
            if (!(aq & 0x8000)) mcycles++;
            aq <<= 1;
        }
        c.cycles_ += mcycles * 2 - 4;
        int64_t q = static_cast<int64_t>(dividend) / divisor;
        int64_t rem = static_cast<int64_t>(dividend) % divisor;
        if (q > 32767 || q < -32768) {
            c.vf_ = 1;
            c.cf_ = 0;
            c.nf_ = 1;
            c.zf_ = 0;
            return;
        }
        d = (static_cast<uint32_t>(rem) & 0xFFFF) << 16 | (static_cast<uint32_t>(q) & 0xFFFF);
        logicFlags<2>(c, static_cast<uint32_t>(q));
    }

    static void divZero(Cpu& c) {
        c.cf_ = 0;
        c.cycles_ += 4; // internal cycles before the trap
        c.exception(kVecZeroDivide, c.pc_, 2, 6);
    }

    static void chk(Cpu& c, uint32_t op) {
        int32_t bound = static_cast<int16_t>(readEa<2>(c, modeOf(op), regOf(op)));
        int32_t v = static_cast<int16_t>(c.r_[reg9(op)]);
        c.cycles_ += 6;
        c.nf_ = v < 0;
        c.zf_ = v == 0;
        c.vf_ = 0;
        c.cf_ = 0;
        if (v > bound) {
            c.exception(kVecChk, c.pc_, 2, 6);
        } else if (v < 0) {
            // the bound comparison's 16-bit difference decides whether two more cycles pass
            uint32_t diff = static_cast<uint32_t>(v - bound) & 0xFFFF;
            if (diff == 0 || (diff & 0x8000)) c.cycles_ += 2;
            c.exception(kVecChk, c.pc_, 2, 6);
        }
    }

    // ------------------------------------------------------------------ BCD
    static uint32_t abcd(Cpu& c, uint32_t s, uint32_t d) {
        uint32_t x = c.xf_;
        uint32_t bin = s + d + x;
        uint32_t res = bin;
        if (((s & 0xF) + (d & 0xF) + x) > 9) res += 6;
        if (res > 0x9F) {
            res += 0x60;
            c.cf_ = c.xf_ = 1;
        } else {
            c.cf_ = c.xf_ = 0;
        }
        c.vf_ = ((~bin & res) & 0x80) != 0;
        res &= 0xFF;
        c.nf_ = (res & 0x80) != 0;
        if (res) c.zf_ = 0;
        return res;
    }
    static uint32_t sbcd(Cpu& c, uint32_t s, uint32_t d) {
        uint32_t x = c.xf_;
        uint32_t bin = d - s - x;
        uint32_t res = bin;
        if ((d & 0xF) < (s & 0xF) + x) res -= 6; // borrow out of the low digit
        if (bin & 0x100) res -= 0x60;
        c.cf_ = c.xf_ = ((bin | res) & 0x100) != 0;
        c.vf_ = ((bin & ~res) & 0x80) != 0;
        res &= 0xFF;
        c.nf_ = (res & 0x80) != 0;
        if (res) c.zf_ = 0;
        return res;
    }

    template <bool Sub> static void bcdOp(Cpu& c, uint32_t op) {
        int ry = regOf(op), rx = reg9(op);
        if (op & 8) {
            c.cycles_ += 2;
            c.r_[8 + ry] -= step<1>(ry);
            uint32_t s = rd8(c, c.r_[8 + ry]);
            c.r_[8 + rx] -= step<1>(rx);
            uint32_t d = rd8(c, c.r_[8 + rx]);
            uint32_t res = Sub ? sbcd(c, s, d) : abcd(c, s, d);
            prefetchNow(c);
            wr8(c, c.r_[8 + rx], res);
        } else {
            uint32_t res = Sub ? sbcd(c, c.r_[ry] & 0xFF, c.r_[rx] & 0xFF)
                               : abcd(c, c.r_[ry] & 0xFF, c.r_[rx] & 0xFF);
            setDreg<1>(c, rx, res);
            c.cycles_ += 2;
        }
    }

    static void nbcd(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        uint32_t addr = 0;
        uint32_t d = readRmw<1>(c, m, r, addr);
        uint32_t res = sbcd(c, d, 0);
        writeRmw<1>(c, m, r, addr, res);
        if (m == 0) c.cycles_ += 2;
    }

    // ------------------------------------------------------------------ shifts and rotates
    template <int S> static uint32_t shift(Cpu& c, int type, bool left, uint32_t d, uint32_t cnt) {
        constexpr int n = S * 8;
        d &= sizeMask<S>();
        uint32_t res = d;
        if (cnt == 0) {
            c.vf_ = 0;
            c.cf_ = type == 2 ? c.xf_ : 0;
            setNZ<S>(c, d);
            return d;
        }
        c.vf_ = 0;
        switch (type) {
        case 0: // arithmetic
            if (left) {
                res = cnt < static_cast<uint32_t>(n) ? (d << cnt) & sizeMask<S>() : 0;
                c.cf_ = c.xf_ = cnt <= static_cast<uint32_t>(n) ? (d >> (n - cnt)) & 1 : 0;
                if (cnt >= static_cast<uint32_t>(n)) {
                    c.vf_ = d != 0;
                } else {
                    uint32_t m =
                        static_cast<uint32_t>(((uint64_t(1) << (cnt + 1)) - 1) << (n - cnt - 1));
                    c.vf_ = (d & m) != 0 && (d & m) != m;
                }
            } else {
                int64_t sd = signExtend<S>(d);
                if (cnt >= static_cast<uint32_t>(n)) {
                    res = sd < 0 ? sizeMask<S>() : 0;
                    c.cf_ = c.xf_ = sd < 0;
                } else {
                    res = static_cast<uint32_t>(sd >> cnt) & sizeMask<S>();
                    c.cf_ = c.xf_ = (sd >> (cnt - 1)) & 1;
                }
            }
            break;
        case 1: // logical
            if (left) {
                res = cnt < static_cast<uint32_t>(n) ? (d << cnt) & sizeMask<S>() : 0;
                c.cf_ = c.xf_ = cnt <= static_cast<uint32_t>(n) ? (d >> (n - cnt)) & 1 : 0;
            } else {
                res = cnt < static_cast<uint32_t>(n) ? d >> cnt : 0;
                c.cf_ = c.xf_ = cnt <= static_cast<uint32_t>(n) ? (d >> (cnt - 1)) & 1 : 0;
            }
            break;
        case 2: { // rotate through X
            uint32_t k = cnt % (n + 1);
            uint32_t x = c.xf_;
            for (uint32_t i = 0; i < k; ++i) {
                if (left) {
                    uint32_t out = (res >> (n - 1)) & 1;
                    res = ((res << 1) | x) & sizeMask<S>();
                    x = out;
                } else {
                    uint32_t out = res & 1;
                    res = (res >> 1) | (x << (n - 1));
                    x = out;
                }
            }
            c.xf_ = c.cf_ = x;
            break;
        }
        default: { // rotate
            uint32_t k = cnt % n;
            if (k) {
                res = left ? ((d << k) | (d >> (n - k))) : ((d >> k) | (d << (n - k)));
                res &= sizeMask<S>();
            }
            c.cf_ = left ? (res & 1) : (res >> (n - 1)) & 1;
            break;
        }
        }
        setNZ<S>(c, res);
        return res;
    }

    template <int S> static void shiftReg(Cpu& c, uint32_t op) {
        uint32_t cnt = (op & 0x20) ? (c.r_[reg9(op)] & 63) : (reg9(op) ? reg9(op) : 8);
        int r = regOf(op);
        uint32_t res = shift<S>(c, (op >> 3) & 3, (op & 0x100) != 0, c.r_[r], cnt);
        setDreg<S>(c, r, res);
        c.cycles_ += (S == 4 ? 4 : 2) + 2 * cnt;
    }

    static void shiftMem(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        uint32_t addr = 0;
        uint32_t d = readRmw<2>(c, m, r, addr);
        uint32_t res = shift<2>(c, (op >> 9) & 3, (op & 0x100) != 0, d, 1);
        writeRmw<2>(c, m, r, addr, res);
    }

    // ------------------------------------------------------------------ bit operations
    // K: 0 BTST, 1 BCHG, 2 BCLR, 3 BSET
    template <int K, bool Imm, int M> static void bitOp(Cpu& c, uint32_t op) {
        uint32_t num = Imm ? fetch(c) & 0xFF : c.r_[reg9(op)];
        constexpr int m = M;
        int r = regOf(op);
        if (m == 0) {
            num &= 31;
            uint32_t bit = 1u << num;
            uint32_t& d = c.r_[r];
            c.zf_ = (d & bit) == 0;
            if constexpr (K == 0) {
                c.cycles_ += 2;
            } else {
                if (K == 1)
                    d ^= bit;
                else if (K == 2)
                    d &= ~bit;
                else
                    d |= bit;
                c.cycles_ += (K == 2 ? 4 : 2) + (num >= 16 ? 2 : 0);
            }
            return;
        }
        num &= 7;
        uint32_t bit = 1u << num;
        if constexpr (K == 0) {
            uint32_t d = readEa<1>(c, m, r);
            c.zf_ = (d & bit) == 0;
            if (m == 7 && r == 4) c.cycles_ += 2;
        } else {
            uint32_t addr = 0;
            uint32_t d = readRmw<1>(c, m, r, addr);
            c.zf_ = (d & bit) == 0;
            if (K == 1)
                d ^= bit;
            else if (K == 2)
                d &= ~bit;
            else
                d |= bit;
            prefetchNow(c);
            wr8(c, addr, d);
        }
    }

    // ------------------------------------------------------------------ program control
    static void bcc(Cpu& c, uint32_t op) {
        uint32_t base = c.pc_;
        int32_t disp = static_cast<int8_t>(op);
        bool word = disp == 0;
        if (word) disp = static_cast<int16_t>(fetch(c));
        if (cond(c, (op >> 8) & 15)) {
            c.cycles_ += word ? 2 : 6;
            jump(c, base + static_cast<uint32_t>(disp), base, 6);
        } else {
            c.cycles_ += 4;
        }
    }

    static void bsr(Cpu& c, uint32_t op) {
        uint32_t base = c.pc_;
        int32_t disp = static_cast<int8_t>(op);
        bool word = disp == 0;
        if (word) {
            disp = static_cast<int16_t>(fetch(c));
            c.cycles_ -= 4; // the word was in the prefetch queue; its refill comes last
        }
        uint32_t target = base + static_cast<uint32_t>(disp);
        c.aePc_ = c.pc_ + 2;
        c.cycles_ += 2;
        push32(c, c.pc_);
        c.cycles_ += 4;
        jump(c, target, target, 14);
    }

    static void dbcc(Cpu& c, uint32_t op) {
        uint32_t base = c.pc_;
        int32_t disp = static_cast<int16_t>(fetch(c));
        if (cond(c, (op >> 8) & 15)) {
            c.cycles_ += 4;
            return;
        }
        int r = regOf(op);
        uint32_t cnt = (c.r_[r] - 1) & 0xFFFF;
        if (cnt != 0xFFFF) {
            c.cycles_ += 2;
            jump(c, base + static_cast<uint32_t>(disp), c.pc_, 6); // a fault keeps Dn
        } else {
            c.cycles_ += 6;
        }
        setDreg<2>(c, r, cnt);
    }

    // Cycles a JMP/JSR has used when the fetch at an odd target fails, by mode index.
    static constexpr int kJumpFault[12] = {0, 0, 4, 0, 0, 6, 10, 6, 8, 6, 10, 0};

    static void jmp(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        uint32_t start = c.pc_;
        uint32_t a = controlAddr(c, m, r);
        static const int extra[12] = {0, 0, 4, 0, 0, 2, 4, 2, 0, 2, 4, 0};
        int idx = m == 7 ? 7 + r : m;
        c.cycles_ += extra[idx];
        jump(c, a, start, kJumpFault[idx]);
    }

    static void jsr(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        uint32_t start = c.pc_;
        uint32_t a = controlAddr(c, m, r);
        static const int extra[12] = {0, 0, 4, 0, 0, 2, 4, 2, 0, 2, 4, 0};
        int idx = m == 7 ? 7 + r : m;
        c.cycles_ += extra[idx];
        uint32_t ret = c.pc_;
        jump(c, a, m == 2 ? start : ret, kJumpFault[idx]); // the target is checked first
        c.aePc_ = ret + 2;
        push32(c, ret);
    }

    static void rts(Cpu& c, uint32_t) {
        uint32_t start = c.pc_;
        c.aePc_ = c.pc_ + 2;
        uint32_t a = pop32(c);
        c.cycles_ += 4;
        jump(c, a, start, 12);
    }

    static void rtr(Cpu& c, uint32_t) {
        uint32_t start = c.pc_;
        c.aePc_ = c.pc_ + 2;
        uint32_t ccr = pop16(c);
        uint32_t a = pop32(c);
        c.setSr(static_cast<uint16_t>((c.sr() & 0xFF00) | (ccr & 0x1F)));
        c.cycles_ += 4;
        jump(c, a, start, 16);
    }

    static void rte(Cpu& c, uint32_t) {
        if (!supervisor(c)) return privilege(c);
        uint32_t start = c.pc_;
        c.aePc_ = c.pc_ + 2;
        uint32_t sr = pop16(c);
        uint32_t a = pop32(c);
        c.setSr(static_cast<uint16_t>(sr));
        c.cycles_ += 4;
        jump(c, a, start, 16);
    }

    static void link(Cpu& c, uint32_t op) {
        int r = regOf(op);
        int32_t disp = static_cast<int16_t>(fetch(c));
        c.aePc_ = c.pc_ + 2;
        push32(c, c.r_[8 + r]); // LINK A7 stores A7 as it was before the push
        c.r_[8 + r] = c.r_[15];
        c.r_[15] += static_cast<uint32_t>(disp);
    }

    static void unlk(Cpu& c, uint32_t op) {
        int r = regOf(op);
        c.aePc_ = c.pc_ + 2;
        uint32_t a = c.r_[8 + r];
        uint32_t v = rd32(c, a);
        c.r_[15] = a + 4;
        c.r_[8 + r] = v;
    }

    static void trap(Cpu& c, uint32_t op) { c.exception(kVecTrap0 + (op & 15), c.pc_, 4, 6); }

    static void trapv(Cpu& c, uint32_t) {
        if (c.vf_) c.exception(kVecTrapv, c.pc_, 4, 6);
    }

    static void nop(Cpu&, uint32_t) {}

    static void reset(Cpu& c, uint32_t) {
        if (!supervisor(c)) return privilege(c);
        if (c.bus_.resetDevices) c.bus_.resetDevices(c.bus_.ctx);
        c.cycles_ += 128;
    }

    static void stop(Cpu& c, uint32_t) {
        if (!supervisor(c)) return privilege(c);
        uint32_t v = fetch(c);
        c.cycles_ -= 4; // STOP takes 4 cycles in all: the queue is not refilled
        c.setSr(static_cast<uint16_t>(v));
        c.stopped_ = true;
    }

    static void moveUsp(Cpu& c, uint32_t op) {
        if (!supervisor(c)) return privilege(c);
        if (op & 8)
            c.r_[8 + regOf(op)] = c.otherSp_;
        else
            c.otherSp_ = c.r_[8 + regOf(op)];
    }

    static void moveFromSr(Cpu& c, uint32_t op) {
        int m = modeOf(op), r = regOf(op);
        if (m == 0) {
            setDreg<2>(c, r, c.sr());
            c.cycles_ += 2;
            return;
        }
        uint32_t addr = 0;
        readRmw<2>(c, m, r, addr);
        prefetchNow(c);
        wr16(c, addr, c.sr());
    }

    static void moveToCcr(Cpu& c, uint32_t op) {
        uint32_t v = readEa<2>(c, modeOf(op), regOf(op));
        c.setSr(static_cast<uint16_t>((c.sr() & 0xFF00) | (v & 0x1F)));
        c.cycles_ += 8;
    }

    static void moveToSr(Cpu& c, uint32_t op) {
        if (!supervisor(c)) return privilege(c);
        uint32_t v = readEa<2>(c, modeOf(op), regOf(op));
        c.setSr(static_cast<uint16_t>(v));
        c.cycles_ += 8;
    }

    // K: kOr, kAnd, kEor
    template <int K, bool Sr> static void logicToSr(Cpu& c, uint32_t) {
        if (Sr && !supervisor(c)) return privilege(c);
        uint32_t v = fetch(c);
        uint32_t cur = c.sr();
        uint32_t res = K == kOr ? (cur | v) : K == kAnd ? (cur & v) : (cur ^ v);
        if (!Sr) res = (cur & 0xFF00) | (res & 0xFF); // the CCR forms leave the system byte
        c.setSr(static_cast<uint16_t>(res));
        c.cycles_ += 12;
    }

    static void lineA(Cpu& c, uint32_t) { c.exception(kVecLineA, c.instrPc_, 4, 6); }
    static void lineF(Cpu& c, uint32_t) { c.exception(kVecLineF, c.instrPc_, 4, 6); }
    static void illegalOp(Cpu& c, uint32_t op) { illegal(c, op); }
};

void Exec::illegal(Cpu& c, uint32_t) {
    c.exception(kVecIllegal, c.instrPc_, 4, 6);
}
void Exec::privilege(Cpu& c) {
    c.exception(kVecPrivilege, c.instrPc_, 4, 6);
}

// ---------------------------------------------------------------------- decoding
namespace {

enum : unsigned {
    kDn = 1,
    kAn = 2,
    kInd = 4,
    kPost = 8,
    kPre = 16,
    kD16 = 32,
    kD8 = 64,
    kAbsW = 128,
    kAbsL = 256,
    kPcD16 = 512,
    kPcD8 = 1024,
    kImm = 2048,
    kAll = 4095,
    kData = kAll & ~kAn,
    kMem = kAll & ~(kDn | kAn),
    kControl = kInd | kD16 | kD8 | kAbsW | kAbsL | kPcD16 | kPcD8,
    kAlt = kDn | kAn | kInd | kPost | kPre | kD16 | kD8 | kAbsW | kAbsL,
    kDataAlt = kAlt & ~kAn,
    kMemAlt = kDataAlt & ~kDn,
};

bool eaOk(uint32_t op, unsigned cls) {
    int m = (op >> 3) & 7, r = op & 7;
    unsigned bit = m < 7 ? (1u << m) : (r < 5 ? (128u << r) : 0u);
    return (bit & cls) != 0;
}

using H = Exec::Handler;

// Handler families specialised per size S, kind K and effective-address mode M: byMode picks
// the instance for an opcode's mode field, so the addressing switches fold away.
struct AluToRegF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::aluToReg<S, K, M>; }
};
struct AluToEaF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::aluToEa<S, K, M>; }
};
struct AluImmF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::aluImm<S, K, M>; }
};
struct UnaryF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::unary<S, K, M>; }
};
struct AddqF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::addq<S, K != 0, M>; }
};
struct TstF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::tst<S, M>; }
};
struct LeaF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::lea<M>; }
};
struct BitOpF { // S is the operation, K whether the bit number is immediate
    template <int S, int K, int M> static constexpr H get() { return &Ops::bitOp<S, K != 0, M>; }
};
struct AddaF {
    template <int S, int K, int M> static constexpr H get() { return &Ops::adda<S, K, M>; }
};

template <class F, int S, int K, int... M>
constexpr std::array<H, 8> modeTable(std::integer_sequence<int, M...>) {
    return {F::template get<S, K, M>()...};
}

template <class F, int S, int K> H byMode(uint32_t op) {
    static constexpr std::array<H, 8> kTable =
        modeTable<F, S, K>(std::make_integer_sequence<int, 8>{});
    return kTable[(op >> 3) & 7];
}

template <class F, int K> H bySize(int s, uint32_t op) {
    return s == 0 ? byMode<F, 1, K>(op) : s == 1 ? byMode<F, 2, K>(op) : byMode<F, 4, K>(op);
}

template <int K> H aluToRegFor(int s, uint32_t op) {
    return bySize<AluToRegF, K>(s, op);
}
template <int K> H aluToEaFor(int s, uint32_t op) {
    return bySize<AluToEaF, K>(s, op);
}
template <int K> H aluImmFor(int s, uint32_t op) {
    return bySize<AluImmF, K>(s, op);
}
template <int K> H unaryFor(int s, uint32_t op) {
    return bySize<UnaryF, K>(s, op);
}

H decodeLine0(uint32_t op) {
    int s = (op >> 6) & 3;
    if (op & 0x100) {
        if (((op >> 3) & 7) == 1) {
            switch (s) {
            case 0:
            case 2:
                return &Ops::movep<2>;
            default:
                return &Ops::movep<4>;
            }
        }
        switch (s) {
        case 0:
            return eaOk(op, kData) ? byMode<BitOpF, 0, 0>(op) : nullptr;
        case 1:
            return eaOk(op, kDataAlt) ? byMode<BitOpF, 1, 0>(op) : nullptr;
        case 2:
            return eaOk(op, kDataAlt) ? byMode<BitOpF, 2, 0>(op) : nullptr;
        default:
            return eaOk(op, kDataAlt) ? byMode<BitOpF, 3, 0>(op) : nullptr;
        }
    }
    int kind = (op >> 9) & 7;
    if (kind == 4) {
        switch (s) {
        case 0:
            return eaOk(op, kData & ~kImm) ? byMode<BitOpF, 0, 1>(op) : nullptr;
        case 1:
            return eaOk(op, kDataAlt) ? byMode<BitOpF, 1, 1>(op) : nullptr;
        case 2:
            return eaOk(op, kDataAlt) ? byMode<BitOpF, 2, 1>(op) : nullptr;
        default:
            return eaOk(op, kDataAlt) ? byMode<BitOpF, 3, 1>(op) : nullptr;
        }
    }
    if (s == 3) return nullptr;
    if ((op & 0x3F) == 0x3C && (kind == 0 || kind == 1 || kind == 5)) {
        if (s == 2) return nullptr;
        bool sr = s == 1;
        switch (kind) {
        case 0:
            return sr ? &Ops::logicToSr<kOr, true> : &Ops::logicToSr<kOr, false>;
        case 1:
            return sr ? &Ops::logicToSr<kAnd, true> : &Ops::logicToSr<kAnd, false>;
        default:
            return sr ? &Ops::logicToSr<kEor, true> : &Ops::logicToSr<kEor, false>;
        }
    }
    switch (kind) {
    case 0:
        return eaOk(op, kDataAlt) ? aluImmFor<kOr>(s, op) : nullptr;
    case 1:
        return eaOk(op, kDataAlt) ? aluImmFor<kAnd>(s, op) : nullptr;
    case 2:
        return eaOk(op, kDataAlt) ? aluImmFor<kSub>(s, op) : nullptr;
    case 3:
        return eaOk(op, kDataAlt) ? aluImmFor<kAdd>(s, op) : nullptr;
    case 5:
        return eaOk(op, kDataAlt) ? aluImmFor<kEor>(s, op) : nullptr;
    case 6:
        return eaOk(op, kDataAlt) ? aluImmFor<kCmp>(s, op) : nullptr;
    default:
        return nullptr;
    }
}

template <int S, int... M> constexpr std::array<H, 64> moveTable(std::integer_sequence<int, M...>) {
    return {&Ops::move<S, (M & 7), (M / 8)>...};
}

template <int S> H moveFor(uint32_t op) {
    static constexpr std::array<H, 64> kTable = moveTable<S>(std::make_integer_sequence<int, 64>{});
    return kTable[(op >> 3 & 7) | ((op >> 6 & 7) << 3)];
}

H decodeMove(uint32_t op) {
    int line = op >> 12;
    int dm = (op >> 6) & 7, dr = (op >> 9) & 7;
    uint32_t dest = static_cast<uint32_t>(dm << 3 | dr);
    if (line == 1) {
        if (!eaOk(op, kData) || dm == 1 || !eaOk(dest, kDataAlt)) return nullptr;
        return moveFor<1>(op);
    }
    if (!eaOk(op, kAll) || !eaOk(dest, kAlt)) return nullptr;
    return line == 2 ? moveFor<4>(op) : moveFor<2>(op);
}

H decodeLine4(uint32_t op) {
    int s = (op >> 6) & 3;
    if (op & 0x100) {
        if (s == 2) return eaOk(op, kData) ? &Ops::chk : nullptr;
        if (s == 3) return eaOk(op, kControl) ? byMode<LeaF, 0, 0>(op) : nullptr;
        return nullptr;
    }
    switch ((op >> 8) & 15) {
    case 0x0:
        if (s == 3) return eaOk(op, kDataAlt) ? &Ops::moveFromSr : nullptr;
        return eaOk(op, kDataAlt) ? unaryFor<0>(s, op) : nullptr;
    case 0x2:
        if (s == 3) return nullptr;
        return eaOk(op, kDataAlt) ? unaryFor<1>(s, op) : nullptr;
    case 0x4:
        if (s == 3) return eaOk(op, kData) ? &Ops::moveToCcr : nullptr;
        return eaOk(op, kDataAlt) ? unaryFor<2>(s, op) : nullptr;
    case 0x6:
        if (s == 3) return eaOk(op, kData) ? &Ops::moveToSr : nullptr;
        return eaOk(op, kDataAlt) ? unaryFor<3>(s, op) : nullptr;
    case 0x8: {
        int m = (op >> 3) & 7;
        switch (s) {
        case 0:
            return eaOk(op, kDataAlt) ? &Ops::nbcd : nullptr;
        case 1:
            if (m == 0) return &Ops::swap;
            return eaOk(op, kControl) ? &Ops::pea : nullptr;
        case 2:
            if (m == 0) return &Ops::extw;
            return eaOk(op, kControl | kPre) && !eaOk(op, kPcD16 | kPcD8) ? &Ops::movemToMem<2>
                                                                          : nullptr;
        default:
            if (m == 0) return &Ops::extl;
            return eaOk(op, kControl | kPre) && !eaOk(op, kPcD16 | kPcD8) ? &Ops::movemToMem<4>
                                                                          : nullptr;
        }
    }
    case 0xA:
        if (op == 0x4AFC) return nullptr;
        if (s == 3) return eaOk(op, kDataAlt) ? &Ops::tas : nullptr;
        return eaOk(op, kDataAlt) ? bySize<TstF, 0>(s, op) : nullptr;
    case 0xC:
        if (s == 2) return eaOk(op, kControl | kPost) ? &Ops::movemToReg<2> : nullptr;
        if (s == 3) return eaOk(op, kControl | kPost) ? &Ops::movemToReg<4> : nullptr;
        return nullptr;
    case 0xE:
        if (s == 1) {
            int sub = (op >> 3) & 7;
            switch (sub) {
            case 0:
            case 1:
                return &Ops::trap;
            case 2:
                return &Ops::link;
            case 3:
                return &Ops::unlk;
            case 4:
            case 5:
                return &Ops::moveUsp;
            default:
                switch (op & 0xFFFF) {
                case 0x4E70:
                    return &Ops::reset;
                case 0x4E71:
                    return &Ops::nop;
                case 0x4E72:
                    return &Ops::stop;
                case 0x4E73:
                    return &Ops::rte;
                case 0x4E75:
                    return &Ops::rts;
                case 0x4E76:
                    return &Ops::trapv;
                case 0x4E77:
                    return &Ops::rtr;
                default:
                    return nullptr;
                }
            }
        }
        if (s == 2) return eaOk(op, kControl) ? &Ops::jsr : nullptr;
        if (s == 3) return eaOk(op, kControl) ? &Ops::jmp : nullptr;
        return nullptr;
    default:
        return nullptr;
    }
}

H decodeLine5(uint32_t op) {
    int s = (op >> 6) & 3;
    if (s == 3) {
        if (((op >> 3) & 7) == 1) return &Ops::dbcc;
        return eaOk(op, kDataAlt) ? &Ops::scc : nullptr;
    }
    if (!eaOk(op, kAlt)) return nullptr;
    if (s == 0 && ((op >> 3) & 7) == 1) return nullptr;
    bool sub = op & 0x100;
    return sub ? bySize<AddqF, 1>(s, op) : bySize<AddqF, 0>(s, op);
}

// Lines 8, 9, B, C, D: the two-operand arithmetic groups.
H decodeArith(uint32_t op) {
    int line = op >> 12;
    int opmode = (op >> 6) & 7;
    int m = (op >> 3) & 7;
    int s = opmode & 3;
    switch (line) {
    case 0x8: // OR, DIVU, DIVS, SBCD
        if (opmode == 3) return eaOk(op, kData) ? &Ops::divu : nullptr;
        if (opmode == 7) return eaOk(op, kData) ? &Ops::divs : nullptr;
        if (opmode == 4 && m <= 1) return &Ops::bcdOp<true>;
        if (opmode < 3) return eaOk(op, kData) ? aluToRegFor<kOr>(s, op) : nullptr;
        return eaOk(op, kMemAlt) ? aluToEaFor<kOr>(s, op) : nullptr;
    case 0xC: // AND, MULU, MULS, ABCD, EXG
        if (opmode == 3) return eaOk(op, kData) ? &Ops::mulu : nullptr;
        if (opmode == 7) return eaOk(op, kData) ? &Ops::muls : nullptr;
        if (opmode == 4 && m <= 1) return &Ops::bcdOp<false>;
        if ((opmode == 5 && m <= 1) || (opmode == 6 && m == 1)) return &Ops::exg;
        if (opmode < 3) return eaOk(op, kData) ? aluToRegFor<kAnd>(s, op) : nullptr;
        return eaOk(op, kMemAlt) ? aluToEaFor<kAnd>(s, op) : nullptr;
    case 0xB: // CMP, CMPA, CMPM, EOR
        if (opmode == 3) return eaOk(op, kAll) ? byMode<AddaF, 2, kCmp>(op) : nullptr;
        if (opmode == 7) return eaOk(op, kAll) ? byMode<AddaF, 4, kCmp>(op) : nullptr;
        if (opmode < 3) {
            if (s == 0 && m == 1) return nullptr;
            return eaOk(op, kAll) ? aluToRegFor<kCmp>(s, op) : nullptr;
        }
        if (m == 1) return s == 0 ? &Ops::cmpm<1> : s == 1 ? &Ops::cmpm<2> : &Ops::cmpm<4>;
        return eaOk(op, kDataAlt) ? aluToEaFor<kEor>(s, op) : nullptr;
    default: { // 0x9 SUB, 0xD ADD
        bool sub = line == 9;
        if (opmode == 3)
            return eaOk(op, kAll) ? (sub ? byMode<AddaF, 2, kSub>(op) : byMode<AddaF, 2, kAdd>(op))
                                  : nullptr;
        if (opmode == 7)
            return eaOk(op, kAll) ? (sub ? byMode<AddaF, 4, kSub>(op) : byMode<AddaF, 4, kAdd>(op))
                                  : nullptr;
        if (opmode < 3) {
            if (s == 0 && m == 1) return nullptr;
            if (!eaOk(op, kAll)) return nullptr;
            return sub ? aluToRegFor<kSub>(s, op) : aluToRegFor<kAdd>(s, op);
        }
        if (m <= 1) {
            constexpr H kAddx[2][2][3] = {
                {{&Ops::addx<1, false, false>, &Ops::addx<2, false, false>,
                  &Ops::addx<4, false, false>},
                 {&Ops::addx<1, false, true>, &Ops::addx<2, false, true>,
                  &Ops::addx<4, false, true>}},
                {{&Ops::addx<1, true, false>, &Ops::addx<2, true, false>,
                  &Ops::addx<4, true, false>},
                 {&Ops::addx<1, true, true>, &Ops::addx<2, true, true>, &Ops::addx<4, true, true>}},
            };
            return kAddx[sub ? 1 : 0][m][s];
        }
        if (!eaOk(op, kMemAlt)) return nullptr;
        return sub ? aluToEaFor<kSub>(s, op) : aluToEaFor<kAdd>(s, op);
    }
    }
}

H decodeLineE(uint32_t op) {
    int s = (op >> 6) & 3;
    if (s == 3) {
        if (op & 0x800) return nullptr;
        return eaOk(op, kMemAlt) ? &Ops::shiftMem : nullptr;
    }
    return s == 0 ? &Ops::shiftReg<1> : s == 1 ? &Ops::shiftReg<2> : &Ops::shiftReg<4>;
}

H decode(uint32_t op) {
    switch (op >> 12) {
    case 0x0:
        return decodeLine0(op);
    case 0x1:
    case 0x2:
    case 0x3:
        return decodeMove(op);
    case 0x4:
        return decodeLine4(op);
    case 0x5:
        return decodeLine5(op);
    case 0x6:
        return ((op >> 8) & 15) == 1 ? &Ops::bsr : &Ops::bcc;
    case 0x7:
        return (op & 0x100) ? nullptr : &Ops::moveq;
    case 0xA:
        return &Ops::lineA;
    case 0xE:
        return decodeLineE(op);
    case 0xF:
        return &Ops::lineF;
    default:
        return decodeArith(op);
    }
}

struct Table {
    H h[65536];
    Table() {
        for (uint32_t op = 0; op < 65536; ++op) {
            H f = decode(op);
            h[op] = f ? f : &Ops::illegalOp;
        }
    }
};

} // namespace

const Exec::Handler* Exec::table() {
    static const Table t;
    return t.h;
}

} // namespace m68k
