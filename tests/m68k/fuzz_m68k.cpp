// Fuzz target for the 68000 core: random code, random vectors and random register state,
// executed for a bounded number of cycles. The core must execute or raise exceptions for every
// word sequence (illegal opcodes, odd jumps, runaway code, faults while stacking faults) without
// crashing, hanging or touching host memory outside the RAM it was given.
#include "m68k/cpu.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Host {
    const uint8_t* data;
    size_t size;
    uint32_t irqCountdown = 0;

    uint32_t pseudo(uint32_t addr) const {
        if (size == 0) return 0xFFFF;
        size_t i = (addr * 2654435761u) % size;
        return uint32_t(data[i]) << 8 | data[(i + 1) % size];
    }
};

uint32_t hostRead(void* ctx, uint32_t addr, int size, m68k::Fc) {
    auto* h = static_cast<Host*>(ctx);
    if (addr >= 0xF00000 && addr < 0xF10000) return m68k::kBusError;
    uint32_t v = h->pseudo(addr);
    return size == 1 ? (v & 0xFF) : v;
}

bool hostWrite(void*, uint32_t addr, uint32_t, int, m68k::Fc) {
    return !(addr >= 0xF00000 && addr < 0xF10000);
}

int hostAck(void* ctx, int level) {
    auto* h = static_cast<Host*>(ctx);
    uint32_t v = h->pseudo(static_cast<uint32_t>(level)) & 0x1FF;
    if (v >= 0x180) return m68k::kSpurious;
    if (v >= 0x100) return m68k::kAutovector;
    return static_cast<int>(v);
}

// The host may take, skip or halt on any exception; which one depends on the input.
m68k::ExceptionAction hostException(void* ctx, m68k::Cpu& cpu, int vector) {
    auto* h = static_cast<Host*>(ctx);
    uint32_t v = h->pseudo(static_cast<uint32_t>(vector) * 977u + cpu.pc()) & 15;
    if (v == 0) return m68k::ExceptionAction::Halt;
    if (v <= 3) {
        cpu.setPc(cpu.pc() + 2 * (v - 1)); // a host that resumes somewhere else
        return m68k::ExceptionAction::Skip;
    }
    return m68k::ExceptionAction::Take;
}

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kHeader = 19 * 4 + 4;
    constexpr uint32_t kRamSize = 0x20000;
    std::vector<uint8_t> ram(kRamSize, 0);
    // The input, after the register header, fills memory from address 0: vectors, then code.
    if (size > kHeader) {
        size_t n = size - kHeader;
        for (size_t i = 0; i < kRamSize; ++i) ram[i] = data[kHeader + i % n];
    }
    Host host{data, size};
    m68k::Bus bus;
    bus.ram = ram.data();
    bus.ramLo = 0x400; // low memory through the hooks, as protected areas are on real machines
    bus.ramHi = kRamSize;
    bus.ctx = &host;
    bus.read = &hostRead;
    bus.write = &hostWrite;
    bus.acknowledge = &hostAck;
    if (size > 0 && (data[0] & 1)) bus.exception = &hostException;
    // Even with no hooks for the other entries, the core must hold together.
    m68k::Cpu cpu(bus);
    cpu.reset();
    if (size >= kHeader) {
        uint32_t r[19];
        for (int i = 0; i < 19; ++i) r[i] = be32(data + 4 * i);
        cpu.setSr(static_cast<uint16_t>(r[17]));
        for (int i = 0; i < 8; ++i) cpu.setD(i, r[i]);
        for (int i = 0; i < 7; ++i) cpu.setA(i, r[8 + i]);
        cpu.setUsp(r[15]);
        cpu.setSsp(r[16]);
        cpu.setPc(r[18] & 0xFFFFFE ? (r[18] % kRamSize) : r[18]);
        cpu.setIpl(data[76] & 7);
    }
    uint64_t before = cpu.cycles();
    for (int slice = 0; slice < 8; ++slice) {
        int used = cpu.run(2500);
        if (used < 0) __builtin_trap();
        if (!cpu.halted() && used < 2500) __builtin_trap(); // run() keeps going until the budget
        cpu.setIpl((data && size) ? data[slice % size] & 7 : 0);
        if (cpu.halted()) cpu.setHalted(false); // the host resumes after a halt
    }
    for (int i = 0; i < 64; ++i) cpu.step();
    if (cpu.cycles() < before) __builtin_trap();
    return 0;
}
