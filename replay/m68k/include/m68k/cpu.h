// Motorola 68000 interpreter for the replay library.
//
// The core is plain C++: it throws nothing, allocates nothing after construction and does no I/O.
// Everything outside the processor is reached through a Bus that the host fills in:
//
//  - a window of plain memory, [ramLo, ramHi) of a host buffer `ram` indexed by the 24-bit
//    address, read and written directly (big-endian, no call per access);
//  - `read` / `write` hooks for every other address (device registers, ROM, unmapped space),
//    which may report a bus error;
//  - `acknowledge` for the interrupt acknowledge cycle, `resetDevices` for the RESET
//    instruction, and `exception`, which sees every exception before it is taken and may let the
//    host handle it (operating-system traps) or stop the processor (faults in a tune).
//
// Cycle counts are those of a 68000 with no wait states; the 4-cycle bus slot rounding of a
// particular machine is the host's business. `cycles()` counts up through an instruction: every
// bus access adds its 4 cycles as it happens, so a device hook that reads it sees the cycle on
// which its access starts.
//
// Accesses outside plain memory reach the hooks as bytes or words; a long access is two word
// accesses (high word first, except stores towards lower addresses, which go low word first).
// Group-0 faults (bus error from a hook, address error on an odd word access) stack the 68000's
// seven-word frame; a fault while stacking one halts the processor, as the chip does.
//
// Interrupts are level sensitive like the chip's IPL pins: a device keeps its level asserted
// until it is served (typically it drops it in `acknowledge`). Level 7 is edge triggered.
//
// One Cpu is not thread safe, but any number of them may run on different threads. Hooks must
// not call run() or step() of the Cpu that called them.
//
// Usage:
//   m68k::Bus bus{...};
//   m68k::Cpu cpu(bus);
//   cpu.reset();            // supervisor mode, IPL mask 7, SSP from address 0, PC from address 4
//   cpu.run(160256);        // executes whole instructions until at least that many cycles passed
//   cpu.setIpl(4);          // interrupt request level input, sampled between instructions
//
// Calling a 68000 routine from the host (an init or play entry): push a return address that
// points at a line-F word, set the PC to the routine and run; the exception hook sees vector
// kVecLineF at that address, answers Halt, and the host clears the state with setHalted(false).
#pragma once

#include <csetjmp>
#include <cstdint>

namespace m68k {

// Function codes as seen on FC2-FC0.
enum class Fc : uint8_t {
    UserData = 1,
    UserProgram = 2,
    SuperData = 5,
    SuperProgram = 6,
    InterruptAck = 7,
};

// Exception vector numbers.
enum Vector : int {
    kVecResetSsp = 0,
    kVecBusError = 2,
    kVecAddressError = 3,
    kVecIllegal = 4,
    kVecZeroDivide = 5,
    kVecChk = 6,
    kVecTrapv = 7,
    kVecPrivilege = 8,
    kVecTrace = 9,
    kVecLineA = 10,
    kVecLineF = 11,
    kVecUninitialised = 15,
    kVecSpurious = 24,
    kVecAutovector1 = 25, // levels 1-7 use 25-31
    kVecTrap0 = 32,       // TRAP #0-#15 use 32-47
};

// What the host's exception hook asks the core to do.
enum class ExceptionAction {
    Take, // process the exception normally
    Skip, // the host dealt with it: continue with the next instruction (PC as stacked)
    Halt, // stop the processor; run() returns and halted() is true until reset()
};

// Value a read hook returns to signal a bus error.
inline constexpr uint32_t kBusError = 0xFFFFFFFFu;
// Values the acknowledge hook may return instead of a vector number.
inline constexpr int kAutovector = -1;
inline constexpr int kSpurious = -2;

class Cpu;

// Program or data space of an access inside the core; the function code it shows on the bus
// follows from the supervisor bit at the time (worked out only when a hook needs it).
enum class Space : uint8_t { Data, Program };

struct Bus {
    // Plain memory: for ramLo <= address < ramHi, ram[address] holds that byte. ramHi must be
    // even. ram may be null (then every access goes through the hooks).
    uint8_t* ram = nullptr;
    uint32_t ramLo = 0;
    uint32_t ramHi = 0;

    void* ctx = nullptr;
    // Byte (size 1) or word (size 2) read of a 24-bit address outside plain memory. Returns the
    // value (a byte in bits 0-7) or kBusError. Null: unmapped space reads as all ones.
    uint32_t (*read)(void* ctx, uint32_t addr, int size, Fc fc) = nullptr;
    // Byte or word write outside plain memory; returns false for a bus error. Null: ignored.
    bool (*write)(void* ctx, uint32_t addr, uint32_t value, int size, Fc fc) = nullptr;
    // Interrupt acknowledge for `level`: a vector number 0-255, kAutovector or kSpurious.
    // Null: autovector.
    int (*acknowledge)(void* ctx, int level) = nullptr;
    // The RESET instruction asserts the reset line for the devices.
    void (*resetDevices)(void* ctx) = nullptr;
    // Called before any exception is processed (vector number as above; interrupts pass their
    // vector). At that point pc() is the PC that would be stacked: for TRAP #n the instruction
    // after it, for illegal and privileged instructions the instruction itself. Skip continues
    // at pc() as the hook leaves it (for a bus or address error the faulting instruction is
    // abandoned). Null: always Take.
    ExceptionAction (*exception)(void* ctx, Cpu& cpu, int vector) = nullptr;
};

class Cpu {
  public:
    explicit Cpu(const Bus& bus);

    // Processor reset: supervisor mode, trace off, mask 7, SSP and PC from vectors 0 and 1.
    // Takes 40 cycles. Leaves the stopped and halted states.
    void reset();

    // Executes whole instructions (and exceptions) until at least `cycles` cycles have passed,
    // or the processor is halted. Returns the cycles used, which may pass the budget by the
    // rest of the last instruction (carry the difference into the next call). A stopped
    // processor consumes the whole budget waiting for an interrupt; a halted one returns at
    // once.
    int run(int cycles);
    // Ends the run() in progress after the current instruction (for a hook whose access moved
    // the host's next device event closer). No effect outside run().
    void endRun() { runEnd_ = cycles_; }
    // Executes exactly one instruction (or the pending exception/interrupt); returns its cycles.
    int step();

    // Interrupt request level input (0-7). Level 7 is edge triggered and cannot be masked.
    void setIpl(int level);
    int ipl() const { return ipl_; }

    bool stopped() const { return stopped_; }
    bool halted() const { return halted_; }
    // Lets the host stop the processor, e.g. from a hook; run() returns after the current
    // instruction. Cleared by reset() or setHalted(false).
    void setHalted(bool h) {
        halted_ = h;
        attention_ = true;
    }

    // Total cycles since construction; advances during an instruction as its bus accesses happen.
    uint64_t cycles() const { return static_cast<uint64_t>(cycles_ - (prefetchDue_ ? 4 : 0)); }

    // Registers. a(7) is the active stack pointer.
    uint32_t d(int n) const { return r_[n & 7]; }
    uint32_t a(int n) const { return r_[8 + (n & 7)]; }
    void setD(int n, uint32_t v) { r_[n & 7] = v; }
    void setA(int n, uint32_t v) { r_[8 + (n & 7)] = v; }
    uint32_t pc() const { return pc_; }
    void setPc(uint32_t v) { pc_ = v; }
    uint16_t sr() const;
    void setSr(uint16_t v); // switches stack pointers when S changes
    uint32_t usp() const { return (sr_ & 0x2000) ? otherSp_ : r_[15]; }
    uint32_t ssp() const { return (sr_ & 0x2000) ? r_[15] : otherSp_; }
    void setUsp(uint32_t v) { ((sr_ & 0x2000) ? otherSp_ : r_[15]) = v; }
    void setSsp(uint32_t v) { ((sr_ & 0x2000) ? r_[15] : otherSp_) = v; }
    // Leaves the stopped state without an interrupt (for hosts that call routines directly).
    void setStopped(bool s) {
        stopped_ = s;
        attention_ = true;
    }

    // The opcode and address of the instruction being executed (valid inside hooks).
    uint16_t opcode() const { return ir_; }
    uint32_t instructionPc() const { return instrPc_; }

  private:
    friend struct Exec;
    friend struct Ops;

    void execOne();
    void runLoop();
    using Handler = void (*)(Cpu&, uint32_t);
    void dispatch(const Handler* table);
    bool needsAttention() const {
        return halted_ | stopped_ | tracePending_ | nmiPending_ | ((sr_ & 0x8000) != 0) |
               (ipl_ > ((sr_ >> 8) & 7));
    }
    // The bus cycle that refills the prefetch queue comes at the end of an instruction; it is
    // counted as the instruction starts, and cycles() leaves it out until it has happened, so
    // operand accesses are seen on the cycles the chip has them.
    void startPrefetch() {
        cycles_ += 4;
        prefetchDue_ = true;
    }
    bool serviceEvents();
    void execInstruction();
    void takeInterrupt(int level);
    // Processes exception `vec` with `pushPc` as the stacked PC. Returns false if the host
    // skipped it.
    // `before` and `after` are the internal cycles ahead of the stacking and after the vector
    // fetch.
    bool exception(int vec, uint32_t pushPc, int before, int after);
    [[noreturn]] void addressError(uint32_t addr, bool read, Space space);
    [[noreturn]] void busError(uint32_t addr, bool read, Fc fc);
    [[noreturn]] void group0(int vec, uint32_t addr, bool read, Fc fc);
    [[noreturn]] void abortInstruction();

    uint32_t slowRead(uint32_t addr, int size, Space space);
    void slowWrite(uint32_t addr, uint32_t v, int size, Space space);
    Fc fcOf(Space space) const {
        const bool super = (sr_ & 0x2000) != 0;
        if (space == Space::Program) return super ? Fc::SuperProgram : Fc::UserProgram;
        return super ? Fc::SuperData : Fc::UserData;
    }

    const Handler* table_; // opcode decode table, shared by all instances
    Bus bus_;
    uint32_t ramSpan_ = 0; // ramHi - ramLo, or 0 without plain memory
    uint32_t r_[16] = {};
    uint32_t otherSp_ = 0;
    uint32_t pc_ = 0;
    uint16_t sr_ = 0x2700; // system byte; the CCR lives in the flags below
    uint8_t xf_ = 0, nf_ = 0, zf_ = 0, vf_ = 0, cf_ = 0;
    uint16_t ir_ = 0;
    uint32_t instrPc_ = 0; // address of the current instruction
    uint32_t aePc_ = 0;    // PC stacked if the next access faults
    int64_t cycles_ = 0;
    int64_t instrCycles_ = 0; // cycles_ when the current instruction started
    int ipl_ = 0;
    bool nmiPending_ = false;
    bool stopped_ = false;
    bool halted_ = false;
    bool inGroup0_ = false;
    bool prefetchDue_ = false;  // the closing prefetch is counted in cycles_ but still to come
    bool traceNext_ = false;    // T was set when the current instruction started
    bool tracePending_ = false; // trace exception due before the next instruction
    // Set whenever something needsAttention() reads may have changed (the status register,
    // the interrupt level, a stop or halt); run() then takes its full path and works it out
    // again.
    bool attention_ = true;
    std::jmp_buf* jmp_ = nullptr;
    std::jmp_buf* jmpSaved_ = nullptr;
    int64_t runStart_ = 0;
    int64_t runEnd_ = 0;
};

} // namespace m68k
