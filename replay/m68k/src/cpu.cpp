// The 68000 core: execution loop, exceptions, interrupts and the slow bus path.
#include "cpu_internal.h"

#include <utility>

namespace m68k {

Cpu::Cpu(const Bus& bus) : table_(Exec::table()), bus_(bus) {
    uint32_t hi = bus_.ramHi > 0x1000000u ? 0x1000000u : bus_.ramHi;
    hi &= ~1u;
    if (bus_.ram && hi > bus_.ramLo) ramSpan_ = hi - bus_.ramLo;
}

uint16_t Cpu::sr() const {
    return static_cast<uint16_t>((sr_ & 0xA700) | xf_ << 4 | nf_ << 3 | zf_ << 2 | vf_ << 1 | cf_);
}

void Cpu::setSr(uint16_t v) {
    attention_ = true;
    bool wasS = (sr_ & 0x2000) != 0;
    bool nowS = (v & 0x2000) != 0;
    if (wasS != nowS) std::swap(r_[15], otherSp_);
    sr_ = v & 0xA700;
    xf_ = (v >> 4) & 1;
    nf_ = (v >> 3) & 1;
    zf_ = (v >> 2) & 1;
    vf_ = (v >> 1) & 1;
    cf_ = v & 1;
}

void Cpu::setIpl(int level) {
    level &= 7;
    if (level == 7 && ipl_ != 7) nmiPending_ = true;
    ipl_ = level;
    attention_ = true;
}

uint32_t Cpu::slowRead(uint32_t addr, int size, Space space) {
    if (!bus_.read) return size == 1 ? 0xFFu : 0xFFFFu;
    const Fc fc = fcOf(space);
    uint32_t v = bus_.read(bus_.ctx, addr, size, fc);
    if (v == kBusError) busError(addr, true, fc);
    return size == 1 ? (v & 0xFF) : (v & 0xFFFF);
}

void Cpu::slowWrite(uint32_t addr, uint32_t v, int size, Space space) {
    if (!bus_.write) return;
    const Fc fc = fcOf(space);
    if (!bus_.write(bus_.ctx, addr, v, size, fc)) busError(addr, false, fc);
}

void Cpu::abortInstruction() {
    // An instruction abandoned without its exception frame never refills the queue.
    if (prefetchDue_) {
        cycles_ -= 4;
        prefetchDue_ = false;
    }
    // Every entry point (run, step, reset) installs a landing buffer before touching the bus.
    std::longjmp(*jmp_, 1);
}

void Cpu::addressError(uint32_t addr, bool read, Space space) {
    cycles_ += 4;
    group0(kVecAddressError, addr, read, fcOf(space));
}

void Cpu::busError(uint32_t addr, bool read, Fc fc) {
    cycles_ += 4;
    group0(kVecBusError, addr, read, fc);
}

void Cpu::group0(int vec, uint32_t addr, bool read, Fc fc) {
    attention_ = true;
    if (inGroup0_) { // a fault while stacking a fault: the processor halts
        halted_ = true;
        inGroup0_ = false;
        abortInstruction();
    }
    if (bus_.exception) {
        pc_ = aePc_;
        ExceptionAction act = bus_.exception(bus_.ctx, *this, vec);
        if (act == ExceptionAction::Halt) halted_ = true;
        if (act != ExceptionAction::Take) abortInstruction();
    }
    inGroup0_ = true;
    traceNext_ = false;
    tracePending_ = false;
    uint16_t old = sr();
    if (!(sr_ & 0x2000)) std::swap(r_[15], otherSp_);
    sr_ = (sr_ | 0x2000) & ~0x8000;
    cycles_ += 8;
    uint32_t status = (ir_ & 0xFFE0u) | (read ? 0x10u : 0u) | static_cast<uint32_t>(fc);
    uint32_t sp = r_[15] - 14;
    r_[15] = sp;
    Exec::wr16(*this, sp + 12, aePc_);
    Exec::wr16(*this, sp + 8, old);
    Exec::wr16(*this, sp + 10, aePc_ >> 16);
    Exec::wr16(*this, sp + 6, ir_);
    Exec::wr16(*this, sp + 4, addr);
    Exec::wr16(*this, sp + 0, status);
    Exec::wr16(*this, sp + 2, addr >> 16);
    uint32_t target = Exec::rd32(*this, static_cast<uint32_t>(vec) * 4);
    cycles_ += 6;
    prefetchDue_ = false; // the abandoned instruction's closing prefetch is part of the 50 cycles
    if (target & 1) {
        halted_ = true;
        inGroup0_ = false;
        abortInstruction();
    }
    pc_ = target;
    inGroup0_ = false;
    abortInstruction();
}

bool Cpu::exception(int vec, uint32_t pushPc, int before, int after) {
    attention_ = true;
    if (vec == kVecIllegal || vec == kVecPrivilege || vec == kVecLineA || vec == kVecLineF)
        traceNext_ = false;
    if (bus_.exception) {
        uint32_t resume = pc_;
        pc_ = pushPc;
        ExceptionAction act = bus_.exception(bus_.ctx, *this, vec);
        if (act == ExceptionAction::Halt) {
            halted_ = true;
            return false;
        }
        if (act == ExceptionAction::Skip) return false;
        pc_ = resume;
    }
    uint16_t old = sr();
    if (!(sr_ & 0x2000)) std::swap(r_[15], otherSp_);
    sr_ = (sr_ | 0x2000) & ~0x8000;
    cycles_ += before;
    aePc_ = pushPc;
    uint32_t sp = r_[15] - 6;
    r_[15] = sp;
    Exec::wr16(*this, sp + 4, pushPc);
    Exec::wr16(*this, sp, old);
    Exec::wr16(*this, sp + 2, pushPc >> 16);
    uint32_t target = Exec::rd32(*this, static_cast<uint32_t>(vec) * 4);
    cycles_ += after;
    Exec::jump(*this, target, target, -1);
    return true;
}

void Cpu::takeInterrupt(int level) {
    stopped_ = false;
    if (level == 7) nmiPending_ = false;
    int vec = kVecAutovector1 + level - 1;
    if (bus_.acknowledge) {
        int v = bus_.acknowledge(bus_.ctx, level);
        if (v == kSpurious)
            vec = kVecSpurious;
        else if (v >= 0)
            vec = v & 0xFF;
    }
    instrPc_ = pc_;
    uint16_t mask = static_cast<uint16_t>(level << 8);
    traceNext_ = false;
    if (exception(vec, pc_, 14, 10))
        sr_ = (sr_ & ~0x700) | mask;
    else
        cycles_ += 44; // the acknowledge happened even when the host handled the rest
}

// Trace, interrupts and the stopped state, checked before each instruction. Returns true
// when the slot was used (an exception was taken, or the processor waits).
bool Cpu::serviceEvents() {
    if (tracePending_) {
        tracePending_ = false;
        exception(kVecTrace, pc_, 4, 10);
        return true;
    }
    if (nmiPending_ || ipl_ > ((sr_ >> 8) & 7)) {
        takeInterrupt(nmiPending_ ? 7 : ipl_);
        return true;
    }
    return stopped_;
}

// One instruction: the opcode from the queue, its handler, the queue refilled.
M68K_HOT void Cpu::dispatch(const Handler* table) {
    instrPc_ = pc_;
    instrCycles_ = cycles_;
    aePc_ = pc_;
    ir_ = static_cast<uint16_t>(Exec::fetchOpcode(*this));
    startPrefetch();
    table[ir_](*this, ir_);
    prefetchDue_ = false;
}

void Cpu::execInstruction() {
    traceNext_ = (sr_ & 0x8000) != 0;
    dispatch(table_);
    if (traceNext_) {
        traceNext_ = false;
        tracePending_ = true;
    }
}

void Cpu::execOne() {
    if (!serviceEvents()) execInstruction();
}

// The loop lives in its own function: everything live across the setjmp in run() has to stay in
// memory, while here the compiler may keep what it likes in registers.
M68K_NOINLINE void Cpu::runLoop() {
    const Handler* const table = table_; // in a register, not reloaded after every call
    while (cycles_ < runEnd_) {
        // Anything out of the ordinary (an event to serve, a trace bit, a stopped or halted
        // processor) takes the full path; plain instructions skip its bookkeeping.
        if (attention_) {
            if (halted_) break;
            if (serviceEvents()) {
                if (stopped_) { // nothing happens until an interrupt arrives
                    cycles_ = runEnd_;
                    break;
                }
            } else {
                execInstruction();
            }
            attention_ = needsAttention();
            continue;
        }
        dispatch(table);
    }
}

int Cpu::run(int budget) {
    // State that must survive a fault's longjmp lives in members, not in registers.
    runStart_ = cycles_;
    runEnd_ = cycles_ + budget;
    std::jmp_buf buf;
    jmpSaved_ = jmp_;
    jmp_ = &buf;
    setjmp(buf); // a faulting instruction lands here after its exception was processed
    attention_ = true;
    runLoop();
    jmp_ = jmpSaved_;
    return static_cast<int>(cycles_ - runStart_);
}

int Cpu::step() {
    const int64_t start = cycles_;
    std::jmp_buf buf;
    std::jmp_buf* const saved = jmp_;
    jmp_ = &buf;
    if (setjmp(buf) == 0 && !halted_) execOne();
    jmp_ = saved;
    return static_cast<int>(cycles_ - start);
}

void Cpu::reset() {
    std::jmp_buf buf;
    std::jmp_buf* const saved = jmp_;
    jmp_ = &buf;
    attention_ = true;
    halted_ = false;
    stopped_ = false;
    inGroup0_ = false;
    nmiPending_ = false;
    traceNext_ = false;
    tracePending_ = false;
    prefetchDue_ = false;
    if (!(sr_ & 0x2000)) std::swap(r_[15], otherSp_);
    sr_ = 0x2700;
    if (setjmp(buf) == 0) {
        inGroup0_ = true; // a fault while reading the vectors halts the processor
        ir_ = 0;
        uint32_t ssp = Exec::rd32(*this, 0);
        uint32_t pc = Exec::rd32(*this, 4);
        inGroup0_ = false;
        r_[15] = ssp;
        pc_ = pc;
        cycles_ += 24; // 40 cycles in all with the four reads
    }
    jmp_ = saved;
}

} // namespace m68k
