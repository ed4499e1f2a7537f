#include "machine/machine.h"

#include "ice/ice.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace replay::machine {
namespace {

// Host code at kHostCode (68000 machine code):
//   $800 rte                      default handler
//   $802 stop #$2300 / bra.s $802 idle loop
//   $810 jsr target.l             call trampoline (target patched at $812)
//   $816 illegal                  marks the return of a call
//   $820 addq.l #1,$4ba.w / move.b #$df,$fffa11.w / rte        timer C, 200 Hz
//   $830 addq.l #1,$466.w / addq.l #1,$462.w / rte              VBL
constexpr uint8_t kHostCodeBytes[] = {
    0x4e, 0x73, 0x4e, 0x72, 0x23, 0x00, 0x60, 0xfa, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x4e, 0xb9, 0x12, 0x34, 0x56, 0x78, 0x4a, 0xfc, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x52, 0xb8, 0x04, 0xba, 0x11, 0xfc, 0x00, 0xdf, 0xfa, 0x11, 0x4e, 0x73, 0x00,
    0x00, 0x00, 0x00, 0x52, 0xb8, 0x04, 0x66, 0x52, 0xb8, 0x04, 0x62, 0x4e, 0x73};
constexpr uint32_t kHostCode = 0x800;
constexpr uint32_t kRteStub = 0x800;
constexpr uint32_t kIdlePc = 0x802;
constexpr uint32_t kCallPc = 0x810;
constexpr uint32_t kCallTarget = 0x812;
constexpr uint32_t kReturnPc = 0x816;
constexpr uint32_t kTimerCHandler = 0x820;
constexpr uint32_t kVblHandler = 0x830;
constexpr uint32_t kCookieJar = 0x900;
constexpr uint32_t kOsHeader = 0xa00;
constexpr uint32_t kSuperStackTop = 0x10000;
constexpr uint32_t kUserStackTop = 0x18000;
constexpr uint32_t kScreen = 0x3f8000;
constexpr uint32_t kPoolEnd = 0x3f0000;
constexpr uint16_t kIdleSr = 0x2300;

// System variables.
constexpr uint32_t kVblClock = 0x462, kFrameClock = 0x466, kHz200 = 0x4ba;
constexpr uint32_t kPhystop = 0x42e, kMembot = 0x432, kMemtop = 0x436, kScreenBase = 0x44e;
constexpr uint32_t kSysbase = 0x4f2, kCookiePtr = 0x5a0;

constexpr int kTrapGemdos = 1, kTrapBios = 13, kTrapXbios = 14;
constexpr int32_t kInvalidFunction = -32;

uint64_t mulDiv(uint64_t a, uint64_t b, uint64_t c) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b) / c);
}

} // namespace

Machine::Machine() : ram_(kRamSize), io_(0x8000) {
    bus_.ram = ram_.data();
    bus_.ramLo = 0;
    bus_.ramHi = kRamSize;
    bus_.ctx = this;
    bus_.read = &Machine::busRead;
    bus_.write = &Machine::busWrite;
    bus_.acknowledge = &Machine::busAcknowledge;
    bus_.exception = &Machine::busException;
    cpu_ = std::make_unique<m68k::Cpu>(bus_);
    ste_.attachMemory(ram_.data(), ram_.size());
    ste_.onFrameEnd(&Machine::frameEnd, this);
    ymBuf_.assign(kChipBlock, 0.0f);
    left_.assign(kChipBlock, 0.0f);
    right_.assign(kChipBlock, 0.0f);
    setOutputRate(44100);
}

int Machine::setOutputRate(int rate) {
    if (!decimator_.configure(rate, kChipBlock)) return kErrOutputRate;
    outputRate_ = rate;
    outLeft_.assign(decimator_.maxOutput(kChipBlock), 0.0f);
    outRight_.assign(outLeft_.size(), 0.0f);
    fifo_.assign(2 * outLeft_.size(), 0);
    dcLeft_.configure(rate);
    dcRight_.configure(rate);
    return kOk;
}

uint32_t Machine::peek32(uint32_t a) const {
    return a + 4 <= kRamSize ? (uint32_t{ram_[a]} << 24) | (uint32_t{ram_[a + 1]} << 16) |
                                   (uint32_t{ram_[a + 2]} << 8) | ram_[a + 3]
                             : 0;
}
uint16_t Machine::peek16(uint32_t a) const {
    return a + 2 <= kRamSize ? static_cast<uint16_t>((ram_[a] << 8) | ram_[a + 1]) : 0;
}
void Machine::poke32(uint32_t a, uint32_t v) {
    if (a + 4 > kRamSize) return;
    for (int i = 0; i < 4; ++i) ram_[a + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void Machine::poke16(uint32_t a, uint16_t v) {
    if (a + 2 > kRamSize) return;
    ram_[a] = static_cast<uint8_t>(v >> 8);
    ram_[a + 1] = static_cast<uint8_t>(v);
}

// ---------------------------------------------------------------------------------------------
// Bus

// DMA frame ends are handed to the MFP late, in bursts (see frameEnd); the one that raises an
// interrupt always ends the CPU's slice and arrives on time. Only the registers that count
// them, decide whether they count or hold their pending bits need the ones before it first.
bool Machine::dmaPulsesMatter(unsigned reg) {
    switch (reg) {
    case mfp::kAer:
    case mfp::kIera:
    case mfp::kIerb:
    case mfp::kIpra:
    case mfp::kIprb:
    case mfp::kTacr:
    case mfp::kTadr:
        return true;
    default:
        return false;
    }
}

uint8_t Machine::ioRead(uint32_t addr) {
    const uint64_t now = cpu_->cycles();
    if (addr >= 0xff8800 && addr < 0xff8900) {
        // The YM sits on the upper data byte: even addresses only, mirrored every 4 bytes.
        return (addr & 1) ? 0xff : ym_.readSelected();
    }
    if (addr >= ste::kBase && addr < ste::kEnd) return ste_.read(now, addr);
    if (addr >= 0xfffa00 && addr < 0xfffa40) {
        if (!(addr & 1)) return 0xff;
        const unsigned reg = (addr - 0xfffa01) / 2;
        if (dmaPulsesMatter(reg)) ste_.syncTo(now); // DMA frame ends up to now come first
        uint8_t v = mfp_.read(now, reg);
        updateIpl();
        return v;
    }
    switch (addr) {
    case 0xff820a:
        return 0x02; // 50 Hz
    case 0xfffc00:
    case 0xfffc04:
        return 0x02; // keyboard and MIDI ACIAs: ready to send
    default:
        break;
    }
    return io_[addr & 0x7fff];
}

void Machine::ioWrite(uint32_t addr, uint8_t value) {
    const uint64_t now = cpu_->cycles();
    if (addr >= 0xff8800 && addr < 0xff8900) {
        if (addr & 1) return;
        if (addr & 2) {
            ym_.writeSelected(now, value);
        } else {
            ym_.select(value);
        }
        return;
    }
    if (addr >= ste::kBase && addr < ste::kEnd) {
        ste_.write(now, addr, value);
        if (addr < ste::kBase + 0x22) cpu_->endRun(); // DMA control, frame or mode
        return;
    }
    if (addr >= 0xfffa00 && addr < 0xfffa40) {
        if (addr & 1) {
            const unsigned reg = (addr - 0xfffa01) / 2;
            if (dmaPulsesMatter(reg)) ste_.syncTo(now);
            mfp_.write(now, reg, value);
            updateIpl();
            // Enables and timer settings move the next timer event: the CPU's slice ends here
            // so that it is taken on its cycle.
            if (reg == mfp::kIera || reg == mfp::kIerb || (reg >= mfp::kTacr && reg <= mfp::kTddr))
                cpu_->endRun();
        }
        return;
    }
    io_[addr & 0x7fff] = value;
}

uint32_t Machine::busRead(void* ctx, uint32_t addr, int size, m68k::Fc) {
    auto* m = static_cast<Machine*>(ctx);
    addr &= 0xffffff;
    if (addr < 0xe00000) return m68k::kBusError; // no memory between RAM and ROM
    if (addr < 0xff8000) {
        // ROM and cartridge: the OS lives in RAM here, so these read as nothing.
        return size == 2 ? 0xffffu : 0xffu;
    }
    if (size == 1) return m->ioRead(addr);
    return (uint32_t{m->ioRead(addr)} << 8) | m->ioRead(addr + 1);
}

bool Machine::busWrite(void* ctx, uint32_t addr, uint32_t value, int size, m68k::Fc) {
    auto* m = static_cast<Machine*>(ctx);
    addr &= 0xffffff;
    if (addr < 0xe00000) return false;
    if (addr < 0xff8000) return true;
    if (size == 1) {
        m->ioWrite(addr, static_cast<uint8_t>(value));
    } else {
        m->ioWrite(addr, static_cast<uint8_t>(value >> 8));
        m->ioWrite(addr + 1, static_cast<uint8_t>(value));
    }
    return true;
}

int Machine::busAcknowledge(void* ctx, int level) {
    auto* m = static_cast<Machine*>(ctx);
    if (level == mfp::kIrqLevel) {
        m->mfp_.advance(m->cpu_->cycles());
        int vector = m->mfp_.acknowledge();
        m->updateIpl();
        return vector >= 0 ? vector : m68k::kSpurious;
    }
    if (level == 4) {
        m->vblPending_ = false;
        m->updateIpl();
    }
    return m68k::kAutovector;
}

m68k::ExceptionAction Machine::busException(void* ctx, m68k::Cpu& cpu, int vector) {
    auto* m = static_cast<Machine*>(ctx);
    const uint32_t pc = cpu.pc();
    if (vector == m68k::kVecIllegal && m->inCall_ && (pc == kReturnPc || pc == kReturnPc + 2)) {
        m->callReturned_ = true;
        return m68k::ExceptionAction::Halt;
    }
    const bool ownHandler = m->peek32(static_cast<uint32_t>(vector) * 4) != kRteStub;
    if (vector >= m68k::kVecTrap0 && vector < m68k::kVecTrap0 + 16) {
        if (!ownHandler && m->handleTrap(vector - m68k::kVecTrap0))
            return m68k::ExceptionAction::Skip;
        return m68k::ExceptionAction::Take;
    }
    switch (vector) {
    case m68k::kVecBusError:
    case m68k::kVecAddressError:
    case m68k::kVecIllegal:
    case m68k::kVecPrivilege:
    case m68k::kVecLineA:
    case m68k::kVecLineF:
        if (ownHandler) return m68k::ExceptionAction::Take;
        m->fault(vector, pc);
        return m68k::ExceptionAction::Halt;
    default:
        return m68k::ExceptionAction::Take;
    }
}

// The frame ends since the DMA was last brought up to date. Only the last of them can have
// raised an interrupt (the CPU's slices end on that one), so they count as one burst.
void Machine::frameEnd(void* ctx, uint64_t cycle, uint64_t count) {
    auto* m = static_cast<Machine*>(ctx);
    if (!m->mfp_.observesPulses(7)) return; // neither counted nor an interrupt: nothing to do
    m->mfp_.timerAInput(cycle, count);
    m->mfp_.gpipPulse(cycle, 7);
    m->updateIpl();
}

void Machine::updateIpl() {
    int level = mfp_.irqPending() ? mfp::kIrqLevel : (vblPending_ ? 4 : 0);
    cpu_->setIpl(level);
}

// ---------------------------------------------------------------------------------------------
// Operating system

void Machine::boot() {
    // A fresh processor: its cycle count is the clock of every device, all starting at zero.
    cpu_ = std::make_unique<m68k::Cpu>(bus_);
    std::fill(ram_.begin(), ram_.end(), 0);
    std::fill(io_.begin(), io_.end(), 0);
    std::memcpy(ram_.data() + kHostCode, kHostCodeBytes, sizeof kHostCodeBytes);
    for (uint32_t v = 2; v < 256; ++v) poke32(v * 4, kRteStub);
    poke32(0, kSuperStackTop);
    poke32(4, kIdlePc);
    poke32(0x70, kVblHandler);
    poke32(0x114, kTimerCHandler);

    poke32(kPhystop, kRamSize);
    poke32(kMembot, kTuneBase);
    poke32(kMemtop, kPoolEnd);
    poke32(kScreenBase, kScreen);
    poke32(kSysbase, kOsHeader);
    poke16(kOsHeader, 0x602e);     // bra to the reset code, as every header starts
    poke16(kOsHeader + 2, 0x0106); // version
    poke32(kOsHeader + 8, kOsHeader);
    poke32(kCookiePtr, kCookieJar);
    const uint32_t cookies[][2] = {{0x5f435055, 0},          // _CPU 68000
                                   {0x5f56444f, 0x00010000}, // _VDO STE
                                   {0x5f4d4348, 0x00010000}, // _MCH STE
                                   {0x5f534e44, 0x00000003}, // _SND PSG + 8-bit DMA
                                   {0, 16}};
    for (size_t i = 0; i < std::size(cookies); ++i) {
        poke32(kCookieJar + 8 * static_cast<uint32_t>(i), cookies[i][0]);
        poke32(kCookieJar + 8 * static_cast<uint32_t>(i) + 4, cookies[i][1]);
    }
    io_[0x8201 & 0x7fff] = static_cast<uint8_t>(kScreen >> 16);
    io_[0x8203 & 0x7fff] = static_cast<uint8_t>(kScreen >> 8);

    ym_.reset();
    ym_.writeRegister(cpu_->cycles(), 7, 0xff);
    mfp_.reset();
    ste_.reset();
    // As the OS leaves it: vectors from $100, software end of interrupt, timer C at 200 Hz.
    const uint64_t now = cpu_->cycles();
    mfp_.advance(now);
    mfp_.write(now, mfp::kVr, 0x48);
    mfp_.write(now, mfp::kTcdr, 192);
    mfp_.write(now, mfp::kTcdcr, 0x50);
    mfp_.write(now, mfp::kIerb, 1u << mfp::kChTimerC);
    mfp_.write(now, mfp::kImrb, 1u << mfp::kChTimerC);
    mfp_.write(now, mfp::kAer, 0x04);

    cpu_->setUsp(kUserStackTop);
    cpu_->setSr(kIdleSr);
    cpu_->setSsp(kSuperStackTop);
    cpu_->setPc(kIdlePc);
    cpu_->setHalted(false);
    cpu_->setStopped(false);
    updateIpl();
    soundPtr_ = 0;
    soundDelay_ = 0;
    vblPending_ = false;
    nextVbl_ = now + kCyclesPerVbl;
}

uint32_t Machine::malloc(int32_t size) {
    if (size < 0) return kPoolEnd - mallocNext_; // largest free block
    const uint32_t rounded = (static_cast<uint32_t>(size) + 15u) & ~15u;
    if (rounded > kPoolEnd - mallocNext_) return 0;
    const uint32_t block = mallocNext_;
    mallocNext_ += rounded;
    return block;
}

int32_t Machine::gemdos(uint32_t sp) {
    m68k::Cpu& cpu = *cpu_;
    switch (peek16(sp)) {
    case 0x00: // Pterm0
    case 0x4c: // Pterm
        fault(0, cpu.pc());
        return 0;
    case 0x20: { // Super
        const uint32_t stack = peek32(sp + 2);
        const bool super = cpu.sr() & 0x2000;
        if (stack == 1) return super ? -1 : 0;
        if (!super) {
            const uint32_t old = cpu.ssp();
            const uint32_t usp = cpu.usp();
            cpu.setSr(static_cast<uint16_t>(cpu.sr() | 0x2000));
            cpu.setSsp(stack ? stack : usp);
            return static_cast<int32_t>(old);
        }
        const uint32_t usp = cpu.usp();
        cpu.setSr(static_cast<uint16_t>(cpu.sr() & ~0x2000));
        if (stack) cpu.setSsp(stack);
        return static_cast<int32_t>(usp);
    }
    case 0x30:
        return 0x0019; // Sversion 0.25
    case 0x44:
        return static_cast<int32_t>(malloc(static_cast<int32_t>(peek32(sp + 2)))); // Mxalloc
    case 0x48:
        return static_cast<int32_t>(malloc(static_cast<int32_t>(peek32(sp + 2)))); // Malloc
    case 0x49:
        return 0; // Mfree
    case 0x4a:
        return 0; // Mshrink
    case 0x02:
    case 0x09:
    case 0x19:
        return 0; // console output, Dgetdrv
    default:
        return kInvalidFunction;
    }
}

int32_t Machine::bios(uint32_t sp) {
    switch (peek16(sp)) {
    case 5: { // Setexc
        const uint32_t vector = peek16(sp + 2) & 0xff;
        const uint32_t address = peek32(sp + 4);
        const uint32_t old = peek32(vector * 4);
        if (address != 0xffffffff) poke32(vector * 4, address);
        return static_cast<int32_t>(old);
    }
    default:
        return 0;
    }
}

int32_t Machine::xbios(uint32_t sp) {
    const uint64_t now = cpu_->cycles();
    const uint16_t fn = peek16(sp);
    auto enable = [&](int channel, bool on) {
        const unsigned ier = channel >= 8 ? mfp::kIera : mfp::kIerb;
        const unsigned imr = channel >= 8 ? mfp::kImra : mfp::kImrb;
        const uint8_t bit = static_cast<uint8_t>(1u << (channel & 7));
        const uint8_t e = mfp_.read(now, ier), k = mfp_.read(now, imr);
        mfp_.write(now, ier, on ? e | bit : e & ~bit);
        mfp_.write(now, imr, on ? k | bit : k & ~bit);
    };
    switch (fn) {
    case 26: // Jdisint
    case 27: // Jenabint
        enable(peek16(sp + 2) & 15, fn == 27);
        updateIpl();
        return 0;
    case 28: { // Giaccess
        const uint16_t data = peek16(sp + 2);
        const uint16_t reg = peek16(sp + 4);
        if (reg & 0x80) {
            ym_.writeRegister(now, reg & 0x0f, static_cast<uint8_t>(data));
            return data & 0xff;
        }
        return ym_.reg(reg & 0x0f);
    }
    case 29:   // Offgibit
    case 30: { // Ongibit
        const uint8_t mask = static_cast<uint8_t>(peek16(sp + 2));
        const uint8_t port = ym_.reg(14);
        ym_.writeRegister(now, 14, fn == 29 ? port & mask : port | mask);
        return 0;
    }
    case 31: { // Xbtimer
        static constexpr uint32_t kVectors[4] = {0x134, 0x120, 0x114, 0x110};
        static constexpr int kChannels[4] = {mfp::kChTimerA, mfp::kChTimerB, mfp::kChTimerC,
                                             mfp::kChTimerD};
        const int timer = peek16(sp + 2) & 3;
        const uint8_t control = static_cast<uint8_t>(peek16(sp + 4));
        const uint8_t data = static_cast<uint8_t>(peek16(sp + 6));
        const uint32_t vector = peek32(sp + 8);
        enable(kChannels[timer], false);
        if (timer == 2 || timer == 3) {
            const uint8_t cd = mfp_.read(now, mfp::kTcdcr);
            mfp_.write(now, mfp::kTcdcr, timer == 2 ? (cd & 0x07) : (cd & 0x70));
            mfp_.write(now, mfp::kTcdr + static_cast<unsigned>(timer - 2), data);
            mfp_.write(now, mfp::kTcdcr,
                       timer == 2 ? (cd & 0x07) | ((control & 7) << 4)
                                  : (cd & 0x70) | (control & 7));
        } else {
            const unsigned cr = timer == 0 ? mfp::kTacr : mfp::kTbcr;
            mfp_.write(now, cr, 0);
            mfp_.write(now, cr == mfp::kTacr ? mfp::kTadr : mfp::kTbdr, data);
            mfp_.write(now, cr, control);
        }
        poke32(kVectors[timer], vector);
        enable(kChannels[timer], true);
        updateIpl();
        return 0;
    }
    case 32: { // Dosound
        const uint32_t ptr = peek32(sp + 2);
        const uint32_t old = soundPtr_;
        if (static_cast<int32_t>(ptr) >= 0) {
            soundPtr_ = ptr;
            soundDelay_ = 0;
        }
        return static_cast<int32_t>(old);
    }
    case 38: { // Supexec: call the routine in supervisor mode, returning behind the trap
        const uint32_t routine = peek32(sp + 2);
        m68k::Cpu& cpu = *cpu_;
        if (!(cpu.sr() & 0x2000)) {
            cpu.setSsp(cpu.usp());
            cpu.setSr(static_cast<uint16_t>(cpu.sr() | 0x2000));
        }
        const uint32_t ssp = cpu.a(7) - 4;
        poke32(ssp, cpu.pc());
        cpu.setA(7, ssp);
        cpu.setPc(routine);
        return static_cast<int32_t>(cpu.d(0));
    }
    case 128:
        return 1; // Locksnd
    case 129:     // Unlocksnd
    case 130:     // Soundcmd
    case 139:     // Devconnect
    case 140:     // Sndstatus
        return 0;
    default:
        return 0;
    }
}

bool Machine::handleTrap(int trap) {
    if (trap != kTrapGemdos && trap != kTrapBios && trap != kTrapXbios) return false;
    m68k::Cpu& cpu = *cpu_;
    cpu.endRun(); // the OS may have set timers
    const uint32_t sp = cpu.a(7);
    const int32_t result = trap == kTrapGemdos ? gemdos(sp)
                           : trap == kTrapBios ? bios(sp)
                                               : xbios(sp);
    cpu.setD(0, static_cast<uint32_t>(result)); // Supexec answers with d0 as it was
    return true;
}

// Work the OS does once per frame: the sound-effect interpreter of Dosound.
void Machine::vblHost() {
    if (!soundPtr_) return;
    if (soundDelay_ > 0) {
        --soundDelay_;
        return;
    }
    const uint64_t now = cpu_->cycles();
    for (int guard = 0; guard < 256 && soundPtr_; ++guard) {
        if (soundPtr_ + 4 > kRamSize) {
            soundPtr_ = 0;
            return;
        }
        const uint8_t cmd = ram_[soundPtr_];
        if (cmd < 0x10) {
            ym_.writeRegister(now, cmd, ram_[soundPtr_ + 1]);
            soundPtr_ += 2;
        } else if (cmd == 0x80) {
            soundTemp_ = ram_[soundPtr_ + 1];
            soundPtr_ += 2;
        } else if (cmd == 0x81) {
            const uint8_t reg = ram_[soundPtr_ + 1];
            const int8_t step = static_cast<int8_t>(ram_[soundPtr_ + 2]);
            const uint8_t end = ram_[soundPtr_ + 3];
            ym_.writeRegister(now, reg & 0x0f, soundTemp_);
            soundTemp_ = static_cast<uint8_t>(soundTemp_ + step);
            if (soundTemp_ == end) soundPtr_ += 4;
            return; // one step per frame
        } else {
            const uint8_t n = ram_[soundPtr_ + 1];
            soundPtr_ = n ? soundPtr_ + 2 : 0;
            soundDelay_ = n ? n - 1 : 0;
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Host

void Machine::fault(int vector, uint32_t pc) {
    if (state_ == State::kFaulted) return;
    stats_.faultVector = vector;
    stats_.faultPc = pc;
    state_ = State::kFaulted;
    inCall_ = false;
    playing_ = false;
    cpu_->setHalted(true);
    silence();
}

void Machine::silence() {
    const uint64_t now = cpu_->cycles();
    ym_.writeRegister(now, 7, 0xff);
    for (unsigned r = 8; r <= 10; ++r) ym_.writeRegister(now, r, 0);
    ste_.write(now, 0xff8901, 0);
}

void Machine::startCall(uint32_t entry, uint32_t d0, uint64_t budget) {
    m68k::Cpu& cpu = *cpu_;
    poke32(kCallTarget, entry);
    cpu.setSr(kIdleSr);
    cpu.setSsp(kSuperStackTop);
    cpu.setD(0, d0);
    cpu.setPc(kCallPc);
    cpu.setStopped(false);
    cpu.setHalted(false);
    inCall_ = true;
    callReturned_ = false;
    callStart_ = cpu.cycles();
    callDeadline_ = callStart_ + budget;
}

bool Machine::idle() const {
    return !inCall_ && (cpu_->stopped() || cpu_->pc() == kIdlePc);
}

// Runs the CPU and the timers up to cycle (the CPU may end a few cycles past it, inside the
// instruction that crosses it). Calls that return go back to the idle loop.
void Machine::runCpuTo(uint64_t cycle) {
    m68k::Cpu& cpu = *cpu_;
    while (cpu.cycles() < cycle && state_ != State::kFaulted) {
        uint64_t now = cpu.cycles();
        if (now >= nextVbl_) {
            nextVbl_ += kCyclesPerVbl;
            vblPending_ = true;
            vblHost();
        }
        if (playing_ && now >= nextPlay_) {
            // Like a timer's interrupt, one play request stays pending while a call still runs
            // and is served as soon as it returns; a request due while one already waits is
            // lost.
            if (playDue_) {
                ++stats_.skippedPlays;
            } else {
                playDue_ = true;
                playDueSince_ = nextPlay_;
            }
            ++playCount_;
            nextPlay_ =
                playStart_ + mulDiv(playCount_, kCpuClock, static_cast<uint64_t>(header_.rate));
        }
        if (playing_ && playDue_) {
            if (idle()) {
                playDue_ = false;
                ++stats_.playCalls;
                callIsPlay_ = true;
                startCall(kTuneBase + 8, 0, playBudget);
            } else if (!inCall_ && now - playDueSince_ > playBudget) {
                stats_.timedOut = true; // stuck in an interrupt handler
                fault(0, cpu.pc());
                break;
            }
        }
        if (inCall_ && now > callDeadline_) {
            stats_.timedOut = true;
            fault(0, cpu.pc());
            break;
        }
        updateIpl();
        uint64_t limit = std::min({cycle, nextVbl_, mfp_.nextEventCycle()});
        // DMA frame ends pulse timer A's input and GPIP 7. The slice only has to end on the one
        // that raises an interrupt; the ones before it are delivered when the slice ends or when
        // the program looks at the MFP (a tune playing one-sample frames ends one every 160
        // cycles, and counts three of them per interrupt).
        if (const uint64_t pulses = mfp_.pulsesUntilChange(7))
            limit = std::min(limit, ste_.frameEndCycle(pulses));
        if (playing_) limit = std::min(limit, nextPlay_);
        // A pending call waits for the idle loop: look again soon (a running call's return
        // stops the CPU by itself).
        if (playDue_ && !inCall_) limit = std::min(limit, now + 64);
        if (inCall_) limit = std::min(limit, callDeadline_ + 1);
        if (limit <= now) limit = now + 1;
        cpu.run(static_cast<int>(std::min<uint64_t>(limit - now, 1u << 24)));
        ste_.syncTo(cpu.cycles()); // only when a frame end is due; else the samples wait
        mfp_.advance(cpu.cycles());
        if (cpu.halted() && state_ != State::kFaulted) {
            if (callReturned_) {
                if (callIsPlay_) {
                    const uint64_t length = cpu.cycles() - callStart_;
                    stats_.maxPlayCycles = std::max(stats_.maxPlayCycles, length);
                    stats_.longPlays += length > playPeriod_;
                }
                inCall_ = false;
                callReturned_ = false;
                callIsPlay_ = false;
                cpu.setHalted(false);
                cpu.setSr(kIdleSr);
                cpu.setSsp(kSuperStackTop);
                cpu.setPc(kIdlePc);
            } else {
                fault(0, cpu.pc()); // halted on its own: double fault
            }
        }
    }
}

// One block of chip samples: runs the machine over it and, when kept, turns it into output.
void Machine::produceBlock(bool keep) {
    const uint64_t end = blockStart_ + kChipBlock * ym::kCpuCyclesPerSample;
    ym_.beginBlock(ymBuf_.data(), kChipBlock);
    ste_.beginBlock(left_.data(), right_.data(), kChipBlock);
    if (state_ == State::kPlaying) runCpuTo(end); // otherwise only the chips' clock moves on
    ym_.runTo(end);
    ste_.runTo(end);
    // A block whose chips did not reach its end (time stood still) is padded with the last value.
    for (size_t i = ym_.produced(); i < kChipBlock; ++i) ymBuf_[i] = i ? ymBuf_[i - 1] : 0.0f;
    for (size_t i = ste_.produced(); i < kChipBlock; ++i) left_[i] = right_[i] = 0.0f;
    blockStart_ = end;
    for (int v = 0; v < 3; ++v)
        levels_[v].store(static_cast<uint8_t>(ym_.voiceLevel(v)), std::memory_order_relaxed);
    if (!keep) return;
    ste_.mixWithYm(ymBuf_.data(), kChipBlock, left_.data(), right_.data());
    const size_t n = decimator_.process(left_.data(), right_.data(), kChipBlock,
                                        ste_.stereoOutput(), outLeft_.data(), outRight_.data());
    // 1.0 after DC removal is about the swing of three voices at full level.
    const float scale = 26000.0f * gain_;
    for (size_t i = 0; i < n; ++i) {
        const float l = std::clamp(dcLeft_.step(outLeft_[i]) * scale, -32768.0f, 32767.0f);
        const float r = std::clamp(dcRight_.step(outRight_[i]) * scale, -32768.0f, 32767.0f);
        fifo_[2 * (fifoFill_ + i)] = static_cast<int16_t>(std::lrint(l));
        fifo_[2 * (fifoFill_ + i) + 1] = static_cast<int16_t>(std::lrint(r));
    }
    fifoFill_ += n;
}

int Machine::load(const uint8_t* data, size_t size, int subtune) {
    state_ = State::kEmpty;
    playing_ = false;
    playDue_ = false;
    inCall_ = false;
    stats_ = Stats{};
    if (data == nullptr || size == 0) return kErrNoData;
    std::vector<uint8_t> depacked;
    if (ice::hasMagic(data, size)) {
        int status = 0;
        depacked = ice::depackToVector(data, size, &status);
        if (depacked.empty()) return kErrDepack;
        data = depacked.data();
        size = depacked.size();
    }
    if (sndh::parseHeader(data, size, header_) != sndh::kOk) return kErrNotSndh;
    if (size > kMaxTuneSize) return kErrTooLarge;
    if (subtune == 0) subtune = header_.defaultSubtune;
    if (subtune < 1 || subtune > header_.subtuneCount) return kErrBadSubtune;
    subtune_ = subtune;

    boot();
    std::memcpy(ram_.data() + kTuneBase, data, size);
    tuneSize_ = static_cast<uint32_t>(size);
    mallocNext_ = (kTuneBase + tuneSize_ + 0x10000) & ~0xffffu;

    decimator_.reset();
    dcLeft_.reset();
    dcRight_.reset();
    fifoRead_ = fifoFill_ = 0;
    framesOut_ = 0;
    blockStart_ = 0;
    state_ = State::kPlaying;

    // Init runs on the machine's clock but its sound is not part of the tune.
    startCall(kTuneBase, static_cast<uint32_t>(subtune), initBudget);
    const uint64_t start = cpu_->cycles();
    while (inCall_ && state_ == State::kPlaying) produceBlock(false);
    stats_.initCycles = cpu_->cycles() - start;
    if (state_ == State::kFaulted) return stats_.timedOut ? kErrInitTimeout : kErrInitFault;

    playing_ = true;
    playPeriod_ = kCpuClock / static_cast<uint64_t>(header_.rate);
    playStart_ = cpu_->cycles();
    playCount_ = 0;
    nextPlay_ = playStart_;
    playDue_ = false;
    for (int t = 0; t < 4; ++t) timerBase_[t] = mfp_.timeouts(t);
    return kOk;
}

void Machine::render(int16_t* out, size_t frames) {
    while (frames > 0) {
        if (fifoRead_ == fifoFill_) {
            fifoRead_ = fifoFill_ = 0;
            produceBlock(true);
            if (fifoFill_ == 0) continue;
        }
        const size_t n = std::min(frames, fifoFill_ - fifoRead_);
        std::memcpy(out, fifo_.data() + 2 * fifoRead_, n * 2 * sizeof(int16_t));
        out += 2 * n;
        frames -= n;
        fifoRead_ += n;
        framesOut_ += n;
    }
    for (int t = 0; t < 4; ++t) stats_.timerTimeouts[t] = mfp_.timeouts(t) - timerBase_[t];
    stats_.dmaUsed = ste_.used();
}

void Machine::stop() {
    if (state_ == State::kPlaying) {
        playing_ = false;
        playDue_ = false;
        // A play call still running finishes first (within its budget), then exit runs.
        while (inCall_ && state_ == State::kPlaying) produceBlock(false);
        if (state_ == State::kPlaying) {
            startCall(kTuneBase + 4, 0, exitBudget);
            while (inCall_ && state_ == State::kPlaying) produceBlock(false);
        }
        silence();
        if (state_ == State::kPlaying) state_ = State::kStopped;
    }
    for (auto& l : levels_) l.store(0, std::memory_order_relaxed);
}

void Machine::setVolume(int volume) {
    gain_ = static_cast<float>(std::clamp(volume, 0, 100)) / 100.0f;
}

int Machine::voiceLevel(int voice) const {
    if (voice < 0 || voice > 2) return 0;
    return levels_[voice].load(std::memory_order_relaxed);
}

double Machine::playedSeconds() const {
    return static_cast<double>(framesOut_) / outputRate_;
}

} // namespace replay::machine
