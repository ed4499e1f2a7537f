// The emulated Atari STE that plays SNDH tunes: 4 MiB of RAM, the 68000, YM2149, MFP 68901,
// DMA sound with its LMC1992, a minimal operating system answering what tunes call, and the
// host that calls a tune's init and play routines and turns the chips' output into PCM.
//
// Memory map of the RAM as the host lays it out:
//   $000-$3FF  exception vectors (all pointing to host stubs until a tune takes them)
//   $400-$7FF  system variables
//   $800-$8FF  host code: idle loop, call trampoline, default timer C and VBL handlers
//   $900       cookie jar (_CPU, _VDO, _MCH = STE, _SND = PSG + DMA)
//   $A00       operating system header (_sysbase)
//   $8000      supervisor stack (32 KiB, top at $10000), user stack above it (top $18000)
//   $20000     the tune; after it the pool that Malloc hands out
//
// Time is the CPU's cycle count. Every device access carries it, timers raise interrupts on
// their exact cycle, and the play routine is called by the host at the tune's rate from that
// same clock (any rate, no timer needed). Every routine call has a cycle budget; a call that
// runs past it, or an exception a tune raises without a handler of its own, stops the tune.
#pragma once

#include "audio/decimator.h"
#include "mfp/mfp68901.h"
#include "sndh/sndh_header.h"
#include "ste/ste_sound.h"
#include "ym/ym2149.h"

#include <m68k/cpu.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace replay::machine {

inline constexpr uint32_t kRamSize = 4u * 1024u * 1024u;
inline constexpr uint32_t kTuneBase = 0x20000;
inline constexpr uint32_t kMaxTuneSize = 0x300000;
inline constexpr uint64_t kCpuClock = 8010613;
inline constexpr uint64_t kCyclesPerVbl = 160256; // 313 lines of 512 cycles: 50.05 Hz

enum Status : int {
    kOk = 0,
    kErrNoData = -1,      // null or empty
    kErrDepack = -2,      // ICE header or stream broken
    kErrNotSndh = -3,     // no SNDH header
    kErrTooLarge = -4,    // does not fit the machine
    kErrBadSubtune = -5,  // sub-tune outside 1..count
    kErrInitFault = -6,   // init raised an exception
    kErrInitTimeout = -7, // init did not return within its budget
    kErrNotLoaded = -8,
    kErrOutputRate = -9,
};

enum class State : uint8_t { kEmpty, kPlaying, kStopped, kFaulted };

struct Stats {
    uint64_t playCalls = 0;
    uint64_t skippedPlays = 0;  // play due while another one still waited to start
    uint64_t maxPlayCycles = 0; // longest play call, interrupts included
    uint64_t longPlays = 0;     // play calls longer than the play period
    uint64_t initCycles = 0;
    uint64_t timerTimeouts[4] = {}; // MFP timers A-D since init returned
    bool dmaUsed = false;
    int faultVector = 0; // exception that stopped the tune, 0 if none
    uint32_t faultPc = 0;
    bool timedOut = false; // a call ran past its budget
};

class Machine {
  public:
    Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Output rate for render(); 32000..62000 Hz. Call before load().
    int setOutputRate(int rate);
    int outputRate() const { return outputRate_; }

    // Loads a tune (ICE-packed or plain SNDH), calls its init for the sub-tune (1-based; 0 picks
    // the tune's default) and gets ready to play. Returns kOk or a negative Status.
    int load(const uint8_t* data, size_t size, int subtune);
    // Renders interleaved 16-bit stereo frames. Always fills all frames (silence when nothing
    // plays).
    void render(int16_t* out, size_t frames);
    // Calls the tune's exit routine and silences the chips.
    void stop();

    void setVolume(int volume); // 0..100, 100 = full
    int voiceLevel(int voice) const;

    State state() const { return state_; }
    const sndh::Header& header() const { return header_; }
    int subtune() const { return subtune_; }
    const Stats& stats() const { return stats_; }
    // Seconds of sound rendered since the tune started playing.
    double playedSeconds() const;
    // Cycles between two play calls.
    uint64_t playPeriod() const { return playPeriod_; }

    // Budgets, in CPU cycles.
    uint64_t initBudget = 5 * kCpuClock;
    uint64_t playBudget = kCpuClock; // a play call (or an interrupt storm) past this stops the tune
    uint64_t exitBudget = kCpuClock / 2;

  private:
    static constexpr size_t kChipBlock = 2048;

    // Bus hooks.
    static uint32_t busRead(void* ctx, uint32_t addr, int size, m68k::Fc fc);
    static bool busWrite(void* ctx, uint32_t addr, uint32_t value, int size, m68k::Fc fc);
    static int busAcknowledge(void* ctx, int level);
    static m68k::ExceptionAction busException(void* ctx, m68k::Cpu& cpu, int vector);
    static void frameEnd(void* ctx, uint64_t cycle, uint64_t count);
    static bool dmaPulsesMatter(unsigned mfpRegister);

    uint8_t ioRead(uint32_t addr);
    void ioWrite(uint32_t addr, uint8_t value);
    bool ioWordWrite(uint32_t addr, uint16_t value);

    // Operating system.
    void boot();
    bool handleTrap(int trap);
    int32_t gemdos(uint32_t sp);
    int32_t bios(uint32_t sp);
    int32_t xbios(uint32_t sp);
    void vblHost();
    uint32_t malloc(int32_t size);

    // Host.
    void startCall(uint32_t entry, uint32_t d0, uint64_t budget);
    bool idle() const;
    void runCpuTo(uint64_t cycle);
    void produceBlock(bool keep);
    void updateIpl();
    void silence();
    void fault(int vector, uint32_t pc);

    uint32_t peek32(uint32_t a) const;
    uint16_t peek16(uint32_t a) const;
    void poke32(uint32_t a, uint32_t v);
    void poke16(uint32_t a, uint16_t v);

    std::vector<uint8_t> ram_;
    std::vector<uint8_t> io_; // register file of the I/O area nothing else claims
    m68k::Bus bus_;
    std::unique_ptr<m68k::Cpu> cpu_;
    ym::Ym2149 ym_;
    mfp::Mfp68901 mfp_;
    ste::SteSound ste_;
    audio::StereoDecimator decimator_;
    audio::DcBlocker dcLeft_, dcRight_;
    int outputRate_ = 44100;

    sndh::Header header_;
    int subtune_ = 1;
    uint32_t tuneSize_ = 0;
    State state_ = State::kEmpty;
    Stats stats_;

    // Calls.
    bool inCall_ = false;
    bool callReturned_ = false;
    bool callIsPlay_ = false;
    uint64_t callStart_ = 0;
    uint64_t callDeadline_ = 0;
    bool playing_ = false;
    uint64_t playStart_ = 0;
    uint64_t playCount_ = 0;
    uint64_t nextPlay_ = 0;
    uint64_t playPeriod_ = 0;
    bool playDue_ = false; // a play call waits for the running one to return
    uint64_t playDueSince_ = 0;
    uint64_t nextVbl_ = 0;
    bool vblPending_ = false;
    uint64_t timerBase_[4] = {};

    // Dosound.
    uint32_t soundPtr_ = 0;
    int soundDelay_ = 0;
    uint8_t soundTemp_ = 0;
    uint32_t mallocNext_ = 0;

    // Sound path.
    uint64_t blockStart_ = 0; // cycle of the first sample of the next block
    std::vector<float> ymBuf_, left_, right_, outLeft_, outRight_;
    std::vector<int16_t> fifo_;
    size_t fifoRead_ = 0;
    size_t fifoFill_ = 0;
    uint64_t framesOut_ = 0;
    float gain_ = 1.0f;
    std::atomic<uint8_t> levels_[3] = {};
};

} // namespace replay::machine
