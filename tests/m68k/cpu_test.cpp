// Behaviour of the 68000 core that single-instruction vectors cannot show: interrupts between
// instructions, STOP, trace, mode changes through RTE, privilege, the host hooks and faults.
#include "m68k/cpu.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kRam = 0x10000;
constexpr uint32_t kStart = 0x1000;
constexpr uint32_t kSsp = 0x8000;
constexpr uint32_t kDevice = 0xFF8800;

struct DeviceAccess {
    uint32_t addr;
    uint32_t value;
    bool write;
    uint64_t cycle;
};

class Machine : public ::testing::Test {
  protected:
    std::vector<uint8_t> ram = std::vector<uint8_t>(kRam, 0);
    std::vector<DeviceAccess> accesses;
    std::vector<int> exceptions;
    int ackVector = m68k::kAutovector;
    int resets = 0;
    bool clearOnAck = false; // the device drops its request when acknowledged
    bool busErrorOnRead = false;
    m68k::ExceptionAction (*onException)(Machine&, m68k::Cpu&, int) = nullptr;
    std::unique_ptr<m68k::Cpu> cpu;

    void SetUp() override {
        put32(0, kSsp);
        put32(4, kStart);
        // Every vector points at a handler that stops on BRA.S *, one per vector, so that the
        // PC tells which exception was taken: handler for vector v at 0x4000 + 16 * v.
        for (int v = 2; v < 64; ++v) {
            put32(static_cast<uint32_t>(v) * 4, handler(v));
            code(handler(v), {0x60FE});
        }
        m68k::Bus bus;
        bus.ram = ram.data();
        bus.ramLo = 0;
        bus.ramHi = kRam;
        bus.ctx = this;
        bus.read = [](void* ctx, uint32_t addr, int size, m68k::Fc) -> uint32_t {
            auto* m = static_cast<Machine*>(ctx);
            if (m->busErrorOnRead) return m68k::kBusError;
            m->accesses.push_back({addr, 0, false, m->cpu->cycles()});
            return size == 1 ? 0x5A : 0x5A5A;
        };
        bus.write = [](void* ctx, uint32_t addr, uint32_t value, int, m68k::Fc) {
            auto* m = static_cast<Machine*>(ctx);
            m->accesses.push_back({addr, value, true, m->cpu->cycles()});
            return true;
        };
        bus.acknowledge = [](void* ctx, int) {
            auto* m = static_cast<Machine*>(ctx);
            if (m->clearOnAck) m->cpu->setIpl(0);
            return m->ackVector;
        };
        bus.resetDevices = [](void* ctx) { ++static_cast<Machine*>(ctx)->resets; };
        bus.exception = [](void* ctx, m68k::Cpu& c, int vector) {
            auto* m = static_cast<Machine*>(ctx);
            m->exceptions.push_back(vector);
            return m->onException ? m->onException(*m, c, vector) : m68k::ExceptionAction::Take;
        };
        cpu = std::make_unique<m68k::Cpu>(bus);
    }

    static uint32_t handler(int v) { return 0x4000 + 16 * static_cast<uint32_t>(v); }
    void put16(uint32_t a, uint32_t v) {
        ram[a] = static_cast<uint8_t>(v >> 8);
        ram[a + 1] = static_cast<uint8_t>(v);
    }
    void put32(uint32_t a, uint32_t v) {
        put16(a, v >> 16);
        put16(a + 2, v & 0xFFFF);
    }
    uint32_t get16(uint32_t a) const { return uint32_t(ram[a]) << 8 | ram[a + 1]; }
    uint32_t get32(uint32_t a) const { return get16(a) << 16 | get16(a + 2); }
    void code(uint32_t at, std::initializer_list<uint16_t> words) {
        for (uint16_t w : words) {
            put16(at, w);
            at += 2;
        }
    }
};

TEST_F(Machine, ResetLoadsStackAndProgramCounterInSupervisorMode) {
    cpu->reset();
    EXPECT_EQ(cpu->a(7), kSsp);
    EXPECT_EQ(cpu->ssp(), kSsp);
    EXPECT_EQ(cpu->pc(), kStart);
    EXPECT_EQ(cpu->sr(), 0x2700);
    EXPECT_FALSE(cpu->halted());
}

TEST_F(Machine, InterruptWaitsForTheMaskAndUsesAutovectorOrDeviceVector) {
    code(kStart, {0x46FC, 0x2300, 0x4E71, 0x4E71, 0x60FE}); // MOVE #$2300,SR; NOP; NOP; BRA *
    cpu->reset();
    cpu->step(); // mask 3
    cpu->setIpl(3);
    cpu->step();
    EXPECT_EQ(cpu->pc(), kStart + 6) << "level 3 is masked at mask 3";
    cpu->setIpl(4);
    int used = cpu->step();
    EXPECT_EQ(used, 44);
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecAutovector1 + 3));
    EXPECT_EQ(cpu->sr() & 0x2700, 0x2400) << "supervisor, mask raised to the level";
    EXPECT_EQ(get16(kSsp - 6), 0x2300u) << "stacked SR";
    EXPECT_EQ(get32(kSsp - 4), kStart + 6) << "stacked PC: the next instruction";
    cpu->step();
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecAutovector1 + 3)) << "same level stays masked";

    // Level 6 with a vector supplied by the device at acknowledge time.
    ackVector = 0x40;
    put32(0x40 * 4, 0x3000);
    code(0x3000, {0x60FE});
    cpu->setIpl(6);
    cpu->step();
    EXPECT_EQ(cpu->pc(), 0x3000u);
    EXPECT_EQ(cpu->sr() & 0x0700, 0x0600);

    // Level 7 cannot be masked, and is taken once per rising edge.
    ackVector = m68k::kSpurious;
    cpu->setIpl(7);
    cpu->step();
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecSpurious));
    cpu->step();
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecSpurious)) << "no second level-7 interrupt";
}

TEST_F(Machine, StopWaitsUntilAnInterruptAndResumesAfterIt) {
    // STOP #$2000; MOVEQ #1,D0; BRA *     level-2 handler: MOVEQ #9,D1; RTE
    code(kStart, {0x4E72, 0x2000, 0x7001, 0x60FE});
    code(handler(m68k::kVecAutovector1 + 1), {0x7209, 0x4E73});
    cpu->reset();
    EXPECT_EQ(cpu->run(1000), 1000) << "a stopped processor uses the whole budget";
    EXPECT_TRUE(cpu->stopped());
    EXPECT_EQ(cpu->pc(), kStart + 4);
    EXPECT_EQ(cpu->sr(), 0x2000);
    EXPECT_EQ(cpu->run(500), 500);
    EXPECT_EQ(cpu->d(0), 0u);

    clearOnAck = true;
    cpu->setIpl(2);
    cpu->run(200);
    EXPECT_FALSE(cpu->stopped());
    EXPECT_EQ(cpu->d(1), 9u) << "the handler ran";
    EXPECT_EQ(cpu->d(0), 1u) << "RTE came back to the instruction after STOP";
    EXPECT_EQ(cpu->pc(), kStart + 6);
}

TEST_F(Machine, TraceExceptionFollowsEachInstructionWhileTIsSet) {
    // MOVE #$A700,SR (trace on); MOVEQ #5,D0; NOP      trace handler: BRA *
    code(kStart, {0x46FC, 0xA700, 0x7005, 0x4E71});
    cpu->reset();
    cpu->step();
    EXPECT_EQ(cpu->sr() & 0x8000, 0x8000);
    EXPECT_EQ(cpu->pc(), kStart + 4) << "T set by the instruction itself does not trace it";
    cpu->step();
    EXPECT_EQ(cpu->d(0), 5u);
    EXPECT_EQ(cpu->pc(), kStart + 6) << "the traced instruction completes first";
    int used = cpu->step();
    EXPECT_EQ(used, 34);
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecTrace));
    EXPECT_EQ(cpu->sr() & 0x8000, 0) << "trace off inside the handler";
    EXPECT_EQ(get32(kSsp - 4), kStart + 6) << "stacked PC: the instruction after the traced one";
    EXPECT_EQ(get16(kSsp - 6) & 0x8000, 0x8000u) << "stacked SR keeps T";
    cpu->step();
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecTrace)) << "no trace inside the handler";
}

TEST_F(Machine, RteSwitchesToUserModeAndItsStackPointer) {
    // Build an exception frame by hand: SR $0015 (user), PC $1100; then RTE.
    code(kStart, {0x4E73});
    code(0x1100, {0x4E71});
    cpu->reset();
    cpu->setA(7, kSsp - 6);
    put16(kSsp - 6, 0x0015);
    put32(kSsp - 4, 0x1100);
    cpu->setUsp(0x6000);
    EXPECT_EQ(cpu->step(), 20);
    EXPECT_EQ(cpu->pc(), 0x1100u);
    EXPECT_EQ(cpu->sr(), 0x0015);
    EXPECT_EQ(cpu->a(7), 0x6000u) << "A7 is the user stack pointer now";
    EXPECT_EQ(cpu->ssp(), kSsp) << "the supervisor stack was popped";
}

TEST_F(Machine, PrivilegedInstructionsInUserModeRaiseThePrivilegeViolation) {
    struct Case {
        const char* name;
        std::initializer_list<uint16_t> words;
    };
    const Case cases[] = {
        {"MOVE #,SR", {0x46FC, 0x2700}},
        {"STOP", {0x4E72, 0x2700}},
        {"RTE", {0x4E73}},
        {"RESET", {0x4E70}},
        {"MOVE USP", {0x4E68}},
        {"ORI #,SR", {0x007C, 0x0700}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        code(kStart, {0x46FC, 0x0000}); // MOVE #0,SR: to user mode
        code(kStart + 4, c.words);
        cpu->reset();
        cpu->setUsp(0x6000);
        cpu->step();
        ASSERT_EQ(cpu->sr() & 0x2000, 0);
        EXPECT_EQ(cpu->step(), 34);
        EXPECT_EQ(cpu->pc(), handler(m68k::kVecPrivilege));
        EXPECT_EQ(cpu->sr() & 0x2000, 0x2000);
        EXPECT_EQ(get32(kSsp - 4), kStart + 4) << "stacked PC: the offending instruction";
        EXPECT_EQ(cpu->usp(), 0x6000u);
        EXPECT_EQ(resets, 0);
    }
}

TEST_F(Machine, HostHookSkipsTrapsAndHaltsOnIllegalInstructions) {
    // TRAP #1; MOVEQ #3,D2; ILLEGAL
    code(kStart, {0x4E41, 0x7403, 0x4AFC});
    onException = [](Machine&, m68k::Cpu& c, int vector) {
        if (vector == m68k::kVecTrap0 + 1) {
            EXPECT_EQ(c.pc(), kStart + 2) << "the hook sees the PC that would be stacked";
            c.setD(0, 0x1234); // the host's answer to the call
            return m68k::ExceptionAction::Skip;
        }
        return m68k::ExceptionAction::Halt;
    };
    cpu->reset();
    cpu->run(1000);
    EXPECT_TRUE(cpu->halted());
    EXPECT_EQ(cpu->d(0), 0x1234u);
    EXPECT_EQ(cpu->d(2), 3u);
    EXPECT_EQ(exceptions, (std::vector<int>{m68k::kVecTrap0 + 1, m68k::kVecIllegal}));
    EXPECT_EQ(cpu->run(1000), 0) << "a halted processor does nothing";
    cpu->reset();
    EXPECT_FALSE(cpu->halted());
}

TEST_F(Machine, HostCallsARoutineThroughALineFSentinel) {
    constexpr uint32_t kSentinel = 0x0F00;
    code(kSentinel, {0xF000});
    code(0x1200, {0x5280, 0x4E75}); // ADDQ.L #1,D0; RTS
    onException = [](Machine&, m68k::Cpu& c, int vector) {
        EXPECT_EQ(vector, m68k::kVecLineF);
        EXPECT_EQ(c.pc(), 0x0F00u);
        return m68k::ExceptionAction::Halt;
    };
    cpu->reset();
    for (uint32_t call = 1; call <= 3; ++call) {
        cpu->setA(7, cpu->a(7) - 4);
        put32(cpu->a(7), kSentinel);
        cpu->setPc(0x1200);
        cpu->run(100000);
        ASSERT_TRUE(cpu->halted());
        EXPECT_EQ(cpu->d(0), call);
        EXPECT_EQ(cpu->a(7), kSsp) << "the return address was popped, nothing stacked";
        cpu->setHalted(false);
    }
}

TEST_F(Machine, InterruptSkippedByTheHostStillCostsTime) {
    // A host that serves an interrupt itself while the device keeps its level asserted must
    // not make run() spin without time passing.
    code(kStart, {0x46FC, 0x2000, 0x60FE}); // MOVE #$2000,SR; BRA *
    onException = [](Machine&, m68k::Cpu&, int) { return m68k::ExceptionAction::Skip; };
    cpu->reset();
    cpu->step();
    cpu->setIpl(3);
    EXPECT_GE(cpu->run(1000), 1000);
    EXPECT_EQ(cpu->pc(), kStart + 4);
    EXPECT_EQ(cpu->sr(), 0x2000) << "mask untouched";
}

TEST_F(Machine, DeviceAccessesSeeTheCycleOfEachBusCycle) {
    // LEA $FF8800,A0; MOVE.L #$11223344,D0; MOVEP.L D0,0(A0); MOVE.W (A0),D1;
    // MOVE.W D1,$FF8800
    code(kStart, {0x41F9, 0x00FF, 0x8800, 0x203C, 0x1122, 0x3344, 0x01C8, 0x0000, 0x3210, 0x33C1,
                  0x00FF, 0x8800});
    cpu->reset();
    cpu->step();
    cpu->step();
    uint64_t before = cpu->cycles();
    EXPECT_EQ(cpu->step(), 24);
    ASSERT_EQ(accesses.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(accesses[i].addr, kDevice + 2 * static_cast<uint32_t>(i));
        EXPECT_EQ(accesses[i].value, (0x11223344u >> (24 - 8 * i)) & 0xFF);
        EXPECT_TRUE(accesses[i].write);
        if (i > 0) {
            EXPECT_EQ(accesses[i].cycle, accesses[i - 1].cycle + 4);
        }
    }
    EXPECT_EQ(accesses[0].cycle, before + 4) << "after the displacement word's bus cycle";
    before = cpu->cycles();
    EXPECT_EQ(cpu->step(), 8);
    EXPECT_EQ(cpu->d(1) & 0xFFFF, 0x5A5Au);
    EXPECT_EQ(accesses[4].cycle, before) << "the operand read opens MOVE.W (A0),D1";
    before = cpu->cycles();
    EXPECT_EQ(cpu->step(), 16);
    ASSERT_EQ(accesses.size(), 6u);
    EXPECT_TRUE(accesses[5].write);
    EXPECT_EQ(accesses[5].cycle, before + 8) << "after the two address words";
}

TEST_F(Machine, BusErrorFromADeviceStacksAGroupZeroFrame) {
    // LEA $FF8800,A0; MOVE.W (A0),D1
    code(kStart, {0x41F9, 0x00FF, 0x8800, 0x3210});
    busErrorOnRead = true;
    cpu->reset();
    cpu->step();
    cpu->step();
    EXPECT_EQ(cpu->pc(), handler(m68k::kVecBusError));
    uint32_t sp = cpu->a(7);
    EXPECT_EQ(sp, kSsp - 14);
    EXPECT_EQ(get16(sp) & 0x1F, 0x15u) << "read, supervisor data";
    EXPECT_EQ(get32(sp + 2), kDevice);
    EXPECT_EQ(get16(sp + 6), 0x3210u) << "instruction register";
    EXPECT_EQ(get16(sp + 8), 0x2700u);
}

TEST_F(Machine, FaultWhileStackingAFaultHaltsTheProcessor) {
    // JMP (A0) to an odd address with an odd supervisor stack: the address error cannot be
    // stacked, which is a double fault.
    code(kStart, {0x4ED0});
    cpu->reset();
    cpu->setA(0, 0x2001);
    cpu->setA(7, 0x7001);
    cpu->run(1000);
    EXPECT_TRUE(cpu->halted());
}

TEST_F(Machine, ResetInstructionResetsTheDevicesOnly) {
    code(kStart, {0x7007, 0x4E70, 0x4E71});
    cpu->reset();
    cpu->step();
    EXPECT_EQ(cpu->step(), 132);
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(cpu->d(0), 7u);
    EXPECT_EQ(cpu->pc(), kStart + 4);
}

TEST_F(Machine, RunStopsOnlyAfterWholeInstructions) {
    // DIVU #7,D0 in a loop (DIVU takes far more than one cycle).
    code(kStart, {0x80FC, 0x0007, 0x60FA});
    cpu->reset();
    cpu->setD(0, 100000);
    int used = cpu->run(1);
    EXPECT_GT(used, 1);
    EXPECT_EQ(cpu->pc(), kStart + 4);
    EXPECT_EQ(cpu->cycles(), static_cast<uint64_t>(used) + 40); // after the reset's 40
}

} // namespace
